#include "link.h"

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <unistd.h>

namespace torvanix::hidraw {

namespace {

constexpr int kSendAttempts = 3;
constexpr auto kRetryPause = std::chrono::milliseconds(10);
constexpr auto kBusyDeadline = std::chrono::milliseconds(1000);
constexpr int kMinInputWaitMs = 100;
constexpr int kMaxInputWaitMs = 5000;
// An interrupt-transport reply has no kernel bound like a control transfer's; the same 5 s.
// A collection that only looks like ours may never answer over its interrupt endpoints, and
// every listing asks it again: identification waits 1 s.
constexpr int kReplyWaitMs = 5000;
constexpr int kIdentifyWaitMs = 1000;

std::string property(udev_device *d, const char *name) {
    const char *v = d ? udev_device_get_property_value(d, name) : nullptr;
    return v ? v : "";
}

std::vector<uint8_t> readFile(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

int nodeNumber(const std::string &devnode) {
    const size_t at = devnode.find_last_not_of("0123456789");
    return at + 1 < devnode.size() ? std::atoi(devnode.c_str() + at + 1) : -1;
}

char16_t upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}

} // namespace

bool samePathText(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

std::u16string toU16(const std::string &s) {
    std::u16string out;
    for (unsigned char c : s)
        out += char16_t(c);
    return out;
}

std::string fromU16(const std::u16string &s) {
    std::string out;
    for (char16_t c : s)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

std::vector<InterfaceInfo> enumerateInterfaces() {
    std::vector<InterfaceInfo> out;
    udev *u = udev_new();
    if (!u)
        return out;
    udev_enumerate *e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    std::vector<std::pair<int, InterfaceInfo>> found;
    for (udev_list_entry *it = udev_enumerate_get_list_entry(e); it;
         it = udev_list_entry_get_next(it)) {
        udev_device *raw = udev_device_new_from_syspath(u, udev_list_entry_get_name(it));
        if (!raw)
            continue;
        const char *node = udev_device_get_devnode(raw);
        udev_device *hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
        unsigned bus = 0, vendor = 0, product = 0;
        if (node && hid &&
            std::sscanf(property(hid, "HID_ID").c_str(), "%x:%x:%x", &bus, &vendor, &product) ==
                3) {
            const std::string phys = property(hid, "HID_PHYS");
            int mi = -1;
            if (udev_device *usbIf =
                    udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_interface")) {
                const char *n = udev_device_get_sysattr_value(usbIf, "bInterfaceNumber");
                if (n)
                    mi = int(std::strtol(n, nullptr, 16));
            }
            if (mi < 0)
                mi = interfaceFromPhys(phys);
            const char *hidName = udev_device_get_sysname(hid);
            const std::string instance = instanceFromPhys(phys, hidName ? hidName : node);
            const std::vector<uint8_t> desc =
                readFile(std::string(udev_device_get_syspath(hid)) + "/report_descriptor");
            const std::vector<Collection> cols = parseCollections(desc.data(), desc.size());
            for (size_t c = 0; c < cols.size(); ++c) {
                InterfaceInfo info;
                info.devnode = node;
                info.device = hidName ? hidName : "";
                info.vendor = uint16_t(vendor);
                info.product = uint16_t(product);
                info.usagePage = cols[c].usagePage;
                info.usage = cols[c].usage;
                info.frameReport = cols[c].frameReport;
                info.interruptFrames = cols[c].interruptFrames;
                info.path = toU16(interfacePath(info.vendor, info.product, mi,
                                                cols.size() > 1 ? int(c + 1) : 0, instance));
                found.emplace_back(nodeNumber(node), std::move(info));
            }
        }
        udev_device_unref(raw);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &f : found)
        out.push_back(std::move(f.second));
    return out;
}

// ---- Link ------------------------------------------------------------------------------------

Link::~Link() {
    if (dev_)
        hid_close(dev_);
}

std::unique_ptr<Link> Link::open(const InterfaceInfo &info, bool *unanswered) {
    if (!info.frameReport || !mayIdentify(info.vendor, info.product))
        return nullptr;
    if (::access(info.devnode.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        // Said once per node and process: the listing asks again on every refresh.
        static std::mutex mutex;
        static std::set<std::string> told;
        std::lock_guard<std::mutex> lock(mutex);
        if (told.insert(info.devnode).second)
            std::fprintf(stderr,
                         "torvanix: no permission to open %s (device %04x:%04x); for a supported "
                         "device install the "
                         "udev rules: torvanix-ctl udev-rules > "
                         "/etc/udev/rules.d/70-torvanix.rules, then replug the device\n",
                         info.devnode.c_str(), info.vendor, info.product);
        return nullptr;
    }
    hid_device *dev = hid_open_path(info.devnode.c_str());
    if (!dev)
        return nullptr;
    std::unique_ptr<Link> link(new Link);
    link->dev_ = dev;
    link->info_ = info;
    Frame request;
    request.command = CmdIdentify;
    request.seq = link->nextSeq();
    Frame reply;
    if (!link->transact(request, &reply) || !decodeIdentity(reply, &link->identity_)) {
        if (unanswered)
            *unanswered = true;
        return nullptr;
    }
    return link;
}

bool Link::refreshLevels() {
    Frame request;
    request.command = CmdIdentify;
    request.seq = nextSeq();
    Frame reply;
    Identity fresh;
    if (!transact(request, &reply) || !decodeIdentity(reply, &fresh) ||
        fresh.bootLoader != identity_.bootLoader)
        return false;
    identity_.battery = fresh.battery;
    identity_.status = fresh.status;
    return true;
}

uint8_t Link::nextSeq() {
    seq_ = uint8_t(seq_ == 255 ? 1 : seq_ + 1);
    return seq_;
}

bool Link::send(const Frame &frame) {
    if (broken_)
        return false;
    const auto wire = encode(frame);
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        if (attempt)
            std::this_thread::sleep_for(kRetryPause);
        const int n = info_.interruptFrames
                          ? hid_write(dev_, wire.data(), wire.size())
                          : hid_send_feature_report(dev_, wire.data(), wire.size());
        if (n == int(wire.size()))
            return true;
    }
    broken_ = true;
    return false;
}

bool Link::receive(const Frame &request, Frame *reply) {
    if (info_.interruptFrames)
        return receiveInput(request, reply);
    const auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
    for (;;) {
        uint8_t wire[kWireSize] = {kReportId};
        const int n = hid_get_feature_report(dev_, wire, sizeof wire);
        if (n < 0) {
            broken_ = true;
            return false;
        }
        Frame f;
        if (decode(wire, size_t(n), &f) && f.command == request.command && f.seq == request.seq &&
            f.status == StatusBusy && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        return acceptReply(wire, size_t(n), request, reply);
    }
}

bool Link::receiveInput(const Frame &request, Frame *reply) {
    // The reply is the first input report carrying the request's command and sequence number;
    // anything before it is a leftover of an earlier call and is passed over.
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(request.command == CmdIdentify ? kIdentifyWaitMs : kReplyWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            broken_ = true; // an interface that stops answering is opened afresh next time
            return false;
        }
        uint8_t wire[kWireSize];
        const int n = hid_read_timeout(dev_, wire, sizeof wire, int(left));
        if (n < 0) {
            broken_ = true;
            return false;
        }
        Frame f;
        if (n > 0 && decode(wire, size_t(n), &f) && f.command == request.command &&
            f.seq == request.seq)
            return acceptReply(wire, size_t(n), request, reply);
    }
}

bool Link::transact(Frame &request, Frame *reply) {
    return send(request) && receive(request, reply);
}

Result Link::execute(const Request &request) {
    Result result;
    if (broken_ || request.payload.size() > size_t(kPayloadCapacity))
        return result;
    const bool inlinePayload = !request.payload.empty() &&
                               request.payload.size() <= size_t(kInlineSize) &&
                               request.values.size() <= 1 && request.bytes.empty();
    for (size_t off = 0; !inlinePayload && off < request.payload.size(); off += kDataSize) {
        Frame stage;
        stage.command = CmdStage;
        stage.seq = nextSeq();
        stage.offset = uint16_t(off);
        const size_t n = std::min(size_t(kDataSize), request.payload.size() - off);
        stage.count = uint16_t(n);
        std::memcpy(stage.data.data(), request.payload.data() + off, n);
        if (!send(stage))
            return result;
        result.delivered = true;
    }
    Frame f;
    f.command = request.command;
    f.seq = nextSeq();
    f.arg = request.arg;
    f.count = request.count;
    for (size_t i = 0; i < request.values.size(); ++i)
        f.setValue(int(i), request.values[i]);
    for (size_t i = 0; i < request.bytes.size() && i < size_t(kDataSize); ++i)
        f.data[i] = request.bytes[i];
    if (inlinePayload) {
        f.status = kFlagInlinePayload;
        std::memcpy(f.data.data() + 4, request.payload.data(), request.payload.size());
    }
    if (!send(f))
        return result;
    result.delivered = true;
    Frame reply;
    if (!receive(f, &reply))
        return result;
    result.ret = reply.value(0);
    const int want = std::min(request.answerLength, int(reply.count));
    result.answer.assign(size_t(std::max(want, 0)), 0);
    if (reply.count <= kInlineSize) {
        if (want > 0)
            std::memcpy(result.answer.data(), reply.data.data() + 4, size_t(want));
        result.ok = true;
        return result;
    }
    for (int off = 0; off < want; off += kDataSize) {
        Frame fetch;
        fetch.command = CmdFetch;
        fetch.seq = nextSeq();
        fetch.offset = uint16_t(off);
        fetch.count = uint16_t(std::min(kDataSize, want - off));
        Frame got;
        if (!transact(fetch, &got) || got.count != fetch.count || got.offset != fetch.offset)
            return result;
        std::memcpy(result.answer.data() + off, got.data.data(), fetch.count);
    }
    result.ok = true;
    return result;
}

void Link::drainInput() {
    uint8_t buf[kWireSize];
    for (int i = 0; i < 64 && !broken_; ++i) {
        const int n = hid_read_timeout(dev_, buf, sizeof buf, 0);
        if (n < 0)
            broken_ = true;
        if (n <= 0)
            return;
    }
}

int Link::readInput(uint8_t *buf, int length, int timeoutMs) {
    if (broken_)
        return -1;
    const int wait = std::clamp(timeoutMs, kMinInputWaitMs, kMaxInputWaitMs);
    uint8_t wire[kWireSize];
    const int n = hid_read_timeout(dev_, wire, sizeof wire, wait);
    if (n < 0) {
        broken_ = true;
        return -1;
    }
    // A report of another id or size is not ours: no trusted bytes.
    if (n != kWireSize || wire[0] != kReportId)
        return n == 0 ? 0 : -1;
    const int copy = std::min(length, kFrameSize);
    std::memcpy(buf, wire + 1, size_t(copy));
    return copy;
}

// ---- Links -----------------------------------------------------------------------------------

Links &Links::instance() {
    static Links links;
    return links;
}

namespace {
std::string plugKey(const InterfaceInfo &info) {
    return info.device + '#' + info.devnode + '#' + fromU16(info.path);
}
} // namespace

Link *Links::open(const InterfaceInfo &info) {
    const std::string key = plugKey(info);
    if (unanswered_.count(key))
        return nullptr;
    bool unanswered = false;
    std::unique_ptr<Link> link = Link::open(info, &unanswered);
    if (unanswered)
        unanswered_.insert(key);
    if (!link)
        return nullptr;
    links_.push_back(std::move(link));
    return links_.back().get();
}

void Links::drop(Link *link) {
    links_.erase(std::remove_if(links_.begin(), links_.end(),
                                [link](const std::unique_ptr<Link> &l) { return l.get() == link; }),
                 links_.end());
}

Link *Links::get(const std::u16string &path, bool bootLoader) {
    if (path.empty())
        return nullptr;
    Link *link = nullptr;
    for (auto &l : links_)
        if (samePathText(l->info().path, path))
            link = l.get();
    if (link && link->broken()) {
        drop(link);
        link = nullptr;
    }
    if (!link) {
        for (int pass = 0; pass < 2 && !link; ++pass) {
            if (pass == 1)
                known_ = enumerateInterfaces();
            for (const InterfaceInfo &info : known_) {
                if (!samePathText(info.path, path))
                    continue;
                link = open(info);
                break;
            }
        }
    }
    if (!link || link->identity().bootLoader != bootLoader)
        return nullptr;
    return link;
}

Link *Links::byIds(int vendor, int product) {
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1)
            refresh(nullptr);
        for (auto &l : links_)
            if (!l->broken() && !l->identity().bootLoader && l->info().vendor == vendor &&
                l->info().product == product)
                return l.get();
    }
    return nullptr;
}

std::vector<InterfaceInfo> Links::refresh(std::vector<const Link *> *identified, bool levels) {
    known_ = enumerateInterfaces();
    // Links whose node went away or changed are closed; the rest are reused as they are.
    links_.erase(std::remove_if(links_.begin(), links_.end(),
                                [this](const std::unique_ptr<Link> &l) {
                                    if (l->broken())
                                        return true;
                                    for (const InterfaceInfo &info : known_)
                                        if (info.path == l->info().path &&
                                            info.devnode == l->info().devnode)
                                            return false;
                                    return true;
                                }),
                 links_.end());
    std::set<std::string> present;
    for (const InterfaceInfo &info : known_)
        present.insert(plugKey(info));
    for (auto it = unanswered_.begin(); it != unanswered_.end();)
        it = present.count(*it) ? std::next(it) : unanswered_.erase(it);
    if (identified)
        identified->clear();
    for (const InterfaceInfo &info : known_) {
        Link *link = nullptr;
        if (info.frameReport) {
            for (auto &l : links_)
                if (l->info().path == info.path)
                    link = l.get();
            // A battery drains while the device stays plugged: a listing reads it afresh.
            if (link && levels)
                link->refreshLevels();
            if (!link)
                link = open(info);
        }
        if (identified)
            identified->push_back(link);
    }
    return known_;
}

} // namespace torvanix::hidraw

// torvanix-hid-emulator: makes the simulator's devices real HID devices through /dev/uhid.
// Each interface of the device set becomes one uhid device with the set's vendor and product,
// a descriptor whose frame collection sits at the path's collection number, and a physical
// path ending in the path's interface number. Frames are answered by calling the simulator's
// model, so its state file, trace and fault injection apply to the emulated devices as well.
#include "frame.h"
#include "sim_api.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace torvanix::hidraw;
namespace sim = torvanix::sim;
using Clock = std::chrono::steady_clock;

namespace {

volatile sig_atomic_t g_stop = 0;
// --no-identify: the devices answer identification wrongly, like a stranger that happens to
// declare the same report; every other frame they get is counted, as none may arrive.
bool g_noIdentify = false;
long g_framesAfterFailedIdentify = 0;
// --unplug-after-frames N: every device is pulled out right after accepting its N-th frame
// that is not an identification, in the middle of whatever call it belongs to, and stays out.
// A gadget leaves that frame unanswered and prints "unplug now" for its maker to unbind it.
long g_unplugAfter = 0;
void onSignal(int) {
    g_stop = 1;
}

constexpr int kBlock = TVX_TRANSFER_BLOCK_SIZE;
constexpr auto kReconcileGrace = std::chrono::milliseconds(1000);

std::string narrow(const uint16_t *units, size_t max) {
    std::string s;
    for (size_t i = 0; i < max && units[i]; ++i)
        s += units[i] < 0x80 ? char(units[i]) : '?';
    return s;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    return s;
}

int numberAfter(const std::string &path, const char *key, int base, int fallback) {
    const std::smatch m = [&] {
        std::smatch r;
        std::regex_search(path, r, std::regex(std::string(key) + "([0-9a-f]+)"));
        return r;
    }();
    return m.empty() ? fallback : int(std::strtol(m[1].str().c_str(), nullptr, base));
}

// The payload length an execute command must have staged; -1: the frame's count.
int payloadFor(uint8_t command) {
    switch (command) {
    case CmdWriteProperty:
    case CmdWritePropertyQpa:
    case CmdWritePacket:
    case CmdWriteRom:
    case CmdKbSetMacro:
    case CmdKbSetKey:
        return -1;
    case CmdSingleValue:
        return 1;
    case CmdNotify:
        return 4;
    case CmdMsSetKeyMatrix:
        return 132 * 4;
    case CmdMsSetConfig:
        return 165 * 4;
    default:
        return 0;
    }
}

class Emulated {
public:
    enum Role { None, App, Boot };

    // With `gadget`, the interface is served through that USB gadget HID function's device
    // file (/dev/hidgN) instead of a uhid device: the kernel's gadget stack made the device.
    Emulated(int index, const std::string &path, const std::string &gadget = {})
        : index_(index), path_(path), gadget_(gadget) {}
    ~Emulated() { destroy(); }

    int fd() const { return fd_; }
    bool started() const { return started_ || role_ == None; }
    const std::string &path() const { return path_; }

    // Brings the uhid device in line with the model: gone, the device, or its boot loader.
    bool reconcile() {
        if (pulled_)
            return true;
        sim::InterfaceView v{};
        if (!sim::viewInterface(index_, &v))
            return false;
        view_ = v;
        if (!gadget_.empty())
            return fd_ >= 0 || openGadget();
        const bool hasBoot = v.bootPath[0] != 0;
        const Role want = !v.present ? None : (v.inBootLoader && hasBoot ? Boot : App);
        reconcileDue_ = false;
        if (want == role_ && (want == None || fd_ >= 0))
            return true;
        destroy();
        return want == None || create(want);
    }

    void tick() {
        if (!reconcileDue_ || Clock::now() - dueSince_ > kReconcileGrace)
            reconcile();
    }

    // One event from the uhid device. False when the device file failed.
    bool handle() {
        if (!gadget_.empty())
            return handleGadget();
        uhid_event ev{};
        const ssize_t n = ::read(fd_, &ev, sizeof ev);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN;
        switch (ev.type) {
        case UHID_START:
            started_ = true;
            break;
        case UHID_SET_REPORT:
            onSetReport(ev.u.set_report);
            break;
        case UHID_GET_REPORT:
            onGetReport(ev.u.get_report);
            break;
        default:
            break;
        }
        return true;
    }

private:
    bool create(Role role) {
        const std::string p =
            role == Boot ? lower(narrow(view_.bootPath, TVX_DESC_PATH_UNITS)) : lower(path_);
        const int vendor = role == Boot ? numberAfter(p, "vid_", 16, kBootVendor) : view_.vendor;
        const int product = role == Boot ? numberAfter(p, "pid_", 16, kBootProduct) : view_.product;
        const int mi = numberAfter(p, "&mi_", 10, -1);
        const int col = numberAfter(p, "&col", 10, 0);
        const int usagePage = view_.usagePage >= 0 ? view_.usagePage : 0xFFA0;
        const int usage = view_.usage >= 0 ? view_.usage : 0x01;
        // A numbered collection needs a second one beside it to be numbered at all.
        const std::vector<uint8_t> rd =
            frameDescriptor(col > 0 ? std::max(col, 2) : 1, col > 0 ? col : 1, usagePage, usage);

        fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            std::fprintf(stderr, "torvanix-hid-emulator: cannot open /dev/uhid: %s\n",
                         std::strerror(errno));
            return false;
        }
        uhid_event ev{};
        ev.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char *>(ev.u.create2.name), sizeof ev.u.create2.name,
                      "Torvanix emulated %s", role == Boot ? "boot loader" : "device");
        std::string phys = "torvanix-emu-" + std::to_string(index_);
        if (mi >= 0)
            phys += "/input" + std::to_string(mi);
        std::snprintf(reinterpret_cast<char *>(ev.u.create2.phys), sizeof ev.u.create2.phys, "%s",
                      phys.c_str());
        std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
        ev.u.create2.rd_size = uint16_t(rd.size());
        ev.u.create2.bus = 0x03; // USB
        ev.u.create2.vendor = uint32_t(vendor);
        ev.u.create2.product = uint32_t(product);
        ev.u.create2.version = 0x0100;
        if (::write(fd_, &ev, sizeof ev) != ssize_t(sizeof ev)) {
            std::fprintf(stderr, "torvanix-hid-emulator: cannot create %s: %s\n", p.c_str(),
                         std::strerror(errno));
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        role_ = role;
        started_ = false;
        resetProtocol();
        return true;
    }

    void destroy() {
        if (fd_ >= 0 && !gadget_.empty()) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        if (fd_ >= 0) {
            uhid_event ev{};
            ev.type = UHID_DESTROY;
            (void)!::write(fd_, &ev, sizeof ev);
            ::close(fd_);
        }
        fd_ = -1;
        role_ = None;
        started_ = false;
    }

    void resetProtocol() {
        fill_ = 0;
        spoiled_ = false;
        answer_.clear();
        hasLast_ = hasPending_ = false;
    }

    void send(const uhid_event &ev) { (void)!::write(fd_, &ev, sizeof ev); }

    void onSetReport(const uhid_set_report_req &req) {
        uhid_event rep{};
        rep.type = UHID_SET_REPORT_REPLY;
        rep.u.set_report_reply.id = req.id;
        Frame f;
        if (req.rtype != UHID_FEATURE_REPORT || !decode(req.data, req.size, &f)) {
            rep.u.set_report_reply.err = EINVAL;
            send(rep);
            return;
        }
        pending_ = answer(f);
        hasPending_ = true;
        send(rep);
        if (g_unplugAfter > 0 && f.command != CmdIdentify && ++frames_ >= g_unplugAfter) {
            pulled_ = true;
            destroy();
        }
    }

    void onGetReport(const uhid_get_report_req &req) {
        uhid_event rep{};
        rep.type = UHID_GET_REPORT_REPLY;
        rep.u.get_report_reply.id = req.id;
        if (req.rtype != UHID_FEATURE_REPORT || req.rnum != kReportId || !hasPending_) {
            rep.u.get_report_reply.err = EIO;
        } else {
            // The report id goes first, as a USB device answers.
            const auto wire = encode(pending_);
            std::memcpy(rep.u.get_report_reply.data, wire.data(), wire.size());
            rep.u.get_report_reply.size = uint16_t(wire.size());
        }
        send(rep);
        if (reconcileDue_ && pending_.command != CmdFetch && pending_.command != CmdStage)
            reconcile();
    }

    Frame answer(const Frame &req) {
        Frame r;
        r.command = req.command;
        r.seq = req.seq;
        r.arg = req.arg;
        r.offset = req.offset;
        if (hasLast_ && req.command == last_.command && req.seq == last_.seq)
            return last_; // a repeated request: answered from memory, never run twice
        if (req.command == CmdIdentify)
            std::fprintf(stderr, "torvanix-hid-emulator: identification asked of %s\n",
                         path_.c_str());
        if (g_noIdentify) {
            if (req.command != CmdIdentify) {
                ++g_framesAfterFailedIdentify;
                std::fprintf(stderr,
                             "torvanix-hid-emulator: frame %02x sent to a device that failed "
                             "identification\n",
                             req.command);
            }
            r.count = 46; // the right length, the wrong content
            return r;
        }
        if (req.command == CmdIdentify) {
            // A new opener starts its sequence numbers afresh.
            hasLast_ = false;
            fill_ = 0;
            spoiled_ = false;
            Identity id;
            id.bootLoader = role_ == Boot;
            if (role_ == App) {
                const uint8_t *d = view_.description;
                auto text = [](const uint8_t *p, size_t w) {
                    return std::string(reinterpret_cast<const char *>(p),
                                       strnlen(reinterpret_cast<const char *>(p), w));
                };
                id.bluetooth = text(d + TVX_DESC_BLUETOOTH, 5);
                id.firmware = text(d + TVX_DESC_FIRMWARE, 17);
                id.serial = text(d + TVX_DESC_SERIAL, 14);
                id.battery = d[TVX_DESC_BATTERY];
                id.status = d[TVX_DESC_STATUS];
            }
            encodeIdentity(id, &r);
            return r;
        }
        if (req.command == CmdStage) {
            if (req.count > kDataSize || req.offset > fill_ ||
                req.offset + req.count > kPayloadCapacity) {
                spoiled_ = true;
                r.status = StatusBadFrame;
                return r;
            }
            std::memcpy(payload_ + req.offset, req.data.data(), req.count);
            fill_ = std::max(fill_, req.offset + req.count);
            r.count = req.count;
            return r;
        }
        if (req.command == CmdFetch) {
            if (req.count > kDataSize || size_t(req.offset) + req.count > answer_.size()) {
                r.status = StatusBadFrame;
                return r;
            }
            std::memcpy(r.data.data(), answer_.data() + req.offset, req.count);
            r.count = req.count;
            return r;
        }
        if (!isKnownCommand(req.command)) {
            r.status = StatusUnknownCommand;
            return r;
        }
        const int want = payloadFor(req.command) < 0 ? req.count : payloadFor(req.command);
        const bool roleOk = isBootLoaderCommand(req.command) ? role_ == Boot : role_ == App;
        if (!roleOk) {
            r.status = StatusNotAllowed;
        } else if (req.status == kFlagInlinePayload &&
                   (fill_ != 0 || want < 1 || want > kInlineSize)) {
            r.status = StatusBadFrame;
        } else if (req.status != kFlagInlinePayload && (spoiled_ || fill_ != want)) {
            r.status = StatusBadFrame;
        } else {
            if (req.status == kFlagInlinePayload)
                std::memcpy(payload_, req.data.data() + 4, size_t(want));
            answer_.clear();
            r.setValue(0, run(req));
            r.count = uint16_t(answer_.size());
            if (answer_.size() <= size_t(kInlineSize))
                std::memcpy(r.data.data() + 4, answer_.data(), answer_.size());
            reconcileDue_ = true;
            dueSince_ = Clock::now();
        }
        fill_ = 0;
        spoiled_ = false;
        last_ = r;
        hasLast_ = true;
        return r;
    }

    int32_t run(const Frame &req) {
        const std::u16string p16 = [&] {
            std::u16string s;
            if (role_ == Boot) {
                for (size_t i = 0; i < TVX_DESC_PATH_UNITS && view_.bootPath[i]; ++i)
                    s += char16_t(view_.bootPath[i]);
            } else {
                for (char c : path_)
                    s += char16_t(static_cast<unsigned char>(c));
            }
            return s;
        }();
        const uint16_t *path = reinterpret_cast<const uint16_t *>(p16.c_str());
        uint8_t block[kPayloadCapacity + 8] = {};
        int32_t v[5];
        for (int i = 0; i < 5; ++i)
            v[i] = req.value(i);
        const int count = req.count;
        switch (req.command) {
        case CmdWriteProperty:
        case CmdWritePropertyQpa:
            return sim::usbWriteProperty(req.command == CmdWritePropertyQpa, path, payload_,
                                         req.arg, count);
        case CmdReadProperty: {
            const int ret = sim::usbReadProperty(path, block, req.arg, count);
            answer_.assign(block, block + std::min(8 + count, kBlock));
            return ret;
        }
        case CmdWritePacket:
            return sim::usbWriteHfdData(path, payload_, req.arg, count);
        case CmdSingleValue:
            return sim::usbWriteStartTr(path, payload_, req.arg, count);
        case CmdReadPacket: {
            const int ret = sim::usbReadHfdData(path, block, req.arg, count);
            answer_.assign(block, block + std::min(count, kBlock));
            return ret;
        }
        case CmdReset:
            return sim::usbReset(path, req.data[0], req.data[1]);
        case CmdNotify:
            return sim::usbNotifyDevice(path, payload_, count);
        case CmdUpdateVersion:
            return sim::usbUpdateVersion(path, v[0], v[1]);
        case CmdReadInput: {
            const int ret = sim::usbReadInputReport(path, block, count, v[0]);
            if (ret > 0 && !gadget_.empty()) {
                // Over the interrupt endpoints the report follows the reply.
                input_.assign(kWireSize, 0);
                input_[0] = kReportId;
                std::memcpy(input_.data() + 1, block, size_t(std::min(ret, kFrameSize)));
            } else if (ret > 0) {
                uhid_event in{};
                in.type = UHID_INPUT2;
                in.u.input2.data[0] = kReportId;
                std::memcpy(in.u.input2.data + 1, block, size_t(std::min(ret, kFrameSize)));
                in.u.input2.size = kWireSize;
                send(in);
            }
            return ret;
        }
        case CmdHasBootLoader:
            return sim::usbBootLoader(path);
        case CmdEraseRom:
            return sim::usbEraseRom(path);
        case CmdWriteRom:
            return sim::usbWriteRom(path, payload_, count, v[0]);
        case CmdCheckRom:
            return sim::usbCheckRom(path, v[0], uint32_t(v[1]));
        case CmdFinishRom:
            return sim::usbFinishUpdateRom(path);
        case CmdKbSetHardwareInfo:
            return sim::kbSetHardwareInfo(v[0], v[1]);
        case CmdKbInitDevice:
            return sim::kbInitDevice(nullptr);
        case CmdKbSetLed:
            return sim::kbSetLed(v[0], v[1], v[2], v[3], v[4]);
        case CmdKbSetKeyColor:
            return sim::kbSetKeyColor(v[0], v[1], v[2], v[3]);
        case CmdKbSetMacro:
            return sim::kbSetMacro(payload_, count);
        case CmdKbSetKey:
            return sim::kbSetKey(reinterpret_cast<int32_t *>(payload_), count);
        case CmdKbNewKeyAction:
            return sim::kbNewKeyAction(v[0], v[1], v[2], v[3], v[4]);
        case CmdKbSetDebug:
            sim::kbSetDebug(v[0]);
            return 0;
        case CmdKbUnInitDevice:
            return sim::kbUnInitDevice();
        case CmdMsSetHardwareInfo:
            return sim::msSetHardwareInfo(v[0], v[1], v[2], v[3], v[4]);
        case CmdMsInitDevice:
            return sim::msInitDevice(nullptr);
        case CmdMsUnInitDevice:
            return sim::msUnInitDevice();
        case CmdMsSetKeyMatrix:
            return sim::msSetKeyMatrix(reinterpret_cast<int32_t *>(payload_), nullptr);
        case CmdMsSetConfig:
            return sim::msSetConfig(reinterpret_cast<int32_t *>(payload_));
        case CmdMsSetDebug:
            sim::msSetDebug(v[0]);
            return 0;
        case CmdMsIsDeviceOnline:
            return sim::msIsDeviceOnline();
        case CmdMsGetPower:
            return sim::msGetPower();
        case CmdMsGetFwVersion: {
            const int length = std::min(count, kPayloadCapacity);
            const int ret = sim::msGetFwVersion(reinterpret_cast<char *>(block), length);
            if (ret >= 0)
                answer_.assign(block, block + std::min(length, ret + 1));
            return ret;
        }
        default:
            return 0;
        }
    }

    bool openGadget() {
        fd_ = ::open(gadget_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            std::fprintf(stderr, "torvanix-hid-emulator: cannot open %s: %s\n", gadget_.c_str(),
                         std::strerror(errno));
            return false;
        }
        role_ = App;
        started_ = true;
        resetProtocol();
        return true;
    }

    // One output report from the host: a request. Every request but a stage frame is answered
    // with one input report.
    bool handleGadget() {
        uint8_t wire[kWireSize + 1];
        const ssize_t n = ::read(fd_, wire, sizeof wire);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN;
        Frame f;
        if (!decode(wire, size_t(n), &f) || pulled_)
            return true; // not a frame of ours, or the device is on its way out
        if (g_unplugAfter > 0 && f.command != CmdIdentify && ++frames_ >= g_unplugAfter) {
            // A gadget is unplugged from outside (its controller binding): the frame stays
            // unanswered and whoever made the gadget is told to pull it now.
            pulled_ = true;
            std::printf("unplug now\n");
            return true;
        }
        pending_ = answer(f);
        if (f.command == CmdStage)
            return true;
        const auto reply = encode(pending_);
        bool ok = writeGadget(reply.data(), reply.size());
        if (ok && !input_.empty())
            ok = writeGadget(input_.data(), input_.size());
        input_.clear();
        return ok;
    }

    // The function takes one report at a time; the next waits until the host has read it.
    bool writeGadget(const uint8_t *data, size_t size) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (::write(fd_, data, size) == ssize_t(size))
                return true;
            if (errno != EAGAIN && errno != EINTR)
                break;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        std::fprintf(stderr, "torvanix-hid-emulator: the host took no reply from %s\n",
                     gadget_.c_str());
        return true; // the host went away; the next request starts afresh
    }

    int index_;
    std::string path_;
    std::string gadget_;
    std::vector<uint8_t> input_; // an input report to send after the reply (gadget)
    sim::InterfaceView view_{};
    int fd_ = -1;
    Role role_ = None;
    bool started_ = false;
    alignas(4) uint8_t payload_[kPayloadCapacity] = {};
    int fill_ = 0;
    bool spoiled_ = false;
    std::vector<uint8_t> answer_;
    Frame last_, pending_;
    bool hasLast_ = false, hasPending_ = false;
    bool reconcileDue_ = false;
    Clock::time_point dueSince_;
    long frames_ = 0;
    bool pulled_ = false;
};

int usage() {
    std::fprintf(stderr,
                 "usage: torvanix-hid-emulator [--devices FILE] [--only TEXT]... [--no-identify]\n"
                 "                             [--unplug-after-frames N] [--gadget FILE]\n"
                 "       torvanix-hid-emulator [--interrupt] --print-descriptor COLLECTIONS AT\n"
                 "  Serves the simulator's device set (TORVANIX_SIM_DEVICES or FILE) as uhid\n"
                 "  devices until SIGTERM/SIGINT; prints \"ready N\" once all have started.\n"
                 "  --only keeps the interfaces whose path contains TEXT (any case).\n"
                 "  --no-identify answers identification wrongly and reports any later frame.\n"
                 "  --unplug-after-frames N pulls each device out after its N-th frame.\n"
                 "  --print-descriptor writes the report descriptor of COLLECTIONS top-level\n"
                 "  collections with the frame collection at AT (from 1) to standard output;\n"
                 "  --interrupt: its requests come as output reports, not feature reports.\n"
                 "  --gadget FILE serves the one interface --only chose through a USB gadget\n"
                 "  HID function's device file (/dev/hidgN) instead of uhid.\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> only;
    std::string gadget;
    // Before --print-descriptor: the frame collection takes requests as output reports.
    bool interruptFrames = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--interrupt") {
            interruptFrames = true;
        } else if (a == "--no-identify") {
            g_noIdentify = true;
        } else if (a == "--unplug-after-frames" && i + 1 < argc) {
            g_unplugAfter = std::atol(argv[++i]);
            if (g_unplugAfter <= 0)
                return usage();
        } else if (a == "--gadget" && i + 1 < argc) {
            gadget = argv[++i];
            if (gadget.empty())
                return usage();
        } else if (a == "--print-descriptor" && i + 2 < argc) {
            // For a device made elsewhere (a USB gadget): the same frame collection.
            const int collections = std::atoi(argv[i + 1]), at = std::atoi(argv[i + 2]);
            if (collections < 1 || collections > 8 || at < 1 || at > collections)
                return usage();
            const std::vector<uint8_t> rd =
                frameDescriptor(collections, at, 0xFFA0, 0x01, interruptFrames);
            return std::fwrite(rd.data(), 1, rd.size(), stdout) == rd.size() ? 0 : 1;
        } else if ((a == "--devices" || a == "--only") && i + 1 < argc) {
            if (a == "--devices")
                ::setenv("TORVANIX_SIM_DEVICES", argv[++i], 1);
            else
                only.push_back(lower(argv[++i]));
        } else {
            return usage();
        }
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    std::vector<std::pair<int, std::string>> chosen;
    sim::InterfaceView v{};
    for (int i = 0; sim::viewInterface(i, &v); ++i) {
        const std::string path = narrow(
            reinterpret_cast<const uint16_t *>(v.description + TVX_DESC_PATH), TVX_DESC_PATH_UNITS);
        const std::string low = lower(path);
        if (!only.empty() && std::none_of(only.begin(), only.end(), [&](const std::string &o) {
                return low.find(o) != std::string::npos;
            }))
            continue;
        chosen.emplace_back(i, path);
    }
    if (!gadget.empty() && chosen.size() != 1) {
        std::fprintf(stderr,
                     "torvanix-hid-emulator: --gadget serves one interface; --only "
                     "chose %zu\n",
                     chosen.size());
        return 2;
    }
    std::vector<std::unique_ptr<Emulated>> devices;
    for (const auto &c : chosen) {
        devices.push_back(std::make_unique<Emulated>(c.first, c.second, gadget));
        if (!devices.back()->reconcile())
            return 1;
    }
    if (devices.empty()) {
        std::fprintf(stderr, "torvanix-hid-emulator: no interface to serve\n");
        return 1;
    }
    bool announced = false;
    while (!g_stop) {
        std::vector<pollfd> fds;
        std::vector<Emulated *> owners;
        for (auto &d : devices)
            if (d->fd() >= 0) {
                fds.push_back({d->fd(), POLLIN, 0});
                owners.push_back(d.get());
            }
        const int n = ::poll(fds.data(), fds.size(), 100);
        if (n < 0 && errno != EINTR) {
            std::perror("torvanix-hid-emulator: poll");
            return 1;
        }
        for (size_t i = 0; n > 0 && i < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                if (!owners[i]->handle()) {
                    std::fprintf(stderr, "torvanix-hid-emulator: uhid failed for %s\n",
                                 owners[i]->path().c_str());
                    return 1;
                }
        for (auto &d : devices)
            d->tick();
        if (!announced && std::all_of(devices.begin(), devices.end(),
                                      [](const auto &d) { return d->started(); })) {
            std::printf("ready %zu\n", devices.size());
            announced = true;
        }
    }
    if (g_noIdentify)
        std::printf("frames after a failed identification: %ld\n", g_framesAfterFailedIdentify);
    return 0;
}

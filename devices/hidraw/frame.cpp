#include "frame.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace torvanix::hidraw {

namespace {
constexpr uint8_t kMark[4] = {'T', 'V', 'X', 'F'};

void putText(uint8_t *dst, const std::string &text, size_t width) {
    std::memcpy(dst, text.data(), std::min(text.size(), width));
}

std::string getText(const uint8_t *src, size_t width) {
    size_t n = 0;
    while (n < width && src[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char *>(src), n);
}
} // namespace

bool isBootLoaderCommand(uint8_t command) {
    return command >= CmdEraseRom && command <= CmdFinishRom;
}

bool isKnownCommand(uint8_t command) {
    return (command >= CmdIdentify && command <= CmdFetch) ||
           (command >= CmdWriteProperty && command <= CmdHasBootLoader) ||
           isBootLoaderCommand(command) ||
           (command >= CmdKbSetHardwareInfo && command <= CmdKbUnInitDevice) ||
           (command >= CmdMsSetHardwareInfo && command <= CmdMsGetFwVersion);
}

int32_t Frame::value(int index) const {
    if (index < 0 || index * 4 + 4 > kDataSize)
        return 0;
    const uint8_t *p = data.data() + index * 4;
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

void Frame::setValue(int index, int32_t v) {
    if (index < 0 || index * 4 + 4 > kDataSize)
        return;
    uint8_t *p = data.data() + index * 4;
    const uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(u >> (8 * i));
}

std::array<uint8_t, kWireSize> encode(const Frame &frame) {
    std::array<uint8_t, kWireSize> w{};
    w[0] = kReportId;
    w[1] = frame.command;
    w[2] = frame.seq;
    w[3] = frame.arg;
    w[4] = frame.status;
    w[5] = uint8_t(frame.count & 0xFF);
    w[6] = uint8_t(frame.count >> 8);
    w[7] = uint8_t(frame.offset & 0xFF);
    w[8] = uint8_t(frame.offset >> 8);
    std::memcpy(w.data() + 9, frame.data.data(), kDataSize);
    return w;
}

bool decode(const uint8_t *wire, size_t length, Frame *frame) {
    if (!wire || !frame || length != size_t(kWireSize) || wire[0] != kReportId)
        return false;
    frame->command = wire[1];
    frame->seq = wire[2];
    frame->arg = wire[3];
    frame->status = wire[4];
    frame->count = uint16_t(wire[5] | wire[6] << 8);
    frame->offset = uint16_t(wire[7] | wire[8] << 8);
    std::memcpy(frame->data.data(), wire + 9, kDataSize);
    return true;
}

bool acceptReply(const uint8_t *wire, size_t length, const Frame &request, Frame *reply) {
    Frame f;
    if (!decode(wire, length, &f))
        return false;
    if (f.command != request.command || f.seq != request.seq || f.arg != request.arg ||
        f.status != StatusDone)
        return false;
    *reply = f;
    return true;
}

void encodeIdentity(const Identity &identity, Frame *reply) {
    uint8_t *d = reply->data.data();
    std::memset(d, 0, kDataSize);
    std::memcpy(d, kMark, 4);
    d[4] = kProtocolVersion;
    d[5] = identity.bootLoader ? 1 : 0;
    d[6] = uint8_t(kPayloadCapacity & 0xFF);
    d[7] = uint8_t(kPayloadCapacity >> 8);
    putText(d + 8, identity.bluetooth, 5);
    putText(d + 13, identity.firmware, 17);
    putText(d + 30, identity.serial, 14);
    d[44] = identity.battery;
    d[45] = identity.status;
    reply->count = 46;
}

bool decodeIdentity(const Frame &reply, Identity *identity) {
    const uint8_t *d = reply.data.data();
    if (reply.command != CmdIdentify || reply.status != StatusDone || reply.count != 46 ||
        std::memcmp(d, kMark, 4) != 0 || d[4] != kProtocolVersion || d[5] > 1 ||
        (d[6] | d[7] << 8) != kPayloadCapacity)
        return false;
    identity->bootLoader = d[5] == 1;
    identity->bluetooth = getText(d + 8, 5);
    identity->firmware = getText(d + 13, 17);
    identity->serial = getText(d + 30, 14);
    identity->battery = d[44];
    identity->status = d[45];
    return true;
}

std::vector<Collection> parseCollections(const uint8_t *desc, size_t length) {
    std::vector<Collection> out;
    if (!desc)
        return out;
    struct Globals {
        uint32_t usagePage = 0, reportSize = 0, reportCount = 0, reportId = 0;
    } g;
    std::vector<Globals> stack;
    uint32_t usage = 0;
    bool haveUsage = false;
    int depth = 0;
    bool featureOk = false, inputOk = false, outputOk = false;
    size_t i = 0;
    while (i < length) {
        const uint8_t prefix = desc[i];
        if (prefix == 0xFE) { // long item: size, tag, data
            if (i + 2 >= length)
                break;
            i += 3 + desc[i + 1];
            continue;
        }
        const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > length)
            break;
        uint32_t v = 0;
        for (size_t k = 0; k < size; ++k)
            v |= uint32_t(desc[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3, tag = prefix >> 4;
        i += 1 + size;
        if (type == 1) { // global
            switch (tag) {
            case 0x0:
                g.usagePage = v;
                break;
            case 0x7:
                g.reportSize = v;
                break;
            case 0x8:
                g.reportId = v;
                break;
            case 0x9:
                g.reportCount = v;
                break;
            case 0xA:
                stack.push_back(g);
                break;
            case 0xB:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == 2) { // local
            if (tag == 0x0 && !haveUsage) {
                usage = size == 4 ? v : (g.usagePage << 16 | v);
                haveUsage = true;
            }
        } else if (type == 0) { // main
            const bool frameSized = g.reportId == kReportId && g.reportSize * g.reportCount == 512;
            if (tag == 0xA) { // collection
                if (depth == 0) {
                    Collection c;
                    c.usagePage = uint16_t(haveUsage ? usage >> 16 : g.usagePage);
                    c.usage = uint16_t(haveUsage ? usage & 0xFFFF : 0);
                    out.push_back(c);
                    featureOk = inputOk = outputOk = false;
                }
                ++depth;
            } else if (tag == 0xC) { // end collection
                if (depth == 0)
                    break;
                if (--depth == 0 && !out.empty()) {
                    out.back().frameReport = inputOk && (featureOk || outputOk);
                    out.back().interruptFrames = inputOk && outputOk && !featureOk;
                }
            } else if (depth > 0 && frameSized && tag == 0xB) {
                featureOk = true;
            } else if (depth > 0 && frameSized && tag == 0x8) {
                inputOk = true;
            } else if (depth > 0 && frameSized && tag == 0x9) {
                outputOk = true;
            }
            usage = 0;
            haveUsage = false;
        }
    }
    return out;
}

namespace {
void putUsage(std::vector<uint8_t> &d, int usagePage, int usage) {
    d.insert(d.end(), {0x06, uint8_t(usagePage & 0xFF), uint8_t((usagePage >> 8) & 0xFF)});
    if (usage < 256)
        d.insert(d.end(), {0x09, uint8_t(usage)});
    else
        d.insert(d.end(), {0x0A, uint8_t(usage & 0xFF), uint8_t(usage >> 8)});
}
} // namespace

std::vector<uint8_t> frameDescriptor(int collections, int frameAt, int usagePage, int usage,
                                     bool interrupt) {
    std::vector<uint8_t> d;
    for (int k = 1; k <= collections; ++k) {
        if (k == frameAt) {
            putUsage(d, usagePage, usage);
            d.insert(d.end(), {0xA1, 0x01, 0x85, kReportId, 0x15,
                               0x00, 0x26, 0xFF, 0x00,      0x75,
                               0x08, 0x95, 0x40, 0x09,      0x02,
                               0x81, 0x02, 0x09, 0x03,      uint8_t(interrupt ? 0x91 : 0xB1),
                               0x02, 0xC0});
        } else {
            putUsage(d, 0xFF00, 0x90 + k);
            d.insert(d.end(), {0xA1, 0x01, 0x85, uint8_t(0x10 + k), 0x15, 0x00, 0x26, 0xFF, 0x00,
                               0x75, 0x08, 0x95, 0x01, 0x09, 0x01, 0x81, 0x02, 0xC0});
        }
    }
    return d;
}

int interfaceFromPhys(const std::string &phys) {
    const size_t at = phys.rfind("/input");
    if (at == std::string::npos)
        return -1;
    const std::string digits = phys.substr(at + 6);
    if (digits.empty() || digits.size() > 3)
        return -1;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return -1;
    return std::stoi(digits);
}

std::string instanceFromPhys(const std::string &phys, const std::string &fallback) {
    const size_t at = phys.rfind("/input");
    const std::string base = at == std::string::npos ? phys : phys.substr(0, at);
    std::string out;
    for (char c : base) {
        const unsigned char u =
            static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
        out += (std::isdigit(u) || (u >= 'a' && u <= 'z')) ? char(u) : '_';
    }
    if (!out.empty())
        return out;
    std::string fb;
    for (char c : fallback) {
        const unsigned char u =
            static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
        fb += (std::isdigit(u) || (u >= 'a' && u <= 'z')) ? char(u) : '_';
    }
    return fb;
}

bool mayIdentify(uint16_t vendor, uint16_t product) {
    static const uint16_t catalogued[][2] = {
#include "catalogue_ids.inc"
    };
    if (vendor == kBootVendor && product == kBootProduct)
        return true;
    for (const auto &id : catalogued)
        if (id[0] == vendor && id[1] == product)
            return true;
    return false;
}

std::string interfacePath(uint16_t vendor, uint16_t product, int interfaceNumber, int collection,
                          const std::string &instance) {
    char head[64];
    std::snprintf(head, sizeof head, "\\\\?\\hid#vid_%04x&pid_%04x", vendor, product);
    std::string path = head;
    if (interfaceNumber >= 0) {
        std::snprintf(head, sizeof head, "&mi_%02d", interfaceNumber);
        path += head;
    }
    if (collection > 0) {
        std::snprintf(head, sizeof head, "&col%02d", collection);
        path += head;
    }
    return path + "#" + instance + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

} // namespace torvanix::hidraw

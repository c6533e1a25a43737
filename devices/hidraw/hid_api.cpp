#include "hid_api.h"

#include "link.h"
#include "torvanix/devlib.h"

#include <algorithm>
#include <cstring>

namespace torvanix::hidraw {

namespace {

constexpr int kBlock = TVX_TRANSFER_BLOCK_SIZE;

using Lock = std::lock_guard<std::recursive_mutex>;

// The path argument, or empty when it is null, empty or not terminated within 510 units.
std::u16string pathArg(const uint16_t *p) {
    if (!p)
        return {};
    std::u16string s;
    for (int i = 0; i < TVX_DESC_PATH_UNITS; ++i) {
        if (p[i] == 0)
            return s;
        s += char16_t(p[i]);
    }
    return {};
}

bool countOk(int count, int most = kBlock) {
    return count >= 0 && count <= most;
}

// Runs one request on the identified device at `path`. When the device went away before any
// frame of the call reached it (e.g. it re-enumerated after a boot-loader round trip), the path
// is looked up afresh once.
Result run(const std::u16string &path, bool bootLoader, const Request &request) {
    Links &links = Links::instance();
    Lock lock(links.mutex);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Link *link = links.get(path, bootLoader);
        if (!link)
            return {};
        Result r = link->execute(request);
        if (link->broken())
            links.drop(link);
        if (r.ok || r.delivered)
            return r;
    }
    return {};
}

Request make(uint8_t command, uint8_t arg, int count, const uint8_t *payload = nullptr,
             int payloadLength = 0) {
    Request r;
    r.command = command;
    r.arg = arg;
    r.count = uint16_t(count);
    if (payload && payloadLength > 0)
        r.payload.assign(payload, payload + payloadLength);
    return r;
}

int retOf(const Result &r, int failure = 0) {
    return r.ok ? r.ret : failure;
}

void copyText(uint8_t *dst, const std::string &text, size_t width) {
    std::memcpy(dst, text.data(), std::min(text.size(), width));
}

bool matchesFilter(const InterfaceInfo &info, const uint16_t *filter) {
    if (!filter)
        return true;
    bool anyPair = false;
    for (int i = 0; i < TVX_FILTER_PAIRS; ++i) {
        const uint16_t usage = filter[2 * i], page = filter[2 * i + 1];
        if (usage == 0 && page == 0)
            continue;
        anyPair = true;
        if (usage == info.usage && page == info.usagePage)
            return true;
    }
    return !anyPair;
}

struct Chosen {
    bool has = false;
    int vendor = 0, product = 0;
};
Chosen g_chosen[2];

} // namespace

int usbDevices(uint8_t *list, const uint16_t *filter) {
    if (!list)
        return 0;
    std::memset(list, 0, TVX_LIST_BLOCK_SIZE);
    Links &links = Links::instance();
    Lock lock(links.mutex);
    std::vector<const Link *> identified;
    const std::vector<InterfaceInfo> all = links.refresh(&identified, true);
    int count = 0;
    for (size_t i = 0; i < all.size() && count < TVX_MAX_DESCRIPTIONS; ++i) {
        const InterfaceInfo &info = all[i];
        const Link *link = identified[i];
        // A boot loader is found through dcDeviceExist, never listed as a device.
        if (!matchesFilter(info, filter) || (link && link->identity().bootLoader))
            continue;
        uint8_t *d = list + 2 + size_t(count) * TVX_DESCRIPTION_SIZE;
        if (link) {
            const Identity &id = link->identity();
            copyText(d + TVX_DESC_BLUETOOTH, id.bluetooth, 5);
            copyText(d + TVX_DESC_FIRMWARE, id.firmware, 17);
            copyText(d + TVX_DESC_SERIAL, id.serial, 14);
            d[TVX_DESC_BATTERY] = id.battery;
            d[TVX_DESC_STATUS] = id.status;
        }
        uint8_t *p = d + TVX_DESC_PATH;
        for (size_t k = 0; k < info.path.size() && k + 1 < size_t(TVX_DESC_PATH_UNITS); ++k) {
            p[2 * k] = uint8_t(info.path[k] & 0xFF);
            p[2 * k + 1] = uint8_t(info.path[k] >> 8);
        }
        ++count;
    }
    list[0] = uint8_t(count & 0xFF);
    list[1] = uint8_t(count >> 8);
    return count;
}

int usbWriteProperty(bool qpa, const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    if (!buf || !countOk(count))
        return 0;
    return retOf(
        run(pathArg(path), false,
            make(qpa ? CmdWritePropertyQpa : CmdWriteProperty, address, count, buf, count)));
}

int usbReadProperty(const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    if (!buf || !countOk(count, kBlock - 8))
        return 0;
    Request r = make(CmdReadProperty, address, count);
    r.answerLength = 8 + count;
    const Result res = run(pathArg(path), false, r);
    if (!res.ok)
        return 0;
    for (size_t i = 8; i < res.answer.size(); ++i)
        buf[i] = res.answer[i];
    return res.ret;
}

int usbWriteHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count) {
    if (!buf || !countOk(count))
        return 0;
    return retOf(run(pathArg(path), false, make(CmdWritePacket, type, count, buf, count)));
}

int usbWriteStartTr(const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    if (!buf || !countOk(count))
        return 0;
    return retOf(run(pathArg(path), false, make(CmdSingleValue, address, count, buf, 1)));
}

int usbReadHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count) {
    if (!buf || !countOk(count))
        return 0;
    Request r = make(CmdReadPacket, type, count);
    r.answerLength = count;
    const Result res = run(pathArg(path), false, r);
    if (!res.ok)
        return 0;
    std::copy(res.answer.begin(), res.answer.end(), buf);
    return res.ret;
}

int usbReset(const uint16_t *path, uint8_t a, uint8_t b) {
    Request r = make(CmdReset, 0, 0);
    r.bytes = {a, b};
    return retOf(run(pathArg(path), false, r));
}

int usbNotifyDevice(const uint16_t *path, uint8_t *block, int count) {
    if (!block || !countOk(count))
        return 0;
    return retOf(run(pathArg(path), false, make(CmdNotify, 0, count, block, 4)));
}

int usbDeviceExist(const uint16_t *id, uint16_t *pathBuffer) {
    const std::u16string needle = pathArg(id);
    if (needle.empty() || !pathBuffer)
        return 0;
    std::string upperNeedle = fromU16(needle);
    std::transform(upperNeedle.begin(), upperNeedle.end(), upperNeedle.begin(), ::toupper);
    Links &links = Links::instance();
    Lock lock(links.mutex);
    std::vector<const Link *> identified;
    const std::vector<InterfaceInfo> all = links.refresh(&identified);
    for (size_t i = 0; i < all.size(); ++i) {
        if (!identified[i])
            continue; // only a device that answered identification may be handed out
        std::string upperPath = fromU16(all[i].path);
        std::transform(upperPath.begin(), upperPath.end(), upperPath.begin(), ::toupper);
        if (upperPath.find(upperNeedle) == std::string::npos ||
            all[i].path.size() + 1 > size_t(TVX_EXIST_PATH_BUFFER / 2))
            continue;
        std::memcpy(pathBuffer, all[i].path.data(), all[i].path.size() * 2);
        pathBuffer[all[i].path.size()] = 0;
        return 1;
    }
    return 0;
}

int usbUpdateVersion(const uint16_t *path, int a, int b) {
    Request r = make(CmdUpdateVersion, 0, 0);
    r.values = {a, b};
    return retOf(run(pathArg(path), false, r));
}

int usbEraseRom(const uint16_t *path) {
    return retOf(run(pathArg(path), true, make(CmdEraseRom, 0, 0)));
}

int usbWriteRom(const uint16_t *path, uint8_t *buf, int length, int offset) {
    if (!buf || !countOk(length))
        return 0;
    Request r = make(CmdWriteRom, 0, length, buf, length);
    r.values = {offset};
    return retOf(run(pathArg(path), true, r));
}

int usbCheckRom(const uint16_t *path, int length, uint32_t check) {
    Request r = make(CmdCheckRom, 0, 0);
    r.values = {length, int32_t(check)};
    return retOf(run(pathArg(path), true, r));
}

int usbFinishUpdateRom(const uint16_t *path) {
    return retOf(run(pathArg(path), true, make(CmdFinishRom, 0, 0)));
}

int usbBootLoader(const uint16_t *path) {
    return retOf(run(pathArg(path), false, make(CmdHasBootLoader, 0, 0)));
}

int usbReadInputReport(const uint16_t *path, uint8_t *buf, int length, int timeoutMs) {
    if (!buf || length <= 0 || length > kBlock)
        return 0;
    const std::u16string p = pathArg(path);
    Links &links = Links::instance();
    Lock lock(links.mutex);
    Link *link = links.get(p, false);
    if (!link)
        return -1;
    link->drainInput();
    Request r = make(CmdReadInput, 0, length);
    r.values = {timeoutMs};
    const Result res = link->execute(r);
    if (!res.ok || res.ret < 0) {
        if (link->broken())
            links.drop(link);
        return -1;
    }
    if (res.ret == 0)
        return 0;
    uint8_t report[64] = {};
    const int n = link->readInput(report, 64, timeoutMs);
    if (n <= 0) {
        if (link->broken())
            links.drop(link);
        return -1; // announced but never delivered
    }
    const int copy = std::min({length, res.ret, n});
    std::memcpy(buf, report, size_t(copy));
    return copy;
}

// ---- keyboard and mouse libraries ------------------------------------------------------------

namespace {
Result libRun(int family, const Request &request) {
    Links &links = Links::instance();
    Lock lock(links.mutex);
    const Chosen c = g_chosen[family & 1];
    if (!c.has)
        return {};
    Link *link = links.byIds(c.vendor, c.product);
    if (!link)
        return {};
    Result r = link->execute(request);
    if (link->broken())
        links.drop(link);
    return r;
}
} // namespace

int libSetHardwareInfo(int family, const int32_t *values, int n) {
    if (!values || n < 2)
        return 0;
    {
        Lock lock(Links::instance().mutex);
        g_chosen[family & 1] = Chosen{true, values[0], values[1]};
    }
    Request r = make(family ? CmdMsSetHardwareInfo : CmdKbSetHardwareInfo, 0, 0);
    r.values.assign(values, values + n);
    const Result res = libRun(family, r);
    // The choice is remembered even when the device is not there yet; InitDevice says whether
    // it is.
    return res.ok ? res.ret : 1;
}

int libCall(int family, uint8_t command, const int32_t *values, int n, const uint8_t *payload,
            int payloadLength, int failure) {
    if (payloadLength < 0 || payloadLength > kPayloadCapacity || (payloadLength && !payload))
        return failure;
    Request r = make(command, 0, payloadLength, payload, payloadLength);
    if (values && n > 0)
        r.values.assign(values, values + std::min(n, 5));
    return retOf(libRun(family, r), failure);
}

int libGetFwVersion(char *text, int length) {
    if (!text || length <= 0 || length > kPayloadCapacity)
        return 0;
    Request r = make(CmdMsGetFwVersion, 0, length);
    r.answerLength = length;
    const Result res = libRun(1, r);
    if (!res.ok)
        return 0;
    std::memcpy(text, res.answer.data(), res.answer.size());
    return res.ret;
}

} // namespace torvanix::hidraw

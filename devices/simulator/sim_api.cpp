#include "sim_api.h"
#include "sim_engine.h"
#include "sim_watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>

namespace torvanix::sim {

namespace {

std::string jsonString(const QString &text) {
    std::string out = "\"";
    for (unsigned char ch : text.toUtf8()) {
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (ch < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", ch);
                out += esc;
            } else {
                out += char(ch);
            }
        }
    }
    return out + "\"";
}

// One entry call: holds the model's lock from start to end, collects what the trace line
// reports, applies injected faults and the vanish rules, and saves the state when done.
class Call {
public:
    Call(const char *lib, const char *entry)
        : lib_(lib), entry_(entry), engine_(Engine::instance()), lock_(engine_.mutex) {
        engine_.begin();
        const QString name = QString::fromLatin1(entry);
        const QString libName = QString::fromLatin1(lib);
        int slowMs = 0;
        for (Fault &f : engine_.faults) {
            if (f.entry.isEmpty() || f.entry != name || (!f.lib.isEmpty() && f.lib != libName))
                continue;
            ++f.calls;
            if (f.calls == f.n || (f.andLater && f.calls >= f.n)) {
                if (f.slowMs > 0)
                    slowMs = std::max(slowMs, f.slowMs);
                else
                    faulted_ = true;
            }
        }
        // A slow device or a long listing: every other call waits behind this one.
        if (slowMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
    }
    ~Call() {
        if (!done_)
            finish(0);
    }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    Engine &engine() { return engine_; }

    // Reads a NUL-terminated UTF-16 path of at most kPathUnits units (terminator included).
    bool path(const uint16_t *p) {
        if (!p)
            return false;
        size_t n = 0;
        while (n < size_t(kPathUnits) && p[n] != 0)
            ++n;
        if (n == size_t(kPathUnits))
            return false;
        path_.assign(reinterpret_cast<const char16_t *>(p), n);
        hasPath_ = true;
        return true;
    }
    const std::u16string &pathValue() const { return path_; }

    void arg(int v) {
        hasArg_ = true;
        arg_ = v;
    }
    void count(int v) {
        hasCount_ = true;
        count_ = v;
    }
    void bytes(const uint8_t *p, int n) {
        hasBytes_ = true;
        bytes_.assign(p, p + std::max(n, 0));
    }
    void args(std::initializer_list<long long> values) { args_.assign(values); }

    bool faulted() const { return faulted_; }
    void changed() { changed_ = true; }

    // Resolves the call's path to a present device and counts the call against it.
    DeviceRef device(bool allowBoot = false) {
        DeviceRef ref = engine_.find(path_, allowBoot);
        if (ref && !touch(ref.index))
            return DeviceRef{};
        return ref;
    }

    // Counts a call that addresses device `index`; false when a vanish rule removed it now.
    bool touch(int index) {
        const DeviceConfig &d = engine_.devices[size_t(index)];
        const QString upper = d.path.toUpper();
        const QString bootUpper = d.bootPath.toUpper();
        for (Fault &f : engine_.faults) {
            if (f.pattern.isEmpty() ||
                !(upper.contains(f.pattern) || bootUpper.contains(f.pattern)))
                continue;
            ++f.calls;
            if (f.calls > f.n) {
                engine_.state(index).vanished = true;
                changed_ = true;
                return false;
            }
            if (f.calls == f.n)
                vanishAfter_ = index;
        }
        return true;
    }

    int finish(int ret, bool hasRet = true) {
        if (done_)
            return ret;
        done_ = true;
        if (vanishAfter_ >= 0) {
            engine_.state(vanishAfter_).vanished = true;
            changed_ = true;
        }
        engine_.end(changed_);
        std::string line = "{\"lib\":\"" + std::string(lib_) + "\",\"call\":\"" + entry_ + "\"";
        if (hasPath_)
            line += ",\"path\":" + jsonString(pathText(path_));
        if (hasArg_)
            line += ",\"arg\":" + std::to_string(arg_);
        if (hasCount_)
            line += ",\"count\":" + std::to_string(count_);
        if (hasBytes_)
            line += ",\"bytes\":\"" + toHex(bytes_).toStdString() + "\"";
        if (!args_.empty()) {
            line += ",\"args\":[";
            for (size_t i = 0; i < args_.size(); ++i)
                line += (i ? "," : "") + std::to_string(args_[i]);
            line += "]";
        }
        if (hasRet)
            line += ",\"ret\":" + std::to_string(ret);
        if (faulted_)
            line += ",\"fault\":true";
        // Wall-clock milliseconds, so a line can be set against the page's own clock.
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        char time[32];
        std::snprintf(time, sizeof time, ",\"time\":%.3f",
                      std::chrono::duration<double, std::milli>(now).count());
        line += time;
        line += "}";
        engine_.appendTrace(line);
        lock_.unlock();
        return ret;
    }

private:
    const char *lib_;
    const char *entry_;
    Engine &engine_;
    std::unique_lock<std::mutex> lock_;
    bool done_ = false, faulted_ = false, changed_ = false;
    std::u16string path_;
    bool hasPath_ = false, hasArg_ = false, hasCount_ = false, hasBytes_ = false;
    int arg_ = 0, count_ = 0;
    Bytes bytes_;
    std::vector<long long> args_;
    int vanishAfter_ = -1;
};

constexpr const char *kUsb = "UsbInterface";
constexpr const char *kKb = "KBAccess";
constexpr const char *kMouse = "ByDevInterface";

bool countOk(int count) {
    return count >= 0 && count <= kBlockSize;
}

void copyText(uint8_t *dst, const QString &text, int width) {
    const QByteArray raw = text.toLatin1();
    std::memcpy(dst, raw.constData(), size_t(std::min(int(raw.size()), width)));
}

void fillDescription(uint8_t *desc, Engine &e, int index) {
    const DeviceConfig &d = e.devices[size_t(index)];
    std::memset(desc, 0, kDescriptionSize);
    copyText(desc + 0, d.bluetooth, 5);
    copyText(desc + 40, d.firmware, 17);
    copyText(desc + 57, d.serial, 14);
    desc[73] = uint8_t(e.battery(index));
    desc[74] = uint8_t(e.status(index));
    uint8_t *path = desc + 1087;
    for (size_t i = 0; i < d.path16.size() && i < size_t(kPathUnits) - 1; ++i) {
        path[2 * i] = uint8_t(d.path16[i] & 0xFF);
        path[2 * i + 1] = uint8_t(d.path16[i] >> 8);
    }
}

// The data command that carries the packets of a transfer opened by `command`.
int dataCommandFor(int command) {
    switch (command) {
    case 17:
        return 11; // key table
    case 19:       // lighting and per-key colours
    case 21:       // macro table
        return 19;
    default:
        return -1; // not a transfer this device knows the layout of: take any
    }
}

bool matchesFilter(const DeviceConfig &d, const uint16_t *filter) {
    if (!filter || d.usage < 0 || d.usagePage < 0)
        return true;
    bool anyPair = false;
    for (int i = 0; i < 20; ++i) {
        const uint16_t usage = filter[2 * i], page = filter[2 * i + 1];
        if (usage == 0 && page == 0)
            continue;
        anyPair = true;
        if (usage == d.usage && page == d.usagePage)
            return true;
    }
    return !anyPair;
}

} // namespace

// ---- UsbInterface ----------------------------------------------------------------------------

int usbDevices(uint8_t *list, const uint16_t *filter) {
    Call c(kUsb, "dcDevices");
    if (!list || c.faulted())
        return c.finish(0);
    Engine &e = c.engine();
    std::memset(list, 0, kListBlockSize);
    int count = 0;
    for (size_t i = 0; i < e.devices.size() && count < kMaxDescriptions; ++i) {
        const DeviceConfig &d = e.devices[i];
        if (!e.present(int(i)) || e.state(int(i)).bootloader || !matchesFilter(d, filter))
            continue;
        fillDescription(list + 2 + size_t(count) * kDescriptionSize, e, int(i));
        ++count;
    }
    list[0] = uint8_t(count & 0xFF);
    list[1] = uint8_t(count >> 8);
    return c.finish(count);
}

int usbWriteProperty(bool qpa, const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    Call c(kUsb, qpa ? "dcWritePropertyForQPA" : "dcWriteProperty");
    c.arg(address);
    c.count(count);
    if (!c.path(path) || !buf || !countOk(count))
        return c.finish(0);
    c.bytes(buf, count);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    const DeviceConfig &cfg = c.engine().devices[size_t(d.index)];
    DeviceState &s = c.engine().state(d.index);
    c.changed();
    const bool dpiQuery = address == cfg.dpiRegister;
    if (count == 1 && buf[0] == kQueryByte && (dpiQuery || address == cfg.rateRegister)) {
        // The DPI and report-rate queries write 0x05 to the setting's own register; the
        // device answers with an input report and keeps the setting.
        if (cfg.inputReports) {
            Bytes report = dpiQuery ? cfg.dpiReport : cfg.rateReport;
            if (report.empty()) {
                auto it = s.registers.find(address);
                report.assign(kReportSize, 0);
                report[0] = kQueryByte;
                report[1] = it != s.registers.end() && !it->second.empty() ? it->second[0] : 0;
                report[2] = address;
            }
            report.resize(kReportSize, 0);
            s.reports.push_back(report);
            while (int(s.reports.size()) > kMaxPendingReports)
                s.reports.pop_front();
        }
        return c.finish(1);
    }
    s.registers[address] = Bytes(buf, buf + count);
    return c.finish(1);
}

int usbReadProperty(const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    Call c(kUsb, "dcReadProperty");
    c.arg(address);
    c.count(count);
    // The data starts at offset 8 of the 2048-byte block, so more than 2040 would overrun it.
    if (!c.path(path) || !buf || count < 0 || count > kMaxReadCount)
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    const DeviceState &s = c.engine().state(d.index);
    auto it = s.registers.find(address);
    for (int i = 0; i < count; ++i)
        buf[8 + i] =
            it != s.registers.end() && size_t(i) < it->second.size() ? it->second[size_t(i)] : 0;
    c.bytes(buf + 8, count);
    return c.finish(1);
}

int usbWriteHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count) {
    Call c(kUsb, "dcWriteHFDData");
    c.arg(type);
    c.count(count);
    if (!c.path(path) || !buf || !countOk(count))
        return c.finish(0);
    c.bytes(buf, count);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    Session &se = c.engine().state(d.index).session;
    c.changed();
    const int wanted = dataCommandFor(se.command);
    const bool inOrder = se.phase == Session::Open && count >= 1 && count <= kReportSize &&
                         (wanted < 0 || wanted == type) && se.received < se.expected;
    if (!inOrder) {
        // A packet the device did not ask for spoils the transfer; its finish handshake
        // then reports the refusal.
        se.phase = Session::Error;
        se.data.clear();
        return c.finish(0);
    }
    se.data.insert(se.data.end(), buf, buf + count);
    ++se.received;
    return c.finish(1);
}

int usbWriteStartTr(const uint16_t *path, uint8_t *buf, uint8_t address, int count) {
    Call c(kUsb, "dcWriteStartTr");
    c.arg(address);
    c.count(count);
    if (!c.path(path) || !buf || !countOk(count))
        return c.finish(0);
    // A single-value transfer carries one byte; `count` is the announced packet count.
    c.bytes(buf, 1);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    Session &se = s.session;
    c.changed();
    if (address == kFinishCommand) {
        if (se.phase == Session::Idle) {
            s.lastFinish = 0;
            return c.finish(0);
        }
        // A query such as the power request is finished without data; only a transfer
        // that carried packets leaves a payload behind.
        const bool accepted = se.phase == Session::Open;
        if (accepted && se.received > 0) {
            s.transfers[se.command] = se.data;
            s.transferHeads[se.command] = se.first;
            s.transfersByHead
                [QStringLiteral("%1/%2").arg(se.command).arg(se.first, 2, 16, QLatin1Char('0'))] =
                se.data;
        }
        s.lastFinish = accepted ? 1 : 0;
        se = Session{};
        return c.finish(1);
    }
    if (count == 0) {
        // A command without packets, such as the apply step after a transfer.
        s.singleValues[address] = buf[0];
        return c.finish(1);
    }
    // An announce always starts over, whatever the previous transfer left behind.
    se = Session{};
    se.phase = Session::Open;
    se.command = address;
    se.first = buf[0];
    se.expected = count;
    return c.finish(1);
}

int usbReadHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count) {
    Call c(kUsb, "dcReadHFDData");
    c.arg(type);
    c.count(count);
    if (!c.path(path) || !buf || !countOk(count))
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    const DeviceState &s = c.engine().state(d.index);
    const Session &se = s.session;
    uint8_t answer[8] = {kAnswerRefused, type, 0, 0, 0, 0, 0, 0};
    if (type == kPowerCommand) {
        answer[0] = kAnswerOk;
        answer[2] = uint8_t(c.engine().status(d.index));
        answer[4] = uint8_t(c.engine().battery(d.index));
    } else if (type == kFinishCommand) {
        answer[0] = s.lastFinish == 1 ? kAnswerOk : kAnswerRefused;
    } else if (se.phase == Session::Open && se.command == type) {
        answer[0] = kAnswerOk;
        answer[2] = uint8_t(se.expected & 0xFF);
        answer[3] = uint8_t(se.expected >> 8);
        answer[4] = uint8_t(se.received & 0xFF);
        answer[5] = uint8_t(se.received >> 8);
    }
    for (int i = 0; i < count; ++i)
        buf[i] = i < 8 ? answer[i] : 0;
    c.bytes(buf, count);
    return c.finish(1);
}

int usbReset(const uint16_t *path, uint8_t a, uint8_t b) {
    Call c(kUsb, "Reset");
    c.args({a, b});
    if (!c.path(path))
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    if (a == 2 && b == 0) {
        c.engine().restoreInitialRegisters(d.index);
        s.session = Session{};
        s.reports.clear();
        c.changed();
        return c.finish(1);
    }
    if (a == 1 && b == 0 && c.engine().devices[size_t(d.index)].hasBootloader) {
        s.bootloader = true;
        s.romErased = false;
        s.session = Session{};
        s.reports.clear();
        c.changed();
        return c.finish(1);
    }
    return c.finish(0);
}

int usbNotifyDevice(const uint16_t *path, uint8_t *block, int count) {
    Call c(kUsb, "dcNotifyDevice");
    c.count(count);
    if (!c.path(path) || !block || !countOk(count))
        return c.finish(0);
    c.bytes(block, 4); // the notice block is always four bytes
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    c.engine().state(d.index).notify.assign(block, block + 4);
    c.changed();
    return c.finish(1);
}

int usbDeviceExist(const uint16_t *id, uint16_t *pathBuffer) {
    Call c(kUsb, "dcDeviceExist");
    if (!c.path(id) || !pathBuffer || c.pathValue().empty() || c.faulted())
        return c.finish(0);
    Engine &e = c.engine();
    const QString needle = pathText(c.pathValue()).toUpper();
    for (size_t i = 0; i < e.devices.size(); ++i) {
        if (!e.present(int(i)))
            continue;
        const DeviceConfig &d = e.devices[i];
        const bool boot = e.state(int(i)).bootloader;
        const std::u16string &candidate = boot ? d.bootPath16 : d.path16;
        if (!pathText(candidate).toUpper().contains(needle))
            continue;
        // The buffer holds 500 bytes: 249 units and the terminator.
        if (candidate.size() + 1 > size_t(kExistPathBuffer / 2))
            continue;
        std::memcpy(pathBuffer, candidate.data(), candidate.size() * 2);
        pathBuffer[candidate.size()] = 0;
        return c.finish(1);
    }
    return c.finish(0);
}

int usbUpdateVersion(const uint16_t *path, int a, int b) {
    Call c(kUsb, "UpdateVersion");
    c.args({a, b});
    if (!c.path(path))
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    c.engine().state(d.index).updateVersion = {a, b};
    c.changed();
    return c.finish(1);
}

int usbEraseRom(const uint16_t *path) {
    Call c(kUsb, "dcEraseRom");
    if (!c.path(path))
        return c.finish(0);
    const DeviceRef d = c.device(true);
    if (!d || !d.boot || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    s.rom.clear();
    s.romErased = true;
    s.romCheckLength = -1;
    c.changed();
    return c.finish(1);
}

int usbWriteRom(const uint16_t *path, uint8_t *buf, int length, int offset) {
    Call c(kUsb, "dcWriteRom");
    c.count(length);
    c.args({offset});
    if (!c.path(path) || !buf || !countOk(length) || offset < 0 || offset > kMaxRomSize - length)
        return c.finish(0);
    c.bytes(buf, length);
    const DeviceRef d = c.device(true);
    if (!d || !d.boot || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    if (!s.romErased) // flash is only written after an erase
        return c.finish(0);
    if (s.rom.size() < size_t(offset + length))
        s.rom.resize(size_t(offset + length), 0xFF);
    std::copy(buf, buf + length, s.rom.begin() + offset);
    c.changed();
    return c.finish(1);
}

int usbCheckRom(const uint16_t *path, int length, uint32_t check) {
    Call c(kUsb, "CheckRom");
    c.args({length, (long long)check});
    if (!c.path(path) || length < 0)
        return c.finish(0);
    const DeviceRef d = c.device(true);
    if (!d || !d.boot || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    s.romCheckLength = length;
    s.romCheckValue = check;
    c.changed();
    return c.finish(size_t(length) == s.rom.size() ? 1 : 0);
}

int usbFinishUpdateRom(const uint16_t *path) {
    Call c(kUsb, "FinishUpdateRom");
    if (!c.path(path))
        return c.finish(0);
    const DeviceRef d = c.device(true);
    if (!d || !d.boot || c.faulted())
        return c.finish(0);
    DeviceState &s = c.engine().state(d.index);
    s.bootloader = false;
    s.romErased = false;
    ++s.firmwareUpdates;
    c.changed();
    return c.finish(1);
}

int usbBootLoader(const uint16_t *path) {
    Call c(kUsb, "BootLoader");
    if (!c.path(path))
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(0);
    return c.finish(c.engine().devices[size_t(d.index)].hasBootloader ? 1 : 0);
}

int usbReadInputReport(const uint16_t *path, uint8_t *buf, int length, int timeoutMs) {
    Call c(kUsb, "dcReadInputReport");
    c.count(length);
    c.args({timeoutMs});
    if (!c.path(path) || !buf || length <= 0 || length > kBlockSize)
        return c.finish(0);
    const DeviceRef d = c.device();
    if (!d || c.faulted())
        return c.finish(-1);
    const DeviceConfig &cfg = c.engine().devices[size_t(d.index)];
    DeviceState &s = c.engine().state(d.index);
    if (!cfg.inputReports || s.reports.empty())
        return c.finish(0);
    const Bytes report = s.reports.front();
    s.reports.pop_front();
    const int n = std::min(length, int(report.size()));
    std::memcpy(buf, report.data(), size_t(n));
    c.bytes(buf, n);
    c.changed();
    return c.finish(n);
}

int usbWatchDevices(void (*notice)(void *, int, const uint16_t *), void *context) {
    DeviceWatcher &watcher = DeviceWatcher::instance();
    // Stopped outside the model's lock: stopping waits for a running notice, and a notice
    // may well ask for the listing.
    watcher.stop();
    Call c(kUsb, "dcWatchDevices");
    if (!notice || c.faulted())
        return c.finish(0);
    return c.finish(watcher.start(deviceSetFile(), notice, context) ? 1 : 0);
}

// ---- KBAccess --------------------------------------------------------------------------------

namespace {

// The keyboard or mouse the library was pointed at. Calls are accepted while that device is
// present (or before any was chosen); they fail once it is gone.
bool libraryTarget(Call &c, bool hasHardware, int vendor, int product, int *index = nullptr) {
    if (!hasHardware)
        return true;
    const int i = c.engine().findByIds(vendor, product);
    if (index)
        *index = i;
    return i >= 0 && c.touch(i);
}

bool keyboardTarget(Call &c) {
    const KeyboardState &k = c.engine().keyboard;
    return libraryTarget(c, k.hasHardware, k.vendor, k.product);
}

bool mouseTarget(Call &c, int *index = nullptr) {
    const MouseState &m = c.engine().mouse;
    return libraryTarget(c, m.hasHardware, m.hasHardware ? m.hardware[0] : 0,
                         m.hasHardware ? m.hardware[1] : 0, index);
}

std::vector<int> intsOf(const int32_t *table, int entries) {
    return std::vector<int>(table, table + entries);
}

} // namespace

int kbSetHardwareInfo(int vendor, int product) {
    Call c(kKb, "SetHardwareInfo");
    c.args({vendor, product});
    if (c.faulted())
        return c.finish(0);
    KeyboardState &k = c.engine().keyboard;
    k.hasHardware = true;
    k.vendor = vendor;
    k.product = product;
    k.initialised = false;
    c.changed();
    return c.finish(1);
}

int kbInitDevice(void *) {
    Call c(kKb, "InitDevice");
    KeyboardState &k = c.engine().keyboard;
    const bool ok = !c.faulted() && k.hasHardware && keyboardTarget(c);
    k.initialised = ok;
    c.changed();
    return c.finish(ok ? 1 : 0);
}

int kbSetLed(int a, int b, int cc, int d, int packedColour) {
    Call c(kKb, "SetLED");
    c.args({a, b, cc, d, packedColour});
    if (c.faulted() || !keyboardTarget(c))
        return c.finish(0);
    c.engine().keyboard.led = {a, b, cc, d, packedColour};
    c.changed();
    return c.finish(1);
}

int kbSetKeyColor(int key, int r, int g, int b) {
    Call c(kKb, "SetKeyColor");
    c.args({key, r, g, b});
    if (c.faulted() || !keyboardTarget(c))
        return c.finish(0);
    c.engine().keyboard.keyColors[key] = {r, g, b};
    c.changed();
    return c.finish(1);
}

int kbSetMacro(uint8_t *block, int length) {
    Call c(kKb, "SetMacro");
    c.count(length);
    if (!block || length < 0 || length > 4096)
        return c.finish(0);
    c.bytes(block, length);
    if (c.faulted() || !keyboardTarget(c))
        return c.finish(0);
    c.engine().keyboard.macro.assign(block, block + length);
    c.changed();
    return c.finish(1);
}

int kbSetKey(int32_t *table, int length) {
    Call c(kKb, "SetKey");
    c.count(length);
    if (!table || length < 0 || length > 4096)
        return c.finish(0);
    c.bytes(reinterpret_cast<const uint8_t *>(table), length);
    if (c.faulted() || !keyboardTarget(c))
        return c.finish(0);
    c.engine().keyboard.keyTable = intsOf(table, length / 4);
    c.changed();
    return c.finish(1);
}

int kbNewKeyAction(int key, int p2, int p3, int p4, int p5) {
    Call c(kKb, "new_key_action");
    c.args({key, p2, p3, p4, p5});
    if (c.faulted() || !keyboardTarget(c))
        return c.finish(0);
    c.engine().keyboard.keyActions[key] = {p2, p3, p4, p5};
    c.changed();
    return c.finish(1);
}

void kbSetDebug(int on) {
    Call c(kKb, "SetDebug");
    c.args({on});
    c.engine().keyboard.debug = on;
    c.changed();
    c.finish(0, false);
}

int kbUnInitDevice() {
    Call c(kKb, "UnInitDevice");
    if (c.faulted())
        return c.finish(0);
    c.engine().keyboard.initialised = false;
    c.changed();
    return c.finish(1);
}

// ---- ByDevInterface --------------------------------------------------------------------------

int msSetHardwareInfo(int vendor, int product, int product2, int sensor, int reserved) {
    Call c(kMouse, "SetHardwareInfo");
    c.args({vendor, product, product2, sensor, reserved});
    if (c.faulted())
        return c.finish(0);
    MouseState &m = c.engine().mouse;
    m.hasHardware = true;
    m.hardware = {vendor, product, product2, sensor, reserved};
    m.initialised = false;
    c.changed();
    return c.finish(1);
}

int msInitDevice(void *) {
    Call c(kMouse, "InitDevice");
    MouseState &m = c.engine().mouse;
    int index = -1;
    bool ok = !c.faulted() && m.hasHardware && mouseTarget(c, &index);
    if (ok) {
        // A mouse answers only to the sensor model it carries.
        const int sensor = c.engine().devices[size_t(index)].sensor;
        ok = sensor < 0 || sensor == m.hardware[3];
    }
    m.initialised = ok;
    c.changed();
    return c.finish(ok ? 1 : 0);
}

int msUnInitDevice() {
    Call c(kMouse, "UnInitDevice");
    if (c.faulted())
        return c.finish(0);
    c.engine().mouse.initialised = false;
    c.changed();
    return c.finish(1);
}

int msSetKeyMatrix(int32_t *table, void *) {
    Call c(kMouse, "SetKeyMatrix");
    if (!table)
        return c.finish(0);
    c.bytes(reinterpret_cast<const uint8_t *>(table), 132 * 4);
    if (c.faulted() || !mouseTarget(c))
        return c.finish(0);
    c.engine().mouse.keyMatrix = intsOf(table, 132);
    c.changed();
    return c.finish(1);
}

int msSetConfig(int32_t *block) {
    Call c(kMouse, "SetConfig");
    if (!block)
        return c.finish(0);
    c.bytes(reinterpret_cast<const uint8_t *>(block), 165 * 4);
    if (c.faulted() || !mouseTarget(c))
        return c.finish(0);
    c.engine().mouse.config = intsOf(block, 165);
    c.changed();
    return c.finish(1);
}

void msSetDebug(int on) {
    Call c(kMouse, "SetDebug");
    c.args({on});
    c.engine().mouse.debug = on;
    c.changed();
    c.finish(0, false);
}

int msIsDeviceOnline() {
    Call c(kMouse, "IsDeviceOnline");
    int index = -1;
    const bool ok = !c.faulted() && c.engine().mouse.hasHardware && mouseTarget(c, &index);
    return c.finish(ok ? 1 : 0);
}

int msGetPower() {
    Call c(kMouse, "GetPower");
    int index = -1;
    if (c.faulted() || !c.engine().mouse.hasHardware || !mouseTarget(c, &index))
        return c.finish(-1);
    return c.finish(c.engine().battery(index));
}

int msGetFwVersion(char *text, int length) {
    Call c(kMouse, "GetFwVersion");
    c.count(length);
    if (!text || length <= 0 || length > kBlockSize)
        return c.finish(0);
    int index = -1;
    if (c.faulted() || !c.engine().mouse.hasHardware || !mouseTarget(c, &index))
        return c.finish(0);
    const QByteArray fw = c.engine().devices[size_t(index)].firmware.toLatin1();
    const int n = std::min(int(fw.size()), length - 1);
    std::memcpy(text, fw.constData(), size_t(n));
    text[n] = 0;
    c.bytes(reinterpret_cast<const uint8_t *>(text), n);
    return c.finish(n);
}

// ---- emulator view -------------------------------------------------------------------------

bool viewInterface(int index, InterfaceView *view) {
    if (!view || index < 0)
        return false;
    Engine &e = Engine::instance();
    std::lock_guard<std::mutex> lock(e.mutex);
    e.begin();
    const bool exists = size_t(index) < e.devices.size();
    if (exists) {
        const DeviceConfig &d = e.devices[size_t(index)];
        fillDescription(view->description, e, index);
        std::memset(view->bootPath, 0, sizeof view->bootPath);
        if (d.hasBootloader)
            for (size_t i = 0; i < d.bootPath16.size() && i + 1 < size_t(kPathUnits); ++i)
                view->bootPath[i] = d.bootPath16[i];
        view->vendor = d.vid;
        view->product = d.pid;
        view->usage = d.usage;
        view->usagePage = d.usagePage;
        view->present = e.present(index);
        view->inBootLoader = view->present && e.state(index).bootloader;
    }
    e.end(false);
    return exists;
}

} // namespace torvanix::sim

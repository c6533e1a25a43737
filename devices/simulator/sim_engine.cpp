#include "sim_engine.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvanix::sim {

namespace {

// Each distinct problem is reported once: entries run thousands of times and a missing
// state folder would otherwise flood the program's output.
void warn(const QString &text) {
    static std::set<QString> seen;
    if (!seen.insert(text).second)
        return;
    std::fprintf(stderr, "torvanix simulator: %s\n", text.toLocal8Bit().constData());
}

QString envValue(const char *name) {
    const char *v = std::getenv(name);
    return v ? QString::fromLocal8Bit(v) : QString();
}

int jsonInt(const QJsonValue &v, int fallback) {
    if (v.isDouble())
        return v.toInt(fallback);
    if (v.isString()) {
        bool ok = false;
        const QString s = v.toString().trimmed();
        const int n = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                          ? s.mid(2).toInt(&ok, 16)
                          : s.toInt(&ok, 10);
        return ok ? n : fallback;
    }
    return fallback;
}

// Vendor and product ids are hexadecimal wherever they are written as text.
int jsonHexId(const QJsonValue &v) {
    if (v.isDouble())
        return v.toInt(-1);
    bool ok = false;
    QString s = v.toString().trimmed();
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        s = s.mid(2);
    const int n = s.toInt(&ok, 16);
    return ok ? n : -1;
}

Bytes jsonBytes(const QJsonValue &v) {
    if (v.isArray()) {
        Bytes out;
        for (const QJsonValue &item : v.toArray())
            out.push_back(uint8_t(jsonInt(item, 0) & 0xFF));
        return out;
    }
    return fromHex(v.toString());
}

std::vector<int> jsonInts(const QJsonValue &v) {
    std::vector<int> out;
    for (const QJsonValue &item : v.toArray())
        out.push_back(jsonInt(item, 0));
    return out;
}

QJsonArray intsJson(const std::vector<int> &values) {
    QJsonArray a;
    for (int v : values)
        a.append(v);
    return a;
}

Bytes latin1(const QString &text) {
    const QByteArray raw = text.toLatin1();
    return Bytes(raw.begin(), raw.end());
}

// "vid_258a" / "pid_0013" as they appear in an interface path.
int idFromPath(const QString &path, const QString &key) {
    const int at = path.indexOf(key, 0, Qt::CaseInsensitive);
    if (at < 0)
        return -1;
    bool ok = false;
    const int n = path.mid(at + key.size(), 4).toInt(&ok, 16);
    return ok ? n : -1;
}

QString bootPathFor(const QString &path) {
    // A boot loader shows up as its own interface; give each device a distinct one.
    const uint32_t h = qHash(path.toLower());
    return QStringLiteral("\\\\?\\hid#vid_258a&pid_ff12#9&%1&0&0000#{4d1e55b2-f16f-11cf-88cb-"
                          "001111000030}")
        .arg(h, 8, 16, QLatin1Char('0'));
}

std::u16string toU16(const QString &s) {
    return std::u16string(reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size()));
}

DeviceConfig parseDevice(const QJsonObject &o) {
    DeviceConfig d;
    d.path = o.value(QLatin1String("path")).toString();
    d.path16 = toU16(d.path);
    d.bluetooth = o.value(QLatin1String("bluetooth")).toString();
    d.firmware = o.value(QLatin1String("firmware")).toString();
    d.serial = o.value(QLatin1String("serial")).toString();
    d.battery = jsonInt(o.value(QLatin1String("battery")), 0) & 0xFF;
    d.status = jsonInt(o.value(QLatin1String("status")), 0) & 0xFF;
    d.vid = o.contains(QLatin1String("vid")) ? jsonHexId(o.value(QLatin1String("vid")))
                                             : idFromPath(d.path, QStringLiteral("vid_"));
    d.pid = o.contains(QLatin1String("pid")) ? jsonHexId(o.value(QLatin1String("pid")))
                                             : idFromPath(d.path, QStringLiteral("pid_"));
    d.usage = jsonInt(o.value(QLatin1String("usage")), -1);
    d.usagePage = jsonInt(o.value(QLatin1String("usagePage")), -1);
    d.sensor = jsonInt(o.value(QLatin1String("sensor")), -1);
    d.inputReports = o.value(QLatin1String("inputReports")).toBool(true);
    d.dpiRegister = jsonInt(o.value(QLatin1String("dpiRegister")), -1);
    d.rateRegister = jsonInt(o.value(QLatin1String("rateRegister")), 178);
    d.dpiReport = jsonBytes(o.value(QLatin1String("dpiReport")));
    d.rateReport = jsonBytes(o.value(QLatin1String("rateReport")));

    const QJsonValue boot = o.value(QLatin1String("bootloader"));
    if (boot.isBool() && !boot.toBool()) {
        d.hasBootloader = false;
    } else {
        d.bootPath = boot.isString() ? boot.toString() : bootPathFor(d.path);
        d.bootPath16 = toU16(d.bootPath);
    }

    // Registers a device of the family answers from the start: identity, serial, profile,
    // battery/status pair, reset flag and report rate. The file's own registers win.
    if (!d.firmware.isEmpty()) {
        Bytes fw = latin1(d.firmware);
        fw.resize(17, 0);
        d.registers[2] = fw;
    }
    if (!d.serial.isEmpty()) {
        Bytes sn = latin1(d.serial);
        sn.resize(14, 0);
        d.registers[3] = sn;
    }
    d.registers[5] = Bytes{1};
    d.registers[kPowerRegister] = Bytes{uint8_t(d.battery), uint8_t(d.status)};
    d.registers[8] = Bytes{0};
    if (d.rateRegister >= 0 && d.rateRegister < 256)
        d.registers[d.rateRegister] = Bytes{3};
    if (d.dpiRegister >= 0 && d.dpiRegister < 256)
        d.registers[d.dpiRegister] = Bytes{1};
    const QJsonObject regs = o.value(QLatin1String("registers")).toObject();
    for (auto it = regs.begin(); it != regs.end(); ++it) {
        const int addr = jsonInt(QJsonValue(it.key()), -1);
        if (addr < 0 || addr > 255) {
            warn(QStringLiteral("register address %1 ignored").arg(it.key()));
            continue;
        }
        Bytes content = jsonBytes(it.value());
        if (int(content.size()) > kBlockSize)
            content.resize(kBlockSize);
        d.registers[addr] = content;
    }
    return d;
}

} // namespace

FileStamp FileStamp::of(const QString &path) {
    FileStamp s;
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

QString toHex(const Bytes &bytes) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex());
}

Bytes fromHex(const QString &text) {
    QByteArray digits;
    for (QChar c : text) {
        if (c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char(':'))
            continue;
        digits.append(c.toLatin1());
    }
    const QByteArray raw = QByteArray::fromHex(digits);
    return Bytes(raw.begin(), raw.end());
}

QString pathText(const std::u16string &path) {
    return QString::fromUtf16(path.data(), int(path.size()));
}

bool samePath(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = char16_t(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = char16_t(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

QString programFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&programFolder), &info) && info.dli_fname)
        return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath();
    return QString();
}

QString deviceSetFile(const QString &named) {
    return named.isEmpty() ? programFolder() + QLatin1String("/sim-devices.json") : named;
}

QString deviceSetFile() {
    return deviceSetFile(envValue("TORVANIX_SIM_DEVICES"));
}

std::optional<QStringList> deviceSetPaths(const QString &file) {
    QFile f(file);
    if (!f.exists())
        return QStringList();
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll());
    if (!doc.isArray())
        return std::nullopt;
    QStringList paths;
    for (const QJsonValue &v : doc.array()) {
        const QString path = v.toObject().value(QLatin1String("path")).toString();
        // The same rule as the listing: a path must fit its field with the terminator.
        if (!path.isEmpty() && path.size() < kPathUnits)
            paths << path;
    }
    return paths;
}

// ---- state (de)serialisation ------------------------------------------------------------

QJsonObject DeviceState::toJson() const {
    QJsonObject o;
    QJsonObject regs;
    for (const auto &r : registers)
        regs.insert(QString::number(r.first), toHex(r.second));
    o.insert(QLatin1String("registers"), regs);
    QJsonObject tr, heads, singles;
    for (const auto &t : transfers)
        tr.insert(QString::number(t.first), toHex(t.second));
    for (const auto &h : transferHeads)
        heads.insert(QString::number(h.first), h.second);
    for (const auto &s : singleValues)
        singles.insert(QString::number(s.first), s.second);
    o.insert(QLatin1String("transfers"), tr);
    o.insert(QLatin1String("transferHeads"), heads);
    QJsonObject byHead;
    for (const auto &t : transfersByHead)
        byHead.insert(t.first, toHex(t.second));
    o.insert(QLatin1String("transfersByHead"), byHead);
    o.insert(QLatin1String("singleValues"), singles);
    QJsonObject se;
    static const char *phases[] = {"idle", "open", "error"};
    se.insert(QLatin1String("phase"), QLatin1String(phases[session.phase]));
    se.insert(QLatin1String("command"), session.command);
    se.insert(QLatin1String("first"), session.first);
    se.insert(QLatin1String("expected"), session.expected);
    se.insert(QLatin1String("received"), session.received);
    se.insert(QLatin1String("data"), toHex(session.data));
    o.insert(QLatin1String("session"), se);
    if (lastFinish >= 0)
        o.insert(QLatin1String("lastFinish"), QLatin1String(lastFinish ? "accepted" : "refused"));
    QJsonArray reps;
    for (const Bytes &r : reports)
        reps.append(toHex(r));
    o.insert(QLatin1String("reports"), reps);
    o.insert(QLatin1String("bootloader"), bootloader);
    o.insert(QLatin1String("vanished"), vanished);
    QJsonObject rom;
    rom.insert(QLatin1String("image"), toHex(this->rom));
    rom.insert(QLatin1String("erased"), romErased);
    if (romCheckLength >= 0) {
        rom.insert(QLatin1String("checkLength"), romCheckLength);
        rom.insert(QLatin1String("checkValue"), romCheckValue);
    }
    rom.insert(QLatin1String("updates"), firmwareUpdates);
    o.insert(QLatin1String("rom"), rom);
    if (!notify.empty())
        o.insert(QLatin1String("notify"), toHex(notify));
    if (!updateVersion.empty())
        o.insert(QLatin1String("updateVersion"), intsJson(updateVersion));
    return o;
}

DeviceState DeviceState::fromJson(const QJsonObject &o, const DeviceConfig *config) {
    DeviceState s;
    if (o.contains(QLatin1String("registers"))) {
        const QJsonObject regs = o.value(QLatin1String("registers")).toObject();
        for (auto it = regs.begin(); it != regs.end(); ++it) {
            const int addr = it.key().toInt();
            if (addr >= 0 && addr < 256)
                s.registers[addr] = jsonBytes(it.value());
        }
    } else if (config) {
        s.registers = config->registers;
    }
    const QJsonObject tr = o.value(QLatin1String("transfers")).toObject();
    for (auto it = tr.begin(); it != tr.end(); ++it)
        s.transfers[it.key().toInt()] = jsonBytes(it.value());
    const QJsonObject heads = o.value(QLatin1String("transferHeads")).toObject();
    for (auto it = heads.begin(); it != heads.end(); ++it)
        s.transferHeads[it.key().toInt()] = jsonInt(it.value(), 0);
    const QJsonObject byHead = o.value(QLatin1String("transfersByHead")).toObject();
    for (auto it = byHead.begin(); it != byHead.end(); ++it)
        s.transfersByHead[it.key()] = jsonBytes(it.value());
    const QJsonObject singles = o.value(QLatin1String("singleValues")).toObject();
    for (auto it = singles.begin(); it != singles.end(); ++it)
        s.singleValues[it.key().toInt()] = jsonInt(it.value(), 0);
    const QJsonObject se = o.value(QLatin1String("session")).toObject();
    const QString phase = se.value(QLatin1String("phase")).toString();
    s.session.phase = phase == QLatin1String("open")    ? Session::Open
                      : phase == QLatin1String("error") ? Session::Error
                                                        : Session::Idle;
    s.session.command = jsonInt(se.value(QLatin1String("command")), 0);
    s.session.first = jsonInt(se.value(QLatin1String("first")), 0);
    s.session.expected = jsonInt(se.value(QLatin1String("expected")), 0);
    s.session.received = jsonInt(se.value(QLatin1String("received")), 0);
    s.session.data = jsonBytes(se.value(QLatin1String("data")));
    const QString fin = o.value(QLatin1String("lastFinish")).toString();
    s.lastFinish = fin == QLatin1String("accepted") ? 1 : fin == QLatin1String("refused") ? 0 : -1;
    for (const QJsonValue &r : o.value(QLatin1String("reports")).toArray())
        s.reports.push_back(jsonBytes(r));
    s.bootloader = o.value(QLatin1String("bootloader")).toBool();
    s.vanished = o.value(QLatin1String("vanished")).toBool();
    const QJsonObject rom = o.value(QLatin1String("rom")).toObject();
    s.rom = jsonBytes(rom.value(QLatin1String("image")));
    if (int(s.rom.size()) > kMaxRomSize)
        s.rom.resize(kMaxRomSize);
    s.romErased = rom.value(QLatin1String("erased")).toBool();
    s.romCheckLength = jsonInt(rom.value(QLatin1String("checkLength")), -1);
    s.romCheckValue = qint64(rom.value(QLatin1String("checkValue")).toDouble());
    s.firmwareUpdates = jsonInt(rom.value(QLatin1String("updates")), 0);
    s.notify = jsonBytes(o.value(QLatin1String("notify")));
    s.updateVersion = jsonInts(o.value(QLatin1String("updateVersion")));
    return s;
}

QJsonObject KeyboardState::toJson() const {
    QJsonObject o;
    if (hasHardware)
        o.insert(QLatin1String("hardware"), intsJson({vendor, product}));
    o.insert(QLatin1String("initialised"), initialised);
    if (!led.empty())
        o.insert(QLatin1String("led"), intsJson(led));
    QJsonObject colors;
    for (const auto &c : keyColors)
        colors.insert(QString::number(c.first), intsJson(c.second));
    o.insert(QLatin1String("keyColors"), colors);
    if (!macro.empty())
        o.insert(QLatin1String("macro"), toHex(macro));
    if (!keyTable.empty())
        o.insert(QLatin1String("keyTable"), intsJson(keyTable));
    QJsonObject actions;
    for (const auto &a : keyActions)
        actions.insert(QString::number(a.first), intsJson(a.second));
    o.insert(QLatin1String("keyActions"), actions);
    o.insert(QLatin1String("debug"), debug);
    return o;
}

KeyboardState KeyboardState::fromJson(const QJsonObject &o) {
    KeyboardState s;
    const std::vector<int> hw = jsonInts(o.value(QLatin1String("hardware")));
    if (hw.size() == 2) {
        s.hasHardware = true;
        s.vendor = hw[0];
        s.product = hw[1];
    }
    s.initialised = o.value(QLatin1String("initialised")).toBool();
    s.led = jsonInts(o.value(QLatin1String("led")));
    const QJsonObject colors = o.value(QLatin1String("keyColors")).toObject();
    for (auto it = colors.begin(); it != colors.end(); ++it)
        s.keyColors[it.key().toInt()] = jsonInts(it.value());
    s.macro = jsonBytes(o.value(QLatin1String("macro")));
    s.keyTable = jsonInts(o.value(QLatin1String("keyTable")));
    const QJsonObject actions = o.value(QLatin1String("keyActions")).toObject();
    for (auto it = actions.begin(); it != actions.end(); ++it)
        s.keyActions[it.key().toInt()] = jsonInts(it.value());
    s.debug = jsonInt(o.value(QLatin1String("debug")), 0);
    return s;
}

QJsonObject MouseState::toJson() const {
    QJsonObject o;
    if (hasHardware)
        o.insert(QLatin1String("hardware"), intsJson(hardware));
    o.insert(QLatin1String("initialised"), initialised);
    if (!keyMatrix.empty())
        o.insert(QLatin1String("keyMatrix"), intsJson(keyMatrix));
    if (!config.empty())
        o.insert(QLatin1String("config"), intsJson(config));
    o.insert(QLatin1String("debug"), debug);
    return o;
}

MouseState MouseState::fromJson(const QJsonObject &o) {
    MouseState s;
    s.hardware = jsonInts(o.value(QLatin1String("hardware")));
    s.hasHardware = s.hardware.size() == 5;
    if (!s.hasHardware)
        s.hardware.clear();
    s.initialised = o.value(QLatin1String("initialised")).toBool();
    s.keyMatrix = jsonInts(o.value(QLatin1String("keyMatrix")));
    s.config = jsonInts(o.value(QLatin1String("config")));
    s.debug = jsonInt(o.value(QLatin1String("debug")), 0);
    return s;
}

// ---- engine --------------------------------------------------------------------------------

Engine &Engine::instance() {
    static Engine *engine = new Engine; // never destroyed: entries may run during exit
    return *engine;
}

DeviceState &Engine::state(int index) {
    const DeviceConfig &d = devices[size_t(index)];
    auto it = states_.find(d.path);
    if (it == states_.end()) {
        DeviceState s;
        s.registers = d.registers;
        it = states_.emplace(d.path, std::move(s)).first;
    }
    return it->second;
}

int Engine::battery(int index) {
    const auto &regs = state(index).registers;
    const auto it = regs.find(kPowerRegister);
    return it != regs.end() && it->second.size() >= 1 ? it->second[0]
                                                      : devices[size_t(index)].battery;
}

int Engine::status(int index) {
    const auto &regs = state(index).registers;
    const auto it = regs.find(kPowerRegister);
    return it != regs.end() && it->second.size() >= 2 ? it->second[1]
                                                      : devices[size_t(index)].status;
}

bool Engine::present(int index) const {
    const DeviceConfig &d = devices[size_t(index)];
    auto it = states_.find(d.path);
    return it == states_.end() || !it->second.vanished;
}

DeviceRef Engine::find(const std::u16string &path, bool allowBoot) const {
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceConfig &d = devices[i];
        auto it = states_.find(d.path);
        const bool vanished = it != states_.end() && it->second.vanished;
        const bool boot = it != states_.end() && it->second.bootloader;
        if (vanished)
            continue;
        if (!boot && samePath(d.path16, path))
            return DeviceRef{int(i), false};
        if (boot && allowBoot && samePath(d.bootPath16, path))
            return DeviceRef{int(i), true};
    }
    return DeviceRef{};
}

int Engine::findByIds(int vendor, int product) const {
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceConfig &d = devices[i];
        if (d.vid != vendor || d.pid != product)
            continue;
        auto it = states_.find(d.path);
        if (it != states_.end() && (it->second.vanished || it->second.bootloader))
            continue;
        return int(i);
    }
    return -1;
}

void Engine::restoreInitialRegisters(int index) {
    state(index).registers = devices[size_t(index)].registers;
}

void Engine::begin() {
    const QString devicesEnv = envValue("TORVANIX_SIM_DEVICES");
    const QString stateEnv = envValue("TORVANIX_SIM_STATE");
    const QString traceEnv = envValue("TORVANIX_SIM_TRACE");
    const QString faultsEnv = envValue("TORVANIX_SIM_FAULTS");
    if (!configured_ || devicesEnv != envDevices_ || stateEnv != envState_ ||
        faultsEnv != envFaults_) {
        envDevices_ = devicesEnv;
        envState_ = stateEnv;
        envFaults_ = faultsEnv;
        reconfigure();
    }
    envTrace_ = traceEnv;

    // The device set may be rewritten while we run: that is how a test plugs and unplugs.
    if (FileStamp::of(devicesFile_) != devicesStamp_)
        loadDevices();

    if (!envState_.isEmpty()) {
        const QByteArray lockName = QFile::encodeName(envState_ + QLatin1String(".lock"));
        lockFd_ = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd_ >= 0) {
            while (::flock(lockFd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        } else {
            warn(QStringLiteral("cannot open the lock file %1")
                     .arg(QString::fromLocal8Bit(lockName)));
        }
        if (FileStamp::of(envState_) != stateStamp_)
            loadState();
    }
}

void Engine::end(bool changed) {
    if (changed && !envState_.isEmpty())
        saveState();
    if (lockFd_ >= 0) {
        ::flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

void Engine::reconfigure() {
    configured_ = true;
    states_.clear();
    keyboard = KeyboardState{};
    mouse = MouseState{};
    deviceCalls.clear();
    devicesFile_ = deviceSetFile(envDevices_);
    devicesStamp_ = FileStamp{};
    stateStamp_ = FileStamp{};
    loadDevices();
    parseFaults(envFaults_);
}

void Engine::loadDevices() {
    devicesStamp_ = FileStamp::of(devicesFile_);
    devices.clear();
    deviceCalls.clear();
    QFile f(devicesFile_);
    if (!f.open(QIODevice::ReadOnly)) {
        warn(QStringLiteral("no device set at %1").arg(devicesFile_));
        return;
    }
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (!doc.isArray()) {
        warn(QStringLiteral("device set %1 is not a JSON array (%2)")
                 .arg(devicesFile_, err.errorString()));
        return;
    }
    for (const QJsonValue &v : doc.array()) {
        if (!v.isObject())
            continue;
        DeviceConfig d = parseDevice(v.toObject());
        // The path must fit the listing field with its terminating NUL.
        if (d.path.isEmpty() || d.path.size() >= kPathUnits) {
            warn(QStringLiteral("device entry without a usable path skipped"));
            continue;
        }
        devices.push_back(std::move(d));
    }
}

void Engine::loadState() {
    const FileStamp stamp = FileStamp::of(envState_);
    if (!stamp.exists) {
        // A fresh (or deleted) state file: every device starts from its initial content.
        states_.clear();
        keyboard = KeyboardState{};
        mouse = MouseState{};
        stateStamp_ = stamp;
        return;
    }
    QFile f(envState_);
    if (!f.open(QIODevice::ReadOnly)) {
        warn(QStringLiteral("cannot read the state file %1").arg(envState_));
        return;
    }
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    stateStamp_ = stamp;
    if (!doc.isObject()) {
        // Keep what we have; the next save replaces the damaged file as a whole.
        warn(QStringLiteral("state file %1 unreadable (%2), keeping the current state")
                 .arg(envState_, err.errorString()));
        return;
    }
    const QJsonObject root = doc.object();
    states_.clear();
    const QJsonObject devs = root.value(QLatin1String("devices")).toObject();
    for (auto it = devs.begin(); it != devs.end(); ++it) {
        const DeviceConfig *config = nullptr;
        for (const DeviceConfig &d : devices)
            if (d.path == it.key())
                config = &d;
        states_[it.key()] = DeviceState::fromJson(it.value().toObject(), config);
    }
    keyboard = KeyboardState::fromJson(root.value(QLatin1String("KBAccess")).toObject());
    mouse = MouseState::fromJson(root.value(QLatin1String("ByDevInterface")).toObject());
}

void Engine::saveState() {
    QJsonObject devs;
    for (const auto &s : states_)
        devs.insert(s.first, s.second.toJson());
    QJsonObject root;
    root.insert(QLatin1String("devices"), devs);
    root.insert(QLatin1String("KBAccess"), keyboard.toJson());
    root.insert(QLatin1String("ByDevInterface"), mouse.toJson());
    const QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);

    // Write beside the target and rename over it, so a crash leaves either the old or the
    // new file, never half of one.
    const QByteArray target = QFile::encodeName(envState_);
    const QByteArray tmp = target + ".tmp." + QByteArray::number(qint64(::getpid()));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        warn(QStringLiteral("cannot write the state file %1").arg(envState_));
        return;
    }
    const char *p = text.constData();
    qint64 left = text.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    ::close(fd);
    if (!ok || ::rename(tmp.constData(), target.constData()) != 0) {
        ::unlink(tmp.constData());
        warn(QStringLiteral("saving the state file %1 failed").arg(envState_));
        return;
    }
    stateStamp_ = FileStamp::of(envState_);
}

void Engine::parseFaults(const QString &rules) {
    faults.clear();
    const QStringList items =
        rules.split(QRegularExpression(QStringLiteral("[,;]")), Qt::SkipEmptyParts);
    for (QString item : items) {
        item = item.trimmed();
        const int at = item.lastIndexOf(QLatin1Char('@'));
        if (at <= 0) {
            warn(QStringLiteral("fault '%1' ignored: no @count").arg(item));
            continue;
        }
        Fault f;
        QString what = item.left(at).trimmed();
        if (what.startsWith(QLatin1String("slow:"))) {
            const int colon = what.indexOf(QLatin1Char(':'), 5);
            bool ok = false;
            f.slowMs = colon > 5 ? what.mid(5, colon - 5).toInt(&ok) : 0;
            if (!ok || f.slowMs <= 0) {
                warn(QStringLiteral("fault '%1' ignored: bad milliseconds").arg(item));
                continue;
            }
            what = what.mid(colon + 1).trimmed();
        }
        QString when = item.mid(at + 1).trimmed();
        if (when == QLatin1String("*")) {
            f.n = 1;
            f.andLater = true;
        } else {
            if (when.endsWith(QLatin1Char('+'))) {
                f.andLater = true;
                when.chop(1);
            }
            bool ok = false;
            f.n = when.toInt(&ok);
            if (!ok || f.n < 0) {
                warn(QStringLiteral("fault '%1' ignored: bad count").arg(item));
                continue;
            }
        }
        if (f.slowMs == 0 && what.startsWith(QLatin1String("vanish:"))) {
            f.pattern = what.mid(7).trimmed().toUpper();
            if (f.pattern.isEmpty())
                continue;
        } else {
            const int dot = what.indexOf(QLatin1Char('.'));
            if (dot > 0) {
                f.lib = what.left(dot);
                what = what.mid(dot + 1);
            }
            if (what.isEmpty() || f.n == 0)
                continue;
            f.entry = what;
        }
        faults.push_back(f);
    }
}

void Engine::appendTrace(const std::string &line) {
    if (envTrace_.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(envTrace_);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per line: O_APPEND keeps lines of concurrent processes whole.
    std::string out = line + "\n";
    ssize_t n;
    do {
        n = ::write(fd, out.data(), out.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
}

} // namespace torvanix::sim

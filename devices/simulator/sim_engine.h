// Internal model of the simulated devices, shared by the three device access libraries
// through libtorvanix_simcore.so. Nothing in here is exported; the entry functions in
// sim_api.h are the only way in.
#pragma once

#include "torvanix/devlib.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace torvanix::sim {

using Bytes = std::vector<uint8_t>;

// Largest block any entry accepts; every transfer block of the program is this big.
constexpr int kBlockSize = TVX_TRANSFER_BLOCK_SIZE;
constexpr int kDescriptionSize = TVX_DESCRIPTION_SIZE;
constexpr int kMaxDescriptions = TVX_MAX_DESCRIPTIONS;
constexpr int kListBlockSize = TVX_LIST_BLOCK_SIZE;
constexpr int kExistPathBuffer = TVX_EXIST_PATH_BUFFER;
// Register reads start at offset 8 of the block, so this is the most that fits.
constexpr int kMaxReadCount = kBlockSize - 8;
constexpr int kPathUnits = TVX_DESC_PATH_UNITS;
constexpr int kReportSize = 64;
constexpr int kMaxPendingReports = 32;
constexpr int kMaxRomSize = 256 * 1024;
// The value the DPI and report-rate queries write to ask for an input report.
constexpr uint8_t kQueryByte = 0x05;
constexpr uint8_t kAnswerOk = 0x01;
constexpr uint8_t kAnswerRefused = 0xFF;
constexpr uint8_t kFinishCommand = 2;
constexpr uint8_t kPowerCommand = 97;
// Battery level and connection status bytes.
constexpr int kPowerRegister = 7;

// One interface of the device set file.
struct DeviceConfig {
    QString path;
    std::u16string path16;
    QString bluetooth, firmware, serial;
    int battery = 0;
    int status = 0;
    int vid = -1, pid = -1;
    int usage = -1, usagePage = -1;
    int sensor = -1;
    std::map<int, Bytes> registers; // initial content (seeds plus the file's own)
    bool inputReports = true;
    int dpiRegister = -1;
    int rateRegister = 178;
    Bytes dpiReport, rateReport; // fixed answers instead of the built ones
    bool hasBootloader = true;
    QString bootPath;
    std::u16string bootPath16;
};

// The packet protocol as seen by the device: an announce opens a transfer, data packets
// fill it, the finish closes it.
struct Session {
    enum Phase { Idle, Open, Error };
    Phase phase = Idle;
    int command = 0;
    int first = 0;
    int expected = 0;
    int received = 0;
    Bytes data;
};

struct DeviceState {
    std::map<int, Bytes> registers;
    std::map<int, Bytes> transfers;   // by announce command
    std::map<int, int> transferHeads; // first byte of the announce of that transfer
    // The same payloads by command and first byte ("19/81" per-key colours, "19/00" effects,
    // "17/01" the key table of profile 1), so one transfer does not hide another.
    std::map<QString, Bytes> transfersByHead;
    std::map<int, int> singleValues; // count-0 commands such as the apply after a transfer
    Session session;
    int lastFinish = -1; // -1 none yet, 0 refused, 1 accepted
    std::deque<Bytes> reports;
    bool bootloader = false;
    bool vanished = false;
    Bytes rom;
    bool romErased = false;
    int romCheckLength = -1;
    qint64 romCheckValue = 0;
    int firmwareUpdates = 0;
    Bytes notify;
    std::vector<int> updateVersion;

    QJsonObject toJson() const;
    static DeviceState fromJson(const QJsonObject &o, const DeviceConfig *config);
};

struct KeyboardState {
    bool hasHardware = false;
    int vendor = 0, product = 0;
    bool initialised = false;
    std::vector<int> led;
    std::map<int, std::vector<int>> keyColors;
    Bytes macro;
    std::vector<int> keyTable;
    std::map<int, std::vector<int>> keyActions;
    int debug = 0;

    QJsonObject toJson() const;
    static KeyboardState fromJson(const QJsonObject &o);
};

struct MouseState {
    bool hasHardware = false;
    std::vector<int> hardware; // vendor, product, product2, sensor, reserved
    bool initialised = false;
    std::vector<int> keyMatrix;
    std::vector<int> config;
    int debug = 0;

    QJsonObject toJson() const;
    static MouseState fromJson(const QJsonObject &o);
};

struct Fault {
    QString lib;     // empty: any library
    QString entry;   // entry name, or empty for a vanish rule
    QString pattern; // vanish rule: path substring, upper case
    int n = 0;
    bool andLater = false;
    int calls = 0;
    int slowMs = 0; // a slow rule: the call succeeds, holding the model this much longer
};

struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileStamp &o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtimeNs == o.mtimeNs;
    }
    bool operator!=(const FileStamp &o) const { return !(*this == o); }
    static FileStamp of(const QString &path);
};

// Where an entry's path led.
struct DeviceRef {
    int index = -1;
    bool boot = false;
    explicit operator bool() const { return index >= 0; }
};

class Engine {
public:
    static Engine &instance();

    std::mutex mutex;

    // Re-reads the environment and the files it names. Called with the mutex held at the
    // start of every entry call; takes the state file lock when there is a state file.
    void begin();
    // Saves when something changed, releases the state file lock.
    void end(bool changed);

    std::vector<DeviceConfig> devices;
    DeviceState &state(int index);
    // The battery level and connection status the device answers now: register 7 (level,
    // status), which a test rewrites in the state file as a battery drains or charges; the
    // device set's values while the register holds less.
    int battery(int index);
    int status(int index);
    KeyboardState keyboard;
    MouseState mouse;
    std::vector<Fault> faults;
    std::map<int, int> deviceCalls; // per device index, calls that addressed it

    // Present (listed) device whose normal path or, when allowBoot, boot-loader path
    // equals `path` (ASCII case folded).
    DeviceRef find(const std::u16string &path, bool allowBoot) const;
    bool present(int index) const;
    int findByIds(int vendor, int product) const;
    void restoreInitialRegisters(int index);

    void appendTrace(const std::string &line);

private:
    Engine() = default;
    void reconfigure();
    void loadDevices();
    void loadState();
    void saveState();
    void parseFaults(const QString &rules);

    QString envDevices_, envState_, envTrace_, envFaults_;
    bool configured_ = false;
    QString devicesFile_;
    FileStamp devicesStamp_;
    std::map<QString, DeviceState> states_; // by the path as written in the device set
    FileStamp stateStamp_;
    int lockFd_ = -1;
};

QString programFolder();
// The device set file: the one named by TORVANIX_SIM_DEVICES, else the demo set beside the
// core library.
QString deviceSetFile();
QString deviceSetFile(const QString &named);
// Interface paths of a device set file in file order. A missing file lists nothing; a file
// that cannot be read or is no JSON array (for instance half written) gives no answer.
std::optional<QStringList> deviceSetPaths(const QString &file);
QString toHex(const Bytes &bytes);
Bytes fromHex(const QString &text);
QString pathText(const std::u16string &path);
bool samePath(const std::u16string &a, const std::u16string &b);

} // namespace torvanix::sim

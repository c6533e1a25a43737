#include "device_functions.h"

#include "command_bytes.h"
#include "device_log.h"
#include "kb_handler.h"
#include "ms_handler.h"
#include "pacer.h"
#include "update_firmware.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <hidapi/hidapi.h>
#include <vector>

namespace torvanix {

namespace {

QMutex &registryMutex() {
    static QMutex mutex;
    return mutex;
}

DeviceRecordMap &registryStore() {
    static DeviceRecordMap registry;
    return registry;
}

// The device's interface path as the library takes it; empty for an unknown identity.
struct DeviceLookup {
    bool known = false;
    std::vector<uint16_t> path;
};

// Addresses, packet types and commands travel as one byte. A value outside 0..255 is refused
// rather than cut to its low byte: index -1 must not become register 255.
bool isByte(int value) {
    return value >= 0 && value <= 0xFF;
}

DeviceLookup lookupDevice(const QString &identity) {
    const QJsonObject record = PublishedDevices::instance().lookup(identity);
    DeviceLookup found;
    found.known = !record.isEmpty();
    found.path = toLibraryPath(record.value(QLatin1String("DevicePath")).toString());
    return found;
}

} // namespace

DeviceRecordMap deviceRegistry() {
    QMutexLocker locker(&registryMutex());
    return registryStore();
}

QByteArray deviceListJson(const DeviceRecordMap &records) {
    QJsonArray array;
    for (auto it = records.constBegin(); it != records.constEnd(); ++it)
        array.append(it.value());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

DeviceFunctions::DeviceFunctions(QObject *parent)
    : devices_handler(parent), keyboard_(std::make_unique<kb_handler>()),
      mouse_(std::make_unique<ms_handler>()) {
    if (libraryLoaded() && !usb().dcWatchDevices)
        scanNodes_ = [] { return scanHidrawNodes(); };
    startHid();
}

DeviceFunctions::DeviceFunctions(UsbInterfaceTable usb, std::unique_ptr<KeyboardLibrary> keyboard,
                                 std::unique_ptr<MouseLibrary> mouse, QObject *parent)
    : devices_handler(std::move(usb), parent), keyboard_(std::move(keyboard)),
      mouse_(std::move(mouse)) {
    if (!keyboard_)
        keyboard_ = std::make_unique<kb_handler>(std::function<KeyboardLibraryTable()>());
    if (!mouse_)
        mouse_ = std::make_unique<ms_handler>(MouseLibraryTable{});
    startHid();
}

DeviceFunctions::~DeviceFunctions() = default;

void DeviceFunctions::startHid() {
    hid_init();
    qCDebug(lcDevices).noquote() << "device functions ready, hidapi" << hid_version_str()
                                 << (libraryLoaded() ? "(USB access library loaded from"
                                                     : "(no USB access library in")
                                 << describeDevicesChoice(devicesChoice()) + QLatin1Char(')');
}

DeviceRecordMap DeviceFunctions::enumerateDevices() {
    // Devices that just arrived need a moment before their interfaces answer.
    pacer().pause(DeviceSettleMs);
    return listDevices();
}

DeviceRecordMap DeviceFunctions::listDevices() {
    {
        QMutexLocker locker(&registryMutex());
        registryStore().clear();
    }

    std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE, 0);
    uint16_t filter[TVX_FILTER_PAIRS * 2] = {};
    filter[0] = 0x0001;
    filter[1] = 0xFFA0;
    filter[2] = 0x0001;
    filter[3] = 0xFFAA;
    if (usb().dcDevices)
        usb().dcDevices(list.data(), filter);

    // The count comes from the library; more than the block holds would read past it.
    int count = list[0] | (list[1] << 8);
    if (count > TVX_MAX_DESCRIPTIONS)
        count = TVX_MAX_DESCRIPTIONS;

    SpecialInterfaceProbes probes;
    probes.keyboard = [this] { return keyboard_->probeDevice(); };
    probes.mouse = [this] { return mouse_->probeDevice(); };

    const QVector<HidrawNode> nodes = scanNodes_ ? scanNodes_() : QVector<HidrawNode>();
    const bool anyDenied =
        std::any_of(nodes.begin(), nodes.end(), [](const HidrawNode &n) { return n.denied; });
    const QString rulesFile = anyDenied ? udevRulesFile() : QString();

    DeviceRecordMap found;
    for (int i = 0; i < count; ++i) {
        const uint8_t *entry = list.data() + 2 + size_t(i) * TVX_DESCRIPTION_SIZE;
        auto device = classifyDeviceDescription(parseDeviceDescription(entry), probes);
        if (!device)
            continue;
        if (anyDenied)
            markDeniedDevice(*device, nodes, rulesFile);
        found.insert(device->identity, device->record);
    }
    if (anyDenied) {
        addUnlistedDeniedDevices(found, nodes, rulesFile);
        for (const HidrawNode &node : nodes)
            if (node.denied && !reportedNodes_.contains(node.devnode)) {
                reportedNodes_.insert(node.devnode);
                logPermissionProblem(permissionLogLine(node, rulesFile));
            }
    }
    // A device that a failed firmware run left in its boot loader is listed again, marked,
    // so that the page can offer the retry.
    BootLoaderDevices::instance().reconcile(found, [this] {
        if (!usb().dcDeviceExist)
            return false;
        std::vector<tvx_char16> buffer(TVX_EXIST_PATH_BUFFER / sizeof(tvx_char16) + 1, 0);
        const QString id = QString::fromLatin1(update_firmware::BootLoaderId);
        std::vector<tvx_char16> wideId(id.utf16(), id.utf16() + id.size());
        wideId.push_back(0);
        return usb().dcDeviceExist(wideId.data(), buffer.data()) != 0;
    });
    QMutexLocker locker(&registryMutex());
    registryStore() = found;
    return found;
}

bool DeviceFunctions::writeItems(const RwEntry &entry, const QString &identity,
                                 const QString &address, const QString &commandString,
                                 const QString &count) {
    const DeviceLookup device = lookupDevice(identity);
    if (!device.known)
        return false;
    const int target = parseDecimal(address);
    if (!isByte(target))
        return false;
    uint8_t block[kTransferBlockSize];
    const int n = parseDecimal(count);
    if (!commandStringToBlock(commandString, n, block))
        return false;
    if (!entry)
        return false;
    return entry(device.path.data(), block, uint8_t(target), n) != 0;
}

bool DeviceFunctions::writeProperty(const QString &identity, const QString &address,
                                    const QString &commandString, const QString &count) {
    return writeItems(usb().dcWriteProperty, identity, address, commandString, count);
}

bool DeviceFunctions::writePropertyForQpa(const QString &identity, const QString &address,
                                          const QString &commandString, const QString &count) {
    return writeItems(usb().dcWritePropertyForQPA, identity, address, commandString, count);
}

bool DeviceFunctions::writePacket(const QString &identity, const QString &packetType,
                                  const QString &commandString, const QString &count) {
    return writeItems(usb().dcWriteHFDData, identity, packetType, commandString, count);
}

bool DeviceFunctions::writeSingleValue(const QString &identity, const QString &address,
                                       const QString &commandString, const QString &count) {
    // The count of a single-value transfer is the number of packets the transfer announces
    // or finishes, not the number of items, so it is passed on as given.
    const DeviceLookup device = lookupDevice(identity);
    if (!device.known)
        return false;
    const int n = parseDecimal(count);
    const int command = parseDecimal(address);
    if (n < 0 || !isByte(command))
        return false;
    uint8_t block[kTransferBlockSize];
    if (!commandItemsToBlock(commandString, block))
        return false;
    const RwEntry &entry = usb().dcWriteStartTr;
    if (!entry)
        return false;
    return entry(device.path.data(), block, uint8_t(command), n) != 0;
}

bool DeviceFunctions::readBlock(const RwEntry &entry, const QString &identity, int address,
                                int count, uint8_t *block) {
    std::memset(block, 0, kTransferBlockSize);
    if (!isByte(address))
        return false;
    const DeviceLookup device = lookupDevice(identity);
    if (!entry)
        return false;
    entry(device.path.data(), block, uint8_t(address), count);
    return true;
}

QString DeviceFunctions::readProperty(const QString &identity, int address, int count) {
    // The answer starts at offset 8: more than the rest of the block cannot be read.
    if (count < 0 || count > kTransferBlockSize - kPropertyReadOffset || !isByte(address))
        return QString();
    uint8_t block[kTransferBlockSize];
    readBlock(usb().dcReadProperty, identity, address, count, block);
    return bytesToCommandString(block + kPropertyReadOffset, count);
}

QString DeviceFunctions::requestPacket(const QString &identity, int packetType, int count) {
    if (count < 0 || count > kTransferBlockSize || !isByte(packetType))
        return QString();
    if (!lookupDevice(identity).known)
        return QString();
    uint8_t block[kTransferBlockSize];
    readBlock(usb().dcReadHFDData, identity, packetType, count, block);
    return bytesToCommandString(block, count);
}

bool DeviceFunctions::isAreaBlank(const QString &identity, int address, int count) {
    if (count < 0 || count > kTransferBlockSize - kPropertyReadOffset || !isByte(address))
        return false;
    uint8_t block[kTransferBlockSize];
    readBlock(usb().dcReadProperty, identity, address, count, block);
    for (int i = 0; i < count; ++i) {
        if (block[kPropertyReadOffset + i] != 0)
            return false;
    }
    return true;
}

bool DeviceFunctions::clearArea(const QString &identity, int address, int count) {
    if (count < 0 || count > kTransferBlockSize || !isByte(address))
        return false;
    const RwEntry &entry = usb().dcWriteProperty;
    if (!entry)
        return false;
    const DeviceLookup device = lookupDevice(identity);
    uint8_t block[kTransferBlockSize] = {};
    return entry(device.path.data(), block, uint8_t(address & 0xFF), count) != 0;
}

bool DeviceFunctions::resetDevice(const QString &identity) {
    const DeviceLookup device = lookupDevice(identity);
    if (!device.known || !usb().Reset)
        return false;
    return usb().Reset(device.path.data(), 2, 0) != 0;
}

void DeviceFunctions::notifyDevice(const QString &identity, const QByteArray &block4) {
    const DeviceLookup device = lookupDevice(identity);
    if (!device.known || !usb().dcNotifyDevice)
        return;
    uint8_t block[4] = {};
    std::memcpy(block, block4.constData(), size_t(qMin(block4.size(), 4)));
    usb().dcNotifyDevice(device.path.data(), block, 2);
}

int DeviceFunctions::readInputReport(const QString &identity, uint8_t *buffer, int length,
                                     int timeoutMs) {
    if (!buffer || length <= 0)
        return 0;
    const DeviceLookup device = lookupDevice(identity);
    if (!device.known || !usb().dcReadInputReport)
        return 0;
    const int n = usb().dcReadInputReport(device.path.data(), buffer, length, timeoutMs);
    // Negative is a library error; more than asked for would mean it overran the buffer.
    if (n <= 0)
        return 0;
    return qMin(n, length);
}

} // namespace torvanix

#pragma once

#include "device_catalogue.h"
#include "device_directory.h"
#include "device_operations.h"
#include "device_permissions.h"
#include "device_registry.h"
#include "devices_handler.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <memory>

namespace torvanix {

// The table of the last enumeration (DeviceIdentity -> record). Only the enumeration writes
// it; device operations never read it (they use PublishedDevices).
DeviceRecordMap deviceRegistry();

// The compact JSON array GetDevicesList answers: the records in map order, unchanged, keys
// in alphabetical order.
QByteArray deviceListJson(const DeviceRecordMap &records);

// Reads and writes devices through the USB device access library, and lists them.
// Identities are looked up in PublishedDevices::instance() without regard to case.
// Operations hold no lock; each works on its own block.
//
// Limits, so that no call reads or writes past the 2048-byte block:
// - writes: count 0 .. 2048 and equal to the number of CommandString items, else false
//   without a library call; writeSingleValue puts up to 2048 items in the block and passes
//   its count (a packet count, any value >= 0) on unchanged;
// - readProperty / isAreaBlank: count 0 .. 2040 (the answer starts at offset 8),
//   requestPacket / clearArea: count 0 .. 2048; outside that the empty text / false;
// - readInputReport: at most `length` bytes, 0 for none or a library error.
// Writes, requestPacket, resetDevice, notifyDevice and readInputReport refuse identities
// that are not published; readProperty, isAreaBlank and clearArea still call the library
// (with an empty path, which no device answers).
class DeviceFunctions : public devices_handler, public DeviceOperations {
    Q_OBJECT
public:
    // Loads the USB, keyboard and mouse libraries from the devices directory.
    explicit DeviceFunctions(QObject *parent = nullptr);
    // Runs over the given tables and wrappers (tests, other back ends).
    DeviceFunctions(UsbInterfaceTable usb, std::unique_ptr<KeyboardLibrary> keyboard,
                    std::unique_ptr<MouseLibrary> mouse, QObject *parent = nullptr);
    ~DeviceFunctions() override;

    // Lists the reachable interfaces (after a 1000 ms settle pause), classifies them in list
    // order into a fresh deviceRegistry() and returns a copy of it. Not published.
    DeviceRecordMap enumerateDevices();
    // The same without the settle pause, for lists whose devices have settled (or whose
    // caller waits the pause its own way). Not called on two threads at once.
    DeviceRecordMap listDevices();

    bool writeProperty(const QString &identity, const QString &address,
                       const QString &commandString, const QString &count) override;
    bool writePropertyForQpa(const QString &identity, const QString &address,
                             const QString &commandString, const QString &count) override;
    bool writePacket(const QString &identity, const QString &packetType,
                     const QString &commandString, const QString &count) override;
    bool writeSingleValue(const QString &identity, const QString &address,
                          const QString &commandString, const QString &count) override;

    QString readProperty(const QString &identity, int address, int count) override;
    QString requestPacket(const QString &identity, int packetType, int count) override;

    bool isAreaBlank(const QString &identity, int address, int count) override;
    bool clearArea(const QString &identity, int address, int count) override;
    bool resetDevice(const QString &identity) override;
    void notifyDevice(const QString &identity, const QByteArray &block4) override;

    int readInputReport(const QString &identity, uint8_t *buffer, int length,
                        int timeoutMs) override;

    // The supported hidraw nodes of this machine and whether they open, asked on every
    // enumeration: denied ones are marked in the records (device_permissions.h). By default
    // the kernel's nodes when the loaded library reaches kernel devices; nothing with the
    // tables constructor, or with an empty function.
    using NodeScanner = std::function<QVector<HidrawNode>()>;
    void setNodeScanner(NodeScanner scanner) { scanNodes_ = std::move(scanner); }

    KeyboardLibrary &keyboard() override { return *keyboard_; }
    MouseLibrary &mouse() override { return *mouse_; }

private:
    using RwEntry = std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)>;
    bool writeItems(const RwEntry &entry, const QString &identity, const QString &address,
                    const QString &commandString, const QString &count);
    bool readBlock(const RwEntry &entry, const QString &identity, int address, int count,
                   uint8_t *block);
    void startHid();

    // The HID context: initialised at creation; this program never opens a HID handle.
    void *hidDevice_ = nullptr;
    std::unique_ptr<KeyboardLibrary> keyboard_;
    std::unique_ptr<MouseLibrary> mouse_;
    NodeScanner scanNodes_;
    QSet<QString> reportedNodes_; // denied nodes already in the log
};

} // namespace torvanix

#pragma once

#include "library_loader.h"

#include <torvanix/devlib.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

class QLibrary;

namespace torvanix {

// Every entry of the USB device access library, resolved once by name. An empty callable is
// an entry the library lacks: its operation reports failure instead of being called.
struct UsbInterfaceTable {
    std::function<int(uint8_t *list, const uint16_t *filter)> dcDevices;

    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcWriteProperty;
    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcWritePropertyForQPA;
    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcWriteHFDData;
    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcWriteStartTr;
    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcReadProperty;
    std::function<int(const tvx_char16 *, uint8_t *, uint8_t, int)> dcReadHFDData;

    std::function<int(const tvx_char16 *, uint8_t, uint8_t)> Reset;
    std::function<int(const tvx_char16 *, uint8_t *, int)> dcNotifyDevice;
    std::function<int(const tvx_char16 *id, tvx_char16 *pathBuffer)> dcDeviceExist;

    std::function<int(const tvx_char16 *, int, int)> UpdateVersion;
    std::function<int(const tvx_char16 *)> dcEraseRom;
    std::function<int(const tvx_char16 *, uint8_t *, int length, int offset)> dcWriteRom;
    std::function<int(const tvx_char16 *, int length, uint32_t check)> CheckRom;
    std::function<int(const tvx_char16 *)> FinishUpdateRom;
    // Never called: its presence is what allows the switch to the boot loader.
    std::function<int(const tvx_char16 *)> BootLoader;

    // Input reports of the interface (the DPI and report-rate answers arrive there).
    std::function<int(const tvx_char16 *, uint8_t *, int length, int timeoutMs)> dcReadInputReport;

    // Present only in backends whose devices are no kernel nodes (the simulator): their
    // arrivals come from the library, and no permission of ours applies to them.
    QFunctionPointer dcWatchDevices = nullptr;

    // Resolved for completeness, never called.
    QFunctionPointer DeviceData = nullptr;
    QFunctionPointer Open_vidpid = nullptr;
    QFunctionPointer ColseHandler = nullptr;
    QFunctionPointer dcNotifyRGBDevice = nullptr;
    QFunctionPointer dcWriteDeviceProperty = nullptr;
    QFunctionPointer dcReadAddress = nullptr;
    QFunctionPointer dcWriteAddress = nullptr;
};

// Fills a table from a resolver (QLibrary::resolve for the real library).
UsbInterfaceTable resolveUsbInterface(const EntryResolver &resolve);

// Owner of the USB device access library: loads it once per object from the devices
// directory and keeps the resolved table for the object's life. A missing library leaves
// every entry empty.
class devices_handler : public QObject {
    Q_OBJECT
public:
    explicit devices_handler(QObject *parent = nullptr);
    // Uses the given table instead of loading the library (tests, other back ends).
    explicit devices_handler(UsbInterfaceTable table, QObject *parent = nullptr);
    ~devices_handler() override;

    const UsbInterfaceTable &usb() const { return usb_; }
    bool libraryLoaded() const { return loaded_; }

signals:
    // Declared for listeners; device arrival reaches the page through DevicesChanged instead.
    void deviceChanged();

private:
    std::unique_ptr<QLibrary> library_;
    UsbInterfaceTable usb_;
    bool loaded_ = false;
};

} // namespace torvanix

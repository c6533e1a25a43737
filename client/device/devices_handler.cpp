#include "devices_handler.h"

#include <QLibrary>

namespace torvanix {

UsbInterfaceTable resolveUsbInterface(const EntryResolver &resolve) {
    using RwFn = int(const tvx_char16 *, uint8_t *, uint8_t, int);
    UsbInterfaceTable t;
    t.dcDevices = resolveEntry<int(uint8_t *, const uint16_t *)>(resolve, "dcDevices");
    t.dcWriteProperty = resolveEntry<RwFn>(resolve, "dcWriteProperty");
    t.dcWritePropertyForQPA = resolveEntry<RwFn>(resolve, "dcWritePropertyForQPA");
    t.dcWriteHFDData = resolveEntry<RwFn>(resolve, "dcWriteHFDData");
    t.dcWriteStartTr = resolveEntry<RwFn>(resolve, "dcWriteStartTr");
    t.dcReadProperty = resolveEntry<RwFn>(resolve, "dcReadProperty");
    t.dcReadHFDData = resolveEntry<RwFn>(resolve, "dcReadHFDData");
    t.Reset = resolveEntry<int(const tvx_char16 *, uint8_t, uint8_t)>(resolve, "Reset");
    t.dcNotifyDevice =
        resolveEntry<int(const tvx_char16 *, uint8_t *, int)>(resolve, "dcNotifyDevice");
    t.dcDeviceExist = resolveEntry<int(const tvx_char16 *, tvx_char16 *)>(resolve, "dcDeviceExist");
    t.UpdateVersion = resolveEntry<int(const tvx_char16 *, int, int)>(resolve, "UpdateVersion");
    t.dcEraseRom = resolveEntry<int(const tvx_char16 *)>(resolve, "dcEraseRom");
    t.dcWriteRom =
        resolveEntry<int(const tvx_char16 *, uint8_t *, int, int)>(resolve, "dcWriteRom");
    t.CheckRom = resolveEntry<int(const tvx_char16 *, int, uint32_t)>(resolve, "CheckRom");
    t.FinishUpdateRom = resolveEntry<int(const tvx_char16 *)>(resolve, "FinishUpdateRom");
    t.BootLoader = resolveEntry<int(const tvx_char16 *)>(resolve, "BootLoader");
    t.dcReadInputReport =
        resolveEntry<int(const tvx_char16 *, uint8_t *, int, int)>(resolve, "dcReadInputReport");
    if (resolve) {
        t.DeviceData = resolve("DeviceData");
        t.Open_vidpid = resolve("Open_vidpid");
        t.ColseHandler = resolve("ColseHandler");
        t.dcNotifyRGBDevice = resolve("dcNotifyRGBDevice");
        t.dcWriteDeviceProperty = resolve("dcWriteDeviceProperty");
        t.dcReadAddress = resolve("dcReadAddress");
        t.dcWriteAddress = resolve("dcWriteAddress");
        t.dcWatchDevices = resolve("dcWatchDevices");
    }
    return t;
}

devices_handler::devices_handler(QObject *parent)
    : QObject(parent), library_(std::make_unique<QLibrary>()) {
    if (loadDeviceLibrary(*library_, QStringLiteral("UsbInterface"))) {
        QLibrary *lib = library_.get();
        usb_ = resolveUsbInterface([lib](const char *name) { return lib->resolve(name); });
        loaded_ = true;
    }
}

devices_handler::devices_handler(UsbInterfaceTable table, QObject *parent)
    : QObject(parent), usb_(std::move(table)), loaded_(true) {}

// The library stays mapped: other handler objects and the keyboard and mouse libraries may
// still use code it shares, and unloading gains nothing for a process-long object.
devices_handler::~devices_handler() = default;

} // namespace torvanix

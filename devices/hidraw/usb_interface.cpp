// The hidraw USB device access library: every entry forwards to the shared core.
#include "hid_api.h"
#include "torvanix/devlib.h"

using namespace torvanix::hidraw;

extern "C" {

int dcDevices(uint8_t *list, const uint16_t *filter) {
    return usbDevices(list, filter);
}

int dcWriteProperty(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count) {
    return usbWriteProperty(false, path, buf, address, count);
}

int dcWritePropertyForQPA(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count) {
    return usbWriteProperty(true, path, buf, address, count);
}

int dcReadProperty(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count) {
    return usbReadProperty(path, buf, address, count);
}

int dcWriteHFDData(const tvx_char16 *path, uint8_t *buf, uint8_t type, int count) {
    return usbWriteHfdData(path, buf, type, count);
}

int dcWriteStartTr(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count) {
    return usbWriteStartTr(path, buf, address, count);
}

int dcReadHFDData(const tvx_char16 *path, uint8_t *buf, uint8_t type, int count) {
    return usbReadHfdData(path, buf, type, count);
}

int Reset(const tvx_char16 *path, uint8_t a, uint8_t b) {
    return usbReset(path, a, b);
}

int dcNotifyDevice(const tvx_char16 *path, uint8_t *block, int count) {
    return usbNotifyDevice(path, block, count);
}

int dcDeviceExist(const tvx_char16 *id, tvx_char16 *pathBuffer) {
    return usbDeviceExist(id, pathBuffer);
}

int UpdateVersion(const tvx_char16 *path, int a, int b) {
    return usbUpdateVersion(path, a, b);
}

int dcEraseRom(const tvx_char16 *path) {
    return usbEraseRom(path);
}

int dcWriteRom(const tvx_char16 *path, uint8_t *buf, int length, int offset) {
    return usbWriteRom(path, buf, length, offset);
}

int CheckRom(const tvx_char16 *path, int length, uint32_t check) {
    return usbCheckRom(path, length, check);
}

int FinishUpdateRom(const tvx_char16 *path) {
    return usbFinishUpdateRom(path);
}

int BootLoader(const tvx_char16 *path) {
    return usbBootLoader(path);
}

int dcReadInputReport(const tvx_char16 *path, uint8_t *buf, int length, int timeoutMs) {
    return usbReadInputReport(path, buf, length, timeoutMs);
}

} // extern "C"

// What libtorvanix_simcore.so exports to the three simulated device access libraries.
// Each library's C entries forward here, so one process has exactly one model of the
// virtual devices however many of the libraries it loads.
#pragma once

#include "torvanix/devlib.h"

#include <cstdint>

#define TVX_SIMCORE_API __attribute__((visibility("default")))

namespace torvanix::sim {

// UsbInterface
TVX_SIMCORE_API int usbDevices(uint8_t *list, const uint16_t *filter);
// qpa: dcWritePropertyForQPA, else dcWriteProperty.
TVX_SIMCORE_API int usbWriteProperty(bool qpa, const uint16_t *path, uint8_t *buf, uint8_t address,
                                     int count);
TVX_SIMCORE_API int usbReadProperty(const uint16_t *path, uint8_t *buf, uint8_t address, int count);
TVX_SIMCORE_API int usbWriteHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count);
TVX_SIMCORE_API int usbWriteStartTr(const uint16_t *path, uint8_t *buf, uint8_t address, int count);
TVX_SIMCORE_API int usbReadHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count);
TVX_SIMCORE_API int usbReset(const uint16_t *path, uint8_t a, uint8_t b);
TVX_SIMCORE_API int usbNotifyDevice(const uint16_t *path, uint8_t *block, int count);
TVX_SIMCORE_API int usbDeviceExist(const uint16_t *id, uint16_t *pathBuffer);
TVX_SIMCORE_API int usbUpdateVersion(const uint16_t *path, int a, int b);
TVX_SIMCORE_API int usbEraseRom(const uint16_t *path);
TVX_SIMCORE_API int usbWriteRom(const uint16_t *path, uint8_t *buf, int length, int offset);
TVX_SIMCORE_API int usbCheckRom(const uint16_t *path, int length, uint32_t check);
TVX_SIMCORE_API int usbFinishUpdateRom(const uint16_t *path);
TVX_SIMCORE_API int usbBootLoader(const uint16_t *path);
TVX_SIMCORE_API int usbReadInputReport(const uint16_t *path, uint8_t *buf, int length,
                                       int timeoutMs);
TVX_SIMCORE_API int usbWatchDevices(void (*notice)(void *, int, const uint16_t *), void *context);

// KBAccess
TVX_SIMCORE_API int kbSetHardwareInfo(int vendor, int product);
TVX_SIMCORE_API int kbInitDevice(void *window);
TVX_SIMCORE_API int kbSetLed(int a, int b, int c, int d, int packedColour);
TVX_SIMCORE_API int kbSetKeyColor(int key, int r, int g, int b);
TVX_SIMCORE_API int kbSetMacro(uint8_t *block, int length);
TVX_SIMCORE_API int kbSetKey(int32_t *table, int length);
TVX_SIMCORE_API int kbNewKeyAction(int key, int p2, int p3, int p4, int p5);
TVX_SIMCORE_API void kbSetDebug(int on);
TVX_SIMCORE_API int kbUnInitDevice();

// ByDevInterface
TVX_SIMCORE_API int msSetHardwareInfo(int vendor, int product, int product2, int sensor,
                                      int reserved);
TVX_SIMCORE_API int msInitDevice(void *window);
TVX_SIMCORE_API int msUnInitDevice();
TVX_SIMCORE_API int msSetKeyMatrix(int32_t *table, void *workArea);
TVX_SIMCORE_API int msSetConfig(int32_t *block);
TVX_SIMCORE_API void msSetDebug(int on);
TVX_SIMCORE_API int msIsDeviceOnline();
TVX_SIMCORE_API int msGetPower();
TVX_SIMCORE_API int msGetFwVersion(char *text, int length);

// For the device emulator, which serves this model over a real device interface: one interface
// of the device set as it stands now, read without a trace line, a fault count or a state change.
struct InterfaceView {
    uint8_t description[TVX_DESCRIPTION_SIZE]; // as dcDevices would list it
    uint16_t bootPath[TVX_DESC_PATH_UNITS];    // NUL-terminated; empty without a boot loader
    int vendor, product;                       // -1 when unknown
    int usage, usagePage;                      // -1 when the device set gives none
    bool present;                              // not vanished
    bool inBootLoader;
};
// False past the last interface.
TVX_SIMCORE_API bool viewInterface(int index, InterfaceView *view);

} // namespace torvanix::sim

// What libtorvanix_hidcore.so gives the three hidraw device access libraries. Each library's C
// entries forward here, so one process holds one set of open devices and one lock over their
// traffic however many of the libraries it loads.
#pragma once

#include <cstdint>

#define TVX_HIDCORE_API __attribute__((visibility("default")))

namespace torvanix::hidraw {

TVX_HIDCORE_API int usbDevices(uint8_t *list, const uint16_t *filter);
TVX_HIDCORE_API int usbWriteProperty(bool qpa, const uint16_t *path, uint8_t *buf, uint8_t address,
                                     int count);
TVX_HIDCORE_API int usbReadProperty(const uint16_t *path, uint8_t *buf, uint8_t address, int count);
TVX_HIDCORE_API int usbWriteHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count);
TVX_HIDCORE_API int usbWriteStartTr(const uint16_t *path, uint8_t *buf, uint8_t address, int count);
TVX_HIDCORE_API int usbReadHfdData(const uint16_t *path, uint8_t *buf, uint8_t type, int count);
TVX_HIDCORE_API int usbReset(const uint16_t *path, uint8_t a, uint8_t b);
TVX_HIDCORE_API int usbNotifyDevice(const uint16_t *path, uint8_t *block, int count);
TVX_HIDCORE_API int usbDeviceExist(const uint16_t *id, uint16_t *pathBuffer);
TVX_HIDCORE_API int usbUpdateVersion(const uint16_t *path, int a, int b);
TVX_HIDCORE_API int usbEraseRom(const uint16_t *path);
TVX_HIDCORE_API int usbWriteRom(const uint16_t *path, uint8_t *buf, int length, int offset);
TVX_HIDCORE_API int usbCheckRom(const uint16_t *path, int length, uint32_t check);
TVX_HIDCORE_API int usbFinishUpdateRom(const uint16_t *path);
TVX_HIDCORE_API int usbBootLoader(const uint16_t *path);
TVX_HIDCORE_API int usbReadInputReport(const uint16_t *path, uint8_t *buf, int length,
                                       int timeoutMs);

// The keyboard and mouse libraries: `family` 0 keyboard, 1 mouse. SetHardwareInfo chooses the
// device by vendor and product; later calls go to it.
TVX_HIDCORE_API int libSetHardwareInfo(int family, const int32_t *values, int n);
// One call with up to five 32-bit values and an optional payload; `failure` when the chosen
// device is absent or the call does not get through.
TVX_HIDCORE_API int libCall(int family, uint8_t command, const int32_t *values, int n,
                            const uint8_t *payload, int payloadLength, int failure);
TVX_HIDCORE_API int libGetFwVersion(char *text, int length);

} // namespace torvanix::hidraw

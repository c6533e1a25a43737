// The hidraw mouse access library: each entry becomes one frame to the mouse that
// SetHardwareInfo named.
#include "frame.h"
#include "hid_api.h"
#include "torvanix/devlib.h"

using namespace torvanix::hidraw;

namespace {
constexpr int kFamily = 1;
constexpr int kKeyMatrixBytes = 132 * 4;
constexpr int kConfigBytes = 165 * 4;

int call(uint8_t command, std::initializer_list<int32_t> values, const uint8_t *payload = nullptr,
         int length = 0, int failure = 0) {
    return libCall(kFamily, command, values.begin(), int(values.size()), payload, length, failure);
}
} // namespace

extern "C" {

TVX_EXPORT int SetHardwareInfo(int vendor, int product, int product2, int sensorModel,
                               int reserved);
TVX_EXPORT int InitDevice(void *window);
TVX_EXPORT int UnInitDevice(void);
TVX_EXPORT int SetKeyMatrix(int32_t *table, void *workArea);
TVX_EXPORT int SetConfig(int32_t *block);
TVX_EXPORT void SetDebug(int on);
TVX_EXPORT int IsDeviceOnline(void);
TVX_EXPORT int GetPower(void);
TVX_EXPORT int GetFwVersion(char *text, int length);

int SetHardwareInfo(int vendor, int product, int product2, int sensorModel, int reserved) {
    const int32_t values[5] = {vendor, product, product2, sensorModel, reserved};
    return libSetHardwareInfo(kFamily, values, 5);
}

int InitDevice(void *) {
    return call(CmdMsInitDevice, {});
}

int UnInitDevice(void) {
    return call(CmdMsUnInitDevice, {});
}

int SetKeyMatrix(int32_t *table, void *) {
    if (!table)
        return 0;
    return call(CmdMsSetKeyMatrix, {}, reinterpret_cast<const uint8_t *>(table), kKeyMatrixBytes);
}

int SetConfig(int32_t *block) {
    if (!block)
        return 0;
    return call(CmdMsSetConfig, {}, reinterpret_cast<const uint8_t *>(block), kConfigBytes);
}

void SetDebug(int on) {
    call(CmdMsSetDebug, {on});
}

int IsDeviceOnline(void) {
    return call(CmdMsIsDeviceOnline, {});
}

int GetPower(void) {
    return call(CmdMsGetPower, {}, nullptr, 0, -1);
}

int GetFwVersion(char *text, int length) {
    return libGetFwVersion(text, length);
}

} // extern "C"

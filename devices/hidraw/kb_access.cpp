// The hidraw keyboard access library: each entry becomes one frame to the keyboard that
// SetHardwareInfo named.
#include "frame.h"
#include "hid_api.h"
#include "torvanix/devlib.h"

using namespace torvanix::hidraw;

namespace {
constexpr int kFamily = 0;

int call(uint8_t command, std::initializer_list<int32_t> values, const uint8_t *payload = nullptr,
         int length = 0) {
    return libCall(kFamily, command, values.begin(), int(values.size()), payload, length, 0);
}
} // namespace

extern "C" {

TVX_EXPORT int SetHardwareInfo(int vendor, int product);
TVX_EXPORT int InitDevice(void *window);
TVX_EXPORT int SetLED(int a, int b, int c, int d, int packedColour);
TVX_EXPORT int SetKeyColor(int key, int r, int g, int b);
TVX_EXPORT int SetMacro(uint8_t *block, int length);
TVX_EXPORT int SetKey(int32_t *table, int length);
TVX_EXPORT int new_key_action(int key, int p2, int p3, int p4, int p5);
TVX_EXPORT void SetDebug(int on);
TVX_EXPORT int UnInitDevice(void);

int SetHardwareInfo(int vendor, int product) {
    const int32_t values[2] = {vendor, product};
    return libSetHardwareInfo(kFamily, values, 2);
}

int InitDevice(void *) {
    return call(CmdKbInitDevice, {});
}

int SetLED(int a, int b, int c, int d, int packedColour) {
    return call(CmdKbSetLed, {a, b, c, d, packedColour});
}

int SetKeyColor(int key, int r, int g, int b) {
    return call(CmdKbSetKeyColor, {key, r, g, b});
}

int SetMacro(uint8_t *block, int length) {
    if (!block)
        return 0;
    return call(CmdKbSetMacro, {}, block, length);
}

int SetKey(int32_t *table, int length) {
    if (!table)
        return 0;
    return call(CmdKbSetKey, {}, reinterpret_cast<const uint8_t *>(table), length);
}

int new_key_action(int key, int p2, int p3, int p4, int p5) {
    return call(CmdKbNewKeyAction, {key, p2, p3, p4, p5});
}

void SetDebug(int on) {
    call(CmdKbSetDebug, {on});
}

int UnInitDevice(void) {
    return call(CmdKbUnInitDevice, {});
}

} // extern "C"

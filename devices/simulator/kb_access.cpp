// The simulated keyboard access library: every entry forwards to the shared model.
#include "sim_api.h"
#include "torvanix/devlib.h"

using namespace torvanix::sim;

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
    return kbSetHardwareInfo(vendor, product);
}
int InitDevice(void *window) {
    return kbInitDevice(window);
}
int SetLED(int a, int b, int c, int d, int packedColour) {
    return kbSetLed(a, b, c, d, packedColour);
}
int SetKeyColor(int key, int r, int g, int b) {
    return kbSetKeyColor(key, r, g, b);
}
int SetMacro(uint8_t *block, int length) {
    return kbSetMacro(block, length);
}
int SetKey(int32_t *table, int length) {
    return kbSetKey(table, length);
}
int new_key_action(int key, int p2, int p3, int p4, int p5) {
    return kbNewKeyAction(key, p2, p3, p4, p5);
}
void SetDebug(int on) {
    kbSetDebug(on);
}
int UnInitDevice(void) {
    return kbUnInitDevice();
}

} // extern "C"

// The simulated mouse access library: every entry forwards to the shared model.
#include "sim_api.h"
#include "torvanix/devlib.h"

using namespace torvanix::sim;

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
    return msSetHardwareInfo(vendor, product, product2, sensorModel, reserved);
}
int InitDevice(void *window) {
    return msInitDevice(window);
}
int UnInitDevice(void) {
    return msUnInitDevice();
}
int SetKeyMatrix(int32_t *table, void *workArea) {
    return msSetKeyMatrix(table, workArea);
}
int SetConfig(int32_t *block) {
    return msSetConfig(block);
}
void SetDebug(int on) {
    msSetDebug(on);
}
int IsDeviceOnline(void) {
    return msIsDeviceOnline();
}
int GetPower(void) {
    return msGetPower();
}
int GetFwVersion(char *text, int length) {
    return msGetFwVersion(text, length);
}

} // extern "C"

/* Device access libraries that lack entries, to check that the program copes. Built three
 * times, as UsbInterface, KBAccess and ByDevInterface, selected by PARTIAL_LIBRARY. */
#include <string.h>
#include <torvanix/devlib.h>

#if PARTIAL_LIBRARY == 1
/* UsbInterface with listing and property writes only. */
TVX_EXPORT int dcDevices(uint8_t *list, const uint16_t *filter) {
    static const char path[] = "\\\\?\\hid#vid_1234&pid_5678&mi_00&col01#1";
    (void)filter;
    list[0] = 1;
    list[1] = 0;
    for (size_t i = 0; i < sizeof path - 1; ++i)
        list[2 + TVX_DESC_PATH + 2 * i] = (uint8_t)path[i];
    return 1;
}

TVX_EXPORT int dcWriteProperty(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count) {
    (void)path;
    (void)address;
    return count == 2 && buf[0] == 0xAB && buf[1] == 0xCD;
}
#elif PARTIAL_LIBRARY == 2
/* KBAccess without new_key_action: not usable. */
TVX_EXPORT int SetHardwareInfo(int vendor, int product) {
    return vendor + product;
}
TVX_EXPORT int InitDevice(void *window) {
    (void)window;
    return 1;
}
TVX_EXPORT int SetLED(int a, int b, int c, int d, int e) {
    return a + b + c + d + e;
}
TVX_EXPORT int SetKeyColor(int k, int r, int g, int b) {
    return k + r + g + b;
}
TVX_EXPORT int SetMacro(uint8_t *block, int length) {
    (void)block;
    return length;
}
TVX_EXPORT int SetKey(int32_t *table, int length) {
    (void)table;
    return length;
}
TVX_EXPORT int UnInitDevice(void) {
    return 1;
}
#else
/* ByDevInterface without SetConfig: usable for keys, not for configuration. */
static int g_keys;
TVX_EXPORT int SetHardwareInfo(int v, int p, int p2, int s, int r) {
    return v + p + p2 + s + r;
}
TVX_EXPORT int InitDevice(void *window) {
    (void)window;
    return 1;
}
TVX_EXPORT int UnInitDevice(void) {
    return 1;
}
TVX_EXPORT int SetKeyMatrix(int32_t *table, void *work) {
    (void)work;
    g_keys = table[0];
    return 1;
}
TVX_EXPORT int GetPower(void) {
    return g_keys;
}
#endif

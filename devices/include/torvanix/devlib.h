/*
 * The C boundary between the program and its device access libraries.
 *
 * Three libraries sit beside the program and are loaded at run time by file name:
 *   libUsbInterface.so    - interface listing, property registers, packet transfers,
 *                           boot loader and ROM programming
 *   libKBAccess.so        - the keyboard that is driven through key tables and LED calls
 *   libByDevInterface.so  - the mouse that is driven through a key matrix and a config block
 *
 * Every entry has C linkage and is resolved by name, so a library may leave entries out;
 * the program treats a missing entry as an operation that fails. Any backend (the
 * simulator, the hidapi backend) implements these exact signatures.
 *
 * Texts that name a device interface ("paths") are NUL-terminated UTF-16 code unit
 * strings, the same encoding the listing block uses for the path field.
 */
#ifndef TORVANIX_DEVLIB_H
#define TORVANIX_DEVLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TVX_EXPORT __attribute__((visibility("default")))
#else
#define TVX_EXPORT
#endif

typedef uint16_t tvx_char16;

/* ---- listing block -------------------------------------------------------------------- */

enum {
    TVX_DESCRIPTION_SIZE = 2107, /* one packed interface description */
    TVX_MAX_DESCRIPTIONS = 127,
    TVX_LIST_BLOCK_SIZE = 2 + 127 * 2107, /* 16-bit count, then the descriptions: 267,591 */
    TVX_FILTER_PAIRS = 20,                /* (usage, usage page) pairs, unused pairs zero */
    TVX_TRANSFER_BLOCK_SIZE = 2048,       /* every read/write block */
    TVX_EXIST_PATH_BUFFER = 500           /* bytes of the path buffer handed to dcDeviceExist */
};

/* Byte offsets inside one description (packed, no alignment). */
enum {
    TVX_DESC_BLUETOOTH = 0, /* 5 bytes ASCII */
    TVX_DESC_FIRMWARE = 40, /* 17 bytes ASCII: 14 identity bytes, bytes 15..16 "last version" */
    TVX_DESC_SERIAL = 57,   /* 14 bytes ASCII */
    TVX_DESC_BATTERY = 73,  /* 1 byte */
    TVX_DESC_STATUS = 74,   /* 1 byte */
    TVX_DESC_PATH = 1087,   /* 510 UTF-16 code units, little-endian, NUL-terminated */
    TVX_DESC_PATH_UNITS = 510
};

/* ---- UsbInterface --------------------------------------------------------------------- */

/* Fills `list` (TVX_LIST_BLOCK_SIZE bytes): little-endian 16-bit count, then descriptions.
 * `filter` holds TVX_FILTER_PAIRS pairs of (usage, usage page). Returns the count. */
TVX_EXPORT int dcDevices(uint8_t *list, const uint16_t *filter);

/* Property registers: write `count` bytes of `buf` at `address`; non-zero on success. */
TVX_EXPORT int dcWriteProperty(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count);
TVX_EXPORT int dcWritePropertyForQPA(const tvx_char16 *path, uint8_t *buf, uint8_t address,
                                     int count);
/* Reads `count` bytes of the register at `address` into buf[8 .. 8+count-1]. */
TVX_EXPORT int dcReadProperty(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count);

/* Packet protocol: one data packet of `count` bytes of type `type`. */
TVX_EXPORT int dcWriteHFDData(const tvx_char16 *path, uint8_t *buf, uint8_t type, int count);
/* Packet protocol: one single-value transfer (announce / finish); `count` is passed through. */
TVX_EXPORT int dcWriteStartTr(const tvx_char16 *path, uint8_t *buf, uint8_t address, int count);
/* Packet protocol: reads an answer of type `type` into buf[0 .. count-1]. */
TVX_EXPORT int dcReadHFDData(const tvx_char16 *path, uint8_t *buf, uint8_t type, int count);

/* (2, 0): device reset; (1, 0): switch to the boot loader. Non-zero on success. */
TVX_EXPORT int Reset(const tvx_char16 *path, uint8_t a, uint8_t b);
TVX_EXPORT int dcNotifyDevice(const tvx_char16 *path, uint8_t *block, int count);

/* Non-zero when a device with hardware id `id` (e.g. "Vid_258a&Pid_ff12", UTF-16) is
 * present; its path is then copied into `pathBuffer` (TVX_EXIST_PATH_BUFFER bytes). */
TVX_EXPORT int dcDeviceExist(const tvx_char16 *id, tvx_char16 *pathBuffer);

/* Boot loader ROM programming. */
TVX_EXPORT int UpdateVersion(const tvx_char16 *path, int a, int b);
TVX_EXPORT int dcEraseRom(const tvx_char16 *path);
TVX_EXPORT int dcWriteRom(const tvx_char16 *path, uint8_t *buf, int length, int offset);
TVX_EXPORT int CheckRom(const tvx_char16 *path, int length, uint32_t check);
TVX_EXPORT int FinishUpdateRom(const tvx_char16 *path);
TVX_EXPORT int BootLoader(const tvx_char16 *path);

/* Our own addition: waits up to `timeoutMs` for one HID input report of the interface and
 * copies up to `length` bytes of it into `buf`. Returns the number of bytes read, 0 when no
 * report arrived, negative on error. The DPI/report-rate query reads its answer here. */
TVX_EXPORT int dcReadInputReport(const tvx_char16 *path, uint8_t *buf, int length, int timeoutMs);

/* Our own addition, optional: arrival and removal notices for backends whose devices the
 * system's device monitor cannot see (the simulator). `notice(context, arrived, path)` is
 * called on a thread of the library once per interface that appeared (arrived = 1) or left
 * (arrived = 0). A new call replaces the earlier watch; dcWatchDevices(NULL, NULL) stops it
 * and returns only when no notice is running any more (so it must not be called from a
 * notice). Returns non-zero while watching. */
typedef void (*tvx_device_notice_fn)(void *context, int arrived, const tvx_char16 *path);
TVX_EXPORT int dcWatchDevices(tvx_device_notice_fn notice, void *context);

/* The keyboard and mouse libraries export some entries under the same names
 * (SetHardwareInfo, InitDevice, ...) with different argument lists; each library is loaded
 * on its own, so their declarations live in their implementations and the types below. */

/* ---- function pointer types (what the program resolves) -------------------------------- */

typedef int (*tvx_dcDevices_fn)(uint8_t *, const uint16_t *);
typedef int (*tvx_rw_fn)(const tvx_char16 *, uint8_t *, uint8_t, int);
typedef int (*tvx_Reset_fn)(const tvx_char16 *, uint8_t, uint8_t);
typedef int (*tvx_dcNotifyDevice_fn)(const tvx_char16 *, uint8_t *, int);
typedef int (*tvx_dcDeviceExist_fn)(const tvx_char16 *, tvx_char16 *);
typedef int (*tvx_UpdateVersion_fn)(const tvx_char16 *, int, int);
typedef int (*tvx_path_fn)(const tvx_char16 *);
typedef int (*tvx_dcWriteRom_fn)(const tvx_char16 *, uint8_t *, int, int);
typedef int (*tvx_CheckRom_fn)(const tvx_char16 *, int, uint32_t);
typedef int (*tvx_dcReadInputReport_fn)(const tvx_char16 *, uint8_t *, int, int);
typedef int (*tvx_dcWatchDevices_fn)(tvx_device_notice_fn, void *);

/* KBAccess (file libKBAccess.so), entries by name:
 *   int  SetHardwareInfo(int vendor, int product)
 *   int  InitDevice(void *window)                        non-zero: device present
 *   int  SetLED(int a, int b, int c, int d, int packedColour)
 *   int  SetKeyColor(int key, int r, int g, int b)
 *   int  SetMacro(uint8_t *block, int length)            block of 4096 bytes
 *   int  SetKey(int32_t *table, int length)              table of 132 entries, 528 bytes
 *   int  new_key_action(int key, int p2, int p3, int p4, int p5)
 *   void SetDebug(int on)
 *   int  UnInitDevice(void)
 */
typedef int (*tvx_kb_SetHardwareInfo_fn)(int, int);
typedef int (*tvx_InitDevice_fn)(void *);
typedef int (*tvx_kb_SetLED_fn)(int, int, int, int, int);
typedef int (*tvx_kb_SetKeyColor_fn)(int, int, int, int);
typedef int (*tvx_kb_SetMacro_fn)(uint8_t *, int);
typedef int (*tvx_kb_SetKey_fn)(int32_t *, int);
typedef int (*tvx_kb_new_key_action_fn)(int, int, int, int, int);
typedef void (*tvx_SetDebug_fn)(int);
typedef int (*tvx_UnInitDevice_fn)(void);

/* ByDevInterface (file libByDevInterface.so), entries by name:
 *   int  SetHardwareInfo(int vendor, int product, int product2, int sensorModel, int reserved)
 *   int  InitDevice(void *window)                        non-zero: device present
 *   int  UnInitDevice(void)
 *   int  SetKeyMatrix(int32_t *table, void *workArea)    table of 132 entries
 *   int  SetConfig(int32_t *block)                       165 values, 660 bytes
 *   void SetDebug(int on)
 *   int  IsDeviceOnline(void)
 *   int  GetPower(void)
 *   int  GetFwVersion(char *text, int length)
 */
typedef int (*tvx_ms_SetHardwareInfo_fn)(int, int, int, int, int);
typedef int (*tvx_ms_SetKeyMatrix_fn)(int32_t *, void *);
typedef int (*tvx_ms_SetConfig_fn)(int32_t *);
typedef int (*tvx_ms_IsDeviceOnline_fn)(void);
typedef int (*tvx_ms_GetPower_fn)(void);
typedef int (*tvx_ms_GetFwVersion_fn)(char *, int);

#ifdef __cplusplus
}
#endif

#endif /* TORVANIX_DEVLIB_H */

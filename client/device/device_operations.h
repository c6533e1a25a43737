#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace pugi {
class xml_node;
}

namespace torvanix {

// The keyboard that is driven through its own access library (identity "05AC024F").
// Implemented by kb_handler over the loaded library; tests record at this boundary.
class KeyboardLibrary {
public:
    virtual ~KeyboardLibrary() = default;
    virtual bool probeDevice() = 0;
    // type "MOUSE", "HOTKEY", "KEYBOARD", "MEDIA", "MACRO"; value items separated by ','.
    virtual bool setKey(const QString &type, int keyIndex, const QString &value) = 0;
    virtual bool setKeyColor(int key, int c1, int c2, int c3) = 0;
    virtual bool setLed(int a, int b, int c, int d, int e, int f, int g) = 0;
    virtual bool setMacro(const QByteArray &block4096) = 0;
    virtual int newKeyAction(const QString &key, int p2, int p3, int p4, int p5) = 0;
};

// The mouse that is driven through its own access library (identity "258A002E").
class MouseLibrary {
public:
    virtual ~MouseLibrary() = default;
    virtual bool probeDevice() = 0;
    virtual bool setKey(const QString &type, int keyIndex, const QString &value) = 0;
    // node: element with `current` and `count` and children carrying `x` and `y`.
    virtual bool setDpiStages(const pugi::xml_node &node) = 0;
    virtual bool setLightValue(int mode, int value) = 0;
    virtual bool setLightColor(int mode, int value, int unused1, int unused2, int c1, int c2,
                               int c3) = 0;
    virtual int dpiToSensor(int dpi) const = 0;
};

// Every read and write of a device by the rest of the program goes through this interface.
// Devices are named by their DeviceIdentity; the path is found in the published registry
// (case-insensitive). Writes take CommandStrings ("0x01,0x10,dc") whose item count must equal
// `count`. Implemented by DeviceFunctions over the USB access library; tests substitute a
// recording implementation.
class DeviceOperations {
public:
    virtual ~DeviceOperations() = default;

    virtual bool writeProperty(const QString &identity, const QString &address,
                               const QString &commandString, const QString &count) = 0;
    virtual bool writePropertyForQpa(const QString &identity, const QString &address,
                                     const QString &commandString, const QString &count) = 0;
    virtual bool writePacket(const QString &identity, const QString &packetType,
                             const QString &commandString, const QString &count) = 0;
    // The items are the block; `count` is passed through unchanged (it is the transfer's
    // packet count, not the item count).
    virtual bool writeSingleValue(const QString &identity, const QString &address,
                                  const QString &commandString, const QString &count) = 0;

    // "0x0a,0xff,0x00" of block bytes 8.. (readProperty) or 0.. (requestPacket).
    virtual QString readProperty(const QString &identity, int address, int count) = 0;
    virtual QString requestPacket(const QString &identity, int packetType, int count) = 0;

    virtual bool isAreaBlank(const QString &identity, int address, int count) = 0;
    virtual bool clearArea(const QString &identity, int address, int count) = 0;
    virtual bool resetDevice(const QString &identity) = 0;
    virtual void notifyDevice(const QString &identity, const QByteArray &block4) = 0;

    // One HID input report of the device, waiting up to timeoutMs. Returns the number of
    // bytes read; 0 when none arrived.
    virtual int readInputReport(const QString &identity, uint8_t *buffer, int length,
                                int timeoutMs) = 0;

    virtual KeyboardLibrary &keyboard() = 0;
    virtual MouseLibrary &mouse() = 0;
};

} // namespace torvanix

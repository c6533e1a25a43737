#pragma once

// Test doubles for translations: device operations that record every call (and answer reads
// from scripted replies), a pacer that records pauses into the same log, and an event sink that
// collects events. Golden tests compare the log line by line.
//
// Log lines:
//   writeProperty <identity> <address> <count> <commandString>
//   writePropertyForQpa / writePacket / writeSingleValue: same fields
//   readProperty <identity> <address> <count>
//   requestPacket <identity> <type> <count>
//   isAreaBlank / clearArea <identity> <address> <count>
//   resetDevice <identity>
//   notifyDevice <identity> <4 bytes as hex>
//   readInputReport <identity> <length> <timeout>
//   pause <ms>
//   kb.<call> <arguments> / ms.<call> <arguments>   (library families)

#include "device/device_operations.h"
#include "device/event_sink.h"
#include "device/pacer.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QQueue>
#include <QStringList>
#include <QVariantList>

namespace torvanix::test {

// One shared, thread-safe log.
class CallLog {
public:
    void add(const QString &line);
    QStringList lines() const;
    void clear();

private:
    mutable QMutex mutex_;
    QStringList lines_;
};

class RecordingKeyboard : public KeyboardLibrary {
public:
    explicit RecordingKeyboard(CallLog &log) : log_(log) {}
    bool probeDevice() override;
    bool setKey(const QString &type, int keyIndex, const QString &value) override;
    bool setKeyColor(int key, int c1, int c2, int c3) override;
    bool setLed(int a, int b, int c, int d, int e, int f, int g) override;
    bool setMacro(const QByteArray &block4096) override;
    int newKeyAction(const QString &key, int p2, int p3, int p4, int p5) override;
    bool result = true;

private:
    CallLog &log_;
};

class RecordingMouse : public MouseLibrary {
public:
    explicit RecordingMouse(CallLog &log) : log_(log) {}
    bool probeDevice() override;
    bool setKey(const QString &type, int keyIndex, const QString &value) override;
    bool setDpiStages(const pugi::xml_node &node) override;
    bool setLightValue(int mode, int value) override;
    bool setLightColor(int mode, int value, int unused1, int unused2, int c1, int c2,
                       int c3) override;
    int dpiToSensor(int dpi) const override;
    bool result = true;

private:
    CallLog &log_;
};

class RecordingDeviceOperations : public DeviceOperations {
public:
    RecordingDeviceOperations();
    explicit RecordingDeviceOperations(CallLog &sharedLog);

    bool writeProperty(const QString &identity, const QString &address,
                       const QString &commandString, const QString &count) override;
    bool writePropertyForQpa(const QString &identity, const QString &address,
                             const QString &commandString, const QString &count) override;
    bool writePacket(const QString &identity, const QString &packetType,
                     const QString &commandString, const QString &count) override;
    bool writeSingleValue(const QString &identity, const QString &address,
                          const QString &commandString, const QString &count) override;
    QString readProperty(const QString &identity, int address, int count) override;
    QString requestPacket(const QString &identity, int packetType, int count) override;
    bool isAreaBlank(const QString &identity, int address, int count) override;
    bool clearArea(const QString &identity, int address, int count) override;
    bool resetDevice(const QString &identity) override;
    void notifyDevice(const QString &identity, const QByteArray &block4) override;
    int readInputReport(const QString &identity, uint8_t *buffer, int length,
                        int timeoutMs) override;
    KeyboardLibrary &keyboard() override { return keyboard_; }
    MouseLibrary &mouse() override { return mouse_; }

    // Scripted answers. readProperty answers the reply set for its address (any count), else
    // count items of "0x00". requestPacket the same by packet type. readInputReport takes the
    // next queued report (0 bytes when none is queued). isAreaBlank answers per address
    // (default true).
    void setReadReply(int address, const QString &commandString);
    void setPacketReply(int type, const QString &commandString);
    void queueInputReport(const QByteArray &report);
    void setAreaBlank(int address, bool blank);
    // Whether writes succeed (default true). Writes whose item count differs from the count
    // fail (and are still logged), as the real operations refuse them.
    bool writeResult = true;
    // Writes with a wrong item count, counted.
    int refusedWrites() const;

    CallLog &log() { return *log_; }
    QStringList calls() const { return log_->lines(); }

private:
    bool write(const char *op, const QString &identity, const QString &address,
               const QString &commandString, const QString &count);

    CallLog ownLog_;
    CallLog *log_;
    RecordingKeyboard keyboard_;
    RecordingMouse mouse_;
    mutable QMutex mutex_;
    QHash<int, QString> readReplies_;
    QHash<int, QString> packetReplies_;
    QHash<int, bool> blank_;
    QQueue<QByteArray> inputReports_;
    int refused_ = 0;
};

// Records "pause <ms>" into a log instead of sleeping.
class RecordingPacer : public Pacer {
public:
    explicit RecordingPacer(CallLog &log) : log_(log) {}
    void pause(int milliseconds) override;

private:
    CallLog &log_;
};

struct CollectedEvent {
    QString name;
    QVariantList args;
};

class CollectingEventSink : public EventSink {
public:
    void sendEvent(const QString &name, const QVariantList &args) override;
    QList<CollectedEvent> events() const;
    // The first string argument of every event of that name, in order.
    QStringList texts(const QString &name = QStringLiteral("OnNotifySaveXml")) const;
    void clear();

private:
    mutable QMutex mutex_;
    QList<CollectedEvent> events_;
};

} // namespace torvanix::test

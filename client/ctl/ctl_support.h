#pragma once

// Plumbing the sub-commands share: the --devices folder, reading a text argument, listing and
// publishing the devices as GetDevicesList does, and printing page events as JSON lines.

#include "ctl_command.h"

#include "device/device_registry.h"
#include "device/event_sink.h"

#include <QMutex>

namespace torvanix {
class DeviceFunctions;
class device_data_handler;
} // namespace torvanix

namespace torvanix::ctl {

// {"event":NAME,"args":[...]}: "event" stays first, as people and scripts read it.
QString eventLine(const QString &name, const QVariantList &args);

// Events arrive from worker threads; each becomes one whole line, in the order sent.
class PrintingEventSink : public EventSink {
public:
    explicit PrintingEventSink(QTextStream &out) : out_(out) {}
    void sendEvent(const QString &name, const QVariantList &args) override;

private:
    QMutex mutex_;
    QTextStream &out_;
};

// Applies --devices. False (after saying why) when it does not name a folder.
bool applyDevicesDirectory(const Options &options, Streams &io);

// The text of a file, or of standard input for "-". False (after saying why) when unreadable.
bool readTextInput(const QString &name, QString &text, QTextStream &err);

// Enumerates as GetDevicesList does and publishes the result for the device operations.
DeviceRecordMap listAndPublish(DeviceFunctions &devices, Streams &io);

// Loads the three drive tables into a translator, saying so when one fails.
void loadDriveTables(device_data_handler &translator, Streams &io);

// Collects the writes a translator reports as failed (from any thread).
class WriteFailures {
public:
    explicit WriteFailures(device_data_handler &translator);
    // After the translations ended: says each reason and gives the exit code (0 or 1).
    int report(Streams &io);

private:
    QMutex mutex_;
    QStringList reasons_;
};

} // namespace torvanix::ctl

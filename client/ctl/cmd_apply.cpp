// torvanix-ctl apply FILE|-: enumerates and publishes the devices as GetDevicesList does, runs
// one configuration document through the translator exactly as the page's NoticeModify does,
// waits until its translation has finished and prints every page event it raised, one JSON
// line each: {"event":"OnNotifySaveXml","args":["..."]}.
#include "ctl_command.h"

#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/library_loader.h"
#include "translate/device_data_handler.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

namespace {

// Prints events as they arrive; translations run on pool threads.
class PrintingEventSink : public torvanix::EventSink {
public:
    explicit PrintingEventSink(QTextStream &out) : out_(out) {}
    void sendEvent(const QString &name, const QVariantList &args) override {
        // Written by hand to keep "event" ahead of "args" (a JSON object would sort them).
        const QByteArray event =
            QJsonDocument(QJsonArray{name}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
        const QByteArray list =
            QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact);
        QMutexLocker lock(&mutex_);
        out_ << "{\"event\":" << QString::fromUtf8(event) << ",\"args\":" << QString::fromUtf8(list)
             << "}\n";
        out_.flush();
    }

private:
    QMutex mutex_;
    QTextStream &out_;
};

bool readDocument(const QString &name, QString &text, QTextStream &err) {
    QFile file;
    bool opened;
    if (name == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        err << "torvanix-ctl: cannot read " << name << "\n";
        return false;
    }
    text = QString::fromUtf8(file.readAll());
    return true;
}

int runApply(const torvanix::ctl::Options &options, const QStringList &args,
             torvanix::ctl::Streams &io) {
    if (args.size() != 1) {
        io.err << "torvanix-ctl: apply takes one document file (or - for standard input)\n";
        return 2;
    }
    QString document;
    if (!readDocument(args.first(), document, io.err))
        return 2;
    if (!options.devicesDir.isEmpty()) {
        if (!QFileInfo(options.devicesDir).isDir()) {
            io.err << "torvanix-ctl: --devices " << options.devicesDir << " is not a folder\n";
            return 2;
        }
        torvanix::setDevicesDirectory(options.devicesDir);
    }

    torvanix::DeviceFunctions devices;
    if (!devices.libraryLoaded())
        io.err << "torvanix-ctl: no USB device access library in " << torvanix::devicesDirectory()
               << "\n";
    torvanix::PublishedDevices::instance().publish(devices.enumerateDevices());

    PrintingEventSink events(io.out);
    torvanix::device_data_handler translator(devices, events);
    const bool tablesLoaded = translator.loadDriverTemplate(QStringLiteral(":/drive/D2.0")) &
                              translator.loadDriverTemplate(QStringLiteral(":/drive/D3.0")) &
                              translator.loadDriverTemplate(QStringLiteral(":/drive/D4.0"));
    if (!tablesLoaded)
        io.err << "torvanix-ctl: a drive table failed to load\n";

    using Dispatch = torvanix::device_data_handler::Dispatch;
    switch (translator.writeDevice(document)) {
    case Dispatch::Started:
        break;
    case Dispatch::ParseFailure:
        io.err << "torvanix-ctl: document dropped: it does not parse as XML\n";
        break;
    case Dispatch::NoIdentity:
        io.err << "torvanix-ctl: document dropped: no UsbId value\n";
        break;
    case Dispatch::UnknownDevice:
        io.err << "torvanix-ctl: document dropped: no listed device has its UsbId\n";
        break;
    }
    io.err.flush();
    translator.waitForDone();
    return 0;
}

const torvanix::ctl::Registration reg("apply", "apply FILE|-", runApply);

} // namespace

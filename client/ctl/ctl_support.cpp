#include "ctl_support.h"

#include "device/device_functions.h"
#include "device/library_loader.h"
#include "translate/device_data_handler.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>

namespace torvanix::ctl {

QString eventLine(const QString &name, const QVariantList &args) {
    // A JSON object would sort its keys and put "args" first.
    const QByteArray quotedName =
        QJsonDocument(QJsonArray{name}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    const QByteArray list =
        QJsonDocument(QJsonArray::fromVariantList(args)).toJson(QJsonDocument::Compact);
    return QStringLiteral("{\"event\":") + QString::fromUtf8(quotedName) +
           QStringLiteral(",\"args\":") + QString::fromUtf8(list) + QLatin1Char('}');
}

void PrintingEventSink::sendEvent(const QString &name, const QVariantList &args) {
    const QString line = eventLine(name, args);
    QMutexLocker lock(&mutex_);
    out_ << line << '\n';
    out_.flush();
}

bool applyDevicesDirectory(const Options &options, Streams &io) {
    if (options.devicesDir.isEmpty())
        return true;
    if (!QFileInfo(options.devicesDir).isDir()) {
        io.err << "torvanix-ctl: --devices " << options.devicesDir << " is not a folder\n";
        return false;
    }
    setDevicesDirectory(options.devicesDir);
    return true;
}

bool readTextInput(const QString &name, QString &text, QTextStream &err) {
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

DeviceRecordMap listAndPublish(DeviceFunctions &devices, Streams &io) {
    if (!devices.libraryLoaded())
        io.err << "torvanix-ctl: no USB device access library in " << devicesDirectory()
               << "; no device is listed\n";
    const DeviceRecordMap records = devices.enumerateDevices();
    PublishedDevices::instance().publish(records);
    return records;
}

void loadDriveTables(device_data_handler &translator, Streams &io) {
    for (const char *table : {":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0"}) {
        if (!translator.loadDriverTemplate(QString::fromLatin1(table)))
            io.err << "torvanix-ctl: the drive table " << table << " failed to load\n";
    }
}

WriteFailures::WriteFailures(device_data_handler &translator) {
    QObject::connect(&translator, &device_data_handler::SigWriteFailed, [this](const QString &why) {
        QMutexLocker lock(&mutex_);
        reasons_ << why;
    });
}

int WriteFailures::report(Streams &io) {
    QMutexLocker lock(&mutex_);
    for (const QString &why : qAsConst(reasons_))
        io.err << "torvanix-ctl: " << why << "; nothing was saved\n";
    io.err.flush();
    return reasons_.isEmpty() ? 0 : 1;
}

} // namespace torvanix::ctl

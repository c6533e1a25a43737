#include "desktop_hub.h"

#include "battery_watch.h"
#include "dbus_api.h"
#include "focus_piece.h"
#include "resume_watch.h"
#include "lighting_server_piece.h"

#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

namespace torvanix {

ApplyResult ApplyResult::from(const device_data_handler::Outcome &outcome) {
    ApplyResult r;
    r.events = outcome.events;
    using D = device_data_handler::Dispatch;
    switch (outcome.dispatch) {
    case D::ParseFailure:
        r.status = Dropped;
        r.reason = QStringLiteral("the document is not XML");
        return r;
    case D::NoIdentity:
        r.status = Dropped;
        r.reason = QStringLiteral("the document names no device (no UsbId value)");
        return r;
    case D::UnknownDevice:
        r.status = Dropped;
        r.reason = QStringLiteral("no connected device has the document's UsbId");
        return r;
    case D::Started:
        break;
    }
    if (outcome.writeFailed) {
        r.status = WriteFailed;
        r.reason = outcome.failure.isEmpty() ? QStringLiteral("the device did not take the write")
                                             : outcome.failure;
        return r;
    }
    r.status = Applied;
    return r;
}

DesktopHub::DesktopHub(Services services, QObject *parent)
    : QObject(parent), services_(std::move(services)),
      settings_(services_.settingsPath.isEmpty() ? CoreSettings::defaultPath()
                                                 : services_.settingsPath) {
    qRegisterMetaType<ApplyResult>();
    registerCommands();
}

DesktopHub::~DesktopHub() {
    stopPieces();
}

void DesktopHub::startPieces() {
    // One line per piece. A piece is a QObject handed to adopt(); it reads its settings
    // section from settings() and listens to book() and the hub's signals.
    startDbusApi(*this);
    startFocusFollow(*this);
    adopt(startResumeRestore(*this));
    BatteryWatch::start(*this);
    LightingServerPiece::start(*this);
}

void DesktopHub::stopPieces() {
    // Later pieces may use earlier ones, so they end first.
    while (!pieces_.isEmpty())
        delete pieces_.takeLast();
}

void DesktopHub::adopt(QObject *piece) {
    if (piece)
        pieces_.append(piece);
}

void DesktopHub::registerCommands() {
    if (!services_.dispatcher || !services_.pageEvents)
        return;
    registerCoreSettingsCommands(*services_.dispatcher, settings_, *services_.pageEvents);
    // Queries arrive on the GUI thread; the provider reads the desktop's windows there.
    QPointer<DesktopHub> self(this);
    services_.dispatcher->registerCommand(
        QStringLiteral("GetRunningApplications"),
        [self](const QVariantMap &, const ReplyPtr &reply) {
            QStringList names;
            if (self && self->runningApplications_)
                names = self->runningApplications_();
            names.removeAll(QString());
            names.removeDuplicates();
            names.sort(Qt::CaseInsensitive);
            replySuccess(reply, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names))
                                                      .toJson(QJsonDocument::Compact)));
        });
    services_.dispatcher->registerCommand(
        QStringLiteral("GetShowDevice"), [self](const QVariantMap &, const ReplyPtr &reply) {
            QString path;
            if (self)
                path = std::exchange(self->pendingShowPath_, QString());
            replySuccess(reply, path);
        });
}

void DesktopHub::apply(const QString &document, const QString &origin, Done done) {
    QPointer<DesktopHub> self(this);
    auto answer = [self, done](const ApplyResult &result) {
        if (!done)
            return;
        QMetaObject::invokeMethod(
            self.data() ? static_cast<QObject *>(self.data()) : QCoreApplication::instance(),
            [self, done, result] {
                if (self)
                    done(result);
            },
            Qt::QueuedConnection);
    };
    if (!services_.apply) {
        ApplyResult r;
        r.reason = QStringLiteral("the device commands are not running");
        answer(r);
        return;
    }
    const bool posted = services_.apply(document, origin,
                                        [answer](const QString &, const QString &, const QString &,
                                                 const device_data_handler::Outcome &outcome) {
                                            answer(ApplyResult::from(outcome));
                                        });
    if (!posted) {
        ApplyResult r;
        r.reason = QStringLiteral("the device commands have ended");
        answer(r);
    }
}

void DesktopHub::switchProfile(const QString &identity, int profile, const QString &origin,
                               Done done) {
    const std::optional<BookDevice> device = book_.device(identity);
    QString why;
    QString document;
    if (!device) {
        why = QStringLiteral("no connected device %1").arg(identity);
    } else if (profile < 1 || profile > device->profileCount) {
        why = QStringLiteral("profile %1 is out of range (1 to %2)")
                  .arg(profile)
                  .arg(device->profileCount);
    } else {
        document = DeviceBook::profileSwitchDocument(
            device->record.value(QLatin1String("Version")).toString(), profile);
        if (document.isEmpty())
            why = QStringLiteral("%1 does not take profile switches").arg(device->model);
    }
    if (!why.isEmpty()) {
        if (done) {
            ApplyResult r;
            r.status = ApplyResult::Dropped;
            r.reason = why;
            QMetaObject::invokeMethod(
                this, [done, r] { done(r); }, Qt::QueuedConnection);
        }
        return;
    }
    apply(document, origin, std::move(done));
}

void DesktopHub::refreshDevices() {
    if (services_.readDevicesSoon)
        services_.readDevicesSoon();
}

void DesktopHub::showWindow() {
    if (services_.showWindow)
        services_.showWindow();
}

void DesktopHub::showDevice(const QString &identity) {
    const std::optional<BookDevice> device = book_.device(identity);
    const QString path =
        device ? device->record.value(QLatin1String("DevicePath")).toString() : QString();
    pendingShowPath_ = path;
    showWindow();
    if (!path.isEmpty() && services_.pageEvents)
        services_.pageEvents->sendEvent(QStringLiteral("ShowDevice"), {path});
}

void DesktopHub::reportActiveApplication(const QString &appId, const QString &source) {
    emit activeApplicationReported(appId, source);
}

void DesktopHub::setRunningApplicationsProvider(std::function<QStringList()> provider) {
    runningApplications_ = std::move(provider);
}

void DesktopHub::devicesRead(const DeviceRecordMap &records) {
    QMetaObject::invokeMethod(
        this, [this, records] { book_.updateRecords(records); }, Qt::QueuedConnection);
}

void DesktopHub::documentDone(const QString &identity, const QString &document,
                              const QString &origin, const device_data_handler::Outcome &outcome) {
    const ApplyResult result = ApplyResult::from(outcome);
    QMetaObject::invokeMethod(
        this,
        [this, identity, document, origin, result] {
            if (result.status == ApplyResult::Applied)
                book_.noteApplied(identity, document);
            emit documentApplied(identity, document, origin, result);
        },
        Qt::QueuedConnection);
}

} // namespace torvanix

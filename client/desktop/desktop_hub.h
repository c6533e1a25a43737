#pragma once

#include "core_settings.h"
#include "device_book.h"
#include "translate/device_data_handler.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariantList>

#include <functional>

namespace torvanix {

class CommandDispatcher;
class EventSink;

// What became of a document sent by the core's own senders (D-Bus, focus, resume, lighting
// server).
struct ApplyResult {
    enum Status { Applied, WriteFailed, Dropped, Unavailable };
    Status status = Unavailable;
    QString reason; // words, for every status but Applied
    // The page events the document raised ("OnNotifySaveXml" with the answered text, ...).
    QList<QPair<QString, QVariantList>> events;

    static ApplyResult from(const device_data_handler::Outcome &outcome);
};

// The core's desktop integration in one place: the settings it acts on, what it knows of the
// devices, and one way for every sender to reach them. Lives on the GUI thread.
class DesktopHub : public QObject {
    Q_OBJECT
public:
    // What the hub needs from the rest of the core; Application fills it from the command
    // host and the window link.
    struct Services {
        CommandDispatcher *dispatcher = nullptr;
        EventSink *pageEvents = nullptr;
        // A document through the page's lane and translator; false when the commands ended.
        std::function<bool(
            const QString &document, const QString &origin,
            std::function<void(const QString &identity, const QString &document,
                               const QString &origin, const device_data_handler::Outcome &)>)>
            apply;
        std::function<void()> readDevicesSoon;
        std::function<void()> showWindow;
        QString settingsPath; // default: CoreSettings::defaultPath()
    };

    explicit DesktopHub(Services services, QObject *parent = nullptr);
    ~DesktopHub() override;

    // Starts the pieces (tray battery, notices, D-Bus, focus, resume, lighting server).
    void startPieces();
    // Ends them (before the commands go); the hub itself stays usable until deleted.
    void stopPieces();
    // A piece the hub owns from now on; ended by stopPieces() in reverse order of adoption.
    void adopt(QObject *piece);

    CoreSettings &settings() { return settings_; }
    DeviceBook &book() { return book_; }
    CommandDispatcher &dispatcher() { return *services_.dispatcher; }
    EventSink &pageEvents() { return *services_.pageEvents; }

    using Done = std::function<void(const ApplyResult &)>;
    // `done` runs on the GUI thread.
    void apply(const QString &document, const QString &origin, Done done = {});
    void switchProfile(const QString &identity, int profile, const QString &origin, Done done = {});
    void refreshDevices();
    void showWindow();
    // The window on that device's page: the page hears ShowDevice (and asks GetShowDevice
    // when it has only just loaded).
    void showDevice(const QString &identity);
    void reportActiveApplication(const QString &appId, const QString &source);
    void setRunningApplicationsProvider(std::function<QStringList()> provider);

    // From the command host, any thread: a device list read and a document's outcome.
    void devicesRead(const DeviceRecordMap &records);
    void documentDone(const QString &identity, const QString &document, const QString &origin,
                      const device_data_handler::Outcome &outcome);

signals:
    void activeApplicationReported(const QString &appId, const QString &source);
    // Every document that went through the translator, whatever its origin.
    void documentApplied(const QString &identity, const QString &document, const QString &origin,
                         const torvanix::ApplyResult &result);
    void sessionResumed();

private:
    void registerCommands();

    Services services_;
    CoreSettings settings_;
    DeviceBook book_;
    std::function<QStringList()> runningApplications_;
    QString pendingShowPath_;
    QList<QObject *> pieces_; // owned, ended before the hub
};

} // namespace torvanix

Q_DECLARE_METATYPE(torvanix::ApplyResult)

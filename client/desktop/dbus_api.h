#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHash>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace torvanix {

class DesktopHub;
struct ApplyResult;
struct BookDevice;

namespace dbus_api {
inline const char *const kService = "org.torvanix.Torvanix";
inline const char *const kRootPath = "/org/torvanix/Torvanix";
inline const char *const kRootInterface = "org.torvanix.Torvanix";
inline const char *const kDeviceInterface = "org.torvanix.Torvanix.Device";
inline const char *const kDevicePathPrefix = "/org/torvanix/Torvanix/device/";

} // namespace dbus_api

// The session bus face of the core: org.torvanix.Torvanix at /org/torvanix/Torvanix with one
// object per device below it (device/N, N = BookDevice::number). Everything goes through the
// DesktopHub the page's commands go through, so a document sent here is translated and written
// exactly as the page's would be. Method calls that wait for a device are answered later, when
// the hub reports back; nothing here waits on the GUI thread.
//
// A virtual object rather than adaptors: the device objects come and go with the devices, the
// properties they show depend on the device, and PropertiesChanged / ObjectManager signals
// must be sent by hand anyway.
class DbusApi : public QDBusVirtualObject {
    Q_OBJECT
public:
    explicit DbusApi(DesktopHub &hub, QObject *parent = nullptr);
    ~DbusApi() override;

    // Where the few lines about the bus go (default: the "torvanix.dbus" debug category).
    void setLog(std::function<void(const QString &)> log) { log_ = std::move(log); }
    // Registers the objects on `bus` and asks for the name. false (logged once) when the bus
    // cannot be reached; the core carries on without it.
    bool start(QDBusConnection bus);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void onDeviceAdded(const BookDevice &device);
    void onDeviceRemoved(const BookDevice &device);
    void onDeviceChanged(const BookDevice &device);
    void publish(const BookDevice &device, bool announce);

    bool handleRoot(const QDBusMessage &message, const QDBusConnection &connection);
    bool handleDevice(quint32 number, const QDBusMessage &message,
                      const QDBusConnection &connection);
    bool handleProperties(const QString &path, const QString &ownInterface,
                          const QVariantMap &properties, const QDBusMessage &message,
                          const QDBusConnection &connection);
    void applyDocument(const QString &document, const QDBusMessage &message);
    void switchProfile(const BookDevice &device, quint32 profile, const QDBusMessage &message,
                       const QDBusConnection &connection);
    // Keeps the call to answer once the hub reports back; the id for finish().
    quint64 hold(const QDBusMessage &message);
    void finish(quint64 id, const ApplyResult &result, bool answerWithText);

    QVariantMap rootProperties() const;
    void log(const QString &line) const;
    void sendSignal(const QString &path, const QString &interface, const QString &name,
                    const QVariantList &arguments);

    DesktopHub &hub_;
    std::function<void(const QString &)> log_;
    QDBusConnection bus_;
    bool registered_ = false;
    // What each device object showed last, by number: the base of PropertiesChanged.
    QMap<quint32, QVariantMap> shown_;
    // Calls answered once the hub reports back, by the id handed to its callback.
    QHash<quint64, QDBusMessage> pending_;
    quint64 nextPending_ = 1;
};

// Starts the API on the session bus for the core (DesktopHub::startPieces).
void startDbusApi(DesktopHub &hub);

} // namespace torvanix

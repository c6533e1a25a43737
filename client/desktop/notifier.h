#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

namespace torvanix {

// Desktop notices through the session's notification service. Sending never blocks: the call
// is asynchronous and the notice's id arrives with its answer. A key names what a notice is
// about (a device, the profile): a later notice with the same key replaces the earlier one on
// screen instead of stacking under it. Without a session bus or a notification service nothing
// is shown and nothing fails; the log says so once.
class Notifier : public QObject {
    Q_OBJECT
public:
    enum class Urgency { Low = 0, Normal = 1, Critical = 2 };

    explicit Notifier(QObject *parent = nullptr); // on the session bus
    explicit Notifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // `icon` is an icon theme name (or a file URI); empty shows the program's own icon.
    void notify(const QString &key, const QString &summary, const QString &body,
                const QString &icon = QString(), Urgency urgency = Urgency::Normal);
    // Where the one line about a missing service goes (qInfo when unset).
    void setLog(std::function<void(const QString &)> log) { log_ = std::move(log); }

signals:
    // The service took the notice for `key` and gave it `id`.
    void shown(const QString &key, quint32 id);

private:
    struct Notice {
        QString summary, body, icon;
        Urgency urgency = Urgency::Normal;
    };
    void send(const QString &key, const Notice &notice);
    void finished(const QString &key, quint32 id);
    void unavailable(const QString &why);

    QDBusConnection bus_;
    QHash<QString, quint32> ids_;
    // Keys whose notice is on its way; a newer one for the same key waits for its id (sent at
    // once it could not replace it) and only the newest waits.
    QHash<QString, bool> inFlight_;
    QHash<QString, Notice> waiting_;
    bool unavailableLogged_ = false;
    std::function<void(const QString &)> log_;
};

} // namespace torvanix

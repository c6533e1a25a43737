#include "notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QVariantMap>

namespace torvanix {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// The menu entry's name: services group the program's notices by it and take its icon.
const QString kDesktopEntry = QStringLiteral("org.torvanix.Torvanix");
} // namespace

Notifier::Notifier(QObject *parent) : Notifier(QDBusConnection::sessionBus(), parent) {}

Notifier::Notifier(const QDBusConnection &bus, QObject *parent) : QObject(parent), bus_(bus) {}

void Notifier::notify(const QString &key, const QString &summary, const QString &body,
                      const QString &icon, Urgency urgency) {
    const Notice notice{summary, body, icon, urgency};
    if (inFlight_.value(key)) {
        waiting_.insert(key, notice);
        return;
    }
    send(key, notice);
}

void Notifier::send(const QString &key, const Notice &notice) {
    if (!bus_.isConnected()) {
        unavailable(QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), kDesktopEntry);
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.urgency)));
    call << QStringLiteral("Torvanix") << ids_.value(key, 0u)
         << (notice.icon.isEmpty() ? kDesktopEntry : notice.icon) << notice.summary << notice.body
         << QStringList() << hints << qint32(-1);
    inFlight_.insert(key, true);
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            const QDBusPendingReply<quint32> reply = *w;
            if (reply.isError()) {
                unavailable(reply.error().name() + QStringLiteral(": ") + reply.error().message());
                finished(key, 0);
            } else {
                finished(key, reply.value());
            }
        });
}

void Notifier::finished(const QString &key, quint32 id) {
    inFlight_.remove(key);
    if (id) {
        ids_.insert(key, id);
        emit shown(key, id);
    }
    if (waiting_.contains(key))
        send(key, waiting_.take(key));
}

void Notifier::unavailable(const QString &why) {
    if (unavailableLogged_)
        return;
    unavailableLogged_ = true;
    const QString line = QStringLiteral("no desktop notices (%1)").arg(why);
    if (log_)
        log_(line);
    else
        qInfo().noquote() << line;
}

} // namespace torvanix

#pragma once

#include "dispatch/reply.h"

#include <QEvent>
#include <QMetaType>
#include <QString>

Q_DECLARE_METATYPE(torvanix::ReplyPtr)

namespace torvanix {

// One page query on its way to the GUI thread: the request text and the answer channel,
// which stays alive while the event is queued.
class MessageEvent : public QEvent {
public:
    MessageEvent(QString request, ReplyPtr reply)
        : QEvent(eventType()), request_(std::move(request)), reply_(std::move(reply)) {}
    static QEvent::Type eventType() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    const QString &request() const { return request_; }
    const ReplyPtr &reply() const { return reply_; }

private:
    QString request_;
    ReplyPtr reply_;
};

} // namespace torvanix

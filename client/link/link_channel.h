#pragma once

#include "link_frames.h"

#include <QObject>
#include <QPointer>

class QLocalSocket;

namespace torvanix::link {

// One end of the link over a connected local socket: frames out, frames in. Something that is
// no frame closes the connection. Everything runs on the thread the channel lives on.
class Channel : public QObject {
    Q_OBJECT
public:
    // Takes the socket over (it becomes a child); bytes already read after the hello go in
    // `pending`.
    Channel(QLocalSocket *socket, QByteArray pending, QObject *parent = nullptr);
    ~Channel() override;

    bool isOpen() const;
    void send(Kind kind, const QVariantList &fields = {});
    void close();

signals:
    void received(const torvanix::link::Frame &frame);
    // The peer went away or sent garbage; emitted once.
    void closed();

private:
    void readAll();
    void onDisconnected();

    QPointer<QLocalSocket> socket_;
    QByteArray buffer_;
    bool closed_ = false;
    // closed() has been emitted: nothing more is handed on.
    bool gone_ = false;
};

} // namespace torvanix::link

Q_DECLARE_METATYPE(torvanix::link::Frame)

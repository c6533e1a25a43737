#include "link_channel.h"

#include <QLocalSocket>
#include <QTimer>

namespace torvanix::link {

Channel::Channel(QLocalSocket *socket, QByteArray pending, QObject *parent)
    : QObject(parent), socket_(socket), buffer_(std::move(pending)) {
    qRegisterMetaType<torvanix::link::Frame>();
    socket->setParent(this);
    connect(socket, &QLocalSocket::readyRead, this, &Channel::readAll);
    connect(socket, &QLocalSocket::disconnected, this, &Channel::onDisconnected);
    // Frames that came along with the hello are handled once the owner has connected.
    if (!buffer_.isEmpty() || socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &Channel::readAll);
}

Channel::~Channel() {
    if (socket_)
        socket_->disconnect(this);
}

bool Channel::isOpen() const {
    return !closed_ && socket_ && socket_->state() == QLocalSocket::ConnectedState;
}

void Channel::send(Kind kind, const QVariantList &fields) {
    if (!isOpen())
        return;
    socket_->write(encode(Frame{kind, fields}));
}

void Channel::close() {
    if (socket_ && socket_->state() != QLocalSocket::UnconnectedState) {
        socket_->flush();
        socket_->disconnectFromServer();
    }
    onDisconnected();
}

void Channel::readAll() {
    if (closed_ || !socket_)
        return;
    buffer_.append(socket_->readAll());
    QList<Frame> frames;
    const bool good = takeFrames(buffer_, frames);
    // Handed on from the event loop, not from inside the socket's signal: a receiver may wait
    // for the next frame in an event loop of its own (a file dialog), and the socket signals
    // no new data while one of its own signals is still being handled.
    for (const Frame &frame : qAsConst(frames))
        QMetaObject::invokeMethod(
            this,
            [this, frame] {
                if (!gone_)
                    emit received(frame);
            },
            Qt::QueuedConnection);
    if (!good) {
        qWarning("link: the peer sent something that is no frame; closing");
        if (socket_)
            socket_->abort();
        onDisconnected();
    }
}

void Channel::onDisconnected() {
    if (closed_)
        return;
    closed_ = true;
    // After the frames that came before it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (gone_)
                return;
            gone_ = true;
            emit closed();
        },
        Qt::QueuedConnection);
}

} // namespace torvanix::link

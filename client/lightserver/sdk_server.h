#pragma once

#include "sdk_lighting.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace torvanix::sdk {

// The lighting server: other programs connect over TCP and drive the devices' lighting. Lives
// on one thread (the core's GUI thread) and never blocks it.
//
// Every device is one controller; its state is shared by all clients. A client's frame only
// changes that state; the device is then written through the sink with the page's own
// documents, one batch at a time per device: frames arriving meanwhile replace each other and
// the newest goes out when the batch before it is done, so nothing queues up behind a slow
// device. A client that breaks the protocol, sends more than a packet may hold, stops halfway
// through a packet or does not read its answers loses only its own connection.
class LightServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    // Unsent answers a client may leave piling up before it is dropped.
    static constexpr qint64 kMaxUnsent = 1024 * 1024;
    // How long a packet may stay incomplete.
    static constexpr int kStallMs = 10000;
    void setStallTimeout(int ms) { stallMs_ = ms; }
    static constexpr int kMaxNameLength = 64;

    // Writes one configuration document to the device `identity`; `done(ok)` runs on this
    // object's thread once it reached the device (or did not).
    using Sink = std::function<void(const QString &identity, const QString &document,
                                    const QString &origin, std::function<void(bool)> done)>;

    explicit LightServer(Sink sink, QObject *parent = nullptr);
    ~LightServer() override;

    // Stops listening first when already listening; false with error() set when the port is
    // taken or cannot be had.
    bool listen(const QHostAddress &address, quint16 port);
    // Closes the port and every client.
    void stop();
    bool isListening() const;
    QString error() const { return error_; }
    quint16 port() const;

    // The devices with lighting, in controller order. A device that stays keeps its state;
    // clients hear DeviceListUpdated whenever the list changes.
    void setDevices(const QVector<std::shared_ptr<DeviceLighting>> &devices);
    int controllerCount() const { return devices_.size(); }

    // The user changed the device's lighting himself: no client drives it until one sends
    // again, and the next frame is written whole.
    void takeBack(const QString &identity);
    // Another part of the program wrote the device's lighting: the next frame is written whole.
    void forgetSent(const QString &identity);

    // {"listening","address","port","error","clients":[{"id","name","peer","devices"}]}
    QJsonObject status() const;
    int clientCount() const { return clients_.size(); }
    // Frames taken from clients and document batches finished, for the figures.
    quint64 framesReceived() const { return framesReceived_; }
    quint64 batchesWritten() const { return batchesWritten_; }

signals:
    void statusChanged();

private:
    struct Device {
        std::shared_ptr<DeviceLighting> lighting;
        LightState state;
        std::optional<QVector<ZoneTarget>> sent;
        bool inFlight = false;
        bool pending = false;
        quint64 epoch = 0;  // counts writes by other senders
        quint32 driver = 0; // the client id driving it now, 0 none
        QString driverName;
    };
    struct Client {
        quint32 id = 0;
        QPointer<QTcpSocket> socket;
        QByteArray in;
        QString name;
        QString peer;
        quint32 version = 0;
        bool askedVersion = false;
        bool unread = false; // its unsent answers passed the bound
        QTimer *stall = nullptr;
    };

    void accept();
    void readFrom(quint32 id);
    // False when the client has to go.
    bool handle(Client &c, const Header &h, const QByteArray &payload);
    bool send(Client &c, const QByteArray &bytes);
    void drop(quint32 id, const QString &why);
    void broadcastListChanged();
    void driven(Client &c, const std::shared_ptr<Device> &d);
    void write(const std::shared_ptr<Device> &d);
    std::shared_ptr<Device> deviceAt(quint32 index) const;

    Sink sink_;
    QTcpServer *server_ = nullptr;
    QHostAddress address_;
    QString error_;
    QVector<std::shared_ptr<Device>> devices_;
    QHash<quint32, Client> clients_;
    quint32 nextClient_ = 1;
    int stallMs_ = kStallMs;
    quint64 framesReceived_ = 0;
    quint64 batchesWritten_ = 0;
};

} // namespace torvanix::sdk

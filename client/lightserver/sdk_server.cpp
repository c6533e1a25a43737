#include "sdk_server.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace torvanix::sdk {

namespace {

// Enough for a few packets at once; beyond it the peer waits (TCP flow control) until we read.
constexpr qint64 kReadBuffer = 256 * 1024;
constexpr int kMaxSegments = 32;

QString cleanName(const QString &raw, quint32 id) {
    QString name;
    for (const QChar ch : raw) {
        if (ch.isPrint())
            name.append(ch);
        if (name.size() >= LightServer::kMaxNameLength)
            break;
    }
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("client %1").arg(id) : name;
}

} // namespace

LightServer::LightServer(Sink sink, QObject *parent) : QObject(parent), sink_(std::move(sink)) {}

LightServer::~LightServer() {
    stop();
}

bool LightServer::listen(const QHostAddress &address, quint16 port) {
    stop();
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &LightServer::accept);
    address_ = address;
    if (!server_->listen(address, port)) {
        if (server_->serverError() == QAbstractSocket::AddressInUseError)
            error_ = QStringLiteral("port %1 is in use by another program").arg(port);
        else
            error_ = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(address.toString())
                         .arg(port)
                         .arg(server_->errorString());
        delete server_;
        server_ = nullptr;
        emit statusChanged();
        return false;
    }
    error_.clear();
    emit statusChanged();
    return true;
}

void LightServer::stop() {
    const bool had = server_ || !clients_.isEmpty() || !error_.isEmpty();
    const QList<quint32> ids = clients_.keys();
    for (quint32 id : ids)
        drop(id, QString());
    delete server_;
    server_ = nullptr;
    error_.clear();
    if (had)
        emit statusChanged();
}

bool LightServer::isListening() const {
    return server_ && server_->isListening();
}

quint16 LightServer::port() const {
    return server_ ? server_->serverPort() : 0;
}

void LightServer::accept() {
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        if (clients_.size() >= kMaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Client c;
        c.id = nextClient_++;
        c.socket = socket;
        c.peer =
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (c.peer.startsWith(QLatin1String("::ffff:")))
            c.peer = c.peer.mid(7);
        c.name = cleanName(QString(), c.id);
        c.stall = new QTimer(socket);
        c.stall->setSingleShot(true);
        c.stall->setInterval(stallMs_);
        socket->setReadBufferSize(kReadBuffer);
        const quint32 id = c.id;
        connect(c.stall, &QTimer::timeout, this,
                [this, id] { drop(id, QStringLiteral("a packet stayed incomplete")); });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id, QString()); });
        clients_.insert(id, c);
        emit statusChanged();
        if (socket->bytesAvailable() > 0)
            readFrom(id);
    }
}

void LightServer::readFrom(quint32 id) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->socket)
        return;
    Client &c = *it;
    QString why;
    while (why.isEmpty()) {
        const QByteArray chunk = c.socket->read(kReadBuffer);
        if (chunk.isEmpty())
            break;
        c.in.append(chunk);
        int used = 0;
        while (why.isEmpty()) {
            const QByteArray rest =
                QByteArray::fromRawData(c.in.constData() + used, c.in.size() - used);
            Header h;
            const HeaderStatus status = readHeader(rest, &h);
            if (status == HeaderStatus::NeedMore)
                break;
            if (status == HeaderStatus::BadMagic) {
                why = QStringLiteral("not a packet of the protocol");
            } else if (status == HeaderStatus::UnknownId) {
                why = QStringLiteral("unknown packet %1").arg(h.id);
            } else if (status == HeaderStatus::TooLarge) {
                why = QStringLiteral("packet of %1 bytes is too large").arg(h.size);
            } else {
                if (rest.size() < kHeaderSize + int(h.size))
                    break;
                const QByteArray payload(rest.constData() + kHeaderSize, int(h.size));
                used += kHeaderSize + int(h.size);
                if (!handle(c, h, payload))
                    why = c.unread ? QStringLiteral("it does not read its answers")
                                   : QStringLiteral("malformed packet %1").arg(h.id);
            }
        }
        c.in.remove(0, used);
    }
    if (!why.isEmpty()) {
        drop(id, why);
        return;
    }
    if (c.in.isEmpty())
        c.stall->stop();
    else if (!c.stall->isActive())
        c.stall->start();
}

bool LightServer::send(Client &c, const QByteArray &bytes) {
    if (!c.socket)
        return false;
    c.socket->write(bytes);
    c.unread = c.socket->bytesToWrite() > kMaxUnsent;
    return !c.unread;
}

std::shared_ptr<LightServer::Device> LightServer::deviceAt(quint32 index) const {
    return index < quint32(devices_.size()) ? devices_[int(index)] : nullptr;
}

bool LightServer::handle(Client &c, const Header &h, const QByteArray &payload) {
    switch (h.id) {
    case RequestProtocolVersion: {
        const quint32 theirs = decodeUint(payload).value_or(0);
        c.version = qMin(theirs, kHighestVersion);
        c.askedVersion = true;
        return send(c, packet(0, RequestProtocolVersion, encodeCount(c.version)));
    }
    case SetClientName: {
        const QString name = cleanName(decodeText(payload), c.id);
        if (name != c.name) {
            c.name = name;
            for (const auto &d : qAsConst(devices_)) {
                if (d->driver == c.id)
                    d->driverName = name;
            }
            emit statusChanged();
        }
        return true;
    }
    case RequestControllerCount:
        return send(c, packet(0, RequestControllerCount, encodeCount(quint32(devices_.size()))));
    case RequestControllerData: {
        // Without a version the client speaks the first protocol.
        const quint32 version = qMin(decodeUint(payload).value_or(0), kHighestVersion);
        const auto d = deviceAt(h.device);
        if (!d)
            return true; // a list that changed meanwhile: the client hears DeviceListUpdated
        return send(c, packet(h.device, RequestControllerData,
                              encodeControllerData(d->lighting->describe(d->state), version)));
    }
    case RequestProfileList:
    case RequestPluginList:
        // None kept here; the empty list keeps the client from waiting for an answer.
        return send(c, packet(0, h.id, encodeEmptyList()));
    case DeviceListUpdated:
    case RequestRescanDevices: // the list follows every plug and unplug already
    case SaveProfile:
    case LoadProfile:
    case DeleteProfile:
    case PluginSpecific:
    case ResizeZone: // every zone has the one size its device has
        return true;
    default:
        break;
    }

    // The packets about one controller.
    const auto d = deviceAt(h.device);
    if (!d) {
        // Still checked, so a broken packet is no less broken for naming no device.
        switch (h.id) {
        case ClearSegments:
            return decodeUint(payload).has_value();
        case AddSegment:
            return decodeAddSegment(payload).has_value();
        case UpdateLeds:
            return decodeUpdateLeds(payload).has_value();
        case UpdateZoneLeds:
            return decodeUpdateZoneLeds(payload).has_value();
        case UpdateSingleLed:
            return decodeUpdateSingleLed(payload).has_value();
        case UpdateMode:
        case SaveMode:
            return decodeUpdateMode(payload, c.version).has_value();
        default:
            return true;
        }
    }
    const DeviceLighting &l = *d->lighting;
    LightState &s = d->state;
    bool perKeyTouched = false;
    bool presetTouched = false;
    switch (h.id) {
    case ClearSegments: {
        const auto zone = decodeUint(payload);
        if (!zone)
            return false;
        if (*zone < quint32(s.segments.size()))
            s.segments[int(*zone)].clear();
        return true;
    }
    case AddSegment: {
        const auto add = decodeAddSegment(payload);
        if (!add)
            return false;
        const quint32 zone = add->zone;
        if (zone >= quint32(s.segments.size()) || s.segments[int(zone)].size() >= kMaxSegments)
            return true;
        const quint32 leds = quint32(l.zoneLedCount(int(zone)));
        const Segment &seg = add->segment;
        if (seg.start >= leds || seg.count == 0 || seg.count > leds - seg.start)
            return true;
        Segment kept = seg;
        kept.name = kept.name.left(kMaxNameLength);
        s.segments[int(zone)].append(kept);
        return true;
    }
    case UpdateLeds: {
        const auto colours = decodeUpdateLeds(payload);
        if (!colours)
            return false;
        const int n = qMin(colours->size(), s.colours.size());
        for (int i = 0; i < n; ++i)
            s.colours[i] = colours->at(i);
        for (int z = 0; z < l.zoneCount(); ++z) {
            if (l.zoneFirstLed(z) >= n)
                continue;
            (l.zonePerKey(z) ? perKeyTouched : presetTouched) = true;
        }
        break;
    }
    case UpdateZoneLeds: {
        const auto zl = decodeUpdateZoneLeds(payload);
        if (!zl)
            return false;
        if (zl->zone >= quint32(l.zoneCount()))
            return true;
        const int z = int(zl->zone);
        const int n = qMin(zl->colours.size(), l.zoneLedCount(z));
        for (int i = 0; i < n; ++i)
            s.colours[l.zoneFirstLed(z) + i] = zl->colours[i];
        if (n > 0)
            (l.zonePerKey(z) ? perKeyTouched : presetTouched) = true;
        break;
    }
    case UpdateSingleLed: {
        const auto one = decodeUpdateSingleLed(payload);
        if (!one)
            return false;
        if (one->led >= quint32(s.colours.size()))
            return true;
        s.colours[int(one->led)] = one->colour;
        for (int z = 0; z < l.zoneCount(); ++z) {
            const int first = l.zoneFirstLed(z);
            if (int(one->led) >= first && int(one->led) < first + l.zoneLedCount(z))
                (l.zonePerKey(z) ? perKeyTouched : presetTouched) = true;
        }
        break;
    }
    case SetCustomMode:
        if (l.directMode() < 0)
            return true; // no per-key colours on this device: it keeps its effect
        s.activeMode = l.directMode();
        break;
    case UpdateMode:
    case SaveMode: {
        // The device keeps what it is given, so saving is the same write.
        const auto change = decodeUpdateMode(payload, c.version);
        if (!change)
            return false;
        if (change->index >= quint32(s.modes.size()))
            return true;
        const int index = int(change->index);
        s.modes[index] = l.fitMode(index, change->mode);
        s.activeMode = index;
        if (index != l.directMode()) {
            s.presetMode = index;
            l.applyModeColour(s);
        }
        break;
    }
    default:
        return true;
    }
    if (perKeyTouched)
        s.activeMode = l.directMode();
    if (presetTouched)
        l.noteLedColours(s);
    ++framesReceived_;
    driven(c, d);
    write(d);
    return true;
}

void LightServer::driven(Client &c, const std::shared_ptr<Device> &d) {
    if (d->driver == c.id)
        return;
    d->driver = c.id;
    d->driverName = c.name;
    emit statusChanged();
}

void LightServer::write(const std::shared_ptr<Device> &d) {
    if (d->inFlight) {
        d->pending = true;
        return;
    }
    const QVector<ZoneTarget> wanted = d->lighting->targets(d->state);
    const QStringList docs = d->lighting->documents(wanted, d->sent);
    if (docs.isEmpty())
        return;
    d->inFlight = true;
    d->pending = false;
    const QString identity = d->lighting->facts().identity;
    const QString origin = QStringLiteral("sdk:") + d->driverName;
    std::weak_ptr<Device> weak = d;
    auto failed = std::make_shared<bool>(false);
    // The documents of one batch go one after the other, each when the one before is done.
    // Only the callback waiting at the sink holds the step, so it ends with the batch.
    auto step = std::make_shared<std::function<void(int)>>();
    std::weak_ptr<std::function<void(int)>> weakStep = step;
    const quint64 epoch = d->epoch;
    *step = [this, weak, weakStep, docs, identity, origin, wanted, failed, epoch](int i) {
        const auto dev = weak.lock();
        if (!dev)
            return; // the device left the list (or the server ended) meanwhile
        if (i == docs.size()) {
            dev->inFlight = false;
            ++batchesWritten_;
            // Another sender wrote the device meanwhile: what it shows is unknown again.
            if (*failed || dev->epoch != epoch)
                dev->sent.reset();
            else
                dev->sent = DeviceLighting::settle(wanted, dev->sent);
            if (dev->pending)
                write(dev);
            return;
        }
        const auto self = weakStep.lock();
        sink_(identity, docs[i], origin, [failed, self, i](bool ok) {
            if (!ok)
                *failed = true;
            (*self)(i + 1);
        });
    };
    (*step)(0);
}

void LightServer::setDevices(const QVector<std::shared_ptr<DeviceLighting>> &devices) {
    QVector<std::shared_ptr<Device>> list;
    bool changed = devices.size() != devices_.size();
    for (int i = 0; i < devices.size(); ++i) {
        const auto &lighting = devices[i];
        std::shared_ptr<Device> kept;
        for (const auto &d : qAsConst(devices_)) {
            if (d->lighting->facts().identity.compare(lighting->facts().identity,
                                                      Qt::CaseInsensitive) == 0)
                kept = d;
        }
        if (kept && kept->lighting->ledCount() == lighting->ledCount() &&
            kept->state.modes.size() == lighting->initialState().modes.size()) {
            kept->lighting = lighting;
        } else {
            kept = std::make_shared<Device>();
            kept->lighting = lighting;
            kept->state = lighting->initialState();
            changed = true;
        }
        if (!changed && devices_[i] != kept)
            changed = true;
        list.append(kept);
    }
    devices_ = list;
    if (changed) {
        broadcastListChanged();
        emit statusChanged();
    }
}

void LightServer::broadcastListChanged() {
    const QByteArray bytes = packet(0, DeviceListUpdated);
    QList<quint32> gone;
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        // The first protocol had no such notice.
        if (it->askedVersion && it->version >= 1 && !send(*it, bytes))
            gone << it->id;
    }
    for (quint32 id : gone)
        drop(id, QStringLiteral("it does not read its answers"));
}

void LightServer::takeBack(const QString &identity) {
    for (const auto &d : qAsConst(devices_)) {
        if (d->lighting->facts().identity.compare(identity, Qt::CaseInsensitive) != 0)
            continue;
        d->sent.reset();
        ++d->epoch;
        if (d->driver != 0) {
            d->driver = 0;
            d->driverName.clear();
            emit statusChanged();
        }
    }
}

void LightServer::forgetSent(const QString &identity) {
    for (const auto &d : qAsConst(devices_)) {
        if (d->lighting->facts().identity.compare(identity, Qt::CaseInsensitive) == 0) {
            d->sent.reset();
            ++d->epoch;
        }
    }
}

void LightServer::drop(quint32 id, const QString &why) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client c = *it;
    clients_.erase(it);
    if (!why.isEmpty())
        qWarning("lighting server: dropped client %s (%s): %s", qPrintable(c.name),
                 qPrintable(c.peer), qPrintable(why));
    for (const auto &d : qAsConst(devices_)) {
        if (d->driver == id) {
            d->driver = 0;
            d->driverName.clear();
        }
    }
    if (c.socket) {
        c.socket->disconnect(this);
        c.socket->abort();
        c.socket->deleteLater();
    }
    emit statusChanged();
}

QJsonObject LightServer::status() const {
    QJsonArray clients;
    QList<quint32> ids = clients_.keys();
    std::sort(ids.begin(), ids.end());
    for (quint32 id : ids) {
        const Client &c = clients_[id];
        QJsonArray driven;
        for (const auto &d : devices_) {
            if (d->driver == id)
                driven.append(d->lighting->facts().devicePath);
        }
        clients.append(QJsonObject{{QStringLiteral("id"), int(id)},
                                   {QStringLiteral("name"), c.name},
                                   {QStringLiteral("peer"), c.peer},
                                   {QStringLiteral("devices"), driven}});
    }
    return QJsonObject{{QStringLiteral("listening"), isListening()},
                       {QStringLiteral("address"), address_.toString()},
                       {QStringLiteral("port"), int(isListening() ? port() : 0)},
                       {QStringLiteral("error"), error_},
                       {QStringLiteral("clients"), clients}};
}

} // namespace torvanix::sdk

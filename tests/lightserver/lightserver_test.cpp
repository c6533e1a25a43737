// The lighting server against real sockets: what a client sees of the demo models, how frames
// become the page's documents and coalesce behind a busy device, and that no client can take
// the server or the other clients down.
#include "lightserver/sdk_lighting.h"
#include "lightserver/sdk_protocol.h"
#include "lightserver/sdk_server.h"
#include "translate/sync_model_templates.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpSocket>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>

using namespace torvanix::sdk;

namespace {

std::shared_ptr<DeviceLighting> model(const QString &name, const QString &identity) {
    torvanix::initModelTemplates();
    QFile f(QStringLiteral(":/drive/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    return DeviceLighting::fromTemplate(QString::fromUtf8(f.readAll()),
                                        {identity, QStringLiteral("path-") + identity, name, {}});
}

bool waitFor(const std::function<bool()> &done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QByteArray u32(quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray frame(int leds, quint8 shade) {
    QByteArray p = u32(quint32(4 + 2 + 4 * leds));
    p.append(char(leds & 0xff)).append(char(leds >> 8));
    for (int i = 0; i < leds; ++i)
        p.append(char(shade)).append(char(i)).append(char(0)).append(char(0));
    return p;
}

// A client that speaks the protocol by hand.
struct Peer {
    QTcpSocket socket;
    QByteArray in;
    explicit Peer(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    bool connected() {
        return waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void send(quint32 device, quint32 id, const QByteArray &payload = {}) {
        socket.write(packet(device, id, payload));
    }
    // The payload of the next packet with `id`.
    std::optional<QByteArray> answer(quint32 id, int ms = 5000) {
        std::optional<QByteArray> found;
        waitFor(
            [&] {
                in.append(socket.readAll());
                while (in.size() >= kHeaderSize) {
                    Header h;
                    if (readHeader(in, &h) != HeaderStatus::Complete ||
                        in.size() < kHeaderSize + int(h.size))
                        break;
                    const QByteArray payload = in.mid(kHeaderSize, int(h.size));
                    in.remove(0, kHeaderSize + int(h.size));
                    if (h.id == id) {
                        found = payload;
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }
    bool closedByServer() {
        return waitFor([&] {
            socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        });
    }
    bool answersCount(quint32 expected) {
        send(0, RequestControllerCount);
        const auto a = answer(RequestControllerCount);
        return a && decodeUint(*a) == expected;
    }
};

struct Write {
    QString identity, document, origin;
    std::function<void(bool)> done;
};

struct ServerFixture : ::testing::Test {
    QVector<Write> writes;
    std::unique_ptr<LightServer> server;
    quint16 port = 0;
    void SetUp() override {
        server = std::make_unique<LightServer>([this](const QString &id, const QString &doc,
                                                      const QString &origin,
                                                      std::function<void(bool)> done) {
            writes.append({id, doc, origin, std::move(done)});
        });
        server->setStallTimeout(300);
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0)) << qPrintable(server->error());
        port = server->port();
        server->setDevices({model(QStringLiteral("0c458075"), QStringLiteral("0C458075")),
                            model(QStringLiteral("TOB-NIR-V1.2.0"), QStringLiteral("TOB")),
                            model(QStringLiteral("WSU-DFO-V1.1.0"), QStringLiteral("WSU")),
                            model(QStringLiteral("258A002E"), QStringLiteral("258A002E"))});
    }
};

} // namespace

TEST(LightingModel, DemoModelsAsControllers) {
    EXPECT_EQ(model(QStringLiteral("HJE-XAV-V1.2.0"), QStringLiteral("X")), nullptr)
        << "a family that sends no lighting is no controller";

    const auto pulse = model(QStringLiteral("0c458075"), QStringLiteral("0C458075"));
    ASSERT_TRUE(pulse);
    const ControllerData kb = pulse->describe(pulse->initialState());
    EXPECT_EQ(kb.type, KeyboardType);
    ASSERT_EQ(kb.zones.size(), 1);
    EXPECT_EQ(kb.zones[0].type, MatrixZone);
    EXPECT_EQ(kb.zones[0].matrixHeight * kb.zones[0].matrixWidth,
              quint32(kb.zones[0].matrix.size()));
    EXPECT_EQ(kb.leds.first().name, QStringLiteral("ESC"));
    EXPECT_EQ(kb.zones[0].matrix.first(), 0u) << "ESC sits top left";
    EXPECT_EQ(kb.modes.last().name, QStringLiteral("Direct"));
    EXPECT_EQ(kb.modes.first().name, QStringLiteral("Effect 1"));
    EXPECT_EQ(kb.modes.size(), 21);

    const auto notebook = model(QStringLiteral("WSU-DFO-V1.1.0"), QStringLiteral("W"));
    const ControllerData nb = notebook->describe(notebook->initialState());
    EXPECT_EQ(nb.type, LedStripType);
    ASSERT_EQ(nb.zones.size(), 2);
    EXPECT_EQ(nb.zones[1].type, SingleZone);

    const auto mouse = model(QStringLiteral("258A002E"), QStringLiteral("M"));
    const ControllerData ms = mouse->describe(mouse->initialState());
    EXPECT_EQ(ms.type, MouseType);
    EXPECT_EQ(mouse->directMode(), -1);
    // Only the colour effect takes a colour on this mouse.
    EXPECT_EQ(ms.modes[2].colourMode, quint32(ModeSpecificColours));
    EXPECT_EQ(ms.modes[3].colourMode, quint32(NoColours));

    // Every version's block is as long as it says, and a later version is a longer block.
    QByteArray previous;
    for (quint32 v = 0; v <= kHighestVersion; ++v) {
        const QByteArray block = encodeControllerData(kb, v);
        EXPECT_EQ(qFromLittleEndian<quint32>(block.constData()), quint32(block.size()));
        EXPECT_GE(block.size(), previous.size());
        previous = block;
    }
}

TEST(LightingModel, DocumentsFollowThePagesEdits) {
    const auto d2 = model(QStringLiteral("TOB-NIR-V1.2.0"), QStringLiteral("TOB"));
    LightState s = d2->initialState();
    // Unknown device state: the preset goes out whole, one document per value as the page does.
    QStringList docs = d2->documents(d2->targets(s), std::nullopt);
    ASSERT_EQ(docs.size(), 5);
    EXPECT_TRUE(docs[0].contains(QStringLiteral("name=\"LightMode\" index=\"162\" length=\"1\" "
                                                "value=\"1\" default=\"1\" type=\"mode\" "
                                                "action=\"set\"")))
        << qPrintable(docs[0]);
    const auto sent = d2->targets(s);
    s.activeMode = d2->directMode();
    s.colours[0] = Colour{0x12, 0x34, 0x56};
    docs = d2->documents(d2->targets(s), sent);
    ASSERT_EQ(docs.size(), 1);
    EXPECT_TRUE(docs[0].contains(QStringLiteral("<mode name=\"LightUp\" index=\"20\" "
                                                "length=\"440\" action=\"set\">")));
    EXPECT_TRUE(docs[0].contains(QStringLiteral("<key name=\"ESC\" rc=\"0\" rgb=\"123456\" />")));
    EXPECT_EQ(docs[0].count(QStringLiteral("action=")), 1);
    const auto direct = DeviceLighting::settle(d2->targets(s), sent);
    EXPECT_TRUE(d2->documents(d2->targets(s), direct).isEmpty());

    // Back to the preset it held: the effect selection only, as the page's mode switch; a value
    // changed meanwhile follows in its own document.
    s.activeMode = s.presetMode;
    EXPECT_EQ(d2->documents(d2->targets(s), direct).size(), 1);
    s.modes[s.presetMode].speed = 1;
    docs = d2->documents(d2->targets(s), direct);
    ASSERT_EQ(docs.size(), 2);
    EXPECT_TRUE(docs[1].contains(QStringLiteral("name=\"LightSpeed\" index=\"164\" length=\"1\" "
                                                "value=\"1\" default=\"3\" type=\"range\" "
                                                "action=\"set\"")))
        << qPrintable(docs[1]);

    // The packet keyboard writes every effect value from one document.
    const auto hfd = model(QStringLiteral("0c458075"), QStringLiteral("0C458075"));
    EXPECT_EQ(hfd->documents(hfd->targets(hfd->initialState()), std::nullopt).size(), 1);
}

TEST_F(ServerFixture, FramesCoalesceBehindABusyDevice) {
    Peer p(port);
    ASSERT_TRUE(p.connected());
    p.send(0, RequestProtocolVersion, u32(9));
    const auto version = p.answer(RequestProtocolVersion);
    ASSERT_TRUE(version);
    EXPECT_EQ(decodeUint(*version), kHighestVersion) << "the lower of both";
    p.send(0, SetClientName, QByteArray("bench\x01 client\0", 15));
    ASSERT_TRUE(p.answersCount(4));
    const int leds = model(QStringLiteral("0c458075"), QStringLiteral("X"))->ledCount();
    ASSERT_GT(leds, 100);
    for (int i = 0; i < 200; ++i)
        p.send(0, UpdateLeds, frame(leds, quint8(i)));
    ASSERT_TRUE(waitFor([&] { return server->framesReceived() == 200; }));
    ASSERT_EQ(writes.size(), 1) << "one document in flight per device";
    EXPECT_EQ(writes[0].origin, QStringLiteral("sdk:bench client"));
    EXPECT_TRUE(writes[0].document.contains(QStringLiteral("rgb=\"000000\"")));
    const QJsonArray clients = server->status()[QStringLiteral("clients")].toArray();
    ASSERT_EQ(clients.size(), 1);
    EXPECT_EQ(clients[0].toObject()[QStringLiteral("devices")].toArray().first().toString(),
              QStringLiteral("path-0C458075"));

    writes[0].done(true);
    ASSERT_EQ(writes.size(), 2) << "the newest frame follows, the ones between are gone";
    EXPECT_TRUE(writes[1].document.contains(QStringLiteral("rgb=\"c70000\"")));
    writes[1].done(true);
    EXPECT_EQ(writes.size(), 2);

    // The user's own change takes the device back; the next frame is written whole again.
    server->takeBack(QStringLiteral("0c458075"));
    EXPECT_TRUE(server->status()[QStringLiteral("clients")]
                    .toArray()[0]
                    .toObject()[QStringLiteral("devices")]
                    .toArray()
                    .isEmpty());
    p.send(0, UpdateLeds, frame(leds, 199));
    ASSERT_TRUE(waitFor([&] { return writes.size() == 3; }));
}

TEST_F(ServerFixture, BadClientsLoseOnlyTheirConnection) {
    Peer good(port);
    ASSERT_TRUE(good.connected());
    good.send(0, RequestProtocolVersion, u32(5));
    ASSERT_TRUE(good.answer(RequestProtocolVersion));
    good.send(0, RequestProfileList);
    const auto profiles = good.answer(RequestProfileList);
    ASSERT_TRUE(profiles);
    EXPECT_EQ(*profiles, encodeEmptyList());

    const auto expectDropped = [&](const QByteArray &bytes, const char *what) {
        Peer bad(port);
        ASSERT_TRUE(bad.connected()) << what;
        bad.socket.write(bytes);
        EXPECT_TRUE(bad.closedByServer()) << what;
        EXPECT_TRUE(good.answersCount(4)) << what;
    };
    expectDropped("GET / HTTP/1.1\r\n\r\n", "bad magic");
    expectDropped(packet(0, 4242), "unknown packet");
    QByteArray huge = packet(0, UpdateLeds);
    qToLittleEndian(kMaxPayload + 1, huge.data() + 12);
    expectDropped(huge, "oversized size");
    expectDropped(packet(0, UpdateLeds).left(9), "truncated header");
    expectDropped(packet(0, UpdateLeds, u32(10) + QByteArray("\xff\xff", 2)), "truncated colours");

    // At most kMaxClients at once: the one after is closed at once, the others go on.
    std::vector<std::unique_ptr<Peer>> crowd;
    for (int i = 1; i < LightServer::kMaxClients; ++i) {
        crowd.push_back(std::make_unique<Peer>(port));
        ASSERT_TRUE(crowd.back()->connected());
    }
    ASSERT_TRUE(waitFor([&] { return server->clientCount() == LightServer::kMaxClients; }));
    Peer extra(port);
    EXPECT_TRUE(extra.closedByServer());
    EXPECT_TRUE(good.answersCount(4));
    crowd.clear();
    ASSERT_TRUE(waitFor([&] { return server->clientCount() == 1; }));

    // A client that never reads while it asks and sends 10,000 frames: dropped once its
    // answers pile up, while the device still gets only the newest colours.
    Peer deaf(port);
    ASSERT_TRUE(deaf.connected());
    deaf.socket.setReadBufferSize(1);
    const int leds = model(QStringLiteral("0c458075"), QStringLiteral("X"))->ledCount();
    for (int i = 0; i < 10000; ++i) {
        deaf.send(0, RequestControllerData, u32(5));
        deaf.send(0, UpdateLeds, frame(leds, quint8(i)));
    }
    EXPECT_TRUE(waitFor([&] { return server->clientCount() == 1; }, 20000));
    EXPECT_LE(writes.size(), 1);
    EXPECT_TRUE(good.answersCount(4));
    EXPECT_TRUE(server->isListening());
}

TEST_F(ServerFixture, HotPlugIsAnnouncedAndABusyPortIsReported) {
    Peer p(port);
    ASSERT_TRUE(p.connected());
    p.send(0, RequestProtocolVersion, u32(5));
    ASSERT_TRUE(p.answer(RequestProtocolVersion));
    server->setDevices({model(QStringLiteral("0c458075"), QStringLiteral("0C458075"))});
    EXPECT_TRUE(p.answer(DeviceListUpdated));
    EXPECT_TRUE(p.answersCount(1));

    LightServer other(
        [](const QString &, const QString &, const QString &, std::function<void(bool)>) {});
    EXPECT_FALSE(other.listen(QHostAddress::LocalHost, port));
    EXPECT_EQ(other.error(), QStringLiteral("port %1 is in use by another program").arg(port));
    EXPECT_FALSE(other.status()[QStringLiteral("listening")].toBool());
}

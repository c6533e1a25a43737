// Documents fired at the packet keyboard at the same time must not interleave their
// transfers: every announce is followed by its own handshake, data packets, finish and finish
// handshake before the next transfer starts.
#include "device/device_registry.h"
#include "recording_device.h"
#include "translate/device_data_handler.h"

#include <QRegularExpression>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace torvanix;
using namespace torvanix::test;

namespace {

// Records pauses and lets a little real time pass, so concurrent translations really overlap.
class YieldingPacer : public Pacer {
public:
    explicit YieldingPacer(CallLog &log) : log_(log) {}
    void pause(int ms) override {
        log_.add(QStringLiteral("pause %1").arg(ms));
        QThread::usleep(200);
    }

private:
    CallLog &log_;
};

QString doc(const QString &body) {
    return QStringLiteral("<configuration><key name=\"UsbId\" value=\"0c458075\"/>"
                          "<key name=\"CurProfile\" value=\"1\"/>%1</configuration>")
        .arg(body);
}

struct Transfer {
    QString announce;
    int packets = 0;
};

// Parses the log into transfers; returns an error text for anything out of order.
QString parseTransfers(const QStringList &log, QList<Transfer> &out) {
    const QString id = QStringLiteral("0c458075");
    int i = 0;
    auto next = [&]() { return i < log.size() ? log.at(i) : QString(); };
    while (i < log.size()) {
        const QStringList a = log.at(i).split(' ');
        if (a.value(0) != "writeSingleValue" || a.value(2) == "2")
            return QStringLiteral("line %1: expected an announce: %2").arg(i).arg(log.at(i));
        Transfer t;
        t.announce = a.value(2);
        ++i;
        if (!next().startsWith(QStringLiteral("requestPacket %1 %2 ").arg(id, t.announce)))
            return QStringLiteral("line %1: expected the handshake of %2: %3")
                .arg(i)
                .arg(t.announce, next());
        ++i;
        const QString data = t.announce == "17" ? "11" : "19";
        while (next().startsWith(QStringLiteral("writePacket %1 ").arg(id))) {
            if (!next().startsWith(QStringLiteral("writePacket %1 %2 64 ").arg(id, data)))
                return QStringLiteral("line %1: foreign packet in %2").arg(i).arg(t.announce);
            ++t.packets;
            ++i;
        }
        if (!next().startsWith(QStringLiteral("writeSingleValue %1 2 0 ").arg(id)))
            return QStringLiteral("line %1: expected the finish of %2: %3")
                .arg(i)
                .arg(t.announce, next());
        ++i;
        if (next() != QStringLiteral("requestPacket %1 2 1").arg(id))
            return QStringLiteral("line %1: expected the finish handshake of %2: %3")
                .arg(i)
                .arg(t.announce, next());
        ++i;
        if (next().startsWith(QStringLiteral("writeSingleValue %1 240 0 ").arg(id)) ||
            next().startsWith(QStringLiteral("writeSingleValue %1 24 0 ").arg(id)))
            ++i;
        out << t;
    }
    return QString();
}

} // namespace

TEST(PacketSerial, ConcurrentDocumentsNeverInterleaveTheirTransfers) {
    PublishedDevices::instance().publish(
        {{"0c458075", QJsonObject{{"Version", "0c458075"}, {"DevicePath", "p"}}}});
    RecordingDeviceOperations ops;
    YieldingPacer pacer(ops.log());
    CollectingEventSink events;
    device_data_handler handler(ops, events);
    ASSERT_TRUE(handler.loadDriverTemplate(":/drive/D4.0"));
    handler.setPacer(&pacer);
    QThreadPool pool;
    pool.setMaxThreadCount(8);
    handler.setThreadPool(&pool);

    const QString effects = doc("<light><mode name=\"Default\" action=\"set\"><key "
                                "name=\"LightMode\" value=\"3\"/></mode></light>");
    const QString colours = doc("<light><mode name=\"LightUp\" action=\"set\"><key rc=\"1\" "
                                "rgb=\"ff0000\"/></mode></light>");
    const QString keys = doc("<key name=\"Button1\" rc=\"0\" type=\"KEYBOARD\" task=\"A\" "
                             "action=\"set\"/>");
    const QString power = doc("<key name=\"Power\" action=\"set\"/>");
    const QString macros = QStringLiteral("[{\"content\":\"键盘按下(A)延迟(10)键盘弹起(A):1\"}]");

    std::vector<std::thread> senders;
    for (int round = 0; round < 3; ++round) {
        senders.emplace_back([&] { handler.writeDevice(effects); });
        senders.emplace_back([&] { handler.writeDevice(colours); });
        senders.emplace_back([&] { handler.writeDevice(keys); });
        senders.emplace_back([&] { handler.writeDevice(power); });
        senders.emplace_back([&] { handler.noticeMacoModify("0C458075", macros); });
    }
    for (std::thread &t : senders)
        t.join();
    ASSERT_TRUE(handler.waitForDone(60000));

    QList<Transfer> transfers;
    const QStringList log = ops.calls().filter(QRegularExpression("^(?!pause)"));
    const QString error = parseTransfers(log, transfers);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(transfers.size(), 15);
    int byKind[4] = {};
    for (const Transfer &t : transfers) {
        if (t.announce == "19")
            ++byKind[t.packets == 6 ? 0 : 1];
        else if (t.announce == "17")
            ++byKind[2];
        else if (t.announce == "21" || t.announce == "97")
            ++byKind[3];
    }
    EXPECT_EQ(byKind[0], 3);              // lighting effects
    EXPECT_EQ(byKind[1], 3);              // per-key colours
    EXPECT_EQ(byKind[2], 3);              // key tables
    EXPECT_EQ(byKind[3], 6);              // macro tables and power queries
    EXPECT_EQ(events.texts().size(), 12); // every keyboard document is echoed
}

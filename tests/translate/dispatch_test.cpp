// Dispatch of configuration documents: identity normalisation, the translator table, dropped
// documents, and the per-device serialisation of translations.

#include "device/device_registry.h"
#include "recording_device.h"
#include "translate/device_data_handler.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

using namespace torvanix;
using namespace torvanix::test;
using Dispatch = device_data_handler::Dispatch;

namespace {

QString doc(const QString &identity, const QString &body = QString()) {
    return QStringLiteral("<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" value=\"%1\"/>"
                          "%2</configuration>")
        .arg(identity, body);
}

void publish(const QStringList &identities) {
    DeviceRecordMap records;
    for (const QString &id : identities)
        records.insert(id, QJsonObject{{QStringLiteral("DevicePath"), QStringLiteral("/p/") + id}});
    PublishedDevices::instance().publish(records);
}

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() : ops(log), pacer(log), handler(ops, events) {
        handler.setPacer(&pacer);
        handler.setThreadPool(&pool);
        handler.loadDriverTemplate(QStringLiteral(":/drive/D2.0"));
        handler.loadDriverTemplate(QStringLiteral(":/drive/D3.0"));
        handler.loadDriverTemplate(QStringLiteral(":/drive/D4.0"));
    }
    ~DispatchTest() override { handler.waitForDone(); }

    CallLog log;
    RecordingDeviceOperations ops;
    RecordingPacer pacer;
    CollectingEventSink events;
    QThreadPool pool;
    device_data_handler handler;
};

TEST_F(DispatchTest, TranslatorTable) {
    auto name = [](const char *id) {
        return device_data_handler::translatorName(
                   device_data_handler::normaliseIdentity(QString::fromLatin1(id)))
            .toStdString();
    };
    EXPECT_EQ(name("0c458075"), "hfd");
    EXPECT_EQ(name("05AC024F"), "keyboard-d4");
    EXPECT_EQ(name("258a002e"), "mouse-d3");
    EXPECT_EQ(name("SYNC"), "sync");
    EXPECT_EQ(name("sync"), "sync");
    EXPECT_EQ(name("HJE-XAV-V1.2.0"), "hje");
    EXPECT_EQ(name("HJE-XAV-V1.1.0"), "hje");
    EXPECT_EQ(name("QPA-RTE-V1.1.0"), "qpa");
    EXPECT_EQ(name("qpa-rte-v1.1.0"), "qpa");
    EXPECT_EQ(name("WSU-DFO-V1.1.0.6"), "generic-d2");
    EXPECT_EQ(name("HJE-XAV-V1.3.0"), "generic-d2");
    EXPECT_EQ(device_data_handler::normaliseIdentity(QStringLiteral("WSU-DFO-V1.1.0.6")),
              "WSU-DFO-V1.1.0");
    // The replacement is case-sensitive and happens before upper-casing.
    EXPECT_EQ(device_data_handler::normaliseIdentity(QStringLiteral("wsu-dfo-v1.1.0.6")),
              "WSU-DFO-V1.1.0.6");
}

TEST_F(DispatchTest, DroppedDocuments) {
    publish({QStringLiteral("WSU-DFO-V1.1.0")});
    EXPECT_EQ(handler.writeDevice(QStringLiteral("<configuration><key")), Dispatch::ParseFailure);
    EXPECT_EQ(handler.writeDevice(QStringLiteral("<configuration/>")), Dispatch::NoIdentity);
    EXPECT_EQ(handler.writeDevice(doc(QString())), Dispatch::NoIdentity);
    EXPECT_EQ(handler.writeDevice(doc(QStringLiteral("ABC-XYZ-V9"))), Dispatch::UnknownDevice);
    // A record without content counts as unknown.
    PublishedDevices::instance().publish({{QStringLiteral("EMPTY-REC-V1"), QJsonObject()}});
    EXPECT_EQ(handler.writeDevice(doc(QStringLiteral("EMPTY-REC-V1"))), Dispatch::UnknownDevice);
    handler.slot_writeDevice(
        doc(QStringLiteral("ABC-XYZ-V9"), "<key index=\"11\" action=\"delete\"/>"));
    EXPECT_TRUE(handler.waitForDone(5000));
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(DispatchTest, NormalisedIdentityFindsTheDeviceAndTheDocumentStaysUnchanged) {
    publish({QStringLiteral("WSU-DFO-V1.1.0")});
    ASSERT_EQ(
        handler.writeDevice(doc(QStringLiteral("WSU-DFO-V1.1.0.6"),
                                "<key name=\"Route\" index=\"160\" value=\"1\" action=\"set\"/>")),
        Dispatch::Started);
    ASSERT_TRUE(handler.waitForDone(5000));
    EXPECT_EQ(log.lines(), QStringList{"writeProperty WSU-DFO-V1.1.0 160 1 1"});

    // Registered in lower case, asked in upper case (and the reverse): the same device.
    publish({QStringLiteral("abc-def-v1.0.0")});
    EXPECT_EQ(handler.writeDevice(doc(QStringLiteral("ABC-DEF-V1.0.0"))), Dispatch::Started);
    publish({QStringLiteral("0C458075")});
    EXPECT_EQ(handler.writeDevice(doc(QStringLiteral("0c458075"))), Dispatch::Started);
    EXPECT_TRUE(handler.waitForDone(5000));
}

TEST_F(DispatchTest, SyncNeedsNoDeviceRecord) {
    publish({});
    EXPECT_EQ(handler.writeDevice(doc(QStringLiteral("SYNC"), "<devices/>")), Dispatch::Started);
    EXPECT_TRUE(handler.waitForDone(5000));
    EXPECT_TRUE(events.events().isEmpty());
}

TEST_F(DispatchTest, NineStringSlotWritesOneMouseRecord) {
    QSignalSpy spy(&handler, &device_data_handler::SigcallbackReasult);
    handler.slot_writeDevice(QStringLiteral("HJE-XAV-V1.2.0"), QStringLiteral("17"),
                             QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("KEYBOARD"), QStringLiteral("B"), QStringLiteral("10"),
                             QStringLiteral("0"));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    EXPECT_EQ(log.lines(),
              QStringList{"writeProperty HJE-XAV-V1.2.0 17 15 "
                          "0x01,1,3,0,0,0x00,0x00,0x00,0x00,0x00,0x00,0x02,05,0x00,0"});
    // A long macro: 100 pauses are 300 step bytes; the count's high byte is kept.
    QString pauses;
    for (int i = 0; i < 100; ++i)
        pauses += QStringLiteral("延迟(1)");
    handler.slot_writeDevice(QStringLiteral("HJE-XAV-V1.2.0"), QStringLiteral("17"),
                             QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("MACRO"), pauses + QStringLiteral(":1|0|1"),
                             QStringLiteral("10"), QStringLiteral("0"));
    const QStringList macro = log.lines().last().split(' ');
    EXPECT_EQ(macro.at(3), "315");
    EXPECT_TRUE(macro.at(4).startsWith("0x01,1,3,0,0,0x00,0x00,0x00,0x00,0x00,0x00,0x04,2c,6c,1,"
                                       "0x06,1,0,"));
    ops.writeResult = false;
    handler.slot_writeDevice(QStringLiteral("HJE-XAV-V1.2.0"), QStringLiteral("17"),
                             QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("KEYBOARD"), QString(), QStringLiteral("10"),
                             QStringLiteral("0"));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_FALSE(spy.at(2).at(0).toBool());
}

TEST_F(DispatchTest, DocumentsForOneDeviceAreAppliedInArrivalOrder) {
    publish({QStringLiteral("WSU-DFO-V1.1.0")});
    pool.setMaxThreadCount(4);
    QStringList expected;
    for (int v = 1; v <= 40; ++v) {
        ASSERT_EQ(handler.writeDevice(doc(QStringLiteral("WSU-DFO-V1.1.0"),
                                          QStringLiteral("<key name=\"Route\" index=\"160\" "
                                                         "value=\"%1\" action=\"set\"/>")
                                              .arg(v))),
                  Dispatch::Started);
        expected << QStringLiteral("writeProperty WSU-DFO-V1.1.0 160 1 %1").arg(v, 0, 16);
    }
    ASSERT_TRUE(handler.waitForDone(10000));
    EXPECT_EQ(log.lines(), expected);
}

// Device operations whose writes take a while.
class SlowOps : public RecordingDeviceOperations {
public:
    using RecordingDeviceOperations::RecordingDeviceOperations;
    bool writeProperty(const QString &identity, const QString &address, const QString &cs,
                       const QString &count) override {
        QThread::msleep(150);
        return RecordingDeviceOperations::writeProperty(identity, address, cs, count);
    }
};

TEST(DispatchWaiting, WaitWithoutLimitWaitsForEveryTranslation) {
    publish({QStringLiteral("WSU-DFO-V1.1.0")});
    CallLog log;
    SlowOps ops(log);
    CollectingEventSink events;
    QThreadPool pool;
    device_data_handler handler(ops, events);
    handler.setThreadPool(&pool);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(handler.writeDevice(
                      doc(QStringLiteral("WSU-DFO-V1.1.0"),
                          "<key name=\"Route\" index=\"160\" value=\"1\" action=\"set\"/>")),
                  Dispatch::Started);
    EXPECT_EQ(handler.pendingTranslations(), 3);
    EXPECT_FALSE(handler.waitForDone(10));
    EXPECT_TRUE(handler.waitForDone());
    EXPECT_EQ(handler.pendingTranslations(), 0);
    EXPECT_EQ(log.lines().size(), 3);
}

// The owner destroys the handler as soon as waiting returns (the command-line tool and the
// window's shutdown do): no pool thread may touch it afterwards. Under the address sanitizer a
// late touch is reported as a use after free; in a plain build it crashed now and then.
TEST(DispatchWaiting, HandlerCanBeDestroyedAsSoonAsWaitingReturns) {
    publish({QStringLiteral("WSU-DFO-V1.1.0")});
    CallLog log;
    RecordingDeviceOperations ops(log);
    CollectingEventSink events;
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    for (int i = 0; i < 2000; ++i) {
        auto handler = std::make_unique<device_data_handler>(ops, events);
        handler->setThreadPool(&pool);
        ASSERT_EQ(handler->writeDevice(
                      doc(QStringLiteral("WSU-DFO-V1.1.0"),
                          "<key name=\"Route\" index=\"160\" value=\"1\" action=\"set\"/>")),
                  Dispatch::Started);
        // Every other round polls instead of waiting, which ends the wait sooner still.
        if (i % 2) {
            while (handler->pendingTranslations() > 0)
                QThread::yieldCurrentThread();
        } else {
            ASSERT_TRUE(handler->waitForDone(10000));
        }
        handler.reset();
    }
    pool.waitForDone();
    EXPECT_EQ(log.lines().size(), 2000);
}

// Device operations that record which translation (by its DPI level) each write belongs to,
// and hold a write of device A until a write of device B has started.
class GatedOps : public RecordingDeviceOperations {
public:
    using RecordingDeviceOperations::RecordingDeviceOperations;
    bool writeProperty(const QString &identity, const QString &address, const QString &cs,
                       const QString &count) override {
        const int now = ++active[identity == QLatin1String("DEV-B-V1") ? 1 : 0];
        if (now > 1)
            overlap = true;
        if (identity == QLatin1String("DEV-B-V1"))
            bStarted.release(1000);
        if (identity == QLatin1String("DEV-A-V1") && gateA)
            sawParallel = bStarted.tryAcquire(1, 5000) || sawParallel;
        QThread::usleep(200);
        --active[identity == QLatin1String("DEV-B-V1") ? 1 : 0];
        return RecordingDeviceOperations::writeProperty(identity, address, cs, count);
    }
    std::atomic<int> active[2] = {{0}, {0}};
    std::atomic<bool> overlap{false};
    std::atomic<bool> sawParallel{false};
    bool gateA = false;
    QSemaphore bStarted;
};

QString dpiDoc(const char *identity, int level) {
    return doc(
        QString::fromLatin1(identity),
        QStringLiteral("<dpi index=\"180\" current=\"%1\" action=\"set\">"
                       "<key name=\"Dpi%1\" index=\"%2\" sync=\"1\" x=\"%3\" y=\"%3\"/></dpi>")
            .arg(level)
            .arg(190 + level)
            .arg(level * 100));
}

TEST(DispatchConcurrency, OneDeviceNeverInterleavesDifferentDevicesRunTogether) {
    publish({QStringLiteral("DEV-A-V1"), QStringLiteral("dev-b-v1")});
    CallLog log;
    GatedOps ops(log);
    RecordingPacer pacer(log);
    CollectingEventSink events;
    QThreadPool pool;
    pool.setMaxThreadCount(6);
    device_data_handler handler(ops, events);
    handler.setPacer(&pacer);
    handler.setThreadPool(&pool);
    ASSERT_TRUE(handler.loadDriverTemplate(QStringLiteral(":/drive/D2.0")));

    for (int level = 1; level <= 12; ++level) {
        ASSERT_EQ(handler.writeDevice(dpiDoc("DEV-A-V1", level)), Dispatch::Started);
        // The same device written in another case is still the same device.
        ASSERT_EQ(handler.writeDevice(dpiDoc(level % 2 ? "dev-a-v1" : "DEV-A-V1", level + 20)),
                  Dispatch::Started);
    }
    ASSERT_TRUE(handler.waitForDone(30000));
    EXPECT_FALSE(ops.overlap);

    // Every translation's two writes follow each other directly.
    QStringList writes;
    for (const QString &l : log.lines())
        if (l.startsWith(QLatin1String("writeProperty")))
            writes << l;
    ASSERT_EQ(writes.size(), 48);
    for (int i = 0; i < writes.size(); i += 2) {
        const QStringList sel = writes.at(i).split(' '), rec = writes.at(i + 1).split(' ');
        EXPECT_EQ(sel.at(2), "180");
        EXPECT_EQ(rec.at(2).toInt(), 190 + sel.at(4).toInt()) << writes.at(i).toStdString();
    }

    // A translation of device A that waits inside its write for device B completes: B was not
    // held up by A's lock.
    ops.gateA = true;
    ASSERT_EQ(handler.writeDevice(dpiDoc("DEV-A-V1", 1)), Dispatch::Started);
    QThread::msleep(20);
    ASSERT_EQ(handler.writeDevice(dpiDoc("DEV-B-V1", 2)), Dispatch::Started);
    ASSERT_TRUE(handler.waitForDone(30000));
    EXPECT_TRUE(ops.sawParallel);
}

} // namespace

// Golden documents of the D2.0 families: every data/d2/<case>.xml is dispatched like a page
// document and must produce exactly the device calls and pauses of <case>.calls, in order.
// <case>.setup scripts the device: "read <address> <reply>", "report <hex bytes>",
// "blank <address> <0|1>".

#include "device/device_registry.h"
#include "recording_device.h"
#include "translate/device_data_handler.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThreadPool>
#include <gtest/gtest.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

QString dataDir() {
    return QStringLiteral(TORVANIX_TEST_DATA_DIR "/d2");
}

QString readText(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QStringList lines(const QString &text) {
    QStringList out = text.split(QLatin1Char('\n'));
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

void applySetup(RecordingDeviceOperations &ops, const QString &setup) {
    for (const QString &line : lines(setup)) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.value(0) == QLatin1String("read"))
            ops.setReadReply(f.value(1).toInt(), f.value(2));
        else if (f.value(0) == QLatin1String("report"))
            ops.queueInputReport(
                QByteArray::fromHex(f.value(1).remove(QLatin1Char(',')).toLatin1()));
        else if (f.value(0) == QLatin1String("blank"))
            ops.setAreaBlank(f.value(1).toInt(), f.value(2) == QLatin1String("1"));
    }
}

void publishGoldenDevices() {
    DeviceRecordMap records;
    for (const char *id : {"WSU-DFO-V1.1.0", "QPA-RTE-V1.1.0", "HJE-XAV-V1.2.0", "HJE-XAV-V1.1.0"})
        records.insert(QString::fromLatin1(id),
                       QJsonObject{{QStringLiteral("DevicePath"), QStringLiteral("/sim/x")}});
    PublishedDevices::instance().publish(records);
}

class GoldenD2 : public ::testing::TestWithParam<QString> {};

TEST_P(GoldenD2, ProducesTheRecordedDeviceCalls) {
    publishGoldenDevices();
    const QString base = dataDir() + QLatin1Char('/') + GetParam();
    CallLog log;
    RecordingDeviceOperations ops(log);
    RecordingPacer pacer(log);
    CollectingEventSink events;
    applySetup(ops, readText(base + QStringLiteral(".setup")));

    QThreadPool pool;
    device_data_handler handler(ops, events);
    handler.setPacer(&pacer);
    handler.setThreadPool(&pool);
    ASSERT_TRUE(handler.loadDriverTemplate(QStringLiteral(":/drive/D2.0")));
    ASSERT_EQ(handler.writeDevice(readText(base + QStringLiteral(".xml"))),
              device_data_handler::Dispatch::Started);
    ASSERT_TRUE(handler.waitForDone(10000));

    const QStringList expected = lines(readText(base + QStringLiteral(".calls")));
    const QStringList actual = log.lines();
    for (int i = 0; i < qMax(expected.size(), actual.size()); ++i)
        EXPECT_EQ(actual.value(i).toStdString(), expected.value(i).toStdString())
            << "call " << i << " of " << GetParam().toStdString();
    EXPECT_EQ(ops.refusedWrites(), 0) << "a write's item count differs from its count";
}

std::vector<QString> goldenCases() {
    std::vector<QString> out;
    const QStringList files =
        QDir(dataDir()).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    for (const QString &f : files)
        out.push_back(f.chopped(4));
    return out;
}

INSTANTIATE_TEST_SUITE_P(Documents, GoldenD2, ::testing::ValuesIn(goldenCases()),
                         [](const ::testing::TestParamInfo<QString> &info) {
                             return info.param.toStdString();
                         });

TEST(GoldenD2Data, EveryFamilyHasDocuments) {
    int generic = 0, qpa = 0, hje = 0;
    for (const QString &c : goldenCases()) {
        generic += c.startsWith(QLatin1Char('g'));
        qpa += c.startsWith(QLatin1Char('q'));
        hje += c.startsWith(QLatin1Char('h'));
    }
    EXPECT_GE(generic, 30);
    EXPECT_GE(qpa, 8);
    EXPECT_GE(hje, 6);
}

} // namespace

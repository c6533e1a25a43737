// torvanix-ctl list / read-property / write-property against the simulated libraries.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

class Ctl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QFile::copy(QStringLiteral(TORVANIX_SOURCE_DIR "/devices/simulator/demo-devices.json"),
                    dir.filePath("devices.json"));
    }

    Result run(const QStringList &args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TORVANIX_SIM_DEVICES", dir.filePath("devices.json"));
        env.insert("TORVANIX_SIM_STATE", dir.filePath("state.json"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TORVANIX_CTL),
                QStringList{"--devices", TORVANIX_PROGRAM_DIR, "--no-pause"} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Ctl, ListPrintsTheDeviceArrayOnOneLine) {
    const Result r = run({"list"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_TRUE(r.out.endsWith('\n'));
    EXPECT_EQ(r.out.count('\n'), 1);
    const QJsonArray list = QJsonDocument::fromJson(r.out.toUtf8()).array();
    QStringList versions;
    for (const QJsonValue &v : list)
        versions << v.toObject().value("Version").toString();
    EXPECT_EQ(versions, (QStringList{"05AC024F", "0c458075", "19563010", "258A002E",
                                     "HJE-XAV-V1.2.0", "HJE-XUB-V1.5.0", "QPA-RTE-V1.1.0",
                                     "TOB-NIR-V1.2.0", "WSU-DFO-V1.1.0"}));
    // Keys in alphabetical order, as the page has always received them.
    EXPECT_TRUE(r.out.startsWith(R"([{"DevicePath":")"));
    EXPECT_TRUE(r.out.contains(R"({"Version":"19563010"})"));
    EXPECT_TRUE(r.out.contains(R"({"Battery":"100","BluetoothVersion":"","ConnectStatus":"1",)"
                               R"("DevicePath":")"));
}

TEST_F(Ctl, PropertyRoundTripAcrossProcesses) {
    Result w = run({"write-property", "TOB-NIR-V1.2.0", "30", "0x0a,ff,0", "3"});
    ASSERT_EQ(w.exitCode, 0) << w.err.toStdString();
    Result r = run({"read-property", "tob-nir-v1.2.0", "30", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0x0a,0xff,0x00\n");

    // A device that is not listed: a device failure, not a usage error.
    EXPECT_EQ(run({"read-property", "NOT-THERE", "30", "3"}).exitCode, 1);
    EXPECT_EQ(run({"write-property", "NOT-THERE", "30", "1", "1"}).exitCode, 1);
}

TEST_F(Ctl, BadArgumentsAreUsageErrors) {
    const QList<QStringList> bad = {
        {"read-property", "TOB-NIR-V1.2.0", "x", "3"},
        {"read-property", "TOB-NIR-V1.2.0", "256", "3"},
        {"read-property", "TOB-NIR-V1.2.0", "1", "2041"},
        {"read-property", "TOB-NIR-V1.2.0", "1", "-1"},
        {"read-property", "TOB-NIR-V1.2.0", "1"},
        {"write-property", "TOB-NIR-V1.2.0", "1", "0x01,0x02", "3"},
        {"write-property", "TOB-NIR-V1.2.0", "1", "0x01", "abc"},
        {"write-property", "", "1", "0x01", "1"},
        {"list", "extra"},
    };
    for (const QStringList &args : bad) {
        const Result r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// The device operations against the simulated device access libraries in the program folder.
#include "device/device_catalogue.h"
#include "device/device_functions.h"
#include "device/library_loader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

const QString kTobNir = QStringLiteral("TOB-NIR-V1.2.0");

class Simulated : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        devicesFile = dir.filePath("devices.json");
        QFile::copy(QStringLiteral(TORVANIX_SOURCE_DIR "/devices/simulator/demo-devices.json"),
                    devicesFile);
        qputenv("TORVANIX_SIM_DEVICES", devicesFile.toLocal8Bit());
        qputenv("TORVANIX_SIM_STATE", dir.filePath("state.json").toLocal8Bit());
        setDevicesDirectory(QStringLiteral(TORVANIX_PROGRAM_DIR));
        setFlaggedDeviceSeen(0);
        devices = std::make_unique<DeviceFunctions>();
        ASSERT_TRUE(devices->libraryLoaded());
    }
    void TearDown() override {
        devices.reset();
        PublishedDevices::instance().publish({});
        setDevicesDirectory(QString());
        setFlaggedDeviceSeen(0);
        qunsetenv("TORVANIX_SIM_DEVICES");
        qunsetenv("TORVANIX_SIM_STATE");
    }

    void writeDeviceSet(const QJsonArray &set) {
        QFile f(devicesFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(set).toJson());
    }

    QJsonArray demoSet() const {
        QFile f(QStringLiteral(TORVANIX_SOURCE_DIR "/devices/simulator/demo-devices.json"));
        f.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(f.readAll()).array();
    }

    DeviceRecordMap listAndPublish() {
        const DeviceRecordMap records = devices->enumerateDevices();
        PublishedDevices::instance().publish(records);
        return records;
    }

    QTemporaryDir dir;
    QString devicesFile;
    std::unique_ptr<DeviceFunctions> devices;
};

} // namespace

TEST_F(Simulated, DemoSetClassifiesAsPredicted) {
    const DeviceRecordMap records = listAndPublish();
    EXPECT_EQ(records.keys(), (QStringList{"05AC024F", "0c458075", "19563010", "258A002E",
                                           "HJE-XAV-V1.2.0", "HJE-XUB-V1.5.0", "QPA-RTE-V1.1.0",
                                           "TOB-NIR-V1.2.0", "WSU-DFO-V1.1.0"}));
    const QJsonObject tob = records.value(kTobNir);
    EXPECT_EQ(tob.value("Sn").toString(), "TN00130000A001");
    EXPECT_EQ(tob.value("Battery").toString(), "100");
    EXPECT_EQ(tob.value("ConnectStatus").toString(), "1");
    EXPECT_EQ(tob.value("ProfileCount").toString(), "4");
    EXPECT_EQ(tob.value("BluetoothVersion").toString(), "");
    EXPECT_EQ(tob.value("LastVersionNum").toString(), "");
    EXPECT_TRUE(tob.value("DevicePath").toString().contains("vid_258a&pid_0013&mi_01&col02"));
    EXPECT_EQ(tob.size(), 8);

    const QJsonObject qpa = records.value("QPA-RTE-V1.1.0");
    EXPECT_EQ(qpa.value("BluetoothVersion").toString(), "1.02");
    EXPECT_EQ(qpa.value("LastVersionNum").toString(), "12");
    EXPECT_EQ(records.value("HJE-XAV-V1.2.0").value("BluetoothVersion").toString(), "");
    EXPECT_EQ(records.value("WSU-DFO-V1.1.0").value("LastVersionNum").toString(), "6");
    EXPECT_EQ(records.value("19563010"), QJsonObject({{"Version", "19563010"}}));
    EXPECT_EQ(records.value("05AC024F").size(), 2);
    EXPECT_EQ(records.value("258A002E").value("Version").toString(), "258A002E");
    EXPECT_EQ(records.value("0c458075").value("Version").toString(), "0c458075");
    EXPECT_EQ(flaggedDeviceSeen(), 1);
}

TEST_F(Simulated, CompanionInterfaceHiddenOnceTheFlaggedDeviceWasListed) {
    QJsonArray set = demoSet();
    // Companion first, then the flagged keyboard; nothing else.
    QJsonArray reordered;
    reordered << set.at(1) << set.at(0);
    writeDeviceSet(reordered);
    EXPECT_EQ(listAndPublish().keys(), (QStringList{"248A2002", kTobNir}));

    // Unplugging the keyboard does not bring the companion back.
    QJsonArray companionOnly;
    companionOnly << set.at(1);
    writeDeviceSet(companionOnly);
    EXPECT_TRUE(listAndPublish().isEmpty());
}

TEST_F(Simulated, PropertyRoundTripAndUnpluggedDevice) {
    listAndPublish();
    EXPECT_TRUE(devices->writeProperty(kTobNir, "23", "0x01,0x02,0x1ff", "3"));
    EXPECT_EQ(devices->readProperty(kTobNir, 23, 3), "0x01,0x02,0xff");
    EXPECT_EQ(devices->readProperty("tob-nir-v1.2.0", 23, 4), "0x01,0x02,0xff,0x00");
    EXPECT_EQ(devices->readProperty("tob-nir-v1.2.0", 23 + 256, 4), "") << "no wrap";
    EXPECT_FALSE(devices->writeProperty(kTobNir, "23", "0x01,0x02", "3"));
    EXPECT_FALSE(devices->isAreaBlank(kTobNir, 23, 3));
    EXPECT_TRUE(devices->clearArea(kTobNir, 23, 3));
    EXPECT_TRUE(devices->isAreaBlank(kTobNir, 23, 3));

    // Until the list is published again, operations still reach for the old path.
    QJsonArray set = demoSet();
    set.removeAt(0);
    writeDeviceSet(set);
    EXPECT_FALSE(devices->writeProperty(kTobNir, "23", "0x01", "1"));
    EXPECT_FALSE(listAndPublish().contains(kTobNir));
    EXPECT_FALSE(devices->writeProperty(kTobNir, "23", "0x01", "1"));
    EXPECT_FALSE(devices->resetDevice(kTobNir));
}

TEST_F(Simulated, DpiQueryAnswersThroughAnInputReport) {
    listAndPublish();
    EXPECT_TRUE(devices->writeProperty(kTobNir, "41", "0x05", "1"));
    uint8_t report[64] = {};
    ASSERT_GT(devices->readInputReport(kTobNir, report, 64, 100), 2);
    EXPECT_EQ(report[0], 0x05);
    EXPECT_EQ(report[2], 41);
    EXPECT_EQ(devices->readInputReport(kTobNir, report, 64, 100), 0);
}

TEST_F(Simulated, PacketTransferWithPassedThroughCount) {
    listAndPublish();
    const QString id = QStringLiteral("0C458075"); // as the dispatcher writes it
    QStringList packet;
    for (int i = 0; i < 64; ++i)
        packet << QStringLiteral("0x%1").arg(i, 2, 16, QLatin1Char('0'));
    EXPECT_TRUE(devices->writeSingleValue(id, "21", "0x00", "2"));
    EXPECT_EQ(devices->requestPacket(id, 21, 6), "0x01,0x15,0x02,0x00,0x00,0x00");
    EXPECT_TRUE(devices->writePacket(id, "19", packet.join(','), "64"));
    EXPECT_TRUE(devices->writePacket(id, "19", packet.join(','), "64"));
    EXPECT_TRUE(devices->writeSingleValue(id, "2", "0x00", "0"));
    EXPECT_EQ(devices->requestPacket(id, 2, 2), "0x01,0x02");
    EXPECT_TRUE(devices->writeSingleValue(id, "240", "0x00", "0"));

    // A packet beyond the announced count spoils the transfer.
    EXPECT_TRUE(devices->writeSingleValue(id, "21", "0x00", "1"));
    EXPECT_TRUE(devices->writePacket(id, "19", packet.join(','), "64"));
    EXPECT_FALSE(devices->writePacket(id, "19", packet.join(','), "64"));
    devices->writeSingleValue(id, "2", "0x00", "0");
    EXPECT_EQ(devices->requestPacket(id, 2, 2), "0xff,0x02");
    EXPECT_TRUE(devices->resetDevice(id));
}

TEST_F(Simulated, LibraryFamiliesThroughTheirWrappers) {
    listAndPublish();
    EXPECT_TRUE(devices->keyboard().setKey("KEYBOARD", 4, "0,17,4"));
    EXPECT_TRUE(devices->keyboard().setMacro(QByteArray(4096, '\x01')));
    EXPECT_TRUE(devices->mouse().setLightColor(1, 0, 0, 0, 255, 0, 0));

    // The keyboard library refuses once its keyboard is gone.
    QJsonArray set = demoSet();
    for (int i = set.size() - 1; i >= 0; --i) {
        if (set.at(i).toObject().value("path").toString().contains("pid_024f"))
            set.removeAt(i);
    }
    writeDeviceSet(set);
    EXPECT_FALSE(listAndPublish().contains("05AC024F"));
    EXPECT_FALSE(devices->keyboard().setMacro(QByteArray(4096, '\x01')));
}

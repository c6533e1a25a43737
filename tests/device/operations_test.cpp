#include "description_builder.h"
#include "fake_usb.h"

#include "device/command_bytes.h"
#include "device/device_functions.h"
#include "device/kb_handler.h"
#include "device/ms_handler.h"

#include <gtest/gtest.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

const QString kPath = QStringLiteral("\\\\?\\hid#vid_258a&pid_0013&mi_01&col02#1");
const QString kPacketPath = QStringLiteral("\\\\?\\hid#vid_0c45&pid_8075&mi_00#1");

class Operations : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceRecordMap records;
        records.insert("TOB-NIR-V1.2.0",
                       QJsonObject{{"DevicePath", kPath}, {"Version", "TOB-NIR-V1.2.0"}});
        records.insert("0c458075",
                       QJsonObject{{"DevicePath", kPacketPath}, {"Version", "0c458075"}});
        PublishedDevices::instance().publish(records);
        devices = std::make_unique<DeviceFunctions>(usb.table(), nullptr, nullptr);
    }
    void TearDown() override { PublishedDevices::instance().publish({}); }

    QByteArray firstBytes(int index, int n) const { return usb.calls.at(index).block.left(n); }

    FakeUsb usb;
    std::unique_ptr<DeviceFunctions> devices;
};

} // namespace

TEST(CommandBytes, ItemsReadAsHexadecimalBytes) {
    struct Case {
        const char *item;
        int byte;
    } cases[] = {{"0x1ff", 0xFF}, {"zz", 0x00}, {" 0a", 0x0A}, {"0X10", 0x10}, {"dc", 0xDC},
                 {"", 0},         {"0x", 0},    {"1g", 0x01},  {"  7", 7},     {"fffffffff1", 0xF1},
                 {"-1", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(commandItemToByte(QString::fromLatin1(c.item)), c.byte) << c.item;

    EXPECT_EQ(commandItems("").size(), 1);
    EXPECT_EQ(commandItems("1,,2").size(), 3);
    EXPECT_EQ(parseDecimal(" 300 "), 300);
    EXPECT_EQ(parseDecimal("x"), 0);

    const uint8_t bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(bytesToCommandString(bytes, 3), "0x0a,0xff,0x00");
    EXPECT_EQ(bytesToCommandString(bytes, 0), "");
}

TEST(CommandBytes, BlockFilledOnlyWhenCountMatches) {
    uint8_t block[kTransferBlockSize];
    std::memset(block, 0x55, sizeof block);
    EXPECT_FALSE(commandStringToBlock("0x01,0x02", 3, block));
    EXPECT_EQ(std::count(block, block + kTransferBlockSize, 0), kTransferBlockSize);

    ASSERT_TRUE(commandStringToBlock("0x01,0x1ff,zz", 3, block));
    EXPECT_EQ(block[0], 0x01);
    EXPECT_EQ(block[1], 0xFF);
    EXPECT_EQ(block[2], 0x00);

    // A count beyond the block or below zero never reaches the items.
    QStringList many;
    for (int i = 0; i < kTransferBlockSize + 1; ++i)
        many << "1";
    EXPECT_FALSE(commandStringToBlock(many.join(','), kTransferBlockSize + 1, block));
    EXPECT_FALSE(commandStringToBlock("", -1, block));
    EXPECT_FALSE(commandItemsToBlock(many.join(','), block));
    many.removeLast();
    EXPECT_TRUE(commandStringToBlock(many.join(','), kTransferBlockSize, block));
    EXPECT_EQ(block[kTransferBlockSize - 1], 1);
}

TEST_F(Operations, WritesPassBlockAddressAndCount) {
    EXPECT_TRUE(devices->writeProperty("TOB-NIR-V1.2.0", "44", "0x01,0x1ff,zz", "3"));
    ASSERT_EQ(usb.calls.size(), 1);
    EXPECT_EQ(usb.calls[0].entry, "dcWriteProperty");
    EXPECT_EQ(usb.calls[0].path, kPath);
    EXPECT_EQ(usb.calls[0].arg, 44);
    EXPECT_EQ(usb.calls[0].count, 3);
    EXPECT_EQ(firstBytes(0, 4), QByteArray("\x01\xff\x00\x00", 4));

    EXPECT_TRUE(devices->writePropertyForQpa("TOB-NIR-V1.2.0", "23", "0a", "1"));
    EXPECT_TRUE(devices->writePacket("0c458075", "2", "1,2", "2"));
    ASSERT_EQ(usb.calls.size(), 3);
    EXPECT_EQ(usb.calls[1].entry, "dcWritePropertyForQPA");
    EXPECT_EQ(usb.calls[1].arg, 23);
    EXPECT_EQ(usb.calls[2].entry, "dcWriteHFDData");
    EXPECT_EQ(usb.calls[2].path, kPacketPath);

    usb.result = 0;
    EXPECT_FALSE(devices->writeProperty("TOB-NIR-V1.2.0", "1", "1", "1"));
}

TEST_F(Operations, RefusedWritesNeverReachTheLibrary) {
    EXPECT_FALSE(devices->writeProperty("TOB-NIR-V1.2.0", "1", "0x01,0x02", "3"));
    EXPECT_FALSE(devices->writeProperty("UNKNOWN", "1", "0x01", "1"));
    EXPECT_FALSE(devices->writeProperty("TOB-NIR-V1.2.0", "1", "0x01", "-1"));
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << "ff";
    EXPECT_FALSE(devices->writePacket("0c458075", "1", many.join(','), "3000"));
    EXPECT_FALSE(devices->writeSingleValue("0c458075", "1", many.join(','), "1"));
    EXPECT_FALSE(devices->writeSingleValue("0c458075", "1", "0x00", "-4"));
    // An address is one byte: nothing outside 0..255 wraps onto another register.
    for (const char *address : {"-1", "256", "300", "-256"}) {
        EXPECT_FALSE(devices->writeProperty("TOB-NIR-V1.2.0", address, "0x01", "1")) << address;
        EXPECT_FALSE(devices->writePropertyForQpa("TOB-NIR-V1.2.0", address, "0x01", "1"));
        EXPECT_FALSE(devices->writePacket("0c458075", address, "0x01", "1"));
        EXPECT_FALSE(devices->writeSingleValue("0c458075", address, "0x01", "1"));
        const int value = QString(address).toInt();
        EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", value, 1), "");
        EXPECT_EQ(devices->requestPacket("0c458075", value, 1), "");
        EXPECT_FALSE(devices->isAreaBlank("TOB-NIR-V1.2.0", value, 1));
        EXPECT_FALSE(devices->clearArea("TOB-NIR-V1.2.0", value, 1));
    }
    EXPECT_TRUE(usb.calls.isEmpty());
}

TEST_F(Operations, IdentitiesCompareWithoutCase) {
    EXPECT_TRUE(devices->writePacket("0C458075", "3", "0x01", "1"));
    EXPECT_TRUE(devices->writeProperty("tob-nir-v1.2.0", "3", "0x01", "1"));
    ASSERT_EQ(usb.calls.size(), 2);
    EXPECT_EQ(usb.calls[0].path, kPacketPath);
    EXPECT_EQ(usb.calls[1].path, kPath);
}

TEST_F(Operations, SingleValueTransferPassesItsPacketCount) {
    EXPECT_TRUE(devices->writeSingleValue("0c458075", "21", "0x00", "9"));
    EXPECT_TRUE(devices->writeSingleValue("0c458075", "2", "0x00", "0"));
    EXPECT_TRUE(devices->writeSingleValue("0c458075", "1", "240", "0"));
    EXPECT_TRUE(devices->writeSingleValue("0c458075", "1", "0x05,0x06", "4000"));
    ASSERT_EQ(usb.calls.size(), 4);
    EXPECT_EQ(usb.calls[0].entry, "dcWriteStartTr");
    EXPECT_EQ(usb.calls[0].arg, 21);
    EXPECT_EQ(usb.calls[0].count, 9);
    EXPECT_EQ(usb.calls[1].count, 0);
    EXPECT_EQ(usb.calls[2].count, 0);
    EXPECT_EQ(firstBytes(2, 2), QByteArray("\x40\x00", 2)); // 0x240 keeps its low byte
    EXPECT_EQ(usb.calls[3].count, 4000);
    EXPECT_EQ(firstBytes(3, 3), QByteArray("\x05\x06\x00", 3));
}

TEST_F(Operations, ReadsFormatTheAnsweredBytes) {
    usb.readAnswer = QByteArray("\x0a\xff\x00\x33", 4);
    EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", 44, 3), "0x0a,0xff,0x00");
    ASSERT_EQ(usb.calls.size(), 1);
    EXPECT_EQ(usb.calls[0].arg, 44);
    EXPECT_EQ(usb.calls[0].count, 3);
    EXPECT_EQ(devices->requestPacket("0c458075", 5, 2), "0x0a,0xff");
    EXPECT_EQ(usb.calls[1].entry, "dcReadHFDData");
    EXPECT_EQ(usb.calls[1].arg, 5);
    EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", 1, 0), "");

    // The largest reads that fit the block, and the refused ones.
    EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", 1, 2040).size(), 2040 * 5 - 1);
    EXPECT_EQ(devices->requestPacket("0c458075", 1, 2048).size(), 2048 * 5 - 1);
    const int calls = usb.calls.size();
    EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", 1, 2041), "");
    EXPECT_EQ(devices->readProperty("TOB-NIR-V1.2.0", 1, -1), "");
    EXPECT_EQ(devices->requestPacket("0c458075", 1, 2049), "");
    EXPECT_EQ(devices->requestPacket("UNKNOWN", 1, 2), "");
    EXPECT_EQ(usb.calls.size(), calls);

    // An unknown identity still asks the library (with no path); the device answers nothing.
    devices->readProperty("UNKNOWN", 1, 1);
    EXPECT_EQ(usb.calls.last().path, "");
}

TEST_F(Operations, AreaChecksResetNotifyAndInputReports) {
    EXPECT_TRUE(devices->isAreaBlank("TOB-NIR-V1.2.0", 10, 4));
    usb.readAnswer = QByteArray("\x00\x00\x00\x01", 4);
    EXPECT_TRUE(devices->isAreaBlank("TOB-NIR-V1.2.0", 10, 3));
    EXPECT_FALSE(devices->isAreaBlank("TOB-NIR-V1.2.0", 10, 4));
    EXPECT_FALSE(devices->isAreaBlank("TOB-NIR-V1.2.0", 10, 5000));

    usb.calls.clear();
    EXPECT_TRUE(devices->clearArea("TOB-NIR-V1.2.0", 2, 16));
    EXPECT_FALSE(devices->clearArea("TOB-NIR-V1.2.0", 1, 2049));
    ASSERT_EQ(usb.calls.size(), 1);
    EXPECT_EQ(usb.calls[0].arg, 2);
    EXPECT_EQ(usb.calls[0].count, 16);
    EXPECT_EQ(firstBytes(0, 16), QByteArray(16, '\0'));

    usb.calls.clear();
    EXPECT_TRUE(devices->resetDevice("TOB-NIR-V1.2.0"));
    EXPECT_FALSE(devices->resetDevice("UNKNOWN"));
    devices->notifyDevice("TOB-NIR-V1.2.0", QByteArray("\x01\x02", 2));
    ASSERT_EQ(usb.calls.size(), 2);
    EXPECT_EQ(usb.calls[0].entry, "Reset");
    EXPECT_EQ(usb.calls[0].arg, 2);
    EXPECT_EQ(usb.calls[0].count, 0);
    EXPECT_EQ(usb.calls[1].count, 2);
    EXPECT_EQ(usb.calls[1].block, QByteArray("\x01\x02\x00\x00", 4));

    usb.calls.clear();
    uint8_t report[64] = {};
    usb.inputReport = QByteArray("\x04\x02\x07", 3);
    EXPECT_EQ(devices->readInputReport("TOB-NIR-V1.2.0", report, 64, 100), 3);
    EXPECT_EQ(report[1], 0x02);
    EXPECT_EQ(usb.calls[0].arg, 100);
    usb.inputReportResult = -1;
    EXPECT_EQ(devices->readInputReport("TOB-NIR-V1.2.0", report, 64, 100), 0);
    usb.inputReportResult = 500; // a library claiming more than it was given room for
    EXPECT_EQ(devices->readInputReport("TOB-NIR-V1.2.0", report, 64, 100), 64);
    EXPECT_EQ(devices->readInputReport("UNKNOWN", report, 64, 100), 0);
    EXPECT_EQ(devices->readInputReport("TOB-NIR-V1.2.0", nullptr, 64, 100), 0);
    EXPECT_EQ(usb.calls.size(), 3);
}

TEST_F(Operations, MissingEntriesReportFailure) {
    DeviceFunctions bare(UsbInterfaceTable{}, nullptr, nullptr);
    EXPECT_FALSE(bare.writeProperty("TOB-NIR-V1.2.0", "1", "1", "1"));
    EXPECT_FALSE(bare.writePropertyForQpa("TOB-NIR-V1.2.0", "1", "1", "1"));
    EXPECT_FALSE(bare.writePacket("0c458075", "1", "1", "1"));
    EXPECT_FALSE(bare.writeSingleValue("0c458075", "1", "1", "1"));
    EXPECT_EQ(bare.readProperty("TOB-NIR-V1.2.0", 1, 2), "0x00,0x00");
    EXPECT_EQ(bare.requestPacket("0c458075", 1, 1), "0x00");
    EXPECT_TRUE(bare.isAreaBlank("TOB-NIR-V1.2.0", 1, 2));
    EXPECT_FALSE(bare.clearArea("TOB-NIR-V1.2.0", 1, 2));
    EXPECT_FALSE(bare.resetDevice("TOB-NIR-V1.2.0"));
    bare.notifyDevice("TOB-NIR-V1.2.0", QByteArray(4, '\1'));
    uint8_t report[8];
    EXPECT_EQ(bare.readInputReport("TOB-NIR-V1.2.0", report, 8, 100), 0);
    EXPECT_FALSE(bare.keyboard().probeDevice());
    EXPECT_FALSE(bare.mouse().setLightValue(1, 1));

    ScopedPacer pacer;
    EXPECT_TRUE(bare.enumerateDevices().isEmpty());
    EXPECT_EQ(pacer.pacer.pauses, QVector<int>{1000});
}

namespace {

KeyboardLibraryTable keyboardAnswering(int initResult, QVector<QString> *log) {
    KeyboardLibraryTable t;
    t.SetHardwareInfo = [log](int v, int p) {
        *log << QStringLiteral("kb SetHardwareInfo %1 %2").arg(v, 0, 16).arg(p, 0, 16);
        return 1;
    };
    t.InitDevice = [initResult](void *) { return initResult; };
    t.SetLED = [](int, int, int, int, int) { return 1; };
    t.SetKeyColor = [](int, int, int, int) { return 1; };
    t.SetMacro = [](uint8_t *, int) { return 1; };
    t.SetKey = [](int32_t *, int) { return 1; };
    t.new_key_action = [](int, int, int, int, int) { return 1; };
    t.UnInitDevice = [] { return 1; };
    return t;
}

} // namespace

TEST(Enumeration, ClassifiesInListOrderIntoAFreshRegistry) {
    setFlaggedDeviceSeen(0);
    FakeUsb usb;
    auto entry = [](const char *middle, const char *firmware) {
        Description d;
        d.path = hidPath(middle);
        d.firmware = firmware;
        d.battery = 50;
        return d;
    };
    usb.list = listBlock({
        entry("vid_248a&pid_2002&mi_00&col03", ""), // listed: no flagged device yet
        entry("vid_258a&pid_0013&mi_01&col02", "TOB-NIR-V1.2.0"),
        entry("vid_248a&pid_2002&mi_00&col03", ""), // same identity, now skipped
        entry("vid_1956&pid_3010&mi_01&col02", "QPA-RTE-V1.1.0"),
        entry("vid_1956&pid_3012&mi_01&col02", "QPA-RTE-V1.1.0"), // later one wins
        entry("vid_05ac&pid_024f&mi_01", ""),
        entry("vid_258a&pid_0015&mi_01&col02", "X"),
    });
    QVector<QString> log;
    auto keyboard = std::make_unique<kb_handler>([&log] { return keyboardAnswering(1, &log); });
    DeviceFunctions devices(usb.table(), std::move(keyboard), nullptr);

    ScopedPacer pacer;
    const DeviceRecordMap found = devices.enumerateDevices();
    EXPECT_EQ(pacer.pacer.pauses, QVector<int>{1000});
    ASSERT_EQ(usb.lastFilter.size(), size_t(40));
    EXPECT_EQ(usb.lastFilter[0], 0x0001);
    EXPECT_EQ(usb.lastFilter[1], 0xFFA0);
    EXPECT_EQ(usb.lastFilter[2], 0x0001);
    EXPECT_EQ(usb.lastFilter[3], 0xFFAA);
    EXPECT_EQ(std::count(usb.lastFilter.begin() + 4, usb.lastFilter.end(), 0), 36);

    EXPECT_EQ(found.keys(),
              (QStringList{"05AC024F", "248A2002", "QPA-RTE-V1.1.0", "TOB-NIR-V1.2.0"}));
    EXPECT_TRUE(found.value("QPA-RTE-V1.1.0").value("DevicePath").toString().contains("pid_3012"));
    EXPECT_EQ(log, QVector<QString>{"kb SetHardwareInfo 5ac 24f"});
    EXPECT_EQ(deviceRegistry(), found);
    // Enumerating does not publish.
    EXPECT_TRUE(PublishedDevices::instance().snapshot().isEmpty());

    // Unplugged devices vanish from the next run; the flagged device is remembered, so the
    // companion interface stays hidden.
    usb.list = listBlock({entry("vid_248a&pid_2002&mi_00&col03", "")});
    EXPECT_TRUE(devices.enumerateDevices().isEmpty());
    EXPECT_TRUE(deviceRegistry().isEmpty());

    // A count beyond the block's 127 entries reads only those.
    usb.list = listBlock({entry("vid_1956&pid_3010&mi_01&col01", "")});
    usb.list[0] = 0xFF;
    usb.list[1] = 0xFF;
    EXPECT_EQ(devices.enumerateDevices().keys(), QStringList{"19563010"});
    setFlaggedDeviceSeen(0);
}

TEST(Enumeration, UnconfirmedSpecialInterfacesAreNotListed) {
    setFlaggedDeviceSeen(0);
    FakeUsb usb;
    Description keyboard;
    keyboard.path = hidPath("vid_05ac&pid_024f&mi_01");
    usb.list = listBlock({keyboard});
    QVector<QString> log;
    DeviceFunctions devices(
        usb.table(), std::make_unique<kb_handler>([&log] { return keyboardAnswering(0, &log); }),
        nullptr);
    EXPECT_TRUE(devices.enumerateDevices().isEmpty());
    EXPECT_EQ(log.size(), 1);
}

#include "description_builder.h"

#include "device/device_catalogue.h"
#include "device/device_functions.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

using namespace torvanix;
using torvanix::test::Description;
using torvanix::test::hidPath;

namespace {

DeviceDescription describe(const Description &d) {
    const auto block = torvanix::test::descriptionBlock(d);
    return parseDeviceDescription(block.data());
}

Description device(const char *middle, const char *firmware = "TOB-NIR-V1.2.0") {
    Description d;
    d.path = hidPath(middle);
    d.firmware = firmware;
    d.bluetooth = "1.02";
    d.serial = "SN0042";
    d.battery = 87;
    d.status = 1;
    return d;
}

struct ProbeCounter {
    bool keyboardAnswer = true;
    bool mouseAnswer = true;
    int keyboardCalls = 0;
    int mouseCalls = 0;
    SpecialInterfaceProbes probes() {
        return {[this] {
                    ++keyboardCalls;
                    return keyboardAnswer;
                },
                [this] {
                    ++mouseCalls;
                    return mouseAnswer;
                }};
    }
};

class Classification : public ::testing::Test {
protected:
    void SetUp() override { setFlaggedDeviceSeen(0); }
    void TearDown() override { setFlaggedDeviceSeen(0); }

    std::optional<ClassifiedDevice> classify(const Description &d) {
        return classifyDeviceDescription(describe(d), probes.probes());
    }
    ProbeCounter probes;
};

} // namespace

TEST(DeviceCatalogueTable, BuiltInCatalogueIsCompleteAndConsistent) {
    initCatalogueResources();
    QFile file(QStringLiteral(":/catalogue/devices.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList problems;
    const DeviceCatalogue c = parseDeviceCatalogue(file.readAll(), &problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();

    ASSERT_EQ(c.fullRecord.size(), 52);
    QMap<QString, int> perVendor;
    QSet<QString> rows;
    for (const auto &row : c.fullRecord) {
        ++perVendor[row.vendor];
        rows.insert(row.vendor + ':' + row.product + ':' + row.collection);
        EXPECT_TRUE(row.pattern.isValid());
        // The interface the udev rules open; the typing interface stays closed.
        EXPECT_EQ(row.interface, "01");
    }
    EXPECT_EQ(perVendor.value("258a"), 5);
    EXPECT_EQ(perVendor.value("248a"), 4);
    EXPECT_EQ(perVendor.value("276d"), 14);
    EXPECT_EQ(perVendor.value("1956"), 25);
    EXPECT_EQ(perVendor.size(), 8);
    EXPECT_TRUE(rows.contains("248a:5b49:01"));
    EXPECT_TRUE(rows.contains("1c4f:ee88:02"));
    EXPECT_TRUE(rows.contains("1956:3133:02"));
    EXPECT_TRUE(rows.contains("093f:2457:02"));

    ASSERT_EQ(c.special.size(), 3);
    EXPECT_EQ(c.special[0].identity, "05AC024F");
    EXPECT_EQ(c.special[0].confirmation, DeviceCatalogue::Confirmation::KeyboardLibrary);
    EXPECT_EQ(c.special[1].identity, "258A002E");
    EXPECT_EQ(c.special[1].confirmation, DeviceCatalogue::Confirmation::MouseLibrary);
    EXPECT_EQ(c.special[2].identity, "0c458075");
    EXPECT_EQ(c.special[2].confirmation, DeviceCatalogue::Confirmation::None);
    ASSERT_EQ(c.auxiliary.size(), 2);
    EXPECT_EQ(c.auxiliary[0].condition, DeviceCatalogue::Condition::FlaggedDeviceSeen);
    EXPECT_EQ(c.auxiliary[1].condition, DeviceCatalogue::Condition::Always);
    EXPECT_EQ(c.exclusions.size(), 9);
    EXPECT_EQ(c.flaggedIdentity, "TOB-NIR-V1.2.0");
    EXPECT_EQ(c.generic.captureCount(), 3);
}

TEST(DeviceCatalogueTable, DuplicateAndConflictingRowsAreReported) {
    const QByteArray doc = R"json({
        "fullRecord": [
            {"vendor": "258a", "product": "0013", "collection": "02"},
            {"vendor": "258a", "product": "0013", "collection": "01"},
            {"vendor": "25", "product": "0013", "collection": "02"},
            {"vendor": "1956", "product": "3010", "collection": "02", "interface": "1"}
        ],
        "special": [
            {"pattern": "vid_05ac&pid_024f.*&mi_01", "confirmation": "keyboardLibrary", "identity": "05AC024F"},
            {"pattern": "vid_05ac&pid_024f.*&mi_02", "confirmation": "none", "identity": "05ac024f"},
            {"pattern": "vid_1111", "confirmation": "someday", "identity": "X"}
        ],
        "auxiliary": [
            {"pattern": "vid_248a&pid_2001.*&col03", "condition": "always"},
            {"pattern": "vid_248a&pid_2001.*&col03", "condition": "always"}
        ],
        "flaggedIdentity": "TOB-NIR-V1.2.0",
        "exclusions": ["VID_258A&PID_0015", "VID_258A&PID_0015", "vid_1"],
        "generic": "vid_([^&#]*)&pid_([^&#]*)"
    })json";
    QStringList problems;
    const DeviceCatalogue c = parseDeviceCatalogue(doc, &problems);
    // Second 258a:0013, malformed vendor, malformed interface, second special identity,
    // unknown confirmation, repeated auxiliary pattern, repeated and lower-case exclusion,
    // two-capture generic rule.
    EXPECT_EQ(problems.size(), 9) << problems.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(c.fullRecord.size(), 1);
    EXPECT_EQ(c.special.size(), 1);
    EXPECT_EQ(c.auxiliary.size(), 1);
    EXPECT_EQ(c.exclusions.size(), 1);

    problems.clear();
    parseDeviceCatalogue("{not json", &problems);
    EXPECT_EQ(problems.size(), 1);
}

TEST(DeviceDescriptionParsing, TextFieldsStopAtTheirEnd) {
    Description d;
    d.bluetooth = "12345678"; // wider than the field
    d.firmware = "ABC-DEF-V9.9.9X"
                 "Z"
                 "Q";                // all 17 bytes used
    d.serial = "SERIAL-NUMBER-0123"; // wider than the field
    d.battery = 255;
    d.status = 200;
    d.path = QString(600, QLatin1Char('p')); // fills the path field without a terminator
    const DeviceDescription parsed = describe(d);
    EXPECT_EQ(parsed.bluetoothVersion, "12345");
    EXPECT_EQ(parsed.firmwareIdentity, "ABC-DEF-V9.9.9");
    EXPECT_EQ(parsed.lastVersionNum, "ZQ");
    EXPECT_EQ(parsed.serialNumber, "SERIAL-NUMBER-");
    EXPECT_EQ(parsed.battery, 255);
    EXPECT_EQ(parsed.connectStatus, 200);
    EXPECT_EQ(parsed.path.size(), 510);

    d.path = QString::fromUtf16(u"\\\\?\\hid#vid_1956&pid_3010&col02#\u00e9\u4e2d");
    EXPECT_EQ(describe(d).path, d.path);
}

TEST_F(Classification, FullRecordCarriesEveryField) {
    Description d = device("vid_1956&pid_3010&mi_01&col02");
    d.firmware = QByteArray("TOB-NIR-V1.2.0", 14) + QByteArray(1, '\0') + "07";
    const auto r = classify(d);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->identity, "TOB-NIR-V1.2.0");
    const QJsonObject expected{
        {"BluetoothVersion", "1.02"},  {"DevicePath", d.path},  {"Sn", "SN0042"},
        {"Version", "TOB-NIR-V1.2.0"}, {"ProfileCount", "4"},   {"Battery", "87"},
        {"ConnectStatus", "1"},        {"LastVersionNum", "07"}};
    EXPECT_EQ(r->record, expected);
    EXPECT_EQ(flaggedDeviceSeen(), 1);

    // The same device's collection-01 interface falls to the generic rule.
    const auto generic = classify(device("vid_1956&pid_3010&mi_01&col01"));
    ASSERT_TRUE(generic);
    EXPECT_EQ(generic->identity, "19563010");
    EXPECT_EQ(generic->record, QJsonObject({{"Version", "19563010"}}));
}

TEST_F(Classification, BluetoothAndLastVersionTexts) {
    struct Case {
        QByteArray bluetooth;
        const char *expected;
    } cases[] = {{"0.00", ""}, {"", ""}, {"1.02", "1.02"}, {"abc", ""}, {"0", ""}, {"2", "2"}};
    for (const auto &c : cases) {
        Description d = device("vid_258a&pid_0013&mi_01&col02");
        d.bluetooth = c.bluetooth;
        const auto r = classify(d);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->record.value("BluetoothVersion").toString(), c.expected)
            << c.bluetooth.constData();
    }

    Description d = device("vid_258a&pid_0013&mi_01&col02");
    d.firmware = QByteArray("QPA-RTE-V1.1.0", 14) + QByteArray(3, '\0');
    EXPECT_EQ(classify(d)->record.value("LastVersionNum").toString(), "");
    // Byte 15 empty hides byte 16.
    d.firmware = QByteArray("QPA-RTE-V1.1.0", 14) + QByteArray(2, '\0') + "9";
    EXPECT_EQ(classify(d)->record.value("LastVersionNum").toString(), "");
    d.firmware = QByteArray("QPA-RTE-V1.1.0", 14) + QByteArray(1, '\0') + "5";
    EXPECT_EQ(classify(d)->record.value("LastVersionNum").toString(), "5");
}

TEST_F(Classification, VendorExclusionsAndCollections) {
    for (const char *product : {"0015", "0016", "0017"}) {
        for (const char *col : {"01", "02", "03"}) {
            const QByteArray middle = QByteArray("vid_258a&pid_") + product + "&mi_01&col" + col;
            EXPECT_FALSE(classify(device(middle.constData()))) << middle.constData();
        }
    }
    for (const char *product : {"0012", "0013", "0014", "001a", "0090"}) {
        const QByteArray col02 = QByteArray("vid_258a&pid_") + product + "&mi_01&col02";
        const QByteArray col01 = QByteArray("vid_258a&pid_") + product + "&mi_01&col01";
        const auto listed = classify(device(col02.constData(), "WSU-DFO-V1.1.0"));
        ASSERT_TRUE(listed) << col02.constData();
        EXPECT_EQ(listed->identity, "WSU-DFO-V1.1.0");
        EXPECT_FALSE(classify(device(col01.constData()))) << col01.constData();
    }
    // 248a:5b49 is listed on its collection 01 only.
    EXPECT_EQ(classify(device("vid_248a&pid_5b49&mi_01&col01", "HJE-XAV-V1.2.0"))->identity,
              "HJE-XAV-V1.2.0");
    EXPECT_EQ(classify(device("vid_248a&pid_5b49&mi_01&col02"))->identity, "248A5B49");
    // The exclusion list is compared with the upper-case path, the patterns are not.
    EXPECT_FALSE(classify(device("kestreluxvd&vid_1111&pid_2222&col01")));
    EXPECT_FALSE(classify(device("VID_1956&PID_3010&MI_01&COL02")));
}

TEST_F(Classification, SpecialInterfacesNeedTheirConfirmation) {
    const auto keyboard = classify(device("vid_05ac&pid_024f&mi_01&col02"));
    ASSERT_TRUE(keyboard);
    EXPECT_EQ(keyboard->identity, "05AC024F");
    EXPECT_EQ(keyboard->record,
              QJsonObject({{"DevicePath", hidPath("vid_05ac&pid_024f&mi_01&col02")},
                           {"Version", "05AC024F"}}));
    EXPECT_EQ(probes.keyboardCalls, 1);
    EXPECT_EQ(probes.mouseCalls, 0);

    // Without the keyboard library's consent the collection-02 interface is a full record.
    probes.keyboardAnswer = false;
    const auto unconfirmed = classify(device("vid_05ac&pid_024f&mi_01&col02", "ABC-DEF-V1.0.0"));
    ASSERT_TRUE(unconfirmed);
    EXPECT_EQ(unconfirmed->identity, "ABC-DEF-V1.0.0");

    EXPECT_EQ(classify(device("vid_258a&pid_002e&mi_01&col01"))->identity, "258A002E");
    EXPECT_EQ(probes.mouseCalls, 1);
    probes.mouseAnswer = false;
    const auto mouseFallsThrough = classify(device("vid_258a&pid_002e&mi_01&col01"));
    ASSERT_TRUE(mouseFallsThrough);
    EXPECT_EQ(mouseFallsThrough->record, QJsonObject({{"Version", "258A002E"}}));

    const auto packet = classify(device("vid_0c45&pid_8075&mi_00"));
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->identity, "0c458075");
    EXPECT_EQ(packet->record.value("DevicePath").toString(), hidPath("vid_0c45&pid_8075&mi_00"));

    // A probe is only asked for its own interface.
    const int before = probes.keyboardCalls + probes.mouseCalls;
    classify(device("vid_1956&pid_3010&mi_01&col02"));
    EXPECT_EQ(probes.keyboardCalls + probes.mouseCalls, before);
}

TEST_F(Classification, AuxiliaryInterfaceFollowsTheFlaggedDevice) {
    const Description aux = device("vid_248a&pid_2002&mi_00&col03");
    ASSERT_TRUE(classify(aux));
    EXPECT_EQ(classify(aux)->identity, "248A2002");

    // Another full record does not flag.
    ASSERT_TRUE(classify(device("vid_248a&pid_2002&mi_01&col02", "QPA-RTE-V1.1.0")));
    EXPECT_EQ(flaggedDeviceSeen(), 0);
    EXPECT_TRUE(classify(aux));

    ASSERT_TRUE(classify(device("vid_248a&pid_2002&mi_01&col02", "TOB-NIR-V1.2.0")));
    EXPECT_EQ(flaggedDeviceSeen(), 1);
    EXPECT_FALSE(classify(aux));
    EXPECT_FALSE(classify(aux)); // and it stays so

    // The 2001 companion is never listed, flag or not.
    setFlaggedDeviceSeen(0);
    EXPECT_FALSE(classify(device("vid_248a&pid_2001&mi_00&col03")));
    EXPECT_FALSE(classify(device("vid_248a&pid_2001&mi_02&col03")));
}

TEST_F(Classification, GenericRuleCapturesAndRejects) {
    const auto lower = classify(device("vid_1a2b&pid_3c4d&mi_00&col01"));
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->identity, "1A2B3C4D");

    Description noCollection;
    noCollection.path = QStringLiteral("\\\\?\\hid#vid_1a2b&pid_3c4d&mi_00#7&1");
    EXPECT_FALSE(classify(noCollection));
    Description emptyCollection;
    emptyCollection.path = QStringLiteral("\\\\?\\hid#vid_1a2b&pid_3c4d&col#7&1");
    EXPECT_FALSE(classify(emptyCollection));
    Description nothing;
    EXPECT_FALSE(classify(nothing));

    // Two vendor/product groups: the match spans to the last collection.
    Description twice;
    twice.path = QStringLiteral("vid_aaaa&pid_bbbb&col01#vid_cccc&pid_dddd&col07");
    const auto r = classify(twice);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->identity, "AAAABBBB");
}

TEST(DeviceListJson, RecordsInMapOrderWithSortedKeys) {
    DeviceRecordMap records;
    records.insert(
        "TOB-NIR-V1.2.0",
        QJsonObject{{"Version", "TOB-NIR-V1.2.0"}, {"DevicePath", "p"}, {"Battery", "9"}});
    records.insert("19563010", QJsonObject{{"Version", "19563010"}});
    records.insert("0c458075", QJsonObject{{"Version", "0c458075"}, {"DevicePath", "q"}});
    EXPECT_EQ(deviceListJson(records).toStdString(),
              R"([{"DevicePath":"q","Version":"0c458075"},{"Version":"19563010"},)"
              R"({"Battery":"9","DevicePath":"p","Version":"TOB-NIR-V1.2.0"}])");
    EXPECT_EQ(deviceListJson({}).toStdString(), "[]");
}

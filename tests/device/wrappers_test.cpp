#include "fake_usb.h"

#include "device/kb_handler.h"
#include "device/library_loader.h"
#include "device/library_tables.h"
#include "device/ms_handler.h"

#include <QVector>
#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace torvanix;

namespace {

struct KeyboardRecorder {
    QVector<QVector<int32_t>> keyTables;
    QVector<int> tableLengths;
    QVector<QVector<int>> calls; // SetKeyColor / SetLED / new_key_action arguments
    QByteArray macro;
    int macroLength = 0;
    int macroResult = 1;
    void *initWindow = reinterpret_cast<void *>(1);
    QVector<int> hardware;

    KeyboardLibraryTable table() {
        KeyboardLibraryTable t;
        t.SetHardwareInfo = [this](int v, int p) {
            hardware = {v, p};
            return 1;
        };
        t.InitDevice = [this](void *w) {
            initWindow = w;
            return 7;
        };
        t.SetLED = [this](int a, int b, int c, int d, int e) {
            calls << QVector<int>{a, b, c, d, e};
            return 1;
        };
        t.SetKeyColor = [this](int k, int r, int g, int b) {
            calls << QVector<int>{k, r, g, b};
            return 1;
        };
        t.SetMacro = [this](uint8_t *block, int length) {
            macro = QByteArray(reinterpret_cast<const char *>(block), length);
            macroLength = length;
            return macroResult;
        };
        t.SetKey = [this](int32_t *table, int length) {
            keyTables << QVector<int32_t>(table, table + kKeyTableEntries);
            tableLengths << length;
            return 1;
        };
        t.new_key_action = [this](int k, int a, int b, int c, int d) {
            calls << QVector<int>{k, a, b, c, d};
            return 42;
        };
        t.UnInitDevice = [] { return 1; };
        return t;
    }
};

struct MouseRecorder {
    QVector<QVector<int32_t>> keyTables;
    QVector<QVector<int32_t>> configs;
    QVector<int> hardware;
    int uninit = 0;
    int configResult = 1;

    MouseLibraryTable table() {
        MouseLibraryTable t;
        t.SetHardwareInfo = [this](int v, int p, int p2, int s, int r) {
            hardware = {v, p, p2, s, r};
            return 1;
        };
        t.InitDevice = [](void *) { return 1; };
        t.UnInitDevice = [this] {
            ++uninit;
            return 1;
        };
        t.SetKeyMatrix = [this](int32_t *table, void *work) {
            EXPECT_NE(work, nullptr);
            keyTables << QVector<int32_t>(table, table + kKeyTableEntries);
            return 1;
        };
        t.SetConfig = [this](int32_t *block) {
            configs << QVector<int32_t>(block, block + kMouseConfigValues);
            return configResult;
        };
        return t;
    }
};

QVector<int32_t> onlyEntry(int index, int32_t value) {
    QVector<int32_t> table(kKeyTableEntries, 0);
    table[index] = value;
    return table;
}

} // namespace

TEST(KeyTableEntries, KeyboardAndMouseEncodings) {
    EXPECT_EQ(mouseKeyEntry("KEYBOARD", "0,2,4"), 0x00040221);
    EXPECT_EQ(mouseKeyEntry("hotkey", "0,2,4"), 0x00040221);
    EXPECT_EQ(mouseKeyEntry("MOUSE", "0,f0"), 0xF011);
    EXPECT_EQ(mouseKeyEntry("MEDIA", "0,e9"), 0xE922);
    EXPECT_EQ(mouseKeyEntry("MACRO", "3"), 0x10002);
    EXPECT_EQ(mouseKeyEntry("LIGHT", "1,2,3"), 0);

    EXPECT_EQ(keyboardKeyEntry("KEYBOARD", "0,17,4"), 0x00040100);
    EXPECT_EQ(keyboardKeyEntry("HOTKEY", "0,16,65"), 0x00410200);
    EXPECT_EQ(keyboardKeyEntry("Keyboard", "0,18,300"), 0x002C0400);
    EXPECT_EQ(keyboardKeyEntry("KEYBOARD", "0,91,1"), 0x00010800);
    EXPECT_EQ(keyboardKeyEntry("KEYBOARD", "0,20,1"), 0x00010000);
    EXPECT_EQ(keyboardKeyEntry("MEDIA", "0,e9"), 0x00E90001);
    EXPECT_EQ(keyboardKeyEntry("MOUSE", "1f"), 0x1F);
    EXPECT_EQ(keyboardKeyEntry("MACRO", ""), 0x10002);
    // Missing items read as 0.
    EXPECT_EQ(keyboardKeyEntry("KEYBOARD", "0"), 0);
    EXPECT_EQ(mouseKeyEntry("KEYBOARD", "0"), 33);
}

TEST(DpiToSensor, FourSensorModels) {
    EXPECT_EQ(dpiToSensorValue(kSensor3335, 1600), 15);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 1600), 15);
    EXPECT_EQ(dpiToSensorValue(kSensor3389, 1600), 16);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 1600), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3335, 16001), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3335, 99), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3335, 100), 0);
    EXPECT_EQ(dpiToSensorValue(kSensor3335, 16000), 159);
    EXPECT_EQ(dpiToSensorValue(kSensor3389, 17000), 161);
    EXPECT_EQ(dpiToSensorValue(kSensor3389, 26000), 170);
    EXPECT_EQ(dpiToSensorValue(kSensor3389, 16500), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3389, 27000), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 250), 1);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 4000), 16);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 4250), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 4500), 17);
    EXPECT_EQ(dpiToSensorValue(kSensor3104, 8000), 24);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 300), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 400), 3);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 12000), 119);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 12100), -1);
    EXPECT_EQ(dpiToSensorValue(kSensor3360, 1650), -1);
    EXPECT_EQ(dpiToSensorValue(0x1234, 1600), -1);

    // Each list holds exactly the documented number of values.
    auto accepted = [](int model) {
        int n = 0;
        for (int dpi = 0; dpi <= 30000; ++dpi)
            n += dpiToSensorValue(model, dpi) > 0 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(accepted(kSensor3104), 24);
    EXPECT_EQ(accepted(kSensor3389), 170);
    EXPECT_EQ(accepted(kSensor3360), 117);
}

TEST(MouseConfigBlockDefaults, LightRecordsStagesAndConstant) {
    const MouseConfigBlock b = defaultMouseConfig(kSensor3335);
    EXPECT_EQ(b[0], 2);
    // Record of mode 2: its library code is 1.
    const QVector<int32_t> mode2(b.begin() + 1 + 26, b.begin() + 1 + 39);
    EXPECT_EQ(mode2, (QVector<int32_t>{2, 3, 4, 0, 0xFF0000, 0x00FF00, 0xFF0000, 0xFF00FF, 0x00FFFF,
                                       0xFFFF00, 0xFFFFFF, 0x0080FF, 1}));
    const int codes[10] = {0, 1, 1, 7, 4, 5, 7, 2, 8, 9};
    for (int m = 0; m < 10; ++m) {
        EXPECT_EQ(b[1 + 13 * m], m);
        EXPECT_EQ(b[13 + 13 * m], codes[m]) << m;
    }
    EXPECT_EQ(b[131], 1);
    EXPECT_EQ(
        (QVector<int32_t>(b.begin() + 132, b.begin() + 144)),
        (QVector<int32_t>{11, 11, 0x0000FF, 19, 19, 0xFF0000, 39, 39, 0x00FF00, 49, 49, 0xFF00FF}));
    EXPECT_EQ(std::count(b.begin() + 144, b.begin() + 162, 0), 18);
    EXPECT_EQ(b[162], 4);
    EXPECT_EQ(b[163], 0);
    EXPECT_EQ(b[164], 1280);
    EXPECT_EQ(defaultMouseConfig(kSensor3389)[132], 12);
}

TEST(KeyboardWrapper, TablesAndArgumentsHandedToTheLibrary) {
    KeyboardRecorder rec;
    int loads = 0;
    kb_handler kb([&] {
        ++loads;
        return rec.table();
    });
    setMainWindowHandle(reinterpret_cast<void *>(0x1234));
    EXPECT_TRUE(kb.probeDevice());
    EXPECT_EQ(rec.hardware, (QVector<int>{0x05AC, 0x024F}));
    EXPECT_EQ(rec.initWindow, reinterpret_cast<void *>(0x1234));
    setMainWindowHandle(nullptr);

    EXPECT_TRUE(kb.setKey("KEYBOARD", 5, "0,17,4"));
    EXPECT_TRUE(kb.setKey("MEDIA", 131, "0,e9"));
    EXPECT_FALSE(kb.setKey("KEYBOARD", 5, ""));
    EXPECT_FALSE(kb.setKey("KEYBOARD", 132, "0,17,4"));
    ASSERT_EQ(rec.keyTables.size(), 2);
    EXPECT_EQ(rec.keyTables[0], onlyEntry(5, 0x00040100));
    EXPECT_EQ(rec.keyTables[1], onlyEntry(131, 0x00E90001));
    EXPECT_EQ(rec.tableLengths, (QVector<int>{528, 528}));

    EXPECT_TRUE(kb.setKeyColor(9, 0x11, 0x22, 0x33));
    EXPECT_TRUE(kb.setLed(1, 2, 3, 4, 0x1AB, 0x2CD, 0x3EF));
    EXPECT_EQ(kb.newKeyAction("17", 2, 3, 4, 5), 42);
    ASSERT_EQ(rec.calls.size(), 3);
    EXPECT_EQ(rec.calls[0], (QVector<int>{9, 0x33, 0x11, 0x22}));
    EXPECT_EQ(rec.calls[1], (QVector<int>{1, 2, 3, 4, 0xABEFCD}));
    EXPECT_EQ(rec.calls[2], (QVector<int>{17, 2, 3, 4, 5}));

    QByteArray macro(10, '\x7');
    EXPECT_TRUE(kb.setMacro(macro));
    EXPECT_EQ(rec.macroLength, 4096);
    EXPECT_EQ(rec.macro.left(10), macro);
    EXPECT_EQ(rec.macro.count('\0'), 4086);
    rec.macroResult = 0;
    EXPECT_FALSE(kb.setMacro(QByteArray(5000, '\1')));
    EXPECT_EQ(rec.macro.size(), 4096);
    // The library is loaded for every use.
    EXPECT_EQ(loads, 8);

    // A library missing an entry (other than SetDebug) is not used at all.
    kb_handler partial([&] {
        KeyboardLibraryTable t = rec.table();
        t.new_key_action = nullptr;
        return t;
    });
    EXPECT_FALSE(partial.probeDevice());
    EXPECT_FALSE(partial.setKey("KEYBOARD", 1, "0,17,4"));
    EXPECT_FALSE(partial.setMacro(macro));
    EXPECT_EQ(partial.newKeyAction("1", 0, 0, 0, 0), 0);
    EXPECT_EQ(rec.keyTables.size(), 2);
}

TEST(MouseWrapper, KeyMatrixWaitsAndConfigBlocks) {
    MouseRecorder rec;
    {
        ms_handler ms(rec.table());
        EXPECT_TRUE(ms.probeDevice());
        EXPECT_EQ(rec.hardware, (QVector<int>{0x258A, 0x002E, 0x002F, 0x3335, 0}));

        torvanix::test::ScopedPacer pacer;
        EXPECT_TRUE(ms.setKey("KEYBOARD", 3, "0,2,4"));
        EXPECT_FALSE(ms.setKey("KEYBOARD", 3, ""));
        EXPECT_EQ(pacer.pacer.pauses, QVector<int>{40});
        ASSERT_EQ(rec.keyTables.size(), 1);
        EXPECT_EQ(rec.keyTables[0], onlyEntry(3, 0x00040221));

        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(R"(<dpi current="2" count="3">
                <key name="Dpi1" x="800" y="900"/><key name="Dpi2" x="1600" y="1600"/>
                <key name="Dpi3" x="100000" y="3200"/></dpi>)"));
        EXPECT_TRUE(ms.setDpiStages(doc.child("dpi")));
        ASSERT_EQ(rec.configs.size(), 1);
        const MouseConfigBlock defaults = defaultMouseConfig(kSensor3335);
        QVector<int32_t> expected(defaults.begin(), defaults.end());
        expected[131] = 2;
        expected[162] = 3;
        expected[132] = 7;
        expected[133] = 8;
        expected[135] = 15;
        expected[136] = 15;
        expected[138] = -1;
        expected[139] = 31;
        EXPECT_EQ(rec.configs[0], expected);

        // More stages than the block holds: only the first ten are sent.
        QString many = "<dpi current=\"1\" count=\"12\">";
        for (int s = 0; s < 12; ++s)
            many += QStringLiteral("<key x=\"%1\" y=\"%1\"/>").arg(100 * (s + 1));
        many += "</dpi>";
        ASSERT_TRUE(doc.load_string(many.toUtf8().constData()));
        EXPECT_TRUE(ms.setDpiStages(doc.child("dpi")));
        EXPECT_EQ(rec.configs[1][132 + 27], 9);
        EXPECT_EQ(rec.configs[1][162], 12);
        EXPECT_EQ(rec.configs[1][164], 1280);

        rec.configResult = 0;
        EXPECT_FALSE(ms.setDpiStages(doc.child("dpi")));
        rec.configResult = 1;

        EXPECT_TRUE(ms.setLightValue(4, 77));
        EXPECT_EQ(rec.configs.last()[0], 4);
        EXPECT_EQ(rec.configs.last()[3 + 13 * 4], 77);
        EXPECT_EQ(rec.configs.last()[3 + 13 * 5], 4);
        const int sent = rec.configs.size();
        EXPECT_FALSE(ms.setLightValue(10, 1));
        EXPECT_FALSE(ms.setLightValue(-1, 1));
        EXPECT_EQ(rec.configs.size(), sent);
    }
    EXPECT_EQ(rec.uninit, 1);
}

TEST(MouseWrapper, LightColourFillsEveryRecordAndStage) {
    MouseRecorder rec;
    ms_handler ms(rec.table());
    ms.setSensorModel(kSensor3389);
    EXPECT_TRUE(ms.setLightColor(5, 9, 0, 0, 0x11, 0x22, 0x33));
    ASSERT_EQ(rec.configs.size(), 1);
    const QVector<int32_t> &b = rec.configs[0];
    const int32_t colour = 0x223311;
    EXPECT_EQ(b[0], 5);
    for (int m = 0; m < 10; ++m) {
        EXPECT_EQ(b[1 + 13 * m], m);
        EXPECT_EQ(b[2 + 13 * m], 3);
        EXPECT_EQ(b[3 + 13 * m], 4);
        for (int c = 0; c < 8; ++c)
            EXPECT_EQ(b[5 + 13 * m + c], colour);
        EXPECT_EQ(b[13 + 13 * m], lightModeLibraryCode(m));
    }
    EXPECT_EQ(b[131], 3);
    EXPECT_EQ(b[162], 4);
    EXPECT_EQ((QVector<int32_t>(b.begin() + 132, b.begin() + 144)),
              (QVector<int32_t>{12, 12, colour, 20, 20, colour, 40, 40, colour, 20, 20, colour}));
    EXPECT_EQ(ms.dpiToSensor(17000), 161);

    // Without SetConfig nothing is sent and the call fails; the library still counts as usable.
    MouseLibraryTable noConfig = rec.table();
    noConfig.SetConfig = nullptr;
    ms_handler partial(noConfig);
    EXPECT_TRUE(partial.probeDevice());
    EXPECT_FALSE(partial.setLightColor(1, 0, 0, 0, 1, 2, 3));
    EXPECT_FALSE(partial.setLightValue(1, 1));
}

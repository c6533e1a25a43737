// Function codes of every key type, the D4.0 variant, splitWord / modifierMask and the D2.0
// records, against the built-in tables.

#include "translate/driver_templates.h"
#include "translate/key_encoding.h"

#include <gtest/gtest.h>

using namespace torvanix;

namespace {

class Encoding : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tables = new DriverTemplates;
        ASSERT_TRUE(tables->loadBuiltIn());
    }
    static void TearDownTestSuite() { delete tables; }
    static QString enc(const char *type, const QString &task, const char *gen = "D2.0") {
        return encodeKeyFunction(tables->generation(QString::fromLatin1(gen)), QStringLiteral("ID"),
                                 QString::fromLatin1(type), task);
    }
    static QString d4(const char *type, const QString &task) {
        return encodeKeyFunctionD4(tables->generation(QStringLiteral("D4.0")),
                                   QStringLiteral("05ac024f"), QString::fromLatin1(type), task);
    }
    static const DriverTemplate &d2() { return tables->generation(QStringLiteral("D2.0")); }
    static DriverTemplates *tables;
};
DriverTemplates *Encoding::tables = nullptr;

TEST_F(Encoding, TableLookupTypes) {
    EXPECT_EQ(enc("Mouse", "单击左键()"), "0x01,0x01,0x00,0x00");
    EXPECT_EQ(enc("MACROFUN", "打断执行()"), "0x09,0x03,0x00,0x00");
    EXPECT_EQ(enc("media", "静音"), "0x03,0x00,0xE2,0x00");
    EXPECT_EQ(enc("MEDIA", "静音", "D3.0"), "0x03,0x28,0x00,0x00");
    EXPECT_EQ(enc("MOUSE", "no such task"), "");
    EXPECT_EQ(enc("SOMETHING", "单击左键()"), "");
}

TEST_F(Encoding, HotKeys) {
    EXPECT_EQ(enc("HOTKEY", "Ctrl+Alt+Delete"), "0x02,5,4C,0");
    EXPECT_EQ(enc("HotKey", "Ctrl+A"), "0x02,1,04,0");
    EXPECT_EQ(enc("KEYBOARD", "A"), "0x02,04,0x00,0");
    EXPECT_EQ(enc("keyboard", "f5"), "0x02,3E,0x00,0");
    EXPECT_EQ(enc("HOTKEY", "Ctrl+Shift+Alt+Win+Z"), "0x02,f,1D,0");
    // Modifier words in any case are modifiers, not the table's modifier-bit rows.
    EXPECT_EQ(enc("HOTKEY", "CTRL+A"), "0x02,1,04,0");
    EXPECT_EQ(enc("HOTKEY", "shift+win+b"), "0x02,a,05,0");
    // A lone upper-case key word is its own table row; the page's "Ctrl" is the left key.
    EXPECT_EQ(enc("KEYBOARD", "CTRL"), "0x02,1,0x00,0");
    EXPECT_EQ(enc("KEYBOARD", "SHIFT"), "0x02,2,0x00,0");
    EXPECT_EQ(enc("KEYBOARD", "Ctrl"), "0x02,E0,0x00,0");
    // A part the table lacks gives an empty item.
    EXPECT_EQ(enc("HOTKEY", "Ctrl+Nope"), "0x02,1,,0");
    // The plus key (Task "+") can be combined.
    EXPECT_EQ(enc("HOTKEY", "Ctrl++"), "0x02,1,2E,0");
    EXPECT_EQ(enc("KEYBOARD", "+"), "0x02,2E,0x00,0");
    // With the D3.0 table the D2.0 spelling "LCTRL" is still found, the upper-cased key too.
    EXPECT_EQ(enc("HOTKEY", "Ctrl+A", "D3.0"), "0x02,1,04,0");
}

TEST_F(Encoding, SplitWordAndDpi) {
    EXPECT_EQ(splitWord(32), (QStringList{"20", "0x00"}));
    EXPECT_EQ(splitWord(255), (QStringList{"ff", "0x00"}));
    EXPECT_EQ(splitWord(256), (QStringList{"00", "1"}));
    EXPECT_EQ(splitWord(300), (QStringList{"2c", "1"}));
    EXPECT_EQ(splitWord(0xFFF), (QStringList{"ff", "f"}));
    EXPECT_EQ(splitWord(0x1234), (QStringList{"34", "12"}));

    EXPECT_EQ(enc("DPI", "1|1600|800"), "1,20,0x00,20,0x00,0x00,0x00,0x00");
    EXPECT_EQ(enc("Dpi", "2|1600|800"), "2,20,0x00,10,0x00,0x00,0x00,0x00");
    EXPECT_EQ(enc("DPI", "2|26000|12850"), "2,08,2,01,1,0x00,0x00,0x00");
    EXPECT_EQ(enc("DPI", "2|1625|849"), "2,20,0x00,10,0x00,0x00,0x00,0x00");
}

TEST_F(Encoding, ModifierMaskBitOrder) {
    EXPECT_EQ(modifierMask("1,0,0,0,0,0,0,0"), "1");
    EXPECT_EQ(modifierMask("0,0,0,1,0,0,0,0"), "8");
    EXPECT_EQ(modifierMask("0,0,0,0,1,0,0,0"), "10");
    EXPECT_EQ(modifierMask("0,0,0,0,0,0,0,1"), "80");
    EXPECT_EQ(modifierMask("1,1,1,1,1,1,1,1,1"), "ff");
    EXPECT_EQ(modifierMask("0,1"), "2");
    EXPECT_EQ(modifierMask(""), "0");
    EXPECT_EQ(modifierMask("x,1"), "2");
}

TEST_F(Encoding, KeyboardSpecialFunctions) {
    EXPECT_EQ(enc("END", "END"), "0x09,0x00,0x00,0x00,4D");
    EXPECT_EQ(enc("MPT", "10-ET|255-1|ET-16"), "0x08,0x00,0x00,0x00,a,0x00,ff,1,0x00,10");
    EXPECT_EQ(enc("TGL", "1-2|3-4|5-6"), "0x07,0x00,0x00,0x00,1,2,3,4,5,6");
    EXPECT_EQ(enc("MT", "200-ET"), "0x06,0x00,0x00,0x00,c8,0x00,0x00,0x00,0x00,0x00");
    EXPECT_EQ(enc("DKS", "40|A-Ctrl-ET-Delete|1,0,0,0|0,1|ET|0,0,0,0,0,0,0,1"),
              "0x05,0x00,0x00,0x00,28,04,E0,0x00,4C,1,2,0x00,80");
}

TEST_F(Encoding, MacroStepsFromTheTask) {
    EXPECT_EQ(enc("MACRO", "键盘按下(Shift)延迟(12.9)键盘弹起(Shift):1|2|3"),
              "0x84,E1,0x00,0x06,c,0,0x04,E1,0x00,");
    EXPECT_EQ(enc("MACRO", "未知(A)键盘按下()延迟(5)"), "0x06,5,0,");
    EXPECT_EQ(enc("MACRO", ""), "");
}

TEST_F(Encoding, AccessLibraryKeyboardVariant) {
    EXPECT_EQ(d4("MOUSE", "单击左键()"), "0x00000003");
    EXPECT_EQ(d4("MEDIA", "提高音量"), "0x03,0x26,0x00,0x00");
    EXPECT_EQ(d4("MEDIA", "计算器"), "0x03,0x92,0x01,0x00");
    EXPECT_EQ(d4("MOUSE", "DPI+"), "0x01,0x21,0x00,0x00");
    // The library reads the modifier and the key usage in decimal.
    EXPECT_EQ(d4("HOTKEY", "Ctrl+A"), "0x02,17,4,0");
    EXPECT_EQ(d4("HOTKEY", "Shift+Alt+Enter"), "0x02,16,40,0");
    EXPECT_EQ(d4("KEYBOARD", "a"), "0x02,0,4,0");
    EXPECT_EQ(d4("HOTKEY", "ALT+F4"), "0x02,18,61,0");
    EXPECT_EQ(d4("HOTKEY", "Ctrl+NoSuchKey"), "0x02,17,,0");
    EXPECT_EQ(d4("DPI", "1|800|800"), "1,10,0x00,10,0x00,0x00,0x00,0x00");
}

KeyAssignment key(const char *type, const QString &task) {
    KeyAssignment k;
    k.type = QString::fromLatin1(type);
    k.task = task;
    return k;
}

TEST_F(Encoding, D2KeyRecords) {
    KeyAssignment k = key("HOTKEY", "Ctrl+Alt+Delete");
    k.playtype = "1";
    k.playcount = "255";
    k.playdelay = "300";
    k.burttonroute = "1";
    k.dynamicroutedown = "2";
    k.dynamicrouteup = "3";
    EXPECT_EQ(buildD2KeyRecord(d2(), "ID", k), "0x01,1,ff,2c,1,0,1,0x00,0x00,2,3,0x02,5,4C,0");

    // A left click ignores delay and routes.
    k.type = "MOUSE";
    k.task = "单击左键()";
    EXPECT_EQ(buildD2KeyRecord(d2(), "ID", k),
              "0x01,1,ff,0,0,0,0,0x00,0x00,0,0,0x01,0x01,0x00,0x00");

    // A delay above 65535 keeps its low 16 bits.
    KeyAssignment big = key("MEDIA", "静音");
    big.playdelay = "65836";
    EXPECT_EQ(buildD2KeyRecord(d2(), "ID", big),
              "0x01,0,0,2c,1,0,0,0x00,0x00,0,0,0x03,0x00,0xE2,0x00");

    // Type "Macro": playback from the task, header naming the macro area and the step count.
    KeyAssignment m = key("Macro", "延迟(1000):2|500|4");
    m.playtype = "7";
    EXPECT_EQ(buildD2KeyRecord(d2(), "ID", m),
              "0x01,2,4,f4,1,0,0,0x00,0x00,0,0,0x04,b5,3,0x00,0x06,e8,3");
    // 100 delays are 300 step items: the count's high byte is kept in the header.
    QString hundred;
    for (int i = 0; i < 100; ++i)
        hundred += QStringLiteral("延迟(1)");
    const QStringList long_ =
        buildD2KeyRecord(d2(), "ID", key("Macro", hundred + ":1|0|1")).split(',');
    EXPECT_EQ(long_.size(), 15 + 300);
    EXPECT_EQ(long_.mid(11, 4), (QStringList{"0x04", "b5", "2c", "1"}));
    KeyAssignment empty = key("Macro", ":1|0|1");
    EXPECT_EQ(buildD2KeyRecord(d2(), "ID", empty), "0x01,1,1,0,0,0,0,0x00,0x00,0,0,0x04,b5,0,0x00");
}

TEST_F(Encoding, RouteAndMouseRecords) {
    EXPECT_EQ(d2RouteConfRecord("255", "16", ""),
              "0x02,0x00,0x00,0x00,0x00,ff,0x00,0x00,0x00,10,0,0x00,0x00,0x00,0x00");
    EXPECT_EQ(d2RouteOverRecord().split(',').size(), 15);
    EXPECT_EQ(buildD2MouseRecord("2", "16", "0x02,1,04,0"),
              "0x01,2,10,0,0,0x00,0x00,0x00,0x00,0x00,0x00,0x02,1,04,0");
    EXPECT_EQ(buildD2MouseRecord("2", "16", "0x01,0x02,0x00,0x00"),
              "0x01,0,0,0,0,0x00,0x00,0x00,0x00,0x00,0x00,0x01,0x02,0x00,0x00");
}

} // namespace

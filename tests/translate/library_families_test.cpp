// The keyboard and mouse driven through their own access libraries: the exact library calls,
// recorded at the KeyboardLibrary / MouseLibrary boundary, and the colours those calls pack.
#include "device/library_tables.h"
#include "recording_device.h"
#include "translate/driver_templates.h"
#include "translate/key_encoding.h"
#include "translate/library_translators.h"
#include "translate/translation_context.h"

#include <QFile>
#include <gtest/gtest.h>

inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace torvanix;
using namespace torvanix::test;

namespace {

QByteArray dataFile(const char *name) {
    QFile f(QStringLiteral(TORVANIX_TEST_DATA_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

struct Library : ::testing::Test {
    RecordingDeviceOperations ops;
    RecordingPacer pacer{ops.log()};
    CollectingEventSink events;
    DriverTemplates templates;
    TranslationContext ctx{ops, templates, events, pacer, nullptr};

    void SetUp() override {
        ASSERT_TRUE(templates.loadDriverTemplateText(dataFile("hfd/d4_rows.xml")));
        ASSERT_TRUE(templates.loadDriverTemplateText(dataFile("library/d3_rows.xml")));
    }

    static QString doc(const char *id, const QString &body) {
        return QStringLiteral("<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" "
                              "value=\"%1\"/><key name=\"CurProfile\" value=\"1\"/>%2"
                              "</configuration>")
            .arg(QLatin1String(id), body);
    }

    // The colour a recorded "kb.setLed" line makes the library show.
    static int ledColour(const QString &line) {
        const QStringList f = line.split(' ');
        return keyboardLedColour(f.value(5).toInt(), f.value(6).toInt(), f.value(7).toInt());
    }
    static int mouseColour(const QString &line) {
        const QStringList f = line.split(' ');
        return mouseLightColour(f.value(5).toInt(), f.value(6).toInt(), f.value(7).toInt());
    }
};

const QString kPreset = QStringLiteral(
    "<light><mode name=\"Default\" index=\"3\" action=\"set\"><key name=\"LightMode\" "
    "value=\"%1\"/><key name=\"LightRGB\" value=\"ff8000\"/><key name=\"LightBrightness\" "
    "value=\"1\"/><key name=\"LightSpeed\" value=\"2\"/></mode></light>");

} // namespace

TEST_F(Library, KeyboardPresetsShowTheFixedColour) {
    translateKeyboardD4(ctx, doc("05AC024F", kPreset.arg(7)));
    ASSERT_EQ(ops.calls().size(), 1);
    const QString call = ops.calls().at(0);
    EXPECT_TRUE(call.startsWith("kb.setLed 7 5 5 1 ")) << qPrintable(call);
    EXPECT_EQ(ledColour(call), 0xFFEA7B);
}

TEST_F(Library, KeyboardPerKeyColoursReachTheLibraryAsRedGreenBlue) {
    translateKeyboardD4(ctx, doc("05ac024f", "<light><mode name=\"LightUp\" action=\"set\">"
                                             "<key rc=\"4\" rgb=\"102030\"/><key rgb=\"ffffff\"/>"
                                             "<key rc=\"130\" rgb=\"ff0000\"/></mode></light>"));
    // kb_handler passes (key, c3, c1, c2) to SetKeyColor(key, r, g, b).
    EXPECT_EQ(
        ops.calls(),
        QStringList({QStringLiteral("kb.setKeyColor 4 %1 %2 %3").arg(0x20).arg(0x30).arg(0x10),
                     QStringLiteral("kb.setKeyColor 130 0 0 255")}));
}

TEST_F(Library, KeyboardKeysAndTheirRestore) {
    const DriverTemplate &d4 = templates.generation("D4.0");
    translateKeyboardD4(ctx, doc("05AC024F", "<key name=\"Button3\" nc=\"12\" length=\"4\" "
                                             "type=\"KEYBOARD\" task=\"Ctrl+A\" action=\"set\"/>"));
    const QString code = encodeKeyFunctionD4(d4, "05ac024f", "KEYBOARD", "Ctrl+A");
    ASSERT_FALSE(code.isEmpty());
    EXPECT_EQ(ops.calls(), QStringList{"kb.setKey KEYBOARD 12 " + code});

    // Deleting restores the key's own default: a keyboard key as a key, a function as one.
    ops.log().clear();
    translateKeyboardD4(ctx, doc("05AC024F", "<key name=\"Button3\" nc=\"12\" value=\"A\" "
                                             "action=\"delete\"/>"));
    translateKeyboardD4(ctx, doc("05AC024F", "<key name=\"Button1\" nc=\"1\" "
                                             "value=\"单击左键()\" action=\"delete\"/>"));
    EXPECT_EQ(
        ops.calls(),
        QStringList(
            {"kb.setKey KEYBOARD 12 " + encodeKeyFunctionD4(d4, "05ac024f", "KEYBOARD", "A"),
             "kb.setKey MOUSE 1 " + encodeKeyFunctionD4(d4, "05ac024f", "MOUSE", "单击左键()")}));
    EXPECT_TRUE(ops.calls().at(1).endsWith("0x00000003"));
    EXPECT_TRUE(events.events().isEmpty());
}

TEST_F(Library, MouseLightingUsesTheColourCallOnlyForTheStaticMode) {
    translateMouseD3(ctx, doc("258A002E", kPreset.arg(2)));
    translateMouseD3(ctx, doc("258A002E", kPreset.arg(5)));
    const QStringList calls = ops.calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(calls.at(0).startsWith("ms.setLightColor 2 4 4 4 ")) << qPrintable(calls.at(0));
    EXPECT_EQ(mouseColour(calls.at(0)), 0xFF8000);
    EXPECT_EQ(calls.at(1), "ms.setLightValue 5 4");
}

TEST_F(Library, MouseKeysDpiAndFirstMatch) {
    const DriverTemplate &d3 = templates.generation("D3.0");
    // A document with lighting and a key: only the lighting (first match) is done.
    translateMouseD3(ctx,
                     doc("258a002e", kPreset.arg(5) + "<key nc=\"2\" type=\"MOUSE\" task=\"DPI+\" "
                                                      "action=\"set\"/>"));
    translateMouseD3(ctx, doc("258a002e", "<key nc=\"2\" type=\"MOUSE\" task=\"DPI+\" "
                                          "action=\"set\"/>"));
    translateMouseD3(ctx, doc("258a002e", "<key nc=\"2\" value=\"单击右键()\" "
                                          "action=\"delete\"/>"));
    translateMouseD3(ctx, doc("258a002e", "<dpi current=\"2\" count=\"3\" index=\"9\">"
                                          "<key name=\"Dpi1\" x=\"800\" y=\"800\"/>"
                                          "<key name=\"Dpi2\" x=\"1600\" y=\"1600\" "
                                          "action=\"set\"/><key name=\"Dpi3\" x=\"3200\" "
                                          "y=\"3200\"/></dpi>"));
    const QStringList calls = ops.calls();
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls.at(0), "ms.setLightValue 5 4");
    EXPECT_EQ(calls.at(1),
              "ms.setKey MOUSE 2 " + encodeKeyFunction(d3, "258a002e", "MOUSE", "DPI+"));
    EXPECT_EQ(calls.at(2), "ms.setKey MOUSE 2 0x01,0x02,0x00,0x00");
    EXPECT_TRUE(calls.at(3).startsWith("ms.setDpiStages current=2 count=3"))
        << qPrintable(calls.at(3));
}

TEST_F(Library, ColourHelpersPackRedGreenBlue) {
    RecordingKeyboard kb(ops.log());
    RecordingMouse ms(ops.log());
    libcolour::setKeyboardLed(kb, 1, 5, 5, 0, 0x12, 0x34, 0x56);
    libcolour::setMouseColour(ms, 2, 4, 0x12, 0x34, 0x56);
    EXPECT_EQ(ledColour(ops.calls().at(0)), 0x123456);
    EXPECT_EQ(mouseColour(ops.calls().at(1)), 0x123456);
}

namespace {

// The library families against the built-in tables: what the library's key table holds for
// an assignment, decoded the way the library wrappers read the value.
struct LibraryKeys : ::testing::Test {
    RecordingDeviceOperations ops;
    RecordingPacer pacer{ops.log()};
    CollectingEventSink events;
    DriverTemplates templates;
    TranslationContext ctx{ops, templates, events, pacer, nullptr};

    void SetUp() override { ASSERT_TRUE(templates.loadBuiltIn()); }

    static QString key(const char *id, const char *attrs) {
        return QStringLiteral("<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" "
                              "value=\"%1\"/><key name=\"Button1\" nc=\"7\" %2/>"
                              "</configuration>")
            .arg(QLatin1String(id), QString::fromUtf8(attrs));
    }
    // Type and value of the only recorded setKey call ("kb.setKey TYPE 7 VALUE").
    QStringList lastSetKey() {
        const QStringList calls = ops.calls();
        ops.log().clear();
        if (calls.size() != 1)
            return {};
        const QStringList f = calls.at(0).split(' ');
        return {f.value(1), f.value(3)};
    }
    int32_t keyboardEntry(const char *attrs) {
        translateKeyboardD4(ctx, key("05AC024F", attrs));
        const QStringList k = lastSetKey();
        EXPECT_EQ(k.size(), 2) << attrs;
        return keyboardKeyEntry(k.value(0), k.value(1));
    }
    int32_t mouseEntry(const char *attrs) {
        translateMouseD3(ctx, key("258A002E", attrs));
        const QStringList k = lastSetKey();
        EXPECT_EQ(k.size(), 2) << attrs;
        return mouseKeyEntry(k.value(0), k.value(1));
    }
};

} // namespace

TEST_F(LibraryKeys, KeyboardCombinationsCarryTheirKey) {
    // Usage << 16 | modifier << 8 (Ctrl 1, Shift 2, Alt 4).
    EXPECT_EQ(keyboardEntry("type=\"HOTKEY\" task=\"Alt+F4\" action=\"set\""), 0x3D0400);
    EXPECT_EQ(keyboardEntry("type=\"KEYBOARD\" task=\"Z\" action=\"set\""), 0x1D0000);
    EXPECT_EQ(keyboardEntry("type=\"HOTKEY\" task=\"Ctrl+Enter\" action=\"set\""), 0x280100);
    EXPECT_EQ(keyboardEntry("type=\"KEYBOARD\" task=\"a\" action=\"set\""), 0x040000);
    // Restoring a keyboard key's default.
    EXPECT_EQ(keyboardEntry("value=\"M\" action=\"delete\""), 0x100000);
}

TEST_F(LibraryKeys, MouseCombinationsCarryTheirKeyAndModifiers) {
    // Usage << 16 + modifier bits << 8 + 33.
    EXPECT_EQ(mouseEntry("type=\"KEYBOARD\" task=\"A\" action=\"set\""), 0x040000 + 33);
    EXPECT_EQ(mouseEntry("type=\"KEYBOARD\" task=\"Z\" action=\"set\""), 0x1D0000 + 33);
    EXPECT_EQ(mouseEntry("type=\"HOTKEY\" task=\"Ctrl+Shift+M\" action=\"set\""), 0x100300 + 33);
    EXPECT_EQ(mouseEntry("type=\"HOTKEY\" task=\"Ctrl+Alt+Win+Shift+F12\" action=\"set\""),
              0x450F00 + 33);
    EXPECT_EQ(mouseEntry("type=\"HOTKEY\" task=\"Ctrl+Enter\" action=\"set\""), 0x280100 + 33);
    // Restoring a keyboard key's default, in the table's own spelling.
    EXPECT_EQ(mouseEntry("value=\"Esc\" action=\"delete\""), 0x290000 + 33);
    // Functions keep their table code.
    EXPECT_EQ(mouseEntry("type=\"MOUSE\" task=\"单击右键()\" action=\"set\""), 0x0200 + 17);
}

TEST_F(LibraryKeys, KeysWithoutAKeyNumberAreNotWritten) {
    // Without a usable number the assignment would land on key 0.
    for (const char *nc : {"", "nc=\"\"", "nc=\"x\"", "nc=\"-1\""}) {
        const QString body = QStringLiteral("<key name=\"Button1\" %1 type=\"MOUSE\" "
                                            "task=\"单击右键()\" action=\"set\"/><key name=\"B\" "
                                            "%1 value=\"A\" action=\"delete\"/>")
                                 .arg(QLatin1String(nc));
        for (const char *id : {"05AC024F", "258A002E"}) {
            const QString doc = QStringLiteral("<configuration><key name=\"UsbId\" value=\"%1\"/>"
                                               "%2</configuration>")
                                    .arg(QLatin1String(id), body);
            translateKeyboardD4(ctx, doc);
            translateMouseD3(ctx, doc);
            QString deleteOnly = doc;
            deleteOnly.replace(QStringLiteral("action=\"set\""), QString());
            translateKeyboardD4(ctx, deleteOnly);
            translateMouseD3(ctx, deleteOnly);
        }
    }
    EXPECT_TRUE(ops.calls().isEmpty()) << qPrintable(ops.calls().join('\n'));
}

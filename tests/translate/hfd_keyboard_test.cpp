// The packet keyboard: the exact packet sequences of its transfers, its key encoder and the
// macro table image, recorded at the device operations boundary.
#include "recording_device.h"
#include "translate/driver_templates.h"
#include "translate/hfd_keyboard.h"
#include "translate/macro_array.h"
#include "translate/packet_transfer.h"
#include "translate/translation_context.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace torvanix;
using namespace torvanix::test;

namespace {

const QString kId = QStringLiteral("0c458075");

QByteArray d4Rows() {
    QFile f(QStringLiteral(TORVANIX_TEST_DATA_DIR "/hfd/d4_rows.xml"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

struct Fixture : ::testing::Test {
    RecordingDeviceOperations ops;
    RecordingPacer pacer{ops.log()};
    CollectingEventSink events;
    DriverTemplates templates;
    QList<bool> callbacks;
    TranslationContext ctx{ops, templates, events, pacer, [this](bool r) { callbacks << r; }};

    void SetUp() override { ASSERT_TRUE(templates.loadDriverTemplateText(d4Rows())); }

    CodeLookup lookup() const { return templateLookup(templates, QStringLiteral("D4.0")); }

    static QStringList zeros(int n) { return QStringList(QVector<QString>(n, "0x00").toList()); }

    // The expected log of one transfer of `packets` (64 items each).
    static QStringList transfer(const QString &command, const QString &first,
                                const QString &announced, int hsCommand, int hsCount,
                                const QString &dataCommand, const QStringList &items,
                                const QString &finishFirst, const QStringList &tail = {}) {
        QStringList log{
            QStringLiteral("writeSingleValue %1 %2 %3 %4").arg(kId, command, announced, first),
            "pause 10",
            QStringLiteral("requestPacket %1 %2 %3").arg(kId).arg(hsCommand).arg(hsCount),
            "pause 10"};
        for (int at = 0; at + 64 <= items.size(); at += 64) {
            log << QStringLiteral("writePacket %1 %2 64 %3")
                       .arg(kId, dataCommand, items.mid(at, 64).join(','))
                << "pause 10";
        }
        log << "pause 10" << QStringLiteral("writeSingleValue %1 2 0 %2").arg(kId, finishFirst)
            << "pause 30" << QStringLiteral("requestPacket %1 2 1").arg(kId);
        return log + tail;
    }
};

QString doc(const QString &body, const QString &rootAttrs = QString()) {
    return QStringLiteral("<?xml version=\"1.0\"?>\n<configuration%1>"
                          "<key name=\"UsbId\" value=\"0C458075\"/>"
                          "<key name=\"CurProfile\" index=\"5\" length=\"1\" value=\"2\"/>%2"
                          "</configuration>")
        .arg(rootAttrs, body);
}

} // namespace

TEST_F(Fixture, MacroTableOfTenStepsIsSevenPacketsAnnouncedAsNine) {
    const QString macro = QStringLiteral(
        "[{\"content\":\"键盘按下(A)延迟(100)键盘弹起(A)键盘按下(Ctrl)键盘按下(B)延迟(1000)"
        "键盘弹起(B)键盘弹起(Ctrl)延迟(300)键盘按下(Space):1|0|1\"}]");
    writeMacroArray(ctx, QStringLiteral("0C458075"), macro);

    QStringList image = zeros(400);
    image[0] = "0x90";
    image[1] = "0x01";
    image << "0x0a" << zeros(7);
    image << "0x00"
          << "0x00"
          << "0x04"
          << "0xb0" // A down
          << "0x64"
          << "0x00"
          << "0x00"
          << "0x50" // 100 ms
          << "0x00"
          << "0x00"
          << "0x04"
          << "0x30" // A up
          << "0x00"
          << "0x00"
          << "0xe0"
          << "0xb0" // left Ctrl down
          << "0x00"
          << "0x00"
          << "0x05"
          << "0xb0" // B down
          << "0xe8"
          << "0x03"
          << "0x00"
          << "0x50" // 1000 ms
          << "0x00"
          << "0x00"
          << "0x05"
          << "0x30" // B up
          << "0x00"
          << "0x00"
          << "0xe0"
          << "0x30" // left Ctrl up
          << "0x2c"
          << "0x01"
          << "0x00"
          << "0x50" // 300 ms
          << "0x00"
          << "0x00"
          << "0x2c"
          << "0xb0"; // Space down
    ASSERT_EQ(image.size(), 448);
    image[62] = "0xaa";
    image[63] = "0x55";

    EXPECT_EQ(ops.calls(), transfer("21", "0x00", "9", 21, 1, "19", image, "0x00"));
    EXPECT_TRUE(events.events().isEmpty());
}

TEST_F(Fixture, MacroTableOffsetsFollowTheStoredBodies) {
    // The mouse step of the first macro is not stored, so the second macro starts right after
    // the three stored steps (400 + 8 + 12 = 420 = 0x1a4).
    const QStringList image = macroTableImage(
        lookup(), {QStringLiteral("键盘按下(A)鼠标按下(单击左键())键盘弹起(A)延迟(20):x"),
                   QStringLiteral("延迟(5000)")});
    EXPECT_EQ(image.mid(0, 8),
              QStringList({"0x90", "0x01", "0x00", "0x00", "0xa4", "0x01", "0x00", "0x00"}));
    EXPECT_EQ(image.mid(400, 2), QStringList({"0x03", "0x00"}));
    EXPECT_EQ(image.mid(420, 12), QStringList({"0x01", "0x00", "0x00", "0x00", "0x00", "0x00",
                                               "0x00", "0x00", "0x88", "0x13", "0x00", "0x50"}));
    EXPECT_EQ(image.size() % 64, 0);

    // Not a JSON array: no macros, but the first entry, the padding and the marker still go.
    const QStringList empty = macroTableImage(lookup(), macroTexts(QStringLiteral("{oops")));
    // The list is read only as far as the hundred entries the table holds.
    QString list = "[";
    for (int i = 0; i < 100; ++i)
        list += QString(i ? "," : "") + "{\"content\":\"延迟(" + QString::number(i) + ")\"}";
    const QStringList hundred = macroTexts(list + ",{\"content\":\"x\"}, this is not JSON");
    ASSERT_EQ(hundred.size(), 100);
    EXPECT_EQ(hundred.last(), "延迟(99)");
    EXPECT_EQ(macroTexts(R"([ "a" , {"content":"b,]"} ])"), (QStringList{"a", "b,]"}));
    for (const char *bad : {R"([{"content":"a"}] x)", R"([{"content":"a"},])", R"([{"content":)",
                            R"([{"content":"a"} {"content":"b"}])"})
        EXPECT_TRUE(macroTexts(QString::fromUtf8(bad)).isEmpty()) << bad;
    EXPECT_EQ(empty.size(), 448);
    EXPECT_EQ(empty.mid(0, 2), QStringList({"0x90", "0x01"}));
    EXPECT_EQ(empty.mid(62, 2), QStringList({"0xaa", "0x55"}));
    EXPECT_EQ(empty.mid(400).count("0x00"), 48);

    // At most 100 macros fit the offset table.
    QStringList many;
    for (int i = 0; i < 120; ++i)
        many << QStringLiteral("延迟(1)");
    const QStringList full = macroTableImage(lookup(), many);
    EXPECT_EQ(full.size(), 1600); // 400 + 100 x (8 + 4), already whole packets
    EXPECT_EQ(full.mid(396, 2), QStringList({"0x34", "0x06"})); // entry 99: 1588
}

TEST_F(Fixture, PerKeyColoursGoAsNinePacketsOfEntries) {
    translateHfdKeyboard(
        ctx, doc("<light index=\"1\" length=\"1\"><mode name=\"LightUp\" index=\"9\" "
                 "action=\"set\"><key rc=\"0\" rgb=\"ff8000\"/><key rc=\"143\" rgb=\"0000ff\"/>"
                 "<key rc=\"144\" rgb=\"ffffff\"/><key rgb=\"ffffff\"/><key rc=\"x\" "
                 "rgb=\"ffffff\"/></mode></light>"));
    QStringList table;
    for (int k = 0; k < 144; ++k)
        table << "0x80"
              << "0x00"
              << "0x00"
              << "0x00";
    table[1] = "0xff";
    table[2] = "0x80";
    table[575] = "0xff";
    EXPECT_EQ(ops.calls(), transfer("19", "0x81", "9", 19, 576, "19", table, "0x81"));
    EXPECT_EQ(callbacks, QList<bool>{false});
}

TEST_F(Fixture, EffectsAreTwentyPresetsAndTheCurrentRecord) {
    translateHfdKeyboard(
        ctx, doc("<light index=\"1\" length=\"1\"><mode name=\"Default\" index=\"3\" "
                 "action=\"set\"><key name=\"LightMode\" value=\"16\"/>"
                 "<key name=\"LightRGB\" value=\"ff8000\"/><key name=\"LightDirection\" "
                 "value=\"1\"/><key name=\"LightBrightness\" value=\"15\"/>"
                 "<key name=\"LightSpeed\" value=\"3\"/></mode></light>"));
    const QStringList tail{"0x01", "0x10", "0x0c", "0x00", "0x00", "0x00", "0xaa", "0x55"};
    QStringList items;
    for (int n = 1; n <= 20; ++n)
        items << hexByte(n) << "0x01"
              << "0xff"
              << "0x80"
              << "0x00"
              << "0x01"
              << "0x0f"
              << "0x03" << tail;
    items << "0x10"
          << "0x00"
          << "0xff"
          << "0x80"
          << "0x00"
          << "0x01"
          << "0x0f"
          << "0x03" << tail << zeros(48);
    EXPECT_EQ(ops.calls(), transfer("19", "0x00", "6", 19, 384, "19", items, "0x00",
                                    {"writeSingleValue 0c458075 240 0 0x00"}));
}

TEST_F(Fixture, ResetSendsModeZeroEffectsAndTheDefaultKeyTable) {
    translateHfdKeyboard(ctx, doc("<light><mode name=\"Default\" index=\"0\"><key "
                                  "name=\"LightMode\" value=\"2\"/></mode></light>"
                                  "<key name=\"Button1\" rc=\"3\" type=\"KEYBOARD\" task=\"B\"/>",
                                  " action=\"reset\""));
    const QStringList calls = ops.calls();
    ASSERT_EQ(calls.filter(QRegularExpression("^writePacket 0c458075 19 ")).size(), 6);
    ASSERT_EQ(calls.filter(QRegularExpression("^writePacket 0c458075 11 ")).size(), 10);
    // Missing keys read as 0; the current record selects effect 2.
    const QString sixth = calls.filter(QRegularExpression("^writePacket 0c458075 19 ")).at(5);
    EXPECT_TRUE(sixth.endsWith("0x02,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x01,0x10,0x0c,0x00,"
                               "0x00,0x00,0xaa,0x55," +
                               zeros(48).join(',')))
        << qPrintable(sixth);
    EXPECT_TRUE(calls.contains("writeSingleValue 0c458075 17 10 0x02"));
    EXPECT_FALSE(events.texts().at(0).contains("action="));
}

TEST_F(Fixture, KeyTableCarriesEveryKeyWithAKeyNumber) {
    translateHfdKeyboard(ctx,
                         doc("<key name=\"Button1\" rc=\"0\" type=\"KEYBOARD\" task=\"Ctrl+A\" "
                             "action=\"set\"/>"
                             "<key name=\"Button2\" rc=\"2\" type=\"MOUSE\" task=\"单击右键()\"/>"
                             "<key name=\"Button3\" rc=\"159\" type=\"MEDIA\" task=\"播放/暂停\"/>"
                             "<key name=\"Button4\" rc=\"160\" type=\"KEYBOARD\" task=\"A\"/>"
                             "<key name=\"Button5\" rc=\"7\" type=\"KEYBOARD\" task=\"B\" "
                             "action=\"delete\"/>"
                             "<key name=\"Button6\" type=\"KEYBOARD\" task=\"B\"/>"
                             "<key name=\"Button7\" rc=\"z\" type=\"KEYBOARD\" task=\"B\"/>"));
    QStringList table = zeros(640);
    const QStringList ctrlA{"0x02", "0x01", "0x04", "0x00"};
    const QStringList right{"0x01", "0x01", "0x02", "0x00"};
    for (int i = 0; i < 4; ++i) {
        table[i] = ctrlA[i];
        table[8 + i] = right[i];
    }
    table[636] = "0x03"; // the media row keeps its bytes in vkCode
    table[637] = "0x22";
    table[638] = "0xaa";
    table[639] = "0x55";
    EXPECT_EQ(ops.calls(), transfer("17", "0x02", "10", 17, 10, "11", table, "0x00",
                                    {"writeSingleValue 0c458075 24 0 0x00"}));
    const QString echo = events.texts().value(0);
    EXPECT_FALSE(echo.contains("action="));
    EXPECT_TRUE(echo.startsWith("<?xml version=\"1.0\"?>")); // the received text, not rewritten
    EXPECT_EQ(callbacks, QList<bool>{false});
}

TEST_F(Fixture, PowerQueryAnswersTheBatteryWithoutTouchingTheKeyTable) {
    ops.setPacketReply(97, QStringLiteral("0x61,0x01,0x00,0x00,0x5a,0x00"));
    translateHfdKeyboard(ctx, doc("<key name=\"Power\" index=\"9\" length=\"1\" value=\"\" "
                                  "action=\"set\"/>"));
    const QStringList expected{"writeSingleValue 0c458075 97 64 0x00",
                               "pause 10",
                               "requestPacket 0c458075 97 64",
                               "pause 10",
                               "writeSingleValue 0c458075 2 0 0x00",
                               "pause 30",
                               "requestPacket 0c458075 2 1"};
    EXPECT_EQ(ops.calls(), expected);
    ASSERT_EQ(events.texts().size(), 1);
    const QString answer = events.texts().at(0);
    EXPECT_TRUE(answer.contains("name=\"Power\" index=\"9\" length=\"1\" value=\"90\""))
        << qPrintable(answer);
    EXPECT_FALSE(answer.contains("action="));
    EXPECT_FALSE(answer.contains("<?xml"));
    EXPECT_EQ(callbacks, QList<bool>{false});
}

TEST_F(Fixture, DocumentsThatDoNotParseHaveNoEffect) {
    translateHfdKeyboard(ctx, QStringLiteral("<configuration><key"));
    EXPECT_TRUE(ops.calls().isEmpty());
    EXPECT_TRUE(events.events().isEmpty());
    EXPECT_TRUE(callbacks.isEmpty());
}

TEST_F(Fixture, KeyEncoderEntries) {
    const CodeLookup l = lookup();
    auto enc = [&](const char *type, const QString &task, const char *count = "",
                   const char *delay = "") {
        return hfd::encodeKeyEntry(l, type, task, count, delay).join(',');
    };
    // Combinations: modifier bits from the left/right modifier usages, the plus key itself.
    EXPECT_EQ(enc("HOTKEY", "Ctrl+Shift+1"), "0x02,0x03,0x1e,0x00");
    EXPECT_EQ(enc("keyboard", "a"), "0x02,0x00,0x04,0x00");
    EXPECT_EQ(enc("KEYBOARD", "Alt+RCTRL"), "0x02,0x14,0x00,0x00");
    EXPECT_EQ(enc("HOTKEY", "Ctrl++"), "0x02,0x01,0x2e,0x00");
    EXPECT_EQ(enc("HOTKEY", "Ctrl+单击左键()"), "0x01,0x01,0x01,0x00");
    EXPECT_EQ(enc("HOTKEY", "计算器"), "0x03,0x92,0x01,0x00");
    EXPECT_EQ(enc("HOTKEY", "SwitchLight"), "0x07,0x01,0x00,0x00");
    EXPECT_EQ(enc("HOTKEY", "NoSuchKey"), "0x00,0x00,0x00,0x00");
    // Repeat keys: the documented button words, then keyboard keys.
    EXPECT_EQ(enc("GKEY", "连发:|20"), "0x07,0x14,0x01,0x00");
    EXPECT_EQ(enc("GKEY", QStringLiteral(":%1|10").arg(gkey::MouseRight)), "0x07,0x0a,0x02,0x00");
    EXPECT_EQ(enc("GKEY", QStringLiteral(":%1|10").arg(gkey::MouseMiddle)), "0x07,0x0a,0x04,0x00");
    EXPECT_EQ(enc("GKEY", QStringLiteral(":%1|10").arg(gkey::MouseForward)), "0x07,0x0a,0x10,0x00");
    EXPECT_EQ(enc("GKEY", QStringLiteral(":%1|10").arg(gkey::MouseBack)), "0x07,0x0a,0x08,0x00");
    EXPECT_EQ(enc("GKEY", ":mouseright|10"), "0x00,0x00,0x00,0x00"); // words are case-sensitive
    EXPECT_EQ(enc("GKEY", ":A|300"), "0x07,0xff,0x04,0x01");
    // Macros: number, count, delay.
    EXPECT_EQ(enc("MACRO", "3", "2", "40"), "0x06,0x03,0x02,0x28");
    EXPECT_EQ(enc("MEDIA", "播放/暂停"), "0x03,0x22,0x00,0x00");
    EXPECT_EQ(enc("DPI", "1|800|800"), "0x00,0x00,0x00,0x00");
}

TEST_F(Fixture, LargeMacroTableAnnouncesEveryPacket) {
    // Ten macros of twenty steps: 400 + 10 x (8 + 80) = 1280 items, twenty packets; the device
    // refuses packets beyond the announced count, so the announce names all twenty.
    QString list = "[";
    for (int m = 0; m < 10; ++m) {
        list += m ? ",{\"content\":\"" : "{\"content\":\"";
        for (int s = 0; s < 10; ++s)
            list += "键盘按下(A)延迟(20)";
        list += ":1\"}";
    }
    writeMacroArray(ctx, kId, list + "]");
    const QStringList calls = ops.calls();
    EXPECT_EQ(calls.first(), "writeSingleValue 0c458075 21 20 0x00");
    EXPECT_EQ(calls.filter(QRegularExpression("^writePacket 0c458075 19 64 ")).size(), 20);
}

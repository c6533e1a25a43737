// Macro step bytes: every step kind, the byte rules and the item limit.

#include "translate/driver_templates.h"
#include "translate/macro_steps.h"

#include <gtest/gtest.h>

using namespace torvanix;

namespace {

QString steps(const MacroSteps &s) {
    return encodeMacroSteps(QStringLiteral("ID"), s);
}

TEST(MacroSteps, ButtonsKeysAndWheel) {
    EXPECT_EQ(steps({{"mDown", "0x01"},
                     {"mUp", "0x01"},
                     {"keyDown", "04"},
                     {"keyUp", "04"},
                     {"WheelDown", ""},
                     {"WheelUp", ""}}),
              "0x81,0x01,0x00,0x01,0x01,0x00,0x84,04,0x00,0x04,04,0x00,0x83,0x01,0x00,0x03,0x01,"
              "0x00,");
    EXPECT_EQ(steps({{"teleport", "1"}, {"", "2"}}), "");
}

TEST(MacroSteps, Delays) {
    EXPECT_EQ(steps({{"delay", "1000"}}), "0x06,e8,3,");
    EXPECT_EQ(steps({{"delay", "255.9"}}), "0x06,ff,0,");
    EXPECT_EQ(steps({{"delay", "abc"}}), "0x06,0,0,");
    // Replays: the first points at 0, later ones at the steps before the previous plus 2;
    // MacrosDelay repeats the delay of the last Replays.
    EXPECT_EQ(steps({{"Replays", "3|500"},
                     {"MacrosDelay", ""},
                     {"keyDown", "04"},
                     {"Replays", "2|10"},
                     {"MacrosDelay", ""}}),
              "0x0A,0,3,0x06,f4,1,0x84,04,0x00,0x0A,2,2,0x06,a,0,");
}

TEST(MacroSteps, Moves) {
    EXPECT_EQ(steps({{"RelativeXY", "-5,0"}}), "0x85,fb,ff,");
    EXPECT_EQ(steps({{"RelativeXY", "0,5"}}), "0x05,fb,ff,");
    EXPECT_EQ(steps({{"RelativeXY", "0,-5"}}), "0x05,5,0,");
    EXPECT_EQ(steps({{"RelativeXY", "300,0"}}), "0x85,2c,1,");
    EXPECT_EQ(steps({{"RelativeXY", "0,0"}}), "");
    EXPECT_EQ(steps({{"SpearXY", "1,1"}}), "0x85,1,0,0x05,ff,ff,");
    EXPECT_EQ(steps({{"SpearLB", "-1,-1"}}), "0x85,ff,ff,0x05,1,0,");
    EXPECT_EQ(steps({{"AbsoluteXY", "300,20"}}), "0x82,2c,1,0x02,14,0,");
}

TEST(MacroSteps, ItemLimit) {
    MacroSteps many;
    for (int i = 0; i < 300; ++i)
        many.append(MacroStep("keyDown", "04"));
    const QString out = steps(many);
    EXPECT_TRUE(out.endsWith(','));
    // 265 steps hold 795 items, the 266th makes 798 (> 797), then nothing more is added.
    EXPECT_EQ(out.count(','), 798);

    // A six-item move that crosses the limit is kept whole.
    MacroSteps moves;
    for (int i = 0; i < 265; ++i)
        moves.append(MacroStep("keyDown", "04"));
    moves.append(MacroStep("SpearXY", "1,1"));
    moves.append(MacroStep("keyDown", "04"));
    EXPECT_EQ(steps(moves).count(','), 801);
}

TEST(MacroSteps, ParsingThePageText) {
    DriverTemplates tables;
    ASSERT_TRUE(tables.loadBuiltIn());
    const DriverTemplate &d2 = tables.generation(QStringLiteral("D2.0"));
    const MacroSteps s = parseMacroText(
        d2,
        QStringLiteral(" 键盘按下 ( Ctrl )鼠标按下(左键)鼠标弹起(右键)延迟( 20 )相对定位XY(3,-4)"
                       "键盘弹起(a)键盘弹起(WIN):1|2|3"));
    EXPECT_EQ(s, (MacroSteps{{"keyDown", "E0"},
                             {"mDown", "0x01"},
                             {"mUp", "0x02"},
                             {"delay", "20"},
                             {"RelativeXY", "3,-4"},
                             {"keyUp", "E3"}}));
    EXPECT_EQ(macroPlaybackFields(QStringLiteral("x(1):1|2|3")), (QStringList{"1", "2", "3"}));
    EXPECT_TRUE(macroPlaybackFields(QStringLiteral("x(1)")).isEmpty());
}

} // namespace

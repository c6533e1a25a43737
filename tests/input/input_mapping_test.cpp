// The input filter's decisions that need no device: hot-key names, notification blocks and
// the system's own devices.
#include "device/input_mapping.h"

#include <gtest/gtest.h>
#include <linux/input.h>

using namespace torvanix::input;

TEST(InputMapping, OnlyTheSixHotKeysAndCapsLockHaveNames) {
    EXPECT_EQ(hotKeyName(KEY_F1), "F1");
    EXPECT_EQ(hotKeyName(KEY_F2), "F2");
    EXPECT_EQ(hotKeyName(KEY_F3), "F3");
    EXPECT_EQ(hotKeyName(KEY_F4), "F4");
    EXPECT_EQ(hotKeyName(KEY_F11), "F11");
    EXPECT_EQ(hotKeyName(KEY_F12), "F12");
    EXPECT_EQ(hotKeyName(KEY_CAPSLOCK), "F12");
    for (int code : {KEY_F5, KEY_F10, KEY_A, KEY_ESC, KEY_F13, BTN_MIDDLE, 0, -1, 0x3ff})
        EXPECT_EQ(hotKeyName(code), "") << code;
}

TEST(InputMapping, ButtonStrokesBecomeBlocksWithTheLastPressRepeatedOnRelease) {
    ButtonBlockState state;
    EXPECT_EQ(buttonBlock(BTN_LEFT, 1, state), (ButtonBlock{0x01, 0x00, 0x01, 0x74}));
    EXPECT_EQ(buttonBlock(BTN_LEFT, 0, state), (ButtonBlock{0x01, 0x01, 0x01, 0x74}));
    EXPECT_EQ(buttonBlock(BTN_RIGHT, 1, state), (ButtonBlock{0x01, 0x00, 0x02, 0x75}));
    EXPECT_EQ(buttonBlock(BTN_MIDDLE, 1, state), (ButtonBlock{0x01, 0x00, 0x04, 0x76}));
    EXPECT_EQ(buttonBlock(BTN_SIDE, 1, state), (ButtonBlock{0x01, 0x00, 10, 0x77}));
    EXPECT_EQ(buttonBlock(BTN_EXTRA, 1, state), (ButtonBlock{0x01, 0x00, 0x08, 0x78}));
    // Whichever button goes up, the release names the last press.
    EXPECT_EQ(buttonBlock(BTN_RIGHT, 0, state), (ButtonBlock{0x01, 0x01, 0x08, 0x78}));
    // Auto-repeat and buttons outside the table send nothing and change nothing.
    EXPECT_FALSE(buttonBlock(BTN_LEFT, 2, state));
    EXPECT_FALSE(buttonBlock(BTN_FORWARD, 1, state));
    EXPECT_FALSE(buttonBlock(KEY_A, 1, state));
    EXPECT_EQ(state.lastValue, 0x08);
    EXPECT_FALSE(isForwardedButton(BTN_BACK));
    // A release before any press names nothing.
    ButtonBlockState fresh;
    EXPECT_EQ(buttonBlock(BTN_LEFT, 0, fresh), (ButtonBlock{0x01, 0x01, 0x00, 0x00}));
}

TEST(InputMapping, OwnDevicesAreKnownByTheirIdentityText) {
    EXPECT_EQ(deviceIdText(BUS_USB, 0x258a, 0x14, "Kestrel Keyboard"),
              "USB\\VID_258A&PID_0014\\Kestrel Keyboard");
    EXPECT_EQ(deviceIdText(BUS_VIRTUAL, 0x1, 0xabcd, "x"), "VIRTUAL\\VID_0001&PID_ABCD\\x");
    EXPECT_EQ(deviceIdText(0x1a, 0, 0, ""), "BUS_1A\\VID_0000&PID_0000\\");

    EXPECT_TRUE(isSystemOwnDevice(deviceIdText(BUS_USB, 0x258a, 0x0014, "any")));
    EXPECT_TRUE(isSystemOwnDevice(deviceIdText(BUS_BLUETOOTH, 0x258a, 0x0014, "any")));
    EXPECT_TRUE(isSystemOwnDevice(deviceIdText(BUS_USB, 0x1234, 0x5678, "kestreluxvd pad")));
    // The words are compared with case, and a neighbouring product is an ordinary device.
    EXPECT_FALSE(isSystemOwnDevice(deviceIdText(BUS_USB, 0x1234, 0x5678, "KESTRELUXVD")));
    EXPECT_FALSE(isSystemOwnDevice(deviceIdText(BUS_USB, 0x258a, 0x0013, "any")));
    EXPECT_FALSE(isSystemOwnDevice("usb\\vid_258a&pid_0014"));
}

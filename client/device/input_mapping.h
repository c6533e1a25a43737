#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace torvanix {

// The pure decisions of the input filter, apart from the kernel devices it reads: which key
// releases are hot keys, which mouse-button strokes become notification blocks for the
// keyboard with a screen, and which devices belong to the system itself. Codes are the
// kernel's input event codes (linux/input-event-codes.h).
namespace input {

// The hot-key name of a key released on an ordinary keyboard: F1, F2, F3, F4, F11, F12, and
// Caps Lock as F12. Empty for every other key.
QString hotKeyName(int keyCode);

// The five mouse buttons the keyboard with a screen is told about (left, right, middle, side,
// extra).
bool isForwardedButton(int buttonCode);

// The 4-byte notification block sent to the keyboard with a screen.
using ButtonBlock = std::array<uint8_t, 4>;

// What the last press left behind: a release block repeats the value and code of the last
// press, whichever button is released.
struct ButtonBlockState {
    uint8_t lastValue = 0;
    uint8_t lastCode = 0;
};

// The block for one button stroke (value 1 press, 0 release, 2 auto-repeat): a press gives
// {01, 00, value, code} from the button table and remembers it; a release gives
// {01, 01, last value, last code}. Buttons outside the table and auto-repeats give none.
// The side button (the fourth) is value 10, not 16.
std::optional<ButtonBlock> buttonBlock(int buttonCode, int value, ButtonBlockState &state);

// The identity text of an input device, the counterpart of a hardware id:
//   BUS "\" "VID_" vvvv "&PID_" pppp "\" name
// BUS is "USB", "BTH" (Bluetooth), "I8042" (built-in keyboard and touchpad controllers),
// "VIRTUAL" (uinput and other software devices) or "BUS_" and two hexadecimal digits;
// vvvv and pppp are the vendor and product ids as four upper-case hexadecimal digits; name is
// the device name as the kernel reports it. Example:
//   USB\VID_258A&PID_0014\Kestrel Gaming Keyboard
QString deviceIdText(int bus, int vendor, int product, const QString &name);

// The system's own devices (the keyboard with a screen and the companion devices of the same
// maker) produce no hot keys and are never taken away from the desktop: their identity text
// contains "kestreluxvd" or "VID_258A&PID_0014", compared with case.
bool isSystemOwnDevice(const QString &idText);

} // namespace input
} // namespace torvanix

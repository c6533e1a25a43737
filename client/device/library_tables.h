#pragma once

// The tables and blocks the keyboard and mouse access libraries take, as pure functions of
// the translators' values.

#include <QString>
#include <array>
#include <cstdint>

namespace torvanix {

constexpr int kKeyTableEntries = 132; // signed 32-bit entries
constexpr int kKeyTableBytes = kKeyTableEntries * 4;
constexpr int kMacroBlockSize = 4096;
constexpr int kMouseConfigValues = 165;
constexpr int kMouseConfigBytes = kMouseConfigValues * 4;
constexpr int kLightModes = 10;
constexpr int kDpiStages = 10;

// Mouse sensor models (the code passed to the mouse library's SetHardwareInfo).
constexpr int kSensor3335 = 0x3335; // the model a mouse handler starts with
constexpr int kSensor3104 = 0x3104;
constexpr int kSensor3389 = 0x3389;
constexpr int kSensor3360 = 0x3360;

// Key table entry for the keyboard library. `type` is compared in upper case ("MOUSE",
// "HOTKEY", "KEYBOARD", "MEDIA", "MACRO"; anything else gives 0); `value` holds items
// separated by ','.
int32_t keyboardKeyEntry(const QString &type, const QString &value);
// Key table entry for the mouse library, same inputs.
int32_t mouseKeyEntry(const QString &type, const QString &value);

// The sensor's value for a DPI figure, or -1 when the model is unknown or does not offer
// that figure.
int dpiToSensorValue(int sensorModel, int dpi);

// Mouse configuration block: 165 values (index = byte offset / 4).
using MouseConfigBlock = std::array<int32_t, kMouseConfigValues>;
namespace mouseconfig {
constexpr int SelectedMode = 0;
constexpr int FirstModeRecord = 1; // record m occupies 1 + 13m .. 13 + 13m
constexpr int ModeRecordSize = 13;
constexpr int CurrentStage = 131;
constexpr int FirstStage = 132; // stage s: X at 132 + 3s, Y at 133 + 3s, colour at 134 + 3s
constexpr int StageCount = 162;
constexpr int Constant = 164;
} // namespace mouseconfig

// The library's code for a light mode: 2 -> 1, 3 and 6 -> 7, 7 -> 2, others unchanged.
int lightModeLibraryCode(int mode);

// The block every mouse configuration call starts from; the DPI stages are converted for
// `sensorModel`.
MouseConfigBlock defaultMouseConfig(int sensorModel);

// 0xRRGGBB colour of the mouse library from the translators' three colour values.
int32_t mouseLightColour(int c1, int c2, int c3);
// Packed colour argument of the keyboard library's SetLED.
int32_t keyboardLedColour(int e, int f, int g);

} // namespace torvanix

#pragma once

#include <QPair>
#include <QString>
#include <QVector>

namespace torvanix {

class DriverTemplate;

// One macro step: kind ("keyDown", "keyUp", "mDown", "mUp", "WheelUp", "WheelDown",
// "AbsoluteXY", "RelativeXY", "SpearXY", "SpearLB", "delay", "MacrosDelay", "Replays") and its
// value (a byte code for keys and buttons, "x,y" for coordinates, milliseconds for delays,
// "count|delay" for "Replays").
using MacroStep = QPair<QString, QString>;
using MacroSteps = QVector<MacroStep>;

// Most items a step list may grow to: once the text holds more than this many items, no
// further step is added.
constexpr int MacroItemLimit = 797;

// The step bytes of a macro, each step three items (moves up to six), every item followed by a
// comma, so the text ends with ",". Unknown kinds add nothing. Numbers are written in
// lower-case hexadecimal without prefix: low byte = value % 256 and high byte = value / 256
// (both towards zero, so negative values keep their sign), except coordinates of moves, which
// are 16-bit two's complement values (x = -5 -> fb, ff).
QString encodeMacroSteps(const QString &identity, const MacroSteps &steps);

// The step list of a macro text as the page writes it: "<word>(<argument>)<word>(...)...:rest".
// Words: "键盘按下" key press, "键盘弹起" key release, "延迟" pause, "鼠标按下" / "鼠标弹起"
// mouse button press / release, "相对定位XY" relative move. Key and button arguments become their
// template code (modifier words "Ctrl", "Alt", "Shift", "Win" as "LCTRL" ...); pauses and moves
// keep their argument. Steps with an unknown word or an empty value are dropped.
MacroSteps parseMacroText(const DriverTemplate &tmpl, const QString &macroText);

// The part of a macro text after the first ":" split at "|" (for the D2.0 key record:
// playtype, delay and count in that order).
QStringList macroPlaybackFields(const QString &macroText);

} // namespace torvanix

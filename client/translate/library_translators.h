#pragma once

#include "d4_code_lookup.h"

namespace torvanix {

class KeyboardLibrary;
class MouseLibrary;

// Colours handed to the access libraries. The document writes colours as "rrggbb"; each
// library call packs its colour arguments in its own order:
//   KeyboardLibrary::setLed(a, b, c, d, e, f, g)        packs e << 16 | g << 8 | f
//   MouseLibrary::setLightColor(m, v, -, -, c1, c2, c3) packs c2 << 16 | c3 << 8 | c1
//   KeyboardLibrary::setKeyColor(key, c1, c2, c3)       passes (key, c3, c1, c2) as (r, g, b)
// so every call site goes through these helpers and the packed colour is always 0xRRGGBB, for
// the preset effects, the static colour and the per-key colours alike.
namespace libcolour {

// setLed(effect, brightness, speed, flag, red, green, blue) as the library packs it.
bool setKeyboardLed(KeyboardLibrary &kb, int effect, int brightness, int speed, int flag, int red,
                    int green, int blue);
// setLightColor(mode, value, 4, 4, ...) with the colour packed as 0xRRGGBB.
bool setMouseColour(MouseLibrary &ms, int mode, int value, int red, int green, int blue);
// One key's colour.
bool setKeyColour(KeyboardLibrary &kb, int key, int red, int green, int blue);

// The packed colours the libraries see for given arguments (the contracts above).
inline int ledPacked(int e, int f, int g) {
    return (e & 0xFF) << 16 | (g & 0xFF) << 8 | (f & 0xFF);
}
inline int mousePacked(int c1, int c2, int c3) {
    return (c2 & 0xFF) << 16 | (c3 & 0xFF) << 8 | (c1 & 0xFF);
}

} // namespace libcolour

// The library keyboard shows every preset effect in this fixed colour.
enum : int { kKeyboardPresetColour = 0xFFEA7B };

// The library families' key restore on "delete": the key's default (`value`) is a keyboard
// key or a function row; keyboard keys are restored as "KEYBOARD" assignments, anything else
// as "MOUSE" (the libraries read a "MOUSE" entry as a function code, so a key name passed that
// way would restore a wrong function).
QString restoreType(const CodeLookup &lookup, const QString &value);

// A "HOTKEY" or "KEYBOARD" assignment for the mouse access library: "0x02,<modifiers>,<key>,0"
// with the modifier bits of the combination's left-hand modifier keys (Ctrl 1, Shift 2, Alt 4,
// Win 8) and the key's usage, both in decimal, which is how the library reads items 1 and 2.
// The D2.0 key-record form of the same combination does not fit it: that form writes the
// items in hexadecimal and puts a lone key's usage in item 1 ("0x02,04,0x00,0" for A), which
// the library would take for the Alt modifier without a key. Parts are found as written, then
// upper-cased (the D3.0 table spells "Enter", "Esc"); parts no row carries add nothing.
QString mouseLibraryKeyCode(const CodeLookup &lookup, const QString &task);

} // namespace torvanix

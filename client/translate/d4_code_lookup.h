#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace torvanix {

class DriverTemplates;

// Row lookups in one generation's function table: `code` answers a row's Code, `vkCode` its
// vkCode (some D4.0 function rows carry their device bytes there). Both answer an empty text
// for a task no row carries. The encoders take lookups instead of the template itself so they
// stay pure functions that tests and the benchmark can drive with a table of their own.
struct CodeLookup {
    std::function<QString(const QString &task)> code;
    std::function<QString(const QString &task)> vkCode;
};

// The lookups over the loaded template of `generation` ("D2.0", "D3.0", "D4.0").
CodeLookup templateLookup(const DriverTemplates &templates, const QString &generation);

// "Ctrl", "Alt", "Shift", "Win" (any case) become the left-hand key rows "LCTRL", ...; any other
// text is returned unchanged.
QString modifierTask(const QString &word);

// The single-byte code of a keyboard key (a usage such as "04" or "E0"): the name as written,
// then upper-cased, then as a modifier row. Returns -1 when no keyboard row carries the name
// (function rows, whose Code is a list, do not count).
int keyUsage(const CodeLookup &lookup, const QString &name);

// The bytes of a function row: the Code, or the vkCode where the generation keeps them there.
// Empty when the row is missing.
QStringList functionBytes(const CodeLookup &lookup, const QString &task);

// Byte helpers shared by the packet encoders: "0x0a" style items.
QString hexByte(int value);
// Reads a byte text ("0x1f", "1f", "E0") as hexadecimal; -1 when it holds no digit.
int parseHexByte(const QString &text);
// Reads a decimal text; empty or malformed texts give 0, fractions are cut off.
int decimalValue(const QString &text);
// A key number ("rc", "nc"): a non-negative decimal integer. False for anything else (an empty
// or malformed number must not land on key 0).
bool keyNumber(const QString &text, int &number);
// "ff8000" -> {0xff, 0x80, 0x00}; malformed digit pairs read as 0.
void splitColour(const QString &rgb, int &red, int &green, int &blue);

} // namespace torvanix

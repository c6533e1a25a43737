#pragma once

#include <QString>
#include <QStringList>

// CommandString helpers. A CommandString is a text of byte values separated by single commas,
// each hexadecimal with or without "0x" ("0x01,0x10,dc"). The device operations split it at
// commas and refuse a write whose item count differs from the count passed with it, so every
// builder here keeps the item count exact.
namespace torvanix::cmd {

// Positional substitution of "%1" .. "%9": each placeholder is replaced by the value at that
// position in `values` in a single pass, so a substituted value that itself contains "%2" is
// never substituted again. A placeholder without a value stays as written.
QString fill(const QString &pattern, const QStringList &values);

// Number of items of a CommandString; the empty text has none. A trailing comma counts as one
// (empty) item, exactly as the device operations split.
int itemCount(const QString &commandString);

// Appends "0x00" items until the text holds `items` items; longer texts are returned unchanged.
QString padWithZeros(const QString &commandString, int items);

// `count` items of "0x00" joined by commas (the cleared key record, the empty tables).
QString zeros(int count);

// Lower-case hexadecimal without prefix: 44 -> "2c", 0 -> "0". Negative values keep their sign
// (the device operations then read the item as 0).
QString hex(int value);

// A decimal text written in hexadecimal: "16" -> "10". Empty or malformed texts count as 0.
QString decimalToHex(const QString &decimal);

// Reads a decimal text the way the documents are read: empty or malformed gives 0.
int toInt(const QString &decimal);

// Reads one item the way the device operations do: optional blanks, optional "0x", then
// hexadecimal digits up to the first other character; no digits gives 0. Not truncated.
long long itemValue(const QString &item);

// Every item of a CommandString read with itemValue, truncated to a byte.
QList<int> bytes(const QString &commandString);

// "ff8000" -> {"ff", "80", "00"}: the two-digit groups at 0, 2 and 4 (shorter texts give
// shorter or empty groups, which the device reads as 0).
QStringList colourItems(const QString &rgb);

} // namespace torvanix::cmd

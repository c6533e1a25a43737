#pragma once

#include <QString>
#include <QStringList>

namespace pugi {
class xml_node;
}

namespace torvanix {

class DriverTemplate;

// Pure encoders of the D2.0 settings, shared by the D2.0 translators and their tests.
namespace d2 {

// The GlobalPerformance bytes of a JSON array of five numbers (numbers or number texts). Each
// number x gives two bytes: the hundredths of x and the whole part of x, in hexadecimal; the
// second number is given in thousandths and divided by 1000 first; 0 gives "0x00,0x00". The
// hundredths are rounded (2.3 gives 30 hundredths, not 29 from binary floating point).
// Example: [2.5, 3500, 0, 1, 0.25] -> "32,2,32,3,0x00,0x00,0,1,19,0". Empty when the value is
// not a JSON array.
QString globalPerformanceBytes(const QString &json);

// Report-rate code: 125 -> 0, 250 -> 1, 500 -> 2, 1000 -> 3, 2000 -> 4, 4000 -> 5; any other
// rate -> 5.
int reportRateCode(const QString &rate);
// The rate a device reports for a code: 0 -> 125, 1 -> 250, 2 -> 500, 3 -> 1000; other codes
// are returned unchanged.
int reportRateFromCode(int code);

// A value reduced modulo 256 (always 0..255) in hexadecimal: "300" -> "2c".
QString byteOf(const QString &decimal);

// The per-key colour table of a "LightUp" mode: for every `key` child in order its template
// code (an empty item when the name is not in the table), red, green, blue. Not padded.
QString perKeyColourTable(const DriverTemplate &tmpl, const pugi::xml_node &mode);

// Bytes of one preset effect key, by its name: LightRGB -> "rr,gg,bb"; LightSpeed,
// LightBrightness -> the value as written (read by the device as hexadecimal); LightDirection,
// LightMode -> the decimal value in hexadecimal. Empty for other names (nothing is written).
QString effectKeyBytes(const QString &name, const QString &value, bool directionAllowed = true);

// The screen slot record: the 16 digest bytes (two-digit groups of `md5Hex`, empty groups when
// the digest is empty) followed by the slot number, padded with "0x00" to `length` items.
QString screenSlotRecord(const QString &md5Hex, int slot, int length);

} // namespace d2
} // namespace torvanix

#pragma once

// Conversions between CommandStrings ("0x01,0x10,dc") and the byte blocks the USB device
// access library takes. Pure functions, shared by the device operations, the translators and
// the tests.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace torvanix {

// Every read and write block handed to the USB device access library.
constexpr int kTransferBlockSize = 2048;
// Read answers of the property registers start at this offset of the block.
constexpr int kPropertyReadOffset = 8;

// One CommandString item as a byte: leading blanks skipped, an optional "0x"/"0X" prefix,
// hexadecimal digits up to the first other character, low 8 bits kept. No digits gives 0.
// "0x1ff" -> 0xFF, "zz" -> 0x00, " 0a" -> 0x0A.
uint8_t commandItemToByte(const QString &item);

// The same reading kept to 32 bits (wrapping), for values wider than a byte.
uint32_t commandItemValue(const QString &item);

// The items of a CommandString: split at every ',' with empty items kept ("" is one item).
QStringList commandItems(const QString &commandString);

// Decimal number text of a count or address; 0 when it does not read as a number.
int parseDecimal(const QString &text);

// Puts the items of `commandString` into `block` (kTransferBlockSize bytes, zeroed first).
// False, with the block left all zero, when the number of items differs from `count` or
// `count` lies outside 0 .. kTransferBlockSize.
bool commandStringToBlock(const QString &commandString, int count, uint8_t *block);

// Puts the items into `block` (zeroed first) whatever their number; false when there are
// more items than the block holds. For transfers whose count is not a byte count.
bool commandItemsToBlock(const QString &commandString, uint8_t *block);

// "0x0a,0xff,0x00": each byte as "0x" and two lower-case hexadecimal digits, joined with ','.
// A count of 0 (or less) gives the empty text.
QString bytesToCommandString(const uint8_t *bytes, int count);

// A path as the NUL-terminated UTF-16 text the libraries take.
std::vector<uint16_t> toLibraryPath(const QString &path);

// A NUL-terminated UTF-16 text of at most `maxUnits` code units (stops at the first NUL or at
// maxUnits, whichever comes first).
QString fromLibraryPath(const uint16_t *units, int maxUnits);

} // namespace torvanix

#pragma once

#include <QString>

namespace pugi {
class xml_node;
}

namespace torvanix {

struct TranslationContext;

// Screen images of the keyboard with a colour screen (GlobalScreen key: `index` register,
// `length` record size, `value` image file name, `slot` slot number).
//
// Slot record (written at `index` with `length`): the 16 bytes of the upper-case MD5 digest of
// the image file, then the slot number, padded with "0x00" to `length`. A deleted slot carries
// zeros instead of the digest.
//
// Upload ("set"):
//  1. The image file is <base>/<value>, base being the program folder unless the context names
//     another. A name that leads out of the base folder ("../x", absolute paths) is refused and
//     nothing is written. A file that cannot be opened gives an empty digest (zeros).
//  2. The slot record is written and read back (read property, `length` bytes).
//  3. When the converter's output <base>/screen/temp_abc.bin exists it is read whole, deleted and
//     sent in size / 250 + 1 chunks of up to 250 bytes, each written at `index` as the flag
//     byte ("0x00" for a full chunk, "0x01" for the last, shorter one, which may be empty) followed
//     by the chunk's bytes, count 1 + chunk length; 300 ms pause after each chunk. Without
//     converter output no chunk is sent. Keeping the flag inside the data lets the closing
//     empty chunk reach the device (a zero-length write would be refused).
//  4. The upload stops at the first write the device refuses.
// Answers the number of picture bytes sent (0 without converter output), or -1 when nothing
// was sent or a write was refused.
qint64 uploadScreenImage(TranslationContext &ctx, const QString &identity,
                         const pugi::xml_node &key);
// Delete ("del"): the slot record with zeros for the digest. Elements without `index` write
// nothing.
void deleteScreenImage(TranslationContext &ctx, const QString &identity, const pugi::xml_node &key);

// <base>/<name> when it stays inside base, else an empty text.
QString screenImagePath(const QString &base, const QString &name);

} // namespace torvanix

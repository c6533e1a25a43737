#pragma once

#include <QByteArray>
#include <QString>

namespace torvanix {

// The ".macro" / ".profile" container: magic 0A 0B 0C 0D, a big-endian 32-bit payload length,
// then the Base64 text of the UTF-8 bytes of the page's JSON text.
namespace container {

constexpr quint32 Magic = 0x0A0B0C0D;
// A macro or profile is a few kilobytes of JSON; anything past this is not one of ours and is
// refused before any allocation.
constexpr qint64 MaxPayload = 64 * 1024 * 1024;

QByteArray encode(const QString &jsonText);

// The stored JSON text, or false when the bytes are not a container (wrong magic, truncated
// header or payload, oversized or null length, a payload that is not clean Base64).
bool decode(const QByteArray &file, QString *jsonText);

// Reads a container file (a plain file only, opened without waiting), checking lengths before
// reading the payload.
bool readFile(const QString &path, QString *jsonText);

// Writes the container next to `path` under a temporary name and renames it into place, so
// a failed save never destroys an existing file.
bool writeFile(const QString &path, const QString &jsonText);

// The saved file's final name: every occurrence of `extension` removed from the chosen file name,
// then the extension appended once ("x.macro" stays, "x" gains it, "x.macro.bak" becomes
// "x.bak.macro").
QString finalPath(const QString &chosenPath, const QString &extension);

} // namespace container
} // namespace torvanix

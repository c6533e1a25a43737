#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace torvanix {

// The client update package: 128 unread bytes, the SHA-1 digest of everything from offset 148,
// five LZMA properties, the 32-bit little-endian size of the content, then the raw LZMA1 data.
// The content is a data stream (version 14, big-endian): a text, an entry count, and per entry
// its path (the first component is the package's root folder), a byte count and the bytes.
namespace client_update {

struct Entry {
    QString path; // as stored, "root/bin/app"
    QByteArray data;
};

struct Content {
    QString label;
    QList<Entry> entries;
};

// Decompressed content larger than this is refused before allocation.
constexpr quint32 MaxContentSize = 256u * 1024u * 1024u;

// Checks the digest and decompresses; false for anything that is not a sound package.
bool decodePackage(const QByteArray &file, QByteArray *content);
// Reads the content's entries; false on a truncated or inconsistent stream.
bool parseContent(const QByteArray &content, Content *out);
// The entry's path below the update folder (first component dropped), or an empty text when
// the entry would land outside it: absolute paths, "..", ".", empty components, backslashes,
// or nothing left after the root folder.
QString safeRelativePath(const QString &entryPath);

// Builds a package (for the packaging tool and tests).
QByteArray encodeContent(const Content &content);
QByteArray encodePackage(const QByteArray &content);

// The routine the update commands call: checks and unpacks the package file (a plain file)
// into `updateFolder` (created when missing). 1 on success, 0 on any failure. Every entry is
// checked before the first is written; an entry whose target would leave the folder (through
// its path or through a link already inside the folder) fails the whole package.
int runClientUpdate(const QString &packageFile, const QString &updateFolder);

} // namespace client_update
} // namespace torvanix

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace torvanix {

// The client update package: 128 unread bytes, the SHA-1 digest of everything from offset 148,
// five LZMA properties, the 32-bit little-endian size of the content, then the raw LZMA1 data.
// The content is a data stream (version 14, big-endian): a text, an entry count, and per entry
// its path (the first component is the package's root folder), a byte count and the bytes.
//
// Signature: the last 72 bytes of a package are the tag "TVXSIGN1" and the Ed25519 signature
// of the bytes from offset 148 up to the tag. The digest covers them like the rest, and a
// reader of the plain format ignores them (the decoder stops at the content size), so the
// layout stays what it was; this client refuses a package without a valid signature.
namespace client_update {

struct Entry {
    QString path; // as stored, "root/bin/app"
    QByteArray data;
};

struct Content {
    QString label;
    QList<Entry> entries;
};

// Decompressed content larger than this is refused before allocation: four times a whole
// release folder (program, libraries, helpers and page pack, with debug information about
// 16 MiB), so a small package cannot unpack into hundreds of megabytes.
constexpr quint32 MaxContentSize = 64u * 1024u * 1024u;

constexpr int PublicKeySize = 32;
constexpr int SecretSeedSize = 32;
constexpr int SignatureSize = 64;
constexpr int SignatureBlockSize = 8 + SignatureSize;
inline const char SignatureTag[] = "TVXSIGN1";

// The public key packages must be signed for, fixed when the program was built.
QByteArray releasePublicKey();
// The key pair of a 32-byte secret seed: the public key (empty for a seed of another size).
QByteArray publicKeyForSeed(const QByteArray &seed);
// A key file: the key as hexadecimal text (blanks and line ends ignored); false unless it
// holds exactly `size` bytes.
bool readKeyFile(const QString &path, int size, QByteArray *key);

// Checks the digest and the signature against `publicKey`, then decompresses; false for
// anything that is not a sound package. `why` (may be null) gets the reason.
bool decodePackage(const QByteArray &file, const QByteArray &publicKey, QByteArray *content,
                   QString *why = nullptr);
// Reads the content's entries; false on a truncated or inconsistent stream.
bool parseContent(const QByteArray &content, Content *out);
// The entry's path below the update folder (first component dropped), or an empty text when
// the entry would land outside it: absolute paths, "..", ".", empty components, backslashes,
// or nothing left after the root folder.
QString safeRelativePath(const QString &entryPath);

// Builds a package signed with the secret seed (for the packaging tool and tests); empty when
// the seed is not 32 bytes or compression failed.
QByteArray encodeContent(const Content &content);
QByteArray encodePackage(const QByteArray &content, const QByteArray &secretSeed);

// The list of what one unpacked package put into the update folder, written beside the folder
// (`updateFolder` + ".manifest", out of reach of downloads) for the updater, which installs
// exactly these files and only when their digests still match: a JSON object
// {"label": text, "files": [{"path": "bin/app", "size": n, "sha256": hex}, ...]}.
QString manifestPath(const QString &updateFolder);

// Removes everything inside `folder` (links themselves, not what they point to); the folder
// stays. False when something could not be removed.
bool emptyFolder(const QString &folder);

// The routine the update commands call: reads the package file (a plain file, opened without
// waiting on anything else), checks digest, signature and entries, then empties
// `updateFolder` (created when missing), writes every entry through a temporary name and the
// manifest last. 1 on success, 0 on any failure; a failure leaves no manifest, so nothing of
// it is ever installed. An entry whose target would leave the folder fails the whole package.
int runClientUpdate(const QString &packageFile, const QString &updateFolder,
                    const QByteArray &publicKey = releasePublicKey());

} // namespace client_update
} // namespace torvanix

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace torvanix {

// The client update package: 128 unread bytes, the SHA-1 digest of everything from offset 148,
// five LZMA properties, the 32-bit little-endian size of the content, then the raw LZMA1 data.
// The content is a data stream (version 14, big-endian): a text, an entry count, and per entry
// its path (the first component is the package's root folder), a byte count and the bytes.
// The text is the package's version label. After the entries may follow the attribute block:
// the byte array "TVXATTR1" and a byte array of one byte per entry, bit 0 set for a program
// file (installed executable); other bits must be clear. Being part of the content, the block
// is signed like the files. A content without it (an older packer) has no program files, so
// the files it replaces keep their modes; anything else after the entries is refused.
//
// Signature: the last 72 bytes of a package are the tag "TVXSIGN1" and the Ed25519 signature
// of the bytes from offset 148 up to the tag. The digest covers them like the rest, and a
// reader of the plain format ignores them (the decoder stops at the content size), so the
// layout stays what it was; this client refuses a package without a valid signature.
namespace client_update {

struct Entry {
    QString path; // as stored, "root/bin/app"
    QByteArray data;
    bool executable = false;
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
inline const char AttributeTag[] = "TVXATTR1";

// Version labels: one to four decimal numbers separated by dots ("1.4", "2.0.10"), compared
// number by number from the left, a missing number counting as 0: "1.4" equals "1.4.0" and
// "1.10" is newer than "1.9". Any other text is no version.
bool isVersion(const QString &text);
// Below 0, 0 or above 0 as `a` is older than, the same as or newer than `b`; both must be
// versions.
int compareVersions(const QString &a, const QString &b);
// The version of this program, fixed when it was built.
QString programVersion();

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
// {"label": text, "files": [{"path": "bin/app", "size": n, "sha256": hex,
// "executable": bool}, ...]}.
QString manifestPath(const QString &updateFolder);

// Removes everything inside `folder` (links themselves, not what they point to); the folder
// stays. False when something could not be removed.
bool emptyFolder(const QString &folder);

// The routine the update commands call: reads the package file (a plain file, opened without
// waiting on anything else), checks digest, signature, label and entries, then empties
// `updateFolder` (created when missing), writes every entry through a temporary name (program
// files with mode 0755) and the manifest last. 1 on success, 0 on any failure; a failure
// leaves no manifest, so nothing of it is ever installed. Refused with nothing touched: an
// entry whose target would leave the folder, a label that is no version or is older than
// `runningVersion` (an old signed package must not bring back what a later one mended), and
// an update folder that is a link (emptying it would empty whatever it points to).
int runClientUpdate(const QString &packageFile, const QString &updateFolder,
                    const QByteArray &publicKey = releasePublicKey(),
                    const QString &runningVersion = programVersion());

// Set by the update command once the updater runs for an unpacked package: the program then
// quits for it, and only the updater starts it again (a second start would make the updater
// wait for it in vain).
void noteUpdaterStarted();
bool updaterStarted();

} // namespace client_update
} // namespace torvanix

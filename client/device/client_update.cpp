#include "client_update.h"

#include "plain_file.h"
#include "whole_file.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>
#include <atomic>
#include <cctype>
#include <lzma.h>
#include <sodium.h>

#ifndef TORVANIX_UPDATE_PUBLIC_KEY
#error "TORVANIX_UPDATE_PUBLIC_KEY (hexadecimal Ed25519 public key) must be set by the build"
#endif
#ifndef TORVANIX_VERSION
#error "TORVANIX_VERSION (the program's version) must be set by the build"
#endif

namespace torvanix::client_update {

namespace {
constexpr int DigestOffset = 128;
constexpr int DigestSize = 20;
constexpr int PropsOffset = 148;
constexpr int PropsSize = 5;
constexpr int SizeOffset = 153;
constexpr int DataOffset = 157;
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_1;
// The dictionary a hostile property block can ask for is bounded by this.
constexpr uint64_t DecoderMemoryLimit = 256u * 1024u * 1024u;
constexpr char ExecutableBit = 1;
constexpr QFileDevice::Permissions ProgramMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

std::atomic<bool> updaterRuns{false};

// The numbers of a version label; empty for any other text.
QList<quint32> versionNumbers(const QString &text) {
    QList<quint32> numbers;
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() > 4)
        return {};
    for (const QString &part : parts) {
        // Digits only: no sign, blank or letter a number conversion would let through.
        if (part.isEmpty() || part.size() > 9)
            return {};
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return {};
        }
        numbers.append(part.toUInt());
    }
    return numbers;
}

bool decompress(const QByteArray &props, const QByteArray &data, quint32 size, QByteArray *out) {
    // The raw data with its properties is an ".lzma" stream without its header: put the
    // header back (properties, then the known size) and let the decoder stop at that size,
    // with or without an end marker.
    QByteArray stream = props;
    char sizeField[8];
    qToLittleEndian<quint64>(size, sizeField);
    stream.append(sizeField, 8);
    stream.append(data);

    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&strm, DecoderMemoryLimit) != LZMA_OK)
        return false;
    QByteArray result(static_cast<int>(size), Qt::Uninitialized);
    strm.next_in = reinterpret_cast<const uint8_t *>(stream.constData());
    strm.avail_in = static_cast<size_t>(stream.size());
    strm.next_out = reinterpret_cast<uint8_t *>(result.data());
    strm.avail_out = size;
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK && strm.avail_out > 0)
        ret = lzma_code(&strm, LZMA_FINISH);
    const bool complete =
        strm.avail_out == 0 && (ret == LZMA_OK || ret == LZMA_STREAM_END || ret == LZMA_BUF_ERROR);
    lzma_end(&strm);
    if (!complete)
        return false;
    *out = result;
    return true;
}

bool isLinkOrOutside(const QString &path) {
    return QFileInfo(path).isSymLink();
}

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool fail(QString *why, const QString &text) {
    if (why)
        *why = text;
    qDebug().noquote() << "client update:" << text;
    return false;
}
} // namespace

bool isVersion(const QString &text) {
    return !versionNumbers(text).isEmpty();
}

int compareVersions(const QString &a, const QString &b) {
    const QList<quint32> x = versionNumbers(a);
    const QList<quint32> y = versionNumbers(b);
    for (int i = 0; i < qMax(x.size(), y.size()); ++i) {
        const quint32 p = x.value(i, 0);
        const quint32 q = y.value(i, 0);
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

QString programVersion() {
    return QStringLiteral(TORVANIX_VERSION);
}

void noteUpdaterStarted() {
    updaterRuns = true;
}

bool updaterStarted() {
    return updaterRuns;
}

QByteArray releasePublicKey() {
    return QByteArray::fromHex(QByteArrayLiteral(TORVANIX_UPDATE_PUBLIC_KEY));
}

QByteArray publicKeyForSeed(const QByteArray &seed) {
    if (seed.size() != SecretSeedSize || !sodiumReady())
        return QByteArray();
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray secret(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                             reinterpret_cast<unsigned char *>(secret.data()),
                             reinterpret_cast<const unsigned char *>(seed.constData()));
    sodium_memzero(secret.data(), static_cast<size_t>(secret.size()));
    return publicKey;
}

bool readKeyFile(const QString &path, int size, QByteArray *key) {
    QByteArray text;
    if (!readPlainFile(path, 4096, &text))
        return false;
    QByteArray hex;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex.append(c);
        else if (!std::isspace(static_cast<unsigned char>(c)))
            return false;
    }
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (hex.size() != 2 * size || bytes.size() != size)
        return false;
    *key = bytes;
    return true;
}

bool decodePackage(const QByteArray &file, const QByteArray &publicKey, QByteArray *content,
                   QString *why) {
    if (file.size() <= DataOffset + SignatureBlockSize)
        return fail(why, QStringLiteral("too short for a signed package"));
    const QByteArray digest =
        QCryptographicHash::hash(file.mid(PropsOffset), QCryptographicHash::Sha1);
    if (digest != file.mid(DigestOffset, DigestSize))
        return fail(why, QStringLiteral("digest mismatch"));
    const int signedEnd = file.size() - SignatureBlockSize;
    if (file.mid(signedEnd, 8) != QByteArray(SignatureTag, 8))
        return fail(why, QStringLiteral("no signature"));
    if (publicKey.size() != PublicKeySize || !sodiumReady() ||
        crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char *>(file.constData() + signedEnd + 8),
            reinterpret_cast<const unsigned char *>(file.constData() + PropsOffset),
            static_cast<unsigned long long>(signedEnd - PropsOffset),
            reinterpret_cast<const unsigned char *>(publicKey.constData())) != 0)
        return fail(why, QStringLiteral("signature not valid for this program's release key"));
    const quint32 size = qFromLittleEndian<quint32>(file.constData() + SizeOffset);
    if (size > MaxContentSize) {
        return fail(why, QStringLiteral("content of %1 bytes is over the limit of %2 bytes")
                             .arg(size)
                             .arg(MaxContentSize));
    }
    if (!decompress(file.mid(PropsOffset, PropsSize), file.mid(DataOffset, signedEnd - DataOffset),
                    size, content))
        return fail(why, QStringLiteral("content does not decompress"));
    return true;
}

bool parseContent(const QByteArray &content, Content *out) {
    QDataStream in(content);
    in.setVersion(StreamVersion);
    in.setByteOrder(QDataStream::BigEndian);
    Content result;
    qint32 count = 0;
    in >> result.label >> count;
    if (in.status() != QDataStream::Ok || count < 0)
        return false;
    for (qint32 i = 0; i < count; ++i) {
        Entry entry;
        qint32 byteCount = 0;
        in >> entry.path >> byteCount >> entry.data;
        if (in.status() != QDataStream::Ok || byteCount != entry.data.size())
            return false;
        result.entries.append(entry);
    }
    if (!in.atEnd()) {
        QByteArray tag;
        QByteArray attributes;
        in >> tag >> attributes;
        if (in.status() != QDataStream::Ok || !in.atEnd() || tag != AttributeTag ||
            attributes.size() != count)
            return false;
        for (int i = 0; i < count; ++i) {
            if (attributes.at(i) & ~ExecutableBit)
                return false;
            result.entries[i].executable = attributes.at(i) & ExecutableBit;
        }
    }
    *out = result;
    return true;
}

QString safeRelativePath(const QString &entryPath) {
    if (entryPath.isEmpty() || entryPath.startsWith(QLatin1Char('/')) ||
        entryPath.contains(QLatin1Char('\\')) || entryPath.contains(QChar(0)))
        return QString();
    QStringList parts = entryPath.split(QLatin1Char('/'));
    parts.removeFirst();
    if (parts.isEmpty())
        return QString();
    for (const QString &part : qAsConst(parts)) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
    }
    return parts.join(QLatin1Char('/'));
}

QByteArray encodeContent(const Content &content) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out.setByteOrder(QDataStream::BigEndian);
    out << content.label << static_cast<qint32>(content.entries.size());
    QByteArray attributes;
    for (const Entry &entry : content.entries) {
        out << entry.path << static_cast<qint32>(entry.data.size()) << entry.data;
        attributes.append(entry.executable ? ExecutableBit : '\0');
    }
    // Without program files the content stays byte for byte what it was before the marks.
    if (attributes.contains(ExecutableBit))
        out << QByteArray(AttributeTag) << attributes;
    return bytes;
}

QByteArray encodePackage(const QByteArray &content, const QByteArray &secretSeed) {
    if (secretSeed.size() != SecretSeedSize || !sodiumReady())
        return QByteArray();
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&strm, &options) != LZMA_OK)
        return QByteArray();
    QByteArray encoded;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    strm.next_in = reinterpret_cast<const uint8_t *>(content.constData());
    strm.avail_in = static_cast<size_t>(content.size());
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        strm.next_out = reinterpret_cast<uint8_t *>(buffer.data());
        strm.avail_out = static_cast<size_t>(buffer.size());
        ret = lzma_code(&strm, LZMA_FINISH);
        encoded.append(buffer.constData(), buffer.size() - static_cast<int>(strm.avail_out));
    }
    lzma_end(&strm);
    if (ret != LZMA_STREAM_END || encoded.size() < 13)
        return QByteArray();
    // ".lzma" header: 5 property bytes and a 64-bit size; the package keeps the properties
    // and a 32-bit size of its own.
    QByteArray tail = encoded.left(PropsSize);
    char size[4];
    qToLittleEndian<quint32>(static_cast<quint32>(content.size()), size);
    tail.append(size, 4);
    tail.append(encoded.mid(13));

    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secret,
                             reinterpret_cast<const unsigned char *>(secretSeed.constData()));
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr,
                         reinterpret_cast<const unsigned char *>(tail.constData()),
                         static_cast<unsigned long long>(tail.size()), secret);
    sodium_memzero(secret, sizeof secret);
    tail.append(SignatureTag, 8);
    tail.append(reinterpret_cast<const char *>(signature), SignatureSize);

    QByteArray package(DigestOffset, '\0');
    package.append(QCryptographicHash::hash(tail, QCryptographicHash::Sha1));
    package.append(tail);
    return package;
}

QString manifestPath(const QString &updateFolder) {
    QString folder = QDir::cleanPath(QFileInfo(updateFolder).absoluteFilePath());
    return folder + QStringLiteral(".manifest");
}

bool emptyFolder(const QString &folder) {
    const QDir dir(folder);
    if (!dir.exists())
        return true;
    bool ok = true;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // A link goes itself; what it points to is not ours.
        if (entry.isDir() && !entry.isSymLink())
            ok = QDir(entry.absoluteFilePath()).removeRecursively() && ok;
        else
            ok = QFile::remove(entry.absoluteFilePath()) && ok;
    }
    return ok;
}

int runClientUpdate(const QString &packageFile, const QString &updateFolder,
                    const QByteArray &publicKey, const QString &runningVersion) {
    // A package compresses; a file larger than the largest content is not one.
    QByteArray bytes;
    if (!readPlainFile(packageFile, static_cast<qint64>(MaxContentSize), &bytes)) {
        qDebug() << "client update: not a plain package file of a usable size" << packageFile;
        return 0;
    }

    QByteArray contentBytes;
    if (!decodePackage(bytes, publicKey, &contentBytes))
        return 0;
    bytes.clear();
    Content content;
    if (!parseContent(contentBytes, &content)) {
        qDebug() << "client update: the content does not parse";
        return 0;
    }
    contentBytes.clear();
    // An older signed package would bring back what a later one mended.
    if (!isVersion(content.label) || !isVersion(runningVersion)) {
        qWarning().noquote() << "client update: refused, the package's label"
                             << (content.label.isEmpty() ? QStringLiteral("(none)") : content.label)
                             << "is no version number to compare with" << runningVersion;
        return 0;
    }
    if (compareVersions(content.label, runningVersion) < 0) {
        qWarning().noquote() << "client update: refused, the package's version" << content.label
                             << "is older than the running version" << runningVersion;
        return 0;
    }

    // Every entry is checked before anything is written.
    QStringList targets;
    for (const Entry &entry : qAsConst(content.entries)) {
        const QString relative = safeRelativePath(entry.path);
        if (relative.isEmpty() || targets.contains(relative)) {
            qDebug() << "client update: refused entry" << entry.path;
            return 0;
        }
        targets.append(relative);
    }

    // Whatever the folder held (downloads, leftovers of an earlier or interrupted update) is
    // not part of this package and must never reach the updater. The package file itself
    // may lie there; it has been read.
    // Emptying a linked folder would empty whatever it points to (the user's files).
    if (QFileInfo(updateFolder).isSymLink()) {
        qWarning().noquote() << "client update: refused, the update folder" << updateFolder
                             << "is a link; it must be a folder of its own";
        return 0;
    }
    const QString manifest = manifestPath(updateFolder);
    QFile::remove(manifest);
    if (!QDir().mkpath(updateFolder) || !emptyFolder(updateFolder)) {
        qDebug() << "client update: the update folder cannot be emptied" << updateFolder;
        return 0;
    }
    const QString root = QFileInfo(updateFolder).canonicalFilePath();
    if (root.isEmpty())
        return 0;
    // What a failed unpack wrote goes again, so no part of it lingers for a later run.
    struct Abandon {
        const QString &folder;
        bool done = false;
        ~Abandon() {
            if (!done)
                emptyFolder(folder);
        }
    } abandon{updateFolder};
    QJsonArray files;
    for (int i = 0; i < content.entries.size(); ++i) {
        const QStringList parts = targets.at(i).split(QLatin1Char('/'));
        QString path = root;
        for (int p = 0; p < parts.size(); ++p) {
            path += QLatin1Char('/') + parts.at(p);
            // A link appearing inside the folder could carry the write elsewhere.
            if (isLinkOrOutside(path)) {
                qDebug() << "client update: refused link" << path;
                return 0;
            }
            if (p + 1 < parts.size() && !QFileInfo(path).isDir() && !QDir().mkdir(path))
                return 0;
        }
        // Written under a temporary name and renamed: an interrupted unpack leaves no half
        // file under an entry's name (and no manifest, so nothing is installed).
        QSaveFile target(path);
        const Entry &entry = content.entries.at(i);
        const QByteArray &data = entry.data;
        if (!target.open(QIODevice::WriteOnly) ||
            (entry.executable && !target.setPermissions(ProgramMode)) ||
            !commitWhole(target, data)) {
            qDebug() << "client update: cannot write" << path;
            return 0;
        }
        QJsonObject file;
        file.insert(QStringLiteral("path"), targets.at(i));
        file.insert(QStringLiteral("size"), data.size());
        file.insert(QStringLiteral("sha256"),
                    QString::fromLatin1(
                        QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));
        file.insert(QStringLiteral("executable"), entry.executable);
        files.append(file);
    }
    QJsonObject list;
    list.insert(QStringLiteral("label"), content.label);
    list.insert(QStringLiteral("files"), files);
    const QByteArray listBytes = QJsonDocument(list).toJson();
    QSaveFile out(manifest);
    if (!out.open(QIODevice::WriteOnly) || !commitWhole(out, listBytes)) {
        qDebug() << "client update: cannot write the manifest" << manifest;
        return 0;
    }
    abandon.done = true;
    return 1;
}

} // namespace torvanix::client_update

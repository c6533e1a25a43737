#include "client_update.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <lzma.h>

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
} // namespace

bool decodePackage(const QByteArray &file, QByteArray *content) {
    if (file.size() <= DataOffset)
        return false;
    const QByteArray digest =
        QCryptographicHash::hash(file.mid(PropsOffset), QCryptographicHash::Sha1);
    if (digest != file.mid(DigestOffset, DigestSize))
        return false;
    const quint32 size = qFromLittleEndian<quint32>(file.constData() + SizeOffset);
    if (size > MaxContentSize)
        return false;
    return decompress(file.mid(PropsOffset, PropsSize), file.mid(DataOffset), size, content);
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
    for (const Entry &entry : content.entries)
        out << entry.path << static_cast<qint32>(entry.data.size()) << entry.data;
    return bytes;
}

QByteArray encodePackage(const QByteArray &content) {
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
    QByteArray package(DigestOffset, '\0');
    package.append(QCryptographicHash::hash(tail, QCryptographicHash::Sha1));
    package.append(tail);
    return package;
}

int runClientUpdate(const QString &packageFile, const QString &updateFolder) {
    QFile file(packageFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Only a plain file is a package: a device or pipe reports no size and may never end.
    if (!QFileInfo(packageFile).isFile() || file.size() > static_cast<qint64>(MaxContentSize)) {
        qDebug() << "client update: not a package file of a usable size";
        return 0;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QByteArray contentBytes;
    if (!decodePackage(bytes, &contentBytes))
        return 0;
    Content content;
    if (!parseContent(contentBytes, &content))
        return 0;

    // Every entry is checked before anything is written.
    QStringList targets;
    for (const Entry &entry : qAsConst(content.entries)) {
        const QString relative = safeRelativePath(entry.path);
        if (relative.isEmpty()) {
            qDebug() << "client update: refused entry" << entry.path;
            return 0;
        }
        targets.append(relative);
    }

    if (!QDir().mkpath(updateFolder))
        return 0;
    const QString root = QFileInfo(updateFolder).canonicalFilePath();
    if (root.isEmpty())
        return 0;
    for (int i = 0; i < content.entries.size(); ++i) {
        const QStringList parts = targets.at(i).split(QLatin1Char('/'));
        QString path = root;
        for (int p = 0; p < parts.size(); ++p) {
            path += QLatin1Char('/') + parts.at(p);
            // A link already inside the folder could carry the write elsewhere.
            if (isLinkOrOutside(path)) {
                qDebug() << "client update: refused link" << path;
                return 0;
            }
            if (p + 1 < parts.size() && !QFileInfo(path).isDir() && !QDir().mkdir(path))
                return 0;
        }
        QFile target(path);
        if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        const QByteArray &data = content.entries.at(i).data;
        if (target.write(data) != data.size())
            return 0;
        target.close();
    }
    return 1;
}

} // namespace torvanix::client_update

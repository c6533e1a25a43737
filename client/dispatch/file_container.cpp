#include "file_container.h"

#include <QFile>
#include <QLatin1Char>
#include <QSaveFile>
#include <QtEndian>

namespace torvanix::container {

namespace {
constexpr int HeaderSize = 8;
// A null byte array written by the toolkit's data stream carries this length: an empty payload.
constexpr quint32 NullLength = 0xFFFFFFFFu;

QString decodePayload(const QByteArray &payload) {
    return QString::fromUtf8(QByteArray::fromBase64(payload));
}
} // namespace

QByteArray encode(const QString &jsonText) {
    const QByteArray payload = jsonText.toUtf8().toBase64();
    QByteArray out(HeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(Magic, out.data());
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), out.data() + 4);
    out.append(payload);
    return out;
}

bool decode(const QByteArray &file, QString *jsonText) {
    if (file.size() < HeaderSize)
        return false;
    if (qFromBigEndian<quint32>(file.constData()) != Magic)
        return false;
    const quint32 length = qFromBigEndian<quint32>(file.constData() + 4);
    if (length == NullLength) {
        *jsonText = QString();
        return true;
    }
    if (length > static_cast<quint32>(file.size() - HeaderSize))
        return false;
    *jsonText = decodePayload(file.mid(HeaderSize, static_cast<int>(length)));
    return true;
}

bool readFile(const QString &path, QString *jsonText) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(HeaderSize);
    if (header.size() < HeaderSize || qFromBigEndian<quint32>(header.constData()) != Magic)
        return false;
    const quint32 length = qFromBigEndian<quint32>(header.constData() + 4);
    if (length == NullLength) {
        *jsonText = QString();
        return true;
    }
    if (length > MaxPayload || length > file.size() - HeaderSize)
        return false;
    const QByteArray payload = file.read(length);
    if (payload.size() != static_cast<int>(length))
        return false;
    *jsonText = decodePayload(payload);
    return true;
}

bool writeFile(const QString &path, const QString &jsonText) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = encode(jsonText);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString finalPath(const QString &chosenPath, const QString &extension) {
    // Only the file name is rewritten: a folder whose name holds the extension stays the folder
    // the user chose.
    const int slash = chosenPath.lastIndexOf(QLatin1Char('/'));
    QString name = chosenPath.mid(slash + 1);
    name.remove(extension, Qt::CaseSensitive);
    return chosenPath.left(slash + 1) + name + extension;
}

} // namespace torvanix::container

#include "file_container.h"

#include "device/plain_file.h"
#include "device/whole_file.h"

#include <QFile>
#include <QLatin1Char>
#include <QSaveFile>
#include <QtEndian>

namespace torvanix::container {

namespace {
constexpr int HeaderSize = 8;
// The length a null byte array gets from the toolkit's data stream. Saving never writes it
// (an empty text is a payload of length 0), so a file carrying it is damaged.
constexpr quint32 NullLength = 0xFFFFFFFFu;

// The page's text, or false when the payload is not clean Base64: a damaged file must fail to
// load, not come back as whatever a lenient decoder makes of it.
bool decodePayload(const QByteArray &payload, QString *jsonText) {
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        payload, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    *jsonText = QString::fromUtf8(decoded.decoded);
    return true;
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
    if (length == NullLength || length > static_cast<quint32>(file.size() - HeaderSize))
        return false;
    return decodePayload(file.mid(HeaderSize, static_cast<int>(length)), jsonText);
}

bool readFile(const QString &path, QString *jsonText) {
    // The type is checked on the opened file, and the open never waits: a pipe named in the
    // dialog must not hold every later page command.
    QFile file;
    if (!openPlainFile(path, file))
        return false;
    const QByteArray header = file.read(HeaderSize);
    if (header.size() < HeaderSize || qFromBigEndian<quint32>(header.constData()) != Magic)
        return false;
    const quint32 length = qFromBigEndian<quint32>(header.constData() + 4);
    if (length == NullLength || length > MaxPayload || length > file.size() - HeaderSize)
        return false;
    const QByteArray payload = file.read(length);
    if (payload.size() != static_cast<int>(length))
        return false;
    return decodePayload(payload, jsonText);
}

bool writeFile(const QString &path, const QString &jsonText) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return commitWhole(file, encode(jsonText));
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

#include "screen_pictures.h"

#include "device/plain_file.h"
#include "device/whole_file.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QtEndian>

namespace torvanix {

namespace screen {

QByteArray convertToPages(const QImage &image, bool invert) {
    QByteArray out;
    if (image.isNull())
        return out;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const int width = rgb.width();
    const int height = rgb.height();
    out.reserve(width * ((height + 7) / 8));
    for (int y = 0; y < height; y += 8) {
        for (int x = 0; x < width; ++x) {
            quint8 byte = 0;
            for (int i = 0; i < 8 && y + i < height; ++i) {
                const QRgb pixel = rgb.pixel(x, y + i);
                if (qRed(pixel) || qGreen(pixel) || qBlue(pixel))
                    byte |= static_cast<quint8>(1u << i);
            }
            if (invert)
                byte = static_cast<quint8>(~byte);
            out.append(static_cast<char>(byte));
        }
    }
    return out;
}

QString pagesText(const QByteArray &pages) {
    QString text;
    text.reserve(pages.size() * 6);
    for (char byte : pages)
        text += QStringLiteral("0x%1, ").arg(static_cast<quint8>(byte), 2, 16, QLatin1Char('0'));
    return text;
}

QByteArray toRgb565SwappedBin(const QImage &image) {
    if (image.isNull() || image.width() > 2047 || image.height() > 2047)
        return QByteArray();
    const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    const quint32 header = TrueColorFormat | (static_cast<quint32>(rgb.width()) << 10) |
                           (static_cast<quint32>(rgb.height()) << 21);
    QByteArray out(4 + rgb.width() * rgb.height() * 2, Qt::Uninitialized);
    qToLittleEndian<quint32>(header, out.data());
    char *p = out.data() + 4;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = line[x];
            const quint16 v = static_cast<quint16>(((qRed(c) >> 3) << 11) |
                                                   ((qGreen(c) >> 2) << 5) | (qBlue(c) >> 3));
            *p++ = static_cast<char>(v >> 8);
            *p++ = static_cast<char>(v & 0xFF);
        }
    }
    return out;
}

QImage loadPicture(QIODevice *device) {
    QImageReader reader(device);
    const QSize size = reader.size();
    // A forged header could ask for gigabytes; screen pictures are tiny.
    if (size.isValid() && qint64(size.width()) * size.height() > MaxPixels)
        return QImage();
    return reader.read();
}

QImage loadPicture(const QString &path) {
    // Only a plain file: a pipe named by the page would hold the caller until written to.
    QFile file;
    if (!openPlainFile(path, file))
        return QImage();
    return loadPicture(&file);
}

} // namespace screen

ScreenImages::Saved ScreenPictures::storePng(const QByteArray &encoded, const QString &path) {
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = screen::loadPicture(&buffer);
    if (image.isNull())
        return Saved::NotAPicture;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray png;
    QBuffer out(&png);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG"))
        return Saved::WriteFailed;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Saved::WriteFailed;
    return commitWhole(file, png) ? Saved::Yes : Saved::WriteFailed;
}

QSize ScreenPictures::pictureSize(const QString &path) {
    const QImage image = screen::loadPicture(path);
    return image.isNull() ? QSize() : image.size();
}

QByteArray ScreenPictures::monochromePages(const QString &path, bool invert) {
    return screen::convertToPages(screen::loadPicture(path), invert);
}

} // namespace torvanix

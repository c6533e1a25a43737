#pragma once

#include "dispatch/screen_images.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace torvanix {

namespace screen {

// The keyboard screen's monochrome page format: bands of 8 rows top to bottom, one byte per
// column left to right, bit i set when row band*8+i of the column is not black. Rows below
// the picture's last row read as black (bit 0). width x ceil(height / 8) bytes.
QByteArray convertToPages(const QImage &image, bool invert);

// The "0x%1, " text of the bytes, two lower-case hex digits each.
QString pagesText(const QByteArray &pages);

// The binary picture layout the screen firmware reads: a 4-byte little-endian header
// (colour format in bits 0-4, width in bits 10-20, height in bits 21-31), then per pixel the
// 16-bit 5-6-5 colour with its two bytes swapped (high byte first). Alpha is dropped.
// Empty when the picture is larger than 2047 in either direction.
constexpr quint32 TrueColorFormat = 4;
QByteArray toRgb565SwappedBin(const QImage &image);

// Loads a picture, refusing headers that announce more than MaxPixels pixels.
constexpr qint64 MaxPixels = 16 * 1024 * 1024;
QImage loadPicture(QIODevice *device);
QImage loadPicture(const QString &path);

} // namespace screen

// ScreenImages over QImage; safe to use from any thread.
class ScreenPictures : public ScreenImages {
public:
    Saved storePng(const QByteArray &encoded, const QString &path) override;
    QSize pictureSize(const QString &path) override;
    QByteArray monochromePages(const QString &path, bool invert) override;
};

} // namespace torvanix

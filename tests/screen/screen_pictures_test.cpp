#include "../dispatch/byte_order.h"
#include "screen/screen_pictures.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace torvanix;

TEST(MonochromePages, BandsOfEightRowsOneBytePerColumn) {
    QImage image(3, 10, QImage::Format_RGB32);
    image.fill(Qt::black);
    image.setPixel(0, 0, qRgb(1, 0, 0)); // any non-zero channel lights the pixel
    image.setPixel(0, 7, qRgb(0, 0, 255));
    image.setPixel(1, 3, qRgb(0, 9, 0));
    image.setPixel(2, 8, qRgb(255, 255, 255));
    image.setPixel(2, 9, qRgb(255, 255, 255));
    const QByteArray pages = screen::convertToPages(image, false);
    EXPECT_EQ(pages, QByteArray::fromHex("810800"
                                         "000003"));
    EXPECT_EQ(screen::convertToPages(image, true), QByteArray::fromHex("7ef7ff"
                                                                       "fffffc"))
        << "rows below the picture read as dark before inversion";
    EXPECT_EQ(screen::pagesText(QByteArray::fromHex("0aff")), "0x0a, 0xff, ");

    QImage screen(320, 172, QImage::Format_RGB32);
    screen.fill(Qt::white);
    const QByteArray full = screen::convertToPages(screen, false);
    EXPECT_EQ(full.size(), 320 * 22);
    EXPECT_EQ(static_cast<quint8>(full.at(320 * 21)), 0x0F) << "last band holds 4 rows";
    EXPECT_EQ(screen::pagesText(full).size(), 320 * 22 * 6);
    EXPECT_TRUE(screen::convertToPages(QImage(), false).isEmpty());
}

TEST(Rgb565Bin, HeaderAndSwappedPixelBytes) {
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0xFF, 0x00, 0x00, 0x00)); // alpha is dropped
    image.setPixel(1, 0, qRgb(0x12, 0x34, 0x56));
    const QByteArray bin = screen::toRgb565SwappedBin(image);
    ASSERT_EQ(bin.size(), 4 + 2 * 2);
    const quint32 header = qFromLittleEndian<quint32>(bin.constData());
    EXPECT_EQ(header & 0x1F, 4u) << "true colour";
    EXPECT_EQ((header >> 10) & 0x7FF, 2u);
    EXPECT_EQ(header >> 21, 1u);
    // Red 0xF800 high byte first; 0x12,0x34,0x56 -> 00010 001101 01010 = 0x11AA.
    EXPECT_EQ(bin.mid(4), QByteArray::fromHex("f80011aa"));

    QImage screen(320, 172, QImage::Format_RGB32);
    screen.fill(qRgb(0, 0xFF, 0));
    const QByteArray full = screen::toRgb565SwappedBin(screen);
    EXPECT_EQ(full.size(), 4 + 320 * 172 * 2);
    EXPECT_EQ(qFromLittleEndian<quint32>(full.constData()), 4u | (320u << 10) | (172u << 21));
    EXPECT_EQ(full.mid(4, 2), QByteArray::fromHex("07e0"));
    EXPECT_TRUE(screen::toRgb565SwappedBin(QImage(2048, 1, QImage::Format_RGB32)).isEmpty());
}

TEST(ScreenPictures, LoadsSavesAndRefusesForgedSizes) {
    QTemporaryDir dir;
    ScreenPictures pictures;
    QImage image(320, 172, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    EXPECT_TRUE(pictures.savePng(png, dir.path() + "/sub/a.png"));
    EXPECT_EQ(pictures.pictureSize(dir.path() + "/sub/a.png"), QSize(320, 172));
    EXPECT_EQ(pictures.monochromePages(dir.path() + "/sub/a.png", false).size(), 320 * 22);
    EXPECT_FALSE(pictures.savePng("garbage", dir.path() + "/b.png"));
    EXPECT_FALSE(pictures.pictureSize(dir.path() + "/missing.png").isValid());

    // A PNG header announcing 60000 x 60000 pixels is not decoded.
    QByteArray forged = png;
    torvanix::test::storeBE<quint32>(forged, 16, 60000);
    torvanix::test::storeBE<quint32>(forged, 20, 60000);
    QBuffer in(&forged);
    in.open(QIODevice::ReadOnly);
    EXPECT_TRUE(screen::loadPicture(&in).isNull());
}

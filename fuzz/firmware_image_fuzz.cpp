// Firmware image files handed to the boot loader.
#include "device/update_firmware.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

using torvanix::FirmwareImage;

namespace {

// The format read a second time, byte by byte and without the parser's helpers: little-endian
// fields at fixed offsets, the file at least as long as its trailer and at most 67,200 bytes,
// mark 4118 then a zero word, a payload of 1 .. (66143 - 264) bytes.
uint64_t littleEndian(const uint8_t *p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

bool acceptable(const uint8_t *data, size_t size) {
    if (size < 66143 + 8 + 4 || size > 67200)
        return false;
    if (littleEndian(data, 4) != 4118 || littleEndian(data + 4, 4) != 0)
        return false;
    const uint64_t length = littleEndian(data + 66143, 8);
    // Compared without adding to the length: a length near 2^64 would wrap round.
    return length >= 1 && length <= 66143 - 264;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    FirmwareImage image;
    const bool accepted = FirmwareImage::parse(bytes, &image);
    // The parser and the second reading must agree on every file.
    if (accepted != acceptable(data, size))
        std::abort();
    if (!accepted)
        return 0;
    // Every chunk the writer sends must lie inside the image area, and what it sends is the
    // file's own payload and trailer values.
    const quint64 end = FirmwareImage::PayloadOffset + image.payloadLength;
    if (image.area.size() != FirmwareImage::AreaSize || end > FirmwareImage::LengthOffset ||
        image.payloadLength != littleEndian(data + 66143, 8) ||
        image.check != littleEndian(data + 66151, 4) ||
        image.area.left(static_cast<int>(size)) != bytes)
        std::abort();
    return 0;
}

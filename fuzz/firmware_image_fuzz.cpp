// Firmware image files handed to the boot loader.
#include "device/update_firmware.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

using torvanix::FirmwareImage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    FirmwareImage image;
    if (!FirmwareImage::parse(bytes, &image))
        return 0;
    // Every chunk the writer sends must lie inside the image area.
    const quint64 end = FirmwareImage::PayloadOffset + image.payloadLength;
    if (image.area.size() != FirmwareImage::AreaSize || end > FirmwareImage::LengthOffset)
        std::abort();
    return 0;
}

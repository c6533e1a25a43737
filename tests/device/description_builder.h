#pragma once

// Hand-built entries of the USB access library's interface list, as the library fills them.

#include <torvanix/devlib.h>

#include <QByteArray>
#include <QString>
#include <cstring>
#include <vector>

namespace torvanix::test {

struct Description {
    QByteArray bluetooth; // up to 5 bytes, no terminator needed
    QByteArray firmware;  // up to 17 bytes
    QByteArray serial;    // up to 14 bytes
    int battery = 0;
    int status = 0;
    QString path; // up to 510 code units
};

inline std::vector<uint8_t> descriptionBlock(const Description &d) {
    std::vector<uint8_t> block(TVX_DESCRIPTION_SIZE, 0);
    auto put = [&block](int offset, const QByteArray &bytes, int width) {
        std::memcpy(block.data() + offset, bytes.constData(), size_t(qMin(bytes.size(), width)));
    };
    put(TVX_DESC_BLUETOOTH, d.bluetooth, 5);
    put(TVX_DESC_FIRMWARE, d.firmware, 17);
    put(TVX_DESC_SERIAL, d.serial, 14);
    block[TVX_DESC_BATTERY] = uint8_t(d.battery);
    block[TVX_DESC_STATUS] = uint8_t(d.status);
    for (int i = 0; i < d.path.size() && i < TVX_DESC_PATH_UNITS; ++i) {
        const ushort u = d.path.at(i).unicode();
        block[TVX_DESC_PATH + 2 * i] = uint8_t(u & 0xFF);
        block[TVX_DESC_PATH + 2 * i + 1] = uint8_t(u >> 8);
    }
    return block;
}

// A whole list block (count + entries) as dcDevices fills it.
inline std::vector<uint8_t> listBlock(const std::vector<Description> &entries) {
    std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE, 0);
    list[0] = uint8_t(entries.size() & 0xFF);
    list[1] = uint8_t(entries.size() >> 8);
    for (size_t i = 0; i < entries.size() && i < TVX_MAX_DESCRIPTIONS; ++i) {
        const auto one = descriptionBlock(entries[i]);
        std::memcpy(list.data() + 2 + i * TVX_DESCRIPTION_SIZE, one.data(), one.size());
    }
    return list;
}

inline QString hidPath(const char *middle) {
    return QStringLiteral("\\\\?\\hid#%1#7&2a3b4c5d&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}")
        .arg(QLatin1String(middle));
}

} // namespace torvanix::test

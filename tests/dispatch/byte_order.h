#pragma once

#include <QByteArray>
#include <QtEndian>

namespace torvanix::test {

// Writes a value into a byte array at `at`, little- or big-endian.
template <typename T> void storeLE(QByteArray &bytes, int at, T value) {
    char raw[sizeof(T)];
    qToLittleEndian<T>(value, raw);
    bytes.replace(at, static_cast<int>(sizeof(T)), raw, static_cast<int>(sizeof(T)));
}

template <typename T> void storeBE(QByteArray &bytes, int at, T value) {
    char raw[sizeof(T)];
    qToBigEndian<T>(value, raw);
    bytes.replace(at, static_cast<int>(sizeof(T)), raw, static_cast<int>(sizeof(T)));
}

} // namespace torvanix::test

#include "pcm_audio.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace torvanix {

namespace {
qint16 sampleAt(const uchar *p, int bits, bool isFloat) {
    if (isFloat) {
        float f;
        const quint32 raw = qFromLittleEndian<quint32>(p);
        std::memcpy(&f, &raw, 4);
        if (!std::isfinite(f))
            return 0;
        return static_cast<qint16>(qBound(-1.0f, f, 1.0f) * 32767.0f);
    }
    switch (bits) {
    case 8:
        // Unsigned 8-bit samples centred on 128; a multiplication, since shifting a negative
        // value left is undefined.
        return static_cast<qint16>((static_cast<int>(p[0]) - 128) * 256);
    case 16:
        return qFromLittleEndian<qint16>(p);
    case 24:
        return static_cast<qint16>((p[1]) | (p[2] << 8));
    default:
        return static_cast<qint16>(qFromLittleEndian<qint32>(p) >> 16);
    }
}
} // namespace

bool PcmAudio::fromWav(const QByteArray &file, PcmAudio *out) {
    const auto *data = reinterpret_cast<const uchar *>(file.constData());
    const qint64 size = file.size();
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
        return false;
    int format = 0, channels = 0, rate = 0, bits = 0;
    const uchar *samples = nullptr;
    qint64 sampleBytes = 0;
    qint64 pos = 12;
    while (pos + 8 <= size) {
        const quint32 chunk = qFromLittleEndian<quint32>(data + pos + 4);
        const qint64 body = pos + 8;
        const qint64 available = qMin<qint64>(chunk, size - body);
        if (std::memcmp(data + pos, "fmt ", 4) == 0 && available >= 16) {
            format = qFromLittleEndian<quint16>(data + body);
            channels = qFromLittleEndian<quint16>(data + body + 2);
            rate = static_cast<int>(qFromLittleEndian<quint32>(data + body + 4));
            bits = qFromLittleEndian<quint16>(data + body + 14);
            if (format == 0xFFFE && available >= 26) // extensible: the sub-format decides
                format = qFromLittleEndian<quint16>(data + body + 24);
        } else if (std::memcmp(data + pos, "data", 4) == 0) {
            samples = data + body;
            sampleBytes = available;
            break;
        }
        pos = body + chunk + (chunk & 1);
    }
    const bool isFloat = format == 3 && bits == 32;
    if (!samples || channels < 1 || channels > 32 || rate < 1000 || rate > 384000 ||
        !(format == 1 || isFloat) || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return false;
    const int bytesPerSample = bits / 8;
    const qint64 frameBytes = static_cast<qint64>(bytesPerSample) * channels;
    const qint64 frames = sampleBytes / frameBytes;
    if (frames * BytesPerFrame > 512LL * 1024 * 1024)
        return false;
    QByteArray pcm(static_cast<int>(frames * BytesPerFrame), Qt::Uninitialized);
    auto *o = reinterpret_cast<qint16 *>(pcm.data());
    for (qint64 f = 0; f < frames; ++f) {
        const uchar *frame = samples + f * frameBytes;
        const qint16 left = sampleAt(frame, bits, isFloat);
        const qint16 right = channels > 1 ? sampleAt(frame + bytesPerSample, bits, isFloat) : left;
        *o++ = left;
        *o++ = right;
    }
    out->sampleRate = rate;
    out->frames = pcm;
    return true;
}

} // namespace torvanix

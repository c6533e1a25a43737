#pragma once

#include <QByteArray>

namespace torvanix {

// Decoded sound: interleaved signed 16-bit stereo frames at `sampleRate`.
struct PcmAudio {
    int sampleRate = 0;
    QByteArray frames;

    static constexpr int Channels = 2;
    static constexpr int BytesPerFrame = 4;
    qint64 durationMs() const {
        return sampleRate > 0 ? frames.size() / BytesPerFrame * 1000LL / sampleRate : 0;
    }

    // Decodes a RIFF/WAVE file (integer PCM of 8, 16, 24 or 32 bits, or 32-bit float; any
    // channel count, mono is doubled, channels past the second are dropped). Lengths are
    // checked against the file before use. False for anything else.
    static bool fromWav(const QByteArray &file, PcmAudio *out);
};

} // namespace torvanix

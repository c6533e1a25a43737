#include "audio_player.h"

#include "device/event_sink.h"

#include <QAudioDecoder>
#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QUrl>
#include <QtConcurrent>
#include <cstring>

namespace torvanix {

namespace {

constexpr int DecodeRate = 44100;
// Whole tracks are held in memory; anything longer than this is cut.
constexpr qint64 MaxTrackBytes = 512LL * 1024 * 1024;

QAudioFormat pcmFormat(int rate) {
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(PcmAudio::Channels);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    return format;
}

QString localFile(const QString &url) {
    const QUrl parsed(url);
    if (parsed.isLocalFile())
        return parsed.toLocalFile();
    if (parsed.scheme().size() > 1) // http:, qrc: ... (one letter would be a drive)
        return QString();
    return url;
}

// The sound output pulls the track through this device.
class PullDevice : public QIODevice {
public:
    explicit PullDevice(AudioPlayer *player) : player_(player) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 65536 + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxBytes) override {
        return player_ ? player_->pull(data, maxBytes) : 0;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QPointer<AudioPlayer> player_;
};

} // namespace

AudioPlayer::AudioPlayer(EventSink &events, QObject *parent) : QObject(parent), events_(events) {
    clock_.setInterval(20);
    clock_.setTimerType(Qt::PreciseTimer);
    connect(&clock_, &QTimer::timeout, this, &AudioPlayer::onClock);
    levels_.setInterval(50);
    connect(&levels_, &QTimer::timeout, this, &AudioPlayer::sendLevels);
}

AudioPlayer::~AudioPlayer() {
    stopOutput();
}

void AudioPlayer::setSource(const QString &url, const QString &version) {
    stopOutput();
    state_ = State::Stopped;
    loop_ = false;
    readPos_ = 0;
    source_ = url;
    version_ = version;
    error_.clear();
    audio_ = PcmAudio();
    tagValues_ = QJsonObject();
    ++generation_;
    pendingSeekMs_ = -1;
    if (decoder_) {
        decoder_->stop();
        decoder_->deleteLater();
        decoder_ = nullptr;
    }
    decoding_ = false;

    const QString file = localFile(url);
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        error_ = QStringLiteral("no such file");
        return;
    }
    QFile in(file);
    if (in.size() > MaxTrackBytes || !in.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("cannot read the file");
        return;
    }
    const QByteArray head = in.peek(12);
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE") {
        // Reading and converting a long track takes longer than a frame: it happens on the
        // thread pool, and the track plays silence until it is ready.
        in.close();
        decoding_ = true;
        const quint64 generation = ++generation_;
        struct Decoded {
            bool ok = false;
            PcmAudio pcm;
        };
        auto *watcher = new QFutureWatcher<Decoded>(this);
        connect(watcher, &QFutureWatcher<Decoded>::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            if (generation != generation_)
                return;
            const Decoded result = watcher->result();
            if (result.ok)
                audio_ = result.pcm;
            else
                error_ = QStringLiteral("unsupported WAV data");
            decodingFinished();
        });
        watcher->setFuture(QtConcurrent::run([file] {
            Decoded result;
            QFile wav(file);
            result.ok =
                wav.open(QIODevice::ReadOnly) && PcmAudio::fromWav(wav.readAll(), &result.pcm);
            return result;
        }));
    } else {
        startDecoding(file);
    }
    // Tags come from the multimedia module's player, read without playing.
    if (!tags_) {
        tags_ = new QMediaPlayer(this);
        connect(tags_, &QMediaPlayer::metaDataAvailableChanged, this, [this](bool available) {
            if (!available)
                return;
            for (const QString &key : tags_->availableMetaData()) {
                const QVariant value = tags_->metaData(key);
                if (value.canConvert<QString>())
                    tagValues_.insert(key, value.toString());
            }
        });
    }
    tags_->setMedia(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

void AudioPlayer::startDecoding(const QString &file) {
    decoder_ = new QAudioDecoder(this);
    decoder_->setAudioFormat(pcmFormat(DecodeRate));
    audio_.sampleRate = DecodeRate;
    decoder_->setSourceFilename(file);
    QAudioDecoder *decoder = decoder_;
    connect(decoder, &QAudioDecoder::bufferReady, this, [this, decoder] {
        if (decoder != decoder_)
            return;
        const QAudioBuffer buffer = decoder->read();
        if (audio_.frames.size() + buffer.byteCount() <= MaxTrackBytes)
            audio_.frames.append(buffer.constData<char>(), buffer.byteCount());
    });
    connect(decoder, &QAudioDecoder::finished, this, [this, decoder] {
        if (decoder == decoder_)
            decodingFinished();
    });
    connect(decoder, QOverload<QAudioDecoder::Error>::of(&QAudioDecoder::error), this,
            [this, decoder](QAudioDecoder::Error) {
                if (decoder != decoder_)
                    return;
                error_ = decoder->errorString();
                decoding_ = false;
            });
    decoding_ = true;
    decoder_->start();
    if (decoder_->error() != QAudioDecoder::NoError) {
        error_ = decoder_->errorString();
        decoding_ = false;
    }
}

void AudioPlayer::play() {
    if (audio_.frames.isEmpty() && !decoding_)
        return;
    if (state_ == State::Playing)
        return;
    state_ = State::Playing;
    startOutput();
}

void AudioPlayer::pause() {
    if (state_ != State::Playing)
        return;
    state_ = State::Paused;
    if (output_)
        output_->suspend();
    clock_.stop();
    stopLevels();
}

void AudioPlayer::resume() {
    if (state_ != State::Paused)
        return;
    state_ = State::Playing;
    if (output_) {
        output_->resume();
    } else {
        clockLast_ = 0;
        clock_.start();
    }
    levels_.start();
}

void AudioPlayer::playLoop() {
    loop_ = true;
    if (state_ == State::Paused)
        resume();
    else
        play();
}

void AudioPlayer::decodingFinished() {
    decoding_ = false;
    if (pendingSeekMs_ >= 0) {
        const qint64 target = pendingSeekMs_;
        pendingSeekMs_ = -1;
        seek(target);
    }
}

void AudioPlayer::seek(qint64 positionMs) {
    // A position past what is decoded so far is taken once the whole track is there.
    if (decoding_) {
        pendingSeekMs_ = positionMs;
        return;
    }
    if (audio_.sampleRate <= 0)
        return;
    // The page's position is clamped to the track before it is scaled: a far-off value would
    // overflow into a negative read position.
    const qint64 ms = qBound<qint64>(0, positionMs, audio_.durationMs() + 1);
    const qint64 frame = ms * audio_.sampleRate / 1000;
    readPos_ = qMin<qint64>(frame * PcmAudio::BytesPerFrame, audio_.frames.size());
}

void AudioPlayer::setMute(bool left, bool right) {
    mute_[0] = left;
    mute_[1] = right;
}

void AudioPlayer::setVolume(int left, int right) {
    volume_[0] = qBound(0, left, 100);
    volume_[1] = qBound(0, right, 100);
}

qint64 AudioPlayer::positionMs() const {
    return audio_.sampleRate > 0 ? readPos_ / PcmAudio::BytesPerFrame * 1000LL / audio_.sampleRate
                                 : 0;
}

QString AudioPlayer::info() {
    QJsonObject o;
    o.insert(QStringLiteral("source"), source_);
    o.insert(QStringLiteral("version"), version_);
    o.insert(QStringLiteral("state"), state_ == State::Playing  ? QStringLiteral("playing")
                                      : state_ == State::Paused ? QStringLiteral("paused")
                                                                : QStringLiteral("stopped"));
    o.insert(QStringLiteral("position"), positionMs());
    o.insert(QStringLiteral("duration"), audio_.durationMs());
    o.insert(QStringLiteral("complete"), !decoding_);
    o.insert(QStringLiteral("sampleRate"), audio_.sampleRate);
    o.insert(QStringLiteral("channels"), PcmAudio::Channels);
    o.insert(QStringLiteral("loop"), loop_);
    // Whether a playing track is heard or only drives the lighting (no usable sound output).
    o.insert(QStringLiteral("output"), state_ == State::Stopped ? QStringLiteral("none")
                                       : output_                ? QStringLiteral("sound")
                                                                : QStringLiteral("silent"));
    o.insert(QStringLiteral("volume"),
             QJsonArray({QJsonValue(volume_[0]), QJsonValue(volume_[1])}));
    o.insert(QStringLiteral("mute"), QJsonArray({QJsonValue(mute_[0]), QJsonValue(mute_[1])}));
    o.insert(QStringLiteral("tags"), tagValues_);
    if (!error_.isEmpty())
        o.insert(QStringLiteral("error"), error_);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

qint64 AudioPlayer::pull(char *data, qint64 maxBytes) {
    maxBytes -= maxBytes % PcmAudio::BytesPerFrame;
    qint64 written = 0;
    int peak[2] = {0, 0};
    const int gain[2] = {mute_[0] ? 0 : volume_[0], mute_[1] ? 0 : volume_[1]};
    while (written < maxBytes) {
        if (readPos_ >= audio_.frames.size()) {
            if (decoding_) {
                // The decoder is behind: silence until it catches up.
                std::memset(data + written, 0, static_cast<size_t>(maxBytes - written));
                written = maxBytes;
                break;
            }
            if (loop_ && !audio_.frames.isEmpty()) {
                readPos_ = 0;
                continue;
            }
            break;
        }
        const qint64 n = qMin(maxBytes - written, audio_.frames.size() - readPos_);
        const auto *in = reinterpret_cast<const qint16 *>(audio_.frames.constData() + readPos_);
        auto *out = reinterpret_cast<qint16 *>(data + written);
        for (qint64 i = 0; i < n / 2; ++i) {
            const int channel = static_cast<int>(i & 1);
            const int value = in[i] * gain[channel] / 100;
            out[i] = static_cast<qint16>(value);
            peak[channel] = qMax(peak[channel], qAbs(value));
        }
        written += n;
        readPos_ += n;
    }
    level_[0] = peak[0] * 100 / 32768;
    level_[1] = peak[1] * 100 / 32768;
    if (written < maxBytes && state_ == State::Playing)
        QMetaObject::invokeMethod(this, &AudioPlayer::endOfTrack, Qt::QueuedConnection);
    return written;
}

void AudioPlayer::startOutput() {
    levels_.start();
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    const QAudioFormat format = pcmFormat(audio_.sampleRate > 0 ? audio_.sampleRate : DecodeRate);
    if (outputEnabled_ && !device.isNull() && device.isFormatSupported(format)) {
        output_ = new QAudioOutput(device, format, this);
        outputDevice_ = new PullDevice(this);
        output_->start(outputDevice_);
        if (output_->error() == QAudio::NoError)
            return;
        qDebug() << "sound output unavailable, playing silently";
        stopOutput();
        levels_.start();
    }
    clockLast_ = 0;
    clock_.start();
}

void AudioPlayer::stopLevels() {
    const bool wasReporting = levels_.isActive();
    levels_.stop();
    level_[0] = level_[1] = 0;
    if (wasReporting && listener_)
        listener_(0, 0, false);
}

void AudioPlayer::stopOutput() {
    clock_.stop();
    stopLevels();
    if (output_) {
        output_->stop();
        delete output_;
        output_ = nullptr;
    }
    delete outputDevice_;
    outputDevice_ = nullptr;
}

void AudioPlayer::onClock() {
    // Without a sound output the track advances by the time that passed.
    static QElapsedTimer time;
    if (!time.isValid())
        time.start();
    const qint64 now = time.nsecsElapsed();
    if (clockLast_ == 0)
        clockLast_ = now - clock_.interval() * 1000000LL;
    const qint64 frames = (now - clockLast_) * audio_.sampleRate / 1000000000LL;
    if (frames <= 0)
        return;
    clockLast_ += frames * 1000000000LL / audio_.sampleRate;
    QByteArray sink(static_cast<int>(frames * PcmAudio::BytesPerFrame), Qt::Uninitialized);
    pull(sink.data(), sink.size());
}

void AudioPlayer::sendLevels() {
    QJsonObject o;
    o.insert(QStringLiteral("left"), level_[0]);
    o.insert(QStringLiteral("right"), level_[1]);
    o.insert(QStringLiteral("position"), positionMs());
    events_.sendEvent(QString::fromLatin1(events::OnRGBMusicData),
                      {QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact))});
    if (listener_)
        listener_(level_[0], level_[1], true);
}

void AudioPlayer::endOfTrack() {
    if (state_ != State::Playing || readPos_ < audio_.frames.size() || decoding_)
        return;
    stopOutput();
    state_ = State::Stopped;
    readPos_ = 0;
    emit finished();
}

} // namespace torvanix

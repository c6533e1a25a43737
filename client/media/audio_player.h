#pragma once

#include "dispatch/music_player.h"
#include "pcm_audio.h"

#include <QAudioFormat>
#include <QIODevice>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAudioDecoder;
class QAudioOutput;
class QMediaPlayer;

namespace torvanix {

class EventSink;

// The music player of the lighting effect. It decodes the whole track (WAV itself, other
// formats through the multimedia module's decoder), plays it through the default sound
// output with its own per-channel volume and mute, and reports the sound level to the page
// as OnRGBMusicData every 50 ms while it plays: {"left":0-100,"right":0-100,"position":ms}.
// Without a usable sound output the track still runs on a clock, silently, so the lighting
// follows the music. Lives on the thread that created it (the GUI thread).
class AudioPlayer : public QObject, public MusicPlayer {
    Q_OBJECT
public:
    explicit AudioPlayer(EventSink &events, QObject *parent = nullptr);
    ~AudioPlayer() override;

    void setSource(const QString &url, const QString &version) override;
    void play() override;
    void pause() override;
    void resume() override;
    void playLoop() override;
    void seek(qint64 positionMs) override;
    void setMute(bool left, bool right) override;
    void setVolume(int left, int right) override;
    QString info() override;
    void setLevelListener(LevelListener listener) override { listener_ = std::move(listener); }

    enum class State { Stopped, Playing, Paused };
    State state() const { return state_; }
    qint64 positionMs() const;
    bool decoding() const { return decoding_; }
    // Keeps the player off the sound output (tests, machines without sound).
    void setOutputEnabled(bool enabled) { outputEnabled_ = enabled; }

    // Hands out the next bytes of the track with volume and mute applied (the sound output
    // and the silent clock pull here). Returns fewer bytes at the end of a track.
    qint64 pull(char *data, qint64 maxBytes);

signals:
    void finished();

private:
    void startDecoding(const QString &file);
    void startOutput();
    void stopOutput();
    void onClock();
    void sendLevels();
    void endOfTrack();
    void decodingFinished();
    void stopLevels();

    EventSink &events_;
    QString source_;
    QString version_;
    QString error_;
    PcmAudio audio_;
    bool decoding_ = false;
    qint64 pendingSeekMs_ = -1;
    quint64 generation_ = 0; // tells a finished decoding whether its source is still current
    qint64 readPos_ = 0;
    bool loop_ = false;
    State state_ = State::Stopped;
    int volume_[2] = {100, 100};
    bool mute_[2] = {false, false};
    int level_[2] = {0, 0};
    bool outputEnabled_ = true;

    QAudioDecoder *decoder_ = nullptr;
    QAudioOutput *output_ = nullptr;
    QIODevice *outputDevice_ = nullptr;
    QMediaPlayer *tags_ = nullptr;
    QJsonObject tagValues_;
    QTimer clock_;
    QTimer levels_;
    qint64 clockLast_ = 0;
    LevelListener listener_;
};

} // namespace torvanix

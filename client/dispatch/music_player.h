#pragma once

#include <QString>

namespace torvanix {

// The music player the page drives through RGBMusicPlay and PlayAudio. Implemented over the
// toolkit's multimedia module in client/media; the dispatcher only knows this interface.
// Calls arrive on the thread the player was created on.
class MusicPlayer {
public:
    virtual ~MusicPlayer() = default;

    // A local file path, a file:// URL or a network URL; `version` is the page's tag for it.
    virtual void setSource(const QString &url, const QString &version) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Plays the current source from its start, over and over.
    virtual void playLoop() = 0;
    // Position in milliseconds.
    virtual void seek(qint64 positionMs) = 0;
    virtual void setMute(bool left, bool right) = 0;
    // 0 .. 100 per channel.
    virtual void setVolume(int left, int right) = 0;
    // Compact JSON object text: the tags and stream figures of the current source.
    virtual QString info() = 0;
};

} // namespace torvanix

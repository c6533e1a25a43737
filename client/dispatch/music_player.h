#pragma once

#include <QString>
#include <functional>

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

    // Told the sound level (0 .. 100 per channel) at every level report while a track plays,
    // and once with playing = false when it stops playing (pause, end, another source). Runs
    // on the player's thread. One listener; an empty function removes it.
    using LevelListener = std::function<void(int left, int right, bool playing)>;
    virtual void setLevelListener(LevelListener listener) = 0;
};

// The entry a music player module exports (see MusicModule): a new player on the calling
// thread, reporting to `events`, owned by the caller.
class EventSink;
using CreateMusicPlayerFn = MusicPlayer *(*)(EventSink *events);
inline const char *const CreateMusicPlayerEntry = "torvanix_create_music_player";

} // namespace torvanix

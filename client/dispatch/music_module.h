#pragma once

#include "music_player.h"

#include <QString>
#include <memory>

class QLibrary;

namespace torvanix {

class EventSink;

// The music player, loaded from its module (libtorvanix-music.so in the program folder) on
// the first call that needs it, so the multimedia libraries stay out of the program until
// music is wanted. A module that is missing or lacks its entry is logged once; the player
// then does nothing, and info() answers that reason as its "error" (with the last source, so
// the page shows it beside the track). Calls arrive on one thread (the GUI thread), where the
// player is created and destroyed.
class MusicModule : public MusicPlayer {
public:
    MusicModule(EventSink &events, QString modulePath);
    ~MusicModule() override;

    // The module's path beside the program.
    static QString defaultPath(const QString &programDir);

    bool loaded() const { return player_ != nullptr; }

    void setSource(const QString &url, const QString &version) override;
    void play() override;
    void pause() override;
    void resume() override;
    void playLoop() override;
    void seek(qint64 positionMs) override;
    void setMute(bool left, bool right) override;
    void setVolume(int left, int right) override;
    QString info() override;
    void setLevelListener(LevelListener listener) override;

private:
    MusicPlayer *player();

    EventSink &events_;
    QString path_;
    std::unique_ptr<QLibrary> library_;
    MusicPlayer *player_ = nullptr;
    bool tried_ = false;
    QString failure_;
    QString source_;
    QString version_;
    LevelListener listener_;
};

} // namespace torvanix

// The entry of the music player module (libtorvanix-music.so): the program loads the module,
// and with it the multimedia libraries, on the first music command (dispatch/music_module.h).
#include "audio_player.h"

extern "C" Q_DECL_EXPORT torvanix::MusicPlayer *
torvanix_create_music_player(torvanix::EventSink *events) {
    if (!events)
        return nullptr;
    return new torvanix::AudioPlayer(*events);
}

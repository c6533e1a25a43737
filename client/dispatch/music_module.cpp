#include "music_module.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>

namespace torvanix {

MusicModule::MusicModule(EventSink &events, QString modulePath)
    : events_(events), path_(std::move(modulePath)) {}

MusicModule::~MusicModule() {
    if (player_) {
        player_->setLevelListener(nullptr);
        delete player_;
    }
    // The library stays mapped: objects it created may still have events queued.
}

QString MusicModule::defaultPath(const QString &programDir) {
    return programDir + QStringLiteral("/libtorvanix-music.so");
}

MusicPlayer *MusicModule::player() {
    if (player_ || tried_)
        return player_;
    tried_ = true;
    library_ = std::make_unique<QLibrary>(path_);
    if (!library_->load()) {
        failure_ = QStringLiteral("the music player module cannot be loaded: %1")
                       .arg(library_->errorString());
    } else if (auto create = reinterpret_cast<CreateMusicPlayerFn>(
                   library_->resolve(CreateMusicPlayerEntry))) {
        player_ = create(&events_);
        if (!player_)
            failure_ = QStringLiteral("the music player module %1 made no player").arg(path_);
    } else {
        failure_ = QStringLiteral("the music player module %1 has no entry %2")
                       .arg(path_, QString::fromLatin1(CreateMusicPlayerEntry));
    }
    if (!player_) {
        qWarning().noquote() << failure_;
        return nullptr;
    }
    if (listener_)
        player_->setLevelListener(listener_);
    return player_;
}

void MusicModule::setSource(const QString &url, const QString &version) {
    source_ = url;
    version_ = version;
    if (MusicPlayer *p = player())
        p->setSource(url, version);
}

void MusicModule::play() {
    if (MusicPlayer *p = player())
        p->play();
}

// Pausing, resuming and the settings change nothing in a player not made yet.
void MusicModule::pause() {
    if (player_)
        player_->pause();
}

void MusicModule::resume() {
    if (player_)
        player_->resume();
}

void MusicModule::playLoop() {
    if (MusicPlayer *p = player())
        p->playLoop();
}

void MusicModule::seek(qint64 positionMs) {
    if (player_)
        player_->seek(positionMs);
}

void MusicModule::setMute(bool left, bool right) {
    if (MusicPlayer *p = player())
        p->setMute(left, right);
}

void MusicModule::setVolume(int left, int right) {
    if (MusicPlayer *p = player())
        p->setVolume(left, right);
}

QString MusicModule::info() {
    if (player_)
        return player_->info();
    QJsonObject o;
    o.insert(QStringLiteral("source"), source_);
    o.insert(QStringLiteral("version"), version_);
    o.insert(QStringLiteral("state"), QStringLiteral("stopped"));
    o.insert(QStringLiteral("output"), QStringLiteral("none"));
    // Before the first track nothing was loaded, and nothing is wrong yet.
    if (!failure_.isEmpty())
        o.insert(QStringLiteral("error"), failure_);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void MusicModule::setLevelListener(LevelListener listener) {
    listener_ = std::move(listener);
    if (player_)
        player_->setLevelListener(listener_);
}

} // namespace torvanix

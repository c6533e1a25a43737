#pragma once

#include <QMutex>
#include <QStringList>
#include <QVector>

namespace torvanix {

// The lighting following the music, run beside the player so it goes on while no page is
// shown. The page hands over the configuration documents of every brightness step of the
// device's preset effect and those of the brightness it holds; the louder channel's level
// picks a step. A device write takes a while and the level changes every 50 ms, so a step goes
// out only when it differs from the last one sent and not sooner than MinGapMs after it. When
// the music stops playing, or following is switched off, the held brightness goes back (if
// any step went out). Safe to call from any thread.
class MusicFollow {
public:
    static constexpr qint64 MinGapMs = 250;

    // Switches following on with the documents of steps first, first + 1, ... and the held
    // brightness' documents; an empty step list switches it off (without restoring).
    void follow(int first, QVector<QStringList> steps, QStringList held);
    // Switches following off: the documents that give the held brightness back, if needed.
    QStringList stop();
    bool active() const;

    // A level report: the documents to send now (none most of the time).
    QStringList level(int left, int right, qint64 nowMs);
    // The music stopped playing: the documents that give the held brightness back, if needed.
    // Following stays on for the next track.
    QStringList stopped();

    // The step of a level (0 .. 100) in the range first .. last, rounded to the nearest.
    static int stepOf(int level, int first, int last);

private:
    QStringList restoreLocked();

    mutable QMutex mutex_;
    int first_ = 0;
    QVector<QStringList> steps_;
    QStringList held_;
    int lastStep_ = -1;
    bool sent_ = false;
    qint64 lastAt_ = 0;
};

} // namespace torvanix

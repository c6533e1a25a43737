#include "music_follow.h"

#include <QMutexLocker>
#include <cmath>

namespace torvanix {

int MusicFollow::stepOf(int level, int first, int last) {
    const double l = qBound(0, level, 100);
    // Halves round up, as the page's Math.round did.
    return static_cast<int>(std::floor(first + l / 100.0 * (last - first) + 0.5));
}

void MusicFollow::follow(int first, QVector<QStringList> steps, QStringList held) {
    QMutexLocker lock(&mutex_);
    first_ = first;
    steps_ = std::move(steps);
    held_ = std::move(held);
    if (steps_.isEmpty()) {
        sent_ = false;
        lastStep_ = -1;
    }
}

QStringList MusicFollow::stop() {
    QMutexLocker lock(&mutex_);
    const QStringList restore = restoreLocked();
    steps_.clear();
    held_.clear();
    return restore;
}

bool MusicFollow::active() const {
    QMutexLocker lock(&mutex_);
    return !steps_.isEmpty();
}

QStringList MusicFollow::level(int left, int right, qint64 nowMs) {
    QMutexLocker lock(&mutex_);
    if (steps_.isEmpty())
        return {};
    const int step = stepOf(qMax(left, right), first_, first_ + steps_.size() - 1);
    if ((sent_ && step == lastStep_) || (sent_ && nowMs - lastAt_ < MinGapMs))
        return {};
    sent_ = true;
    lastStep_ = step;
    lastAt_ = nowMs;
    return steps_.value(step - first_);
}

QStringList MusicFollow::stopped() {
    QMutexLocker lock(&mutex_);
    return restoreLocked();
}

QStringList MusicFollow::restoreLocked() {
    if (!sent_)
        return {};
    sent_ = false;
    lastStep_ = -1;
    return held_;
}

} // namespace torvanix

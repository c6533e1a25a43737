#include "frame_registry.h"

namespace torvanix {

void FrameRegistry::frameLoaded(const FrameRef &frame, const QString &url) {
    QMutexLocker lock(&mutex_);
    current_.insert(qMakePair(frame.page, frame.path), url);
    auto it = entries_.find(url);
    // An entry left by a page that has closed reaches nobody; it must not keep a live frame
    // showing the same URL from getting events.
    if (it == entries_.end())
        entries_.insert(url, frame);
    else if (closed_.contains(it->page))
        *it = frame;
}

void FrameRegistry::beforeNavigate(const QString &target) {
    QMutexLocker lock(&mutex_);
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
        if (current_.value(qMakePair(it->page, it->path)) == target) {
            entries_.remove(target);
            return;
        }
    }
}

void FrameRegistry::pageClosed(quint64 page, const QString &mainFrameUrl) {
    QMutexLocker lock(&mutex_);
    entries_.remove(mainFrameUrl);
    closed_.insert(page);
    for (auto it = current_.begin(); it != current_.end();) {
        if (it.key().first == page)
            it = current_.erase(it);
        else
            ++it;
    }
}

QVector<QPair<QString, FrameRef>> FrameRegistry::entries() const {
    QMutexLocker lock(&mutex_);
    QVector<QPair<QString, FrameRef>> out;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it)
        out.append({it.key(), it.value()});
    return out;
}

QMap<quint64, QStringList> FrameRegistry::targets(const QString &onlyContaining) const {
    QMutexLocker lock(&mutex_);
    QMap<quint64, QStringList> out;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
        if (!onlyContaining.isEmpty() && !it.key().contains(onlyContaining))
            continue;
        out[it->page].append(it->path);
    }
    return out;
}

} // namespace torvanix

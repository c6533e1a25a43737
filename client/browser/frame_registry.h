#pragma once

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

namespace torvanix {

// A frame as the page bridge knows it: the page it belongs to and its place in the frame
// tree ("" for the top frame, "0/1" for the second child of the first child).
struct FrameRef {
    quint64 page = 0;
    QString path;
};

// The loaded-frame registry: frame URL -> the frame that finished loading it first. Events
// go to every entry; an entry stays until its page closes or a frame navigates to its URL
// again. Thread-safe: written on the GUI thread, read by event senders anywhere.
class FrameRegistry {
public:
    // Load end of a frame. Records the frame's current URL; inserts the entry unless the
    // URL is already registered.
    void frameLoaded(const FrameRef &frame, const QString &url);
    // Before a navigation to target: if any registered frame currently shows target, the
    // entry keyed target is dropped so the frame loading it next is recorded afresh.
    void beforeNavigate(const QString &target);
    // A page closed: its main-frame URL's entry goes; sub-frame entries stay (their sends
    // reach nobody) until a live frame loads the same URL and takes the entry over.
    void pageClosed(quint64 page, const QString &mainFrameUrl);

    // Entries in key order.
    QVector<QPair<QString, FrameRef>> entries() const;
    // Per page, the frame paths an event goes to, in key order. onlyContaining filters by
    // the entry URL (the hot-key page).
    QMap<quint64, QStringList> targets(const QString &onlyContaining = QString()) const;

private:
    mutable QMutex mutex_;
    QMap<QString, FrameRef> entries_;
    QHash<QPair<quint64, QString>, QString> current_;
    QSet<quint64> closed_;
};

} // namespace torvanix

#pragma once

#include "dispatch/reply.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

#include <atomic>

#include <memory>

namespace torvanix {

class BrowserView;
class ClientHandler;
class BridgeReply;

// The native end of one page's channel. The page script calls the invokables on the GUI
// thread; answers and events go back through the two signals.
class PageBridge : public QObject {
    Q_OBJECT
public:
    PageBridge(BrowserView *view, ClientHandler *handler, quint64 pageId);
    ~PageBridge() override;

    // A new top-level document connected: answers still owed to the old one are dropped.
    Q_INVOKABLE void hello();
    Q_INVOKABLE void query(int id, const QString &request, bool persistent);
    Q_INVOKABLE void cancel(int id);
    // Load end of a frame (path "" is the top frame).
    Q_INVOKABLE void frameLoaded(const QString &path, const QString &url);

    // GUI thread only.
    void deliverAnswer(quint64 generation, int id, bool ok, int code, const QString &text);
    void deliverEvent(const QString &name, const QVariantList &args, const QStringList &paths);

    quint64 pageId() const { return pageId_; }
    int openQueries() const { return open_.size(); }

signals:
    void answered(int id, bool ok, int code, const QString &text);
    void eventRaised(const QString &name, const QVariantList &args, const QStringList &paths);

private:
    QPointer<BrowserView> view_;
    ClientHandler *handler_;
    quint64 pageId_;
    quint64 generation_ = 0;
    QHash<int, std::weak_ptr<BridgeReply>> open_;
};

// Answer channel of one query; answers once, from any thread.
class BridgeReply : public Reply {
public:
    BridgeReply(PageBridge *bridge, quint64 generation, int id)
        : bridge_(bridge), generation_(generation), id_(id) {}
    void success(const QString &text) override { finish(true, 0, text); }
    void failure(int code, const QString &text) override { finish(false, code, text); }
    void cancel() { done_.store(true); }
    bool answered() const { return done_.load(); }

private:
    void finish(bool ok, int code, const QString &text);

    QPointer<PageBridge> bridge_;
    quint64 generation_;
    int id_;
    std::atomic<bool> done_{false};
};

} // namespace torvanix

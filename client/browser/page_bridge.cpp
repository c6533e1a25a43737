#include "page_bridge.h"

#include "browser_rules.h"
#include "browser_view.h"
#include "client_handler.h"
#include "message_event.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

namespace torvanix {

void BridgeReply::finish(bool ok, int code, const QString &text) {
    if (done_.exchange(true))
        return;
    QPointer<PageBridge> bridge = bridge_;
    const quint64 generation = generation_;
    const int id = id_;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread()) {
        if (bridge)
            bridge->deliverAnswer(generation, id, ok, code, text);
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [bridge, generation, id, ok, code, text] {
            if (bridge)
                bridge->deliverAnswer(generation, id, ok, code, text);
        },
        Qt::QueuedConnection);
}

PageBridge::PageBridge(BrowserView *view, ClientHandler *handler, quint64 pageId)
    : QObject(view), view_(view), handler_(handler), pageId_(pageId) {
    handler_->attachBridge(pageId_, this);
}

PageBridge::~PageBridge() = default;

void PageBridge::hello() {
    ++generation_;
    for (const auto &weak : qAsConst(open_))
        if (auto reply = weak.lock())
            reply->cancel();
    open_.clear();
}

void PageBridge::query(int id, const QString &request, bool persistent) {
    Q_UNUSED(persistent)
    if (!view_)
        return;
    // The channel exists in every page the view shows; only our own pages may use it.
    BrowserPage *page = view_->browserPage();
    if (!page || !page->mayQuery()) {
        qWarning().noquote() << "page query refused from"
                             << (page ? page->url()
                                            .toString(QUrl::RemoveQuery | QUrl::RemoveFragment |
                                                      QUrl::RemoveUserInfo)
                                            .left(120)
                                      : QStringLiteral("a closed page"));
        return;
    }
    QWidget *window = view_->window();
    handler_->SetMainWindowHandle(window);

    if (isMoveWindowRequest(request)) {
        if (auto delta = parseMoveWindow(request)) {
            handler_->moveWindowBy(window, *delta);
            deliverAnswer(generation_, id, true, 0, QString());
        }
        return;
    }
    if (isMinimiseRequest(request)) {
        handler_->toggleMinimised();
        return;
    }
    auto reply = std::make_shared<BridgeReply>(this, generation_, id);
    for (auto it = open_.begin(); it != open_.end();) {
        if (it->expired())
            it = open_.erase(it);
        else
            ++it;
    }
    open_.insert(id, reply);
    QCoreApplication::postEvent(view_, new MessageEvent(request, reply), Qt::HighEventPriority);
}

void PageBridge::cancel(int id) {
    if (auto reply = open_.take(id).lock())
        reply->cancel();
}

void PageBridge::frameLoaded(const QString &path, const QString &url) {
    handler_->frameLoaded(FrameRef{pageId_, path}, url);
}

void PageBridge::deliverAnswer(quint64 generation, int id, bool ok, int code, const QString &text) {
    if (generation != generation_)
        return;
    open_.remove(id);
    emit answered(id, ok, code, text);
}

void PageBridge::deliverEvent(const QString &name, const QVariantList &args,
                              const QStringList &paths) {
    emit eventRaised(name, args, paths);
}

} // namespace torvanix

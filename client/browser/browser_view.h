#pragma once

#include "dispatch/reply.h"

#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

class QWebChannel;

namespace torvanix {

class ClientHandler;
class PageBridge;
class BrowserPage;

// The embedded browser: a web view whose page talks to native code through the page bridge.
// Page queries arrive as MessageEvents on the GUI thread and leave as jsMessage; a view
// nobody listens to hands them to the client handler's default handler.
class BrowserView : public QWebEngineView {
    Q_OBJECT
public:
    explicit BrowserView(QWidget *parent = nullptr, ClientHandler *handler = nullptr);
    ~BrowserView() override;

    BrowserPage *browserPage() const { return page_; }
    PageBridge *bridge() const { return bridge_; }

public slots:
    void ResizeBrowser(QSize size);
    // Runs a script in the main frame without waiting for it; false before a page exists.
    QVariant evaluateJavaScript(const QString &scriptSource, const QString &url = QString());

signals:
    void jsMessage(const QString &name, const torvanix::ReplyPtr &callbackPtr);
    void navStateChanged(bool canGoBack, bool canGoForward);

protected:
    void customEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;

private:
    ClientHandler *handler_;
    BrowserPage *page_ = nullptr;
    PageBridge *bridge_ = nullptr;
    QWebChannel *channel_ = nullptr;
};

// One page: zoom for small or dense screens, the loaded-frame registry's navigation rule,
// the error page, and pop-ups as windows of their own.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    BrowserPage(ClientHandler *handler, QObject *parent);
    ~BrowserPage() override;
    quint64 pageId() const { return pageId_; }

    // Whether the page now shown may query native code: a page under the vendor endpoint's
    // local prefix, or an about:blank / data: document that such a page (or this program on
    // its behalf, as with the error page) opened. Pages of any other origin get no answer.
    bool mayQuery() const;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    void onLoadFinished(bool ok);

    ClientHandler *handler_;
    quint64 pageId_;
    quint64 navigation_ = 0;
    // Trust that about:blank and data: documents inherit from what opened them.
    bool trusted_ = false;
};

} // namespace torvanix

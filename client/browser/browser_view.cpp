#include "browser_view.h"

#include "browser_rules.h"
#include "client_handler.h"
#include "message_event.h"
#include "page_bridge.h"
#include "resource_mapping.h"

#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QScreen>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWindow>

namespace torvanix {

BrowserView::BrowserView(QWidget *parent, ClientHandler *handler)
    : QWebEngineView(parent), handler_(handler ? handler : ClientHandler::instance()) {
    qRegisterMetaType<torvanix::ReplyPtr>();
    setContextMenuPolicy(Qt::NoContextMenu);
    page_ = new BrowserPage(handler_, this);
    bridge_ = new PageBridge(this, handler_, page_->pageId());
    channel_ = new QWebChannel(this);
    channel_->registerObject(QStringLiteral("torvanixBridge"), bridge_);
    page_->setWebChannel(channel_, QWebEngineScript::MainWorld);
    setPage(page_);
    connect(page_, &QWebEnginePage::urlChanged, this,
            [this] { emit navStateChanged(history()->canGoBack(), history()->canGoForward()); });
}

// The page is the view's first child, so it goes before the bridge and the channel.
BrowserView::~BrowserView() = default;

void BrowserView::ResizeBrowser(QSize size) {
    resize(size);
}

QVariant BrowserView::evaluateJavaScript(const QString &scriptSource, const QString &) {
    if (!page_)
        return QVariant(false);
    page_->runJavaScript(scriptSource);
    return QVariant(true);
}

void BrowserView::customEvent(QEvent *event) {
    if (event->type() != MessageEvent::eventType())
        return;
    auto *message = static_cast<MessageEvent *>(event);
    static const QMetaMethod signal = QMetaMethod::fromSignal(&BrowserView::jsMessage);
    if (isSignalConnected(signal))
        emit jsMessage(message->request(), message->reply());
    else
        handler_->dispatchQuery(message->request(), message->reply());
}

void BrowserView::dragEnterEvent(QDragEnterEvent *event) {
    // Links dropped on the page would navigate away from the application.
    if (event->possibleActions() & Qt::LinkAction) {
        event->ignore();
        return;
    }
    QWebEngineView::dragEnterEvent(event);
}

BrowserPage::BrowserPage(ClientHandler *handler, QObject *parent)
    : QWebEnginePage(handler->profile(), parent), handler_(handler) {
    pageId_ = handler_->registerPage(this);
    setBackgroundColor(QColor(0x22, 0x25, 0x29));
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    connect(this, &QWebEnginePage::loadFinished, this, &BrowserPage::onLoadFinished);
}

bool BrowserPage::mayQuery() const {
    const QUrl shown = url();
    if (isLocalPageUrl(shown, handler_->mapper().settings().vendorBase))
        return true;
    return isInheritingUrl(shown) && trusted_;
}

BrowserPage::~BrowserPage() {
    handler_->pageClosed(pageId_, url().toString(QUrl::FullyEncoded));
}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) {
    Q_UNUSED(type)
    if (isMainFrame) {
        ++navigation_;
        if (!isInheritingUrl(url))
            trusted_ = isLocalPageUrl(url, handler_->mapper().settings().vendorBase);
        QScreen *screen = nullptr;
        if (QWidget *shown = view(); shown && shown->window()->windowHandle())
            screen = shown->window()->windowHandle()->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            // Measured in device pixels: the page already renders at the screen's device
            // scale, and the zoom rule applies on top of it.
            const double ratio = screen->devicePixelRatio() > 0 ? screen->devicePixelRatio() : 1.0;
            const double heightRatio = screen->size().height() * ratio / 1080.0;
            const double density = dpiScaleFor(screen->logicalDotsPerInch() * ratio);
            if (auto level = zoomLevelFor(heightRatio, density, zoomLevelForFactor(zoomFactor())))
                setZoomFactor(zoomFactorForLevel(*level));
        }
    }
    handler_->beforeNavigate(url.toString(QUrl::FullyEncoded));
    return true;
}

QWebEnginePage *BrowserPage::createWindow(WebWindowType type) {
    Q_UNUSED(type)
    // Pop-ups open as top-level browser windows of their own, like a plain browser would.
    auto *view = new BrowserView(nullptr, handler_);
    view->browserPage()->trusted_ = mayQuery();
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->resize(800, 600);
    view->show();
    return view->page();
}

void BrowserPage::onLoadFinished(bool ok) {
    if (ok)
        return;
    const QUrl failed = requestedUrl();
    if (failed.scheme() == QLatin1String("data"))
        return;
    // The engine tells only that the load failed; the reason is on its own error page.
    // A load that a newer navigation interrupted has no error page and is left alone.
    const quint64 navigation = navigation_;
    QPointer<BrowserPage> self(this);
    toHtml([self, failed, navigation](const QString &html) {
        if (!self || self->navigation_ != navigation)
            return;
        static const QRegularExpression named(QStringLiteral("\"errorCode\":\"(ERR_[A-Z0-9_]+)\""));
        static const QRegularExpression any(QStringLiteral("\\b(ERR_[A-Z0-9_]+)\\b"));
        QRegularExpressionMatch m = named.match(html);
        if (!m.hasMatch())
            m = any.match(html);
        if (!m.hasMatch())
            return;
        const QString errorText = m.captured(1);
        const int code = netErrorCode(errorText);
        if (code == kAbortedLoad)
            return;
        const QString page = errorPageHtml(failed.toString(QUrl::FullyEncoded), errorText, code);
        self->load(QUrl(ClientHandler::GetDataURI(page.toUtf8(), QStringLiteral("text/html"))));
    });
}

} // namespace torvanix

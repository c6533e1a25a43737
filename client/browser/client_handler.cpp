#include "client_handler.h"

#include "browser_rules.h"
#include "browser_view.h"
#include "device/data_folders.h"
#include "loopback_server.h"
#include "page_bridge.h"
#include "request_interceptor.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>
#include <QWebEngineDownloadItem>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWindow>

#ifndef TORVANIX_VENDOR_ENDPOINT
#define TORVANIX_VENDOR_ENDPOINT "http://www.torvanix.invalid"
#endif
#ifndef TORVANIX_PORTAL_URL
#define TORVANIX_PORTAL_URL "http://portal.torvanix.invalid/"
#endif

static void initBrowserResources() {
    Q_INIT_RESOURCE(browser);
}

namespace torvanix {

namespace {
ClientHandler *g_instance = nullptr;
const char *const kMinimisedByRequest = "torvanixMinimisedByRequest";
} // namespace

ClientHandler::ClientHandler(Settings settings, QObject *parent)
    : QObject(parent), settings_(std::move(settings)) {
    Q_ASSERT(!g_instance);
    g_instance = this;
    initBrowserResources();
    if (settings_.cachePath.isEmpty() && !settings_.storagePath.isEmpty())
        settings_.cachePath = settings_.storagePath + QStringLiteral("/Cache");
    if (settings_.storagePath.isEmpty()) {
        // The page's local storage (the macro library, preferences) must outlive a reboot,
        // which empties the temporary folder; runs before kept it there.
        QString why;
        settings_.storagePath = data_folders::settleBrowserStorage(
            QDir::tempPath() + QStringLiteral("/ozk"),
            data_folders::userDataFolder() + QStringLiteral("/browser"),
            {QStringLiteral("Cache"), QStringLiteral("ozk.log")}, &why);
        if (!why.isEmpty())
            qWarning().noquote() << why;
    }
    if (settings_.cachePath.isEmpty()) {
        // Not in a shared folder that another user could have made first.
        const QString own = data_folders::privateRuntimeFolder();
        settings_.cachePath =
            (own.isEmpty() ? settings_.storagePath : own) + QStringLiteral("/Cache");
    }

    QStringList packPaths;
    if (!settings_.packPath.isEmpty())
        packPaths << settings_.packPath;
    else
        packPaths << settings_.resources.appFolder + QStringLiteral("/theme.pak")
                  << settings_.resources.appFolder + QStringLiteral("/theme/theme.pak");
    for (const QString &path : qAsConst(packPaths))
        if (QFile::exists(path) && pack_.Load(path))
            break;

    if (settings_.resources.dataFolder.isEmpty())
        settings_.resources.dataFolder = downloadFolderBase();
    mapper_ = std::make_unique<ResourceMapper>(settings_.resources, &pack_);
    server_ = std::make_unique<LoopbackServer>(mapper_.get());
    const QString configured = qEnvironmentVariable("TORVANIX_UPSTREAM");
    const QString upstream = upstreamEndpoint(settings_.resources.vendorBase, configured);
    if (!configured.isEmpty() && upstream == settings_.resources.vendorBase)
        qWarning() << "TORVANIX_UPSTREAM is not an http://host[:port] address; using" << upstream;
    server_->setUpstream(upstream);
    if (!server_->start())
        qWarning() << "local pages cannot be served: no loopback port";
    interceptor_ = new RequestInterceptor(mapper_.get(), server_->secret(), this);
    addEngineSwitches();
}

ClientHandler::~ClientHandler() {
    server_->stop();
    if (g_instance == this)
        g_instance = nullptr;
}

ClientHandler *ClientHandler::instance() {
    return g_instance;
}

QString ClientHandler::vendorBase() {
    return QStringLiteral(TORVANIX_VENDOR_ENDPOINT);
}

QString ClientHandler::portalUrl() {
    return QStringLiteral(TORVANIX_PORTAL_URL);
}

ClientHandler::Settings ClientHandler::defaultSettings(const QString &programFolder,
                                                       const QString &edition) {
    Settings s;
    s.resources.vendorBase = vendorBase();
    s.resources.edition = edition;
    s.resources.appFolder = programFolder;
    s.resources.themeRoot = programFolder + QStringLiteral("/theme");
    s.resources.portalUrl = portalUrl();
    return s;
}

void ClientHandler::addEngineSwitches() {
    const QString host = QUrl(settings_.resources.vendorBase).host();
    QStringList flags = {
        QStringLiteral("--disable-gpu"),
        QStringLiteral("--disable-software-rasterizer"),
        QStringLiteral("--enable-unrestricted-usb"),
        QStringLiteral("--enable-webusb-device-detection"),
        QStringLiteral("--enable-webusb"),
        QStringLiteral("--enable-features=WebUSB"),
        QStringLiteral("--autoplay-policy=no-user-gesture-required"),
        QStringLiteral("--enable-smooth-scrolling"),
        // The main page and the pop-up views are one site: one renderer for all of them,
        // not one per view (about 20 MB less while the hot-key panel is open).
        QStringLiteral("--process-per-site"),
    };
    if (server_->port() > 0 && !host.isEmpty())
        flags << QStringLiteral("--host-resolver-rules=\"MAP %1 127.0.0.1:%2\"")
                     .arg(host)
                     .arg(server_->port());
    const QString existing = qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS");
    originalFlags_ = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    hadFlags_ = qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!existing.isEmpty())
        flags.prepend(existing);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.join(QLatin1Char(' ')).toLocal8Bit());
    // A proxy from the environment must not take the vendor host away from the loopback.
    for (const char *var : {"no_proxy", "NO_PROXY"}) {
        QString list = qEnvironmentVariable(var);
        if (!host.isEmpty() && !list.split(QLatin1Char(',')).contains(host)) {
            list = list.isEmpty() ? host : list + QLatin1Char(',') + host;
            qputenv(var, list.toLocal8Bit());
        }
    }
}

QWebEngineProfile *ClientHandler::profile() {
    if (profile_)
        return profile_;
    profile_ = new QWebEngineProfile(QStringLiteral("ozk"), this);
    profile_->setPersistentStoragePath(settings_.storagePath);
    profile_->setCachePath(settings_.cachePath);
    profile_->setHttpUserAgent(QStringLiteral("Torvanix"));
    profile_->setHttpAcceptLanguage(QStringLiteral("zh"));
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    profile_->setUrlRequestInterceptor(interceptor_);

    QString source;
    for (const char *path : {":/qtwebchannel/qwebchannel.js", ":/torvanix/browser/bridge.js"}) {
        QFile f(QString::fromLatin1(path));
        if (f.open(QIODevice::ReadOnly))
            source += QString::fromUtf8(f.readAll()) + QLatin1Char('\n');
        else
            qWarning() << "page bridge script missing:" << path;
    }
    QWebEngineScript script;
    script.setName(QStringLiteral("torvanix-bridge"));
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    profile_->scripts()->insert(script);

    connect(profile_, &QWebEngineProfile::downloadRequested, this,
            &ClientHandler::onDownloadRequested);
    return profile_;
}

int ClientHandler::serverPort() const {
    return server_->port();
}

void ClientHandler::moveWindowBy(QWidget *requester, const QPoint &delta) {
    if (host_) {
        host_->moveWindowBy(requester, delta);
        return;
    }
    if (requester)
        moveTopLevelBy(requester->window(), delta);
}

void ClientHandler::moveTopLevelBy(QWidget *window, const QPoint &delta) {
    if (!window)
        return;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // The page sends its drag as a series of small moves; the compositor follows the
        // pointer itself once asked, and ignores repeated asks during one drag.
        if (QWindow *handle = window->windowHandle(); handle && handle->startSystemMove())
            return;
        qDebug() << "the compositor did not take the window move; moving by position";
    }
    window->move(window->pos() + delta);
}

void ClientHandler::toggleMinimised() {
    QWidget *window = mainWindow_ ? mainWindow_->window() : nullptr;
    if (!window)
        return;
    if (window->isMinimized() && window->property(kMinimisedByRequest).toBool()) {
        window->setProperty(kMinimisedByRequest, false);
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        return;
    }
    window->setProperty(kMinimisedByRequest, true);
    // Restored by other means (taskbar, tray, second instance), the window no longer counts as
    // minimised by the page; a later minimising by the system must not make the next request
    // restore it.
    window->installEventFilter(this);
    window->setWindowState(window->windowState() | Qt::WindowMinimized);
}

bool ClientHandler::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::WindowStateChange) {
        if (auto *widget = qobject_cast<QWidget *>(watched)) {
            if (!widget->isMinimized() && widget->property(kMinimisedByRequest).toBool())
                widget->setProperty(kMinimisedByRequest, false);
        }
    }
    return QObject::eventFilter(watched, event);
}

void ClientHandler::dispatchQuery(const QString &request, const ReplyPtr &reply) {
    if (defaultQuery_)
        defaultQuery_(request, reply);
}

quint64 ClientHandler::registerPage(BrowserPage *) {
    return nextPageId_++;
}

void ClientHandler::attachBridge(quint64 pageId, PageBridge *bridge) {
    bridges_.insert(pageId, bridge);
}

void ClientHandler::pageClosed(quint64 pageId, const QString &mainFrameUrl) {
    registry_.pageClosed(pageId, mainFrameUrl);
    bridges_.remove(pageId);
}

void ClientHandler::frameLoaded(const FrameRef &frame, const QString &url) {
    registry_.frameLoaded(frame, url);
}

void ClientHandler::beforeNavigate(const QString &url) {
    registry_.beforeNavigate(url);
}

void ClientHandler::sendEvent(const QString &name, const QVariantList &args) {
    if (QThread::currentThread() == thread()) {
        deliverEvent(name, args);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, name, args] { deliverEvent(name, args); }, Qt::QueuedConnection);
}

void ClientHandler::deliverEvent(const QString &name, const QVariantList &args) {
    const bool hotKey = name == QLatin1String(events::HotKeyMsg);
    const auto targets = registry_.targets(hotKey ? hotKeyPage_ : QString());
    for (auto it = targets.cbegin(); it != targets.cend(); ++it) {
        if (PageBridge *bridge = bridges_.value(it.key()))
            bridge->deliverEvent(name, args, it.value());
    }
}

void ClientHandler::SendDevicesChanged() {
    sendEvent(QString::fromLatin1(events::DevicesChanged), {0});
}

void ClientHandler::SendOnDeviceData(const QString &text) {
    sendEvent(QString::fromLatin1(events::OnDeviceData), {text});
}

void ClientHandler::SendOnNotifySaveXml(const QString &text) {
    sendEvent(QString::fromLatin1(events::OnNotifySaveXml), {text});
}

void ClientHandler::SendRefreshUpdateState(const QString &text) {
    sendEvent(QString::fromLatin1(events::RefreshUpdateState), {text});
}

void ClientHandler::SendRefreshDownState(qint64 total, qint64 received, const QString &path) {
    // The page gets 32-bit counts.
    sendEvent(QString::fromLatin1(events::RefreshDownState),
              {static_cast<qint32>(total), static_cast<qint32>(received), path});
}

void ClientHandler::SendOnRGBMusicData(const QString &text) {
    sendEvent(QString::fromLatin1(events::OnRGBMusicData), {text});
}

void ClientHandler::SendHotKeyMsg(const QString &keyName) {
    sendEvent(QString::fromLatin1(events::HotKeyMsg), {keyName});
}

QString ClientHandler::GetDataURI(const QByteArray &data, const QString &mimeType) {
    return dataUri(data, mimeType);
}

QString ClientHandler::downloadFolderBase() const {
    if (!settings_.resources.dataFolder.isEmpty())
        return settings_.resources.dataFolder;
    const QString data = data_folders::writableFolder(settings_.resources.appFolder);
    return data.isEmpty() ? settings_.resources.appFolder : data;
}

void ClientHandler::onDownloadRequested(QWebEngineDownloadItem *item) {
    const QString suggested = item->suggestedFileName();
    // A file from anywhere else is the user's to place, never the update folder's.
    const QUrl initiator = item->page() ? item->page()->url() : QUrl();
    QString target = fromVendorOrigin(item->url(), settings_.resources.vendorBase, initiator)
                         ? downloadTarget(suggested, downloadFolderBase())
                         : QString();
    if (target.isEmpty()) {
        const QString proposal = QDir(item->downloadDirectory()).filePath(suggested);
        target = saveDialog_ ? saveDialog_(proposal)
                             : QFileDialog::getSaveFileName(nullptr, QString(), proposal);
        if (target.isEmpty()) {
            item->cancel();
            return;
        }
    }
    const QFileInfo info(target);
    QDir().mkpath(info.absolutePath());
    item->setDownloadDirectory(info.absolutePath());
    item->setDownloadFileName(info.fileName());
    const QString fullPath = info.absoluteFilePath();
    connect(item, &QWebEngineDownloadItem::downloadProgress, this,
            [this, fullPath](qint64 received, qint64 total) {
                SendRefreshDownState(total, received, fullPath);
            });
    ++activeDownloads_;
    connect(item, &QWebEngineDownloadItem::finished, this, [this, item, fullPath] {
        --activeDownloads_;
        SendRefreshDownState(item->totalBytes(), item->receivedBytes(), fullPath);
        if (item->state() == QWebEngineDownloadItem::DownloadCompleted)
            SendRefreshDownState(100, 100, fullPath);
    });
    item->accept();
    emit downloadPlaced(fullPath);
}

} // namespace torvanix

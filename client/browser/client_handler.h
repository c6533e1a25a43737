#pragma once

#include "device/event_sink.h"
#include "dispatch/reply.h"
#include "frame_registry.h"
#include "resource_mapping.h"
#include "theme_pack.h"

#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QWebEngineProfile;
class QWebEngineDownloadItem;

namespace torvanix {

class BrowserPage;
class LoopbackServer;
class PageBridge;
class RequestInterceptor;

// Window operations the page's two window requests need.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // "MoveWindow": the main window, or the pop-up it shows, moves by delta.
    virtual void moveWindowBy(QWidget *requester, const QPoint &delta) = 0;
};

// The one browser client of the process: engine profile and switches, the page resources
// (pack, loopback server, request interceptor), the pages and their loaded frames, the
// named events into the pages, downloads, and the hand-over of page queries to the GUI.
class ClientHandler : public QObject, public EventSink {
    Q_OBJECT
public:
    struct Settings {
        ResourceSettings resources;
        QString
            packPath; // empty: <program folder>/theme.pak, else <program folder>/theme/theme.pak
        // Browser storage (local storage, cookies); empty: "browser" in the user's data
        // folder, where storage an earlier run kept in <temp>/ozk is moved once.
        QString storagePath;
        // Empty: "Cache" in a given storage folder, else in the user's private runtime
        // folder (the storage folder when there is none).
        QString cachePath = QString();
    };

    // Must be constructed before any web engine object exists: it sets the engine's switches.
    explicit ClientHandler(Settings settings, QObject *parent = nullptr);
    ~ClientHandler() override;
    static ClientHandler *instance();

    // Build-time settings of this program.
    // Moves a top-level window by delta. Where the compositor ignores absolute moves
    // (Wayland), the window asks the compositor for an interactive move instead.
    static void moveTopLevelBy(QWidget *window, const QPoint &delta);
    static QString vendorBase();
    static QString portalUrl();
    static Settings defaultSettings(const QString &programFolder, const QString &edition);

    QWebEngineProfile *profile();
    const ThemePack &pack() const { return pack_; }
    const ResourceMapper &mapper() const { return *mapper_; }
    int serverPort() const;
    QString startUrl() const { return mapper_->startUrl(); }

    // Which window the page's window requests act on.
    void setWindowHost(WindowHost *host) { host_ = host; }
    void SetMainWindowHandle(QWidget *window) { mainWindow_ = window; }
    QWidget *GetMainWindowHandle() const { return mainWindow_; }
    void moveWindowBy(QWidget *requester, const QPoint &delta);
    // "MinisizeWindow": restores the window only when this request minimised it.
    void toggleMinimised();

    // Queries of views nobody listens to.
    using QueryHandler = std::function<void(const QString &, const ReplyPtr &)>;
    void setDefaultQueryHandler(QueryHandler handler) { defaultQuery_ = std::move(handler); }
    void dispatchQuery(const QString &request, const ReplyPtr &reply);

    // Pages and their frames (GUI thread).
    quint64 registerPage(BrowserPage *page);
    void attachBridge(quint64 pageId, PageBridge *bridge);
    void pageClosed(quint64 pageId, const QString &mainFrameUrl);
    void frameLoaded(const FrameRef &frame, const QString &url);
    void beforeNavigate(const QString &url);
    const FrameRegistry &registry() const { return registry_; }

    // Named page events; callable from any thread.
    void sendEvent(const QString &name, const QVariantList &args) override;
    void SendDevicesChanged();
    void SendOnDeviceData(const QString &text);
    void SendOnNotifySaveXml(const QString &text);
    void SendRefreshUpdateState(const QString &text);
    void SendRefreshDownState(qint64 total, qint64 received, const QString &path);
    void SendOnRGBMusicData(const QString &text);
    void SendHotKeyMsg(const QString &keyName);

    static QString GetDataURI(const QByteArray &data, const QString &mimeType);

    // Downloads that need a place chosen by the user ask this; an empty answer cancels.
    using SaveDialog = std::function<QString(const QString &suggestedPath)>;
    void setSaveDialog(SaveDialog dialog) { saveDialog_ = std::move(dialog); }
    // Downloads accepted and not finished yet.
    int activeDownloads() const { return activeDownloads_; }

signals:
    void downloadPlaced(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void deliverEvent(const QString &name, const QVariantList &args);
    // The folder whose "update/" takes the page's downloads.
    QString downloadFolderBase() const;
    void onDownloadRequested(QWebEngineDownloadItem *item);
    void addEngineSwitches();

    Settings settings_;
    ThemePack pack_;
    std::unique_ptr<ResourceMapper> mapper_;
    std::unique_ptr<LoopbackServer> server_;
    RequestInterceptor *interceptor_ = nullptr;
    QWebEngineProfile *profile_ = nullptr;
    WindowHost *host_ = nullptr;
    QPointer<QWidget> mainWindow_;
    QueryHandler defaultQuery_;
    SaveDialog saveDialog_;
    FrameRegistry registry_;
    quint64 nextPageId_ = 1;
    int activeDownloads_ = 0;
    QByteArray originalFlags_;
    bool hadFlags_ = false;
    QHash<quint64, QPointer<PageBridge>> bridges_;
    const QString hotKeyPage_ = QStringLiteral("quick_set.html");
};

} // namespace torvanix

#pragma once

#include "browser/client_handler.h"
#include "desktop_services.h"
#include "dispatch/command_dispatcher.h"
#include "dispatch/window_actions.h"
#include "dispatch/window_commands.h"
#include "pop_widget.h"

#include <QMap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWidget>

#include <functional>
#include <memory>

namespace torvanix {

class BrowserView;
class PopWidget;
class SystemTray;

class DEVICE_FILTER;
class CommandHost;

// Where a window sends its page's queries when it does not run the commands itself (the
// window process hands them to the core).
using PageQueryRoute = std::function<void(const QString &request, const ReplyPtr &reply)>;

// The main window: frameless, filled by the browser view showing the web UI. It routes the
// page's queries to the command table, carries out the window, pop-up and dialog actions
// of the commands, follows the screen's DPI, hides instead of closing and lives on in the
// tray.
class Window : public QWidget, public WindowActions, public WindowHost {
    Q_OBJECT
public:
    explicit Window(QWidget *parent = nullptr);
    // The window of another edition (tests build both from one tree).
    explicit Window(const QString &brand, QWidget *parent = nullptr);
    // A window whose page queries go to `route`; it runs no command and no input filter.
    Window(const QString &brand, PageQueryRoute route, QWidget *parent = nullptr);
    ~Window() override;

    struct ThemePaths {
        QString themeRoot;
        QString themeFolder;
    };
    // The theme folder of the page (program folder + "/theme" + the edition folder).
    ThemePaths setupTheme();
    void setupTray();

    BrowserView *view() const { return view_; }
    SystemTray *tray() const { return tray_; }
    CommandDispatcher &dispatcher() { return dispatcher_; }
    QString brand() const { return brand_; }
    // The input filter; null unless the edition runs it here.
    DEVICE_FILTER *inputFilter() const;
    QString screenKeyboardVersion() const { return screenKeyboardVersion_; }
    QUrl startUrl() const;
    double desktopScale() const { return desktopScale_; }
    double dpiScale() const { return dpiScale_; }
    PopWidget *currentPopView() const { return currentPopView_; }
    PopWidget *lastPopView() const { return lastPopView_; }
    QMap<QString, QPointer<PopWidget>> popViews() const { return popViews_; }

    // Whether the desktop shows a tray, asked at each close: without one, closing the window
    // quits, since a hidden window could never be brought back. Replaceable for tests.
    void setTrayAvailableCheck(std::function<bool()> check) { trayAvailable_ = std::move(check); }
    // Replaces what closing the window does (the window process asks the core).
    void setCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

    // Writes a picture of the window to path once the page has loaded (and a moment more).
    void scheduleScreenshot(const QString &path);

    // WindowActions; callable from any thread (carried out on the GUI thread).
    void showClient() override;
    void openView(const QString &url, double width, double height) override;
    void closeView() override;
    void closeMainWindow() override;
    bool openExternal(const QString &url) override;
    void setAutoRun(bool enabled) override;
    void quitApplication() override;
    QStringList getOpenFileNames(const QString &title, const QString &directory,
                                 const QString &filter) override;
    QString getOpenFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString getSaveFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString lastVisitedDirectory() const override;

    // WindowHost: "MoveWindow" moves the pop-up on show, else this window.
    void moveWindowBy(QWidget *requester, const QPoint &delta) override;

signals:
    void SigWriteDevice(QString document);
    void funstared();
    void amplitudeChanged();
    void pcmDataChanged();
    void screenshotWritten(const QString &path, bool ok);

public slots:
    void onLogicalDotsPerInchChanged(qreal dpi);
    void dofunc(const QString &funcname, const QVariantMap &args,
                const torvanix::ReplyPtr &callbackPtr);
    void quitApp();
    void finishLoading(bool ok);
    void onJsMessage(const QString &name, const torvanix::ReplyPtr &callbackPtr);
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onshowWidget();
    void oncloseApp();
    // A USB device arrived or went away.
    void onDevicesChanged();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    void showEvent(QShowEvent *event) override;

private:
    template <typename F> auto onGui(F f) const -> decltype(f());
    // 1200x800 device pixels times the DPI step of the screen the window is on, kept on that
    // screen; again whenever the window moves to another screen.
    void fitToScreen();
    void setupPageCommands();
    void rememberDirectory(const QString &chosenFile, const QString &offered);

    CommandDispatcher dispatcher_;
    BrowserView *view_ = nullptr;
    QString brand_;
    double desktopScale_ = 1.0;
    double dpiScale_ = 1.0;
    int desktopWidth_ = 0;
    int desktopHeight_ = 0;
    SystemTray *tray_ = nullptr;
    QString lastDirectory_;
    QMap<QString, QPointer<PopWidget>> popViews_;
    QPointer<PopWidget> lastPopView_;
    QPointer<PopWidget> currentPopView_;
    std::function<bool()> trayAvailable_;
    std::function<void()> closeHandler_;
    PageQueryRoute route_;
    QMetaObject::Connection screenConnection_;
    // The device, file, update, screen and music commands with what they work on, and the
    // input filter; none where the queries go elsewhere.
    std::unique_ptr<CommandHost> commandHost_;
    QString screenKeyboardVersion_;
};

template <typename F> auto Window::onGui(F f) const -> decltype(f()) {
    using R = decltype(f());
    if (QThread::currentThread() == thread())
        return f();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(const_cast<Window *>(this), f, Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            const_cast<Window *>(this), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

} // namespace torvanix

#include "window.h"

#include "browser/browser_view.h"
#include "command_host.h"
#include "desktop_services.h"
#include "device/library_loader.h"
#include "dispatch/page_commands.h"
#include "pop_widget.h"
#include "system_tray.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace torvanix {

Window::Window(QWidget *parent) : Window(buildBrand(), parent) {}

Window::Window(const QString &brand, QWidget *parent) : Window(brand, PageQueryRoute(), parent) {}

Window::Window(const QString &brand, PageQueryRoute route, QWidget *parent)
    : QWidget(parent), route_(std::move(route)),
      screenKeyboardVersion_(QString::fromLatin1(page::ScreenKeyboardVersion)) {
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setWindowTitle(QStringLiteral("Torvanix"));
    brand_ = brand;

    const ScreenScales scales = currentScreenScales();
    desktopScale_ = scales.desktopScale;
    dpiScale_ = scales.dpiScale;
    desktopWidth_ = scales.desktopWidth;
    desktopHeight_ = scales.desktopHeight;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::logicalDotsPerInchChanged, this,
                &Window::onLogicalDotsPerInchChanged);

    trayAvailable_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    fitToScreen();
    setWindowOpacity(1.0);
    setMouseTracking(true);

    view_ = new BrowserView(this);
    view_->resize(size());
    view_->load(startUrl());
    connect(view_, &BrowserView::jsMessage, this, &Window::onJsMessage, Qt::DirectConnection);
    connect(view_, &QWebEngineView::loadFinished, this, &Window::finishLoading);

    if (ClientHandler *handler = ClientHandler::instance()) {
        handler->setWindowHost(this);
        handler->SetMainWindowHandle(this);
        // Queries of pages this window did not open (window.open) use the same table.
        handler->setDefaultQueryHandler(
            [this](const QString &request, const ReplyPtr &reply) { onJsMessage(request, reply); });
    }

    if (!route_) {
        registerWindowCommands(dispatcher_, *this, shellState());
        setupPageCommands();
    }
    installEventFilter(this);
}

Window::~Window() {
    commandHost_.reset();
    if (mainWindowHandle() == reinterpret_cast<void *>(internalWinId()))
        setMainWindowHandle(nullptr);
    if (ClientHandler *handler = ClientHandler::instance()) {
        handler->setWindowHost(nullptr);
        handler->setDefaultQueryHandler({});
    }
    for (const auto &pop : qAsConst(popViews_))
        delete pop.data();
}

void Window::setupPageCommands() {
    static NullEventSink noPage;
    EventSink *events = ClientHandler::instance();
    commandHost_ =
        std::make_unique<CommandHost>(dispatcher_, *this, events ? *events : noPage, brand_);
}

DEVICE_FILTER *Window::inputFilter() const {
    return commandHost_ ? commandHost_->inputFilter() : nullptr;
}

QUrl Window::startUrl() const {
    ClientHandler *handler = ClientHandler::instance();
    const QString base =
        handler ? handler->mapper().settings().vendorBase : ClientHandler::vendorBase();
    // The page follows the system language; it cannot see the locale the program runs
    // under any other way (the engine reports its own).
    QUrl url(base + QStringLiteral("/local/") + brand_ + QStringLiteral("/client.html"));
    url.setQuery(QStringLiteral("lang=") + QLocale::system().name());
    return url;
}

Window::ThemePaths Window::setupTheme() {
    ThemePaths paths;
    paths.themeRoot = QCoreApplication::applicationDirPath() + QStringLiteral("/theme");
    const QString prefix = ClientHandler::vendorBase() + QStringLiteral("/local/");
    QString folder = (prefix + QStringLiteral("Galecrafter/client.html")).mid(prefix.size());
    folder.remove(QRegularExpression(QStringLiteral("/[^/]*.html")));
    paths.themeFolder = paths.themeRoot + QLatin1Char('/') + folder;
    return paths;
}

void Window::setupTray() {
    tray_ = new SystemTray(this);
    tray_->setVisible(true);
    connect(tray_, &QSystemTrayIcon::activated, this, &Window::onSystemtrayActive,
            Qt::UniqueConnection);
    connect(tray_, &SystemTray::showWidget, this, &Window::onshowWidget);
    connect(tray_, &SystemTray::closeApp, this, &Window::oncloseApp);
}

void Window::scheduleScreenshot(const QString &path) {
    auto taken = std::make_shared<bool>(false);
    auto shoot = [this, path, taken] {
        if (*taken)
            return;
        *taken = true;
        QPixmap picture;
        // On a real display the server's copy shows exactly what the user sees; offscreen
        // there is none, so the widget paints itself.
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            if (QScreen *screen = windowHandle() ? windowHandle()->screen() : nullptr)
                picture = screen->grabWindow(winId());
        if (picture.isNull())
            picture = grab();
        const bool ok = !picture.isNull() && picture.save(path, "PNG");
        emit screenshotWritten(path, ok);
    };
    connect(view_, &QWebEngineView::loadFinished, this,
            [shoot](bool) { QTimer::singleShot(1500, shoot); });
    // A page that never finishes loading still gets its picture taken.
    QTimer::singleShot(20000, this, shoot);
}

void Window::fitToScreen() {
    QScreen *screen = windowHandle() ? windowHandle()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const ScreenScales scales = currentScreenScales(screen);
    desktopScale_ = scales.desktopScale;
    dpiScale_ = scales.dpiScale;
    desktopWidth_ = scales.desktopWidth;
    desktopHeight_ = scales.desktopHeight;
    const QSize wanted(qRound(1200 * dpiScale_ / scales.devicePixelRatio),
                       qRound(800 * dpiScale_ / scales.devicePixelRatio));
    setGeometry(
        fitWindowToScreen(wanted, geometry(), screen ? screen->availableGeometry() : QRect()));
}

void Window::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!windowHandle() || screenConnection_)
        return;
    fitToScreen();
    screenConnection_ =
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { fitToScreen(); });
}

void Window::showClient() {
    onGui([this] {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint);
        show();
    });
}

void Window::openView(const QString &url, double width, double height) {
    onGui([=] {
        const ScreenScales scales = currentScreenScales();
        desktopScale_ = scales.desktopScale;
        desktopWidth_ = scales.desktopWidth;
        desktopHeight_ = scales.desktopHeight;
        // The page's numbers are device pixels; the pop-up is sized in window units.
        const QSize size = popupSize(width, height, desktopHeight_) / scales.devicePixelRatio;
        // An entry whose pop-up was closed along with another one no longer blocks its URL.
        auto existing = popViews_.constFind(url);
        if (existing != popViews_.constEnd() && !existing.value().isNull())
            return;
        auto *pop = new PopWidget(this, size.width(), size.height(), url);
        popViews_.insert(url, pop);
        connect(pop->view(), &BrowserView::jsMessage, this, &Window::onJsMessage,
                Qt::DirectConnection);
        connect(pop, &PopWidget::activated, this, [this](PopWidget *p) { currentPopView_ = p; });
        if (ClientHandler *handler = ClientHandler::instance())
            handler->SetMainWindowHandle(pop);
        pop->show();
        lastPopView_ = pop;
    });
}

void Window::closeView() {
    onGui([this] {
        if (ClientHandler *handler = ClientHandler::instance())
            handler->SetMainWindowHandle(this);
        if (currentPopView_) {
            for (auto it = popViews_.begin(); it != popViews_.end(); ++it) {
                if (it.value() == currentPopView_) {
                    popViews_.erase(it);
                    break;
                }
            }
            currentPopView_->deleteLater();
            currentPopView_ = nullptr;
            if (lastPopView_) {
                lastPopView_->deleteLater();
                lastPopView_ = nullptr;
            }
        }
    });
}

void Window::closeMainWindow() {
    onGui([this] { close(); });
}

bool Window::openExternal(const QString &url) {
    return onGui([&] {
        QUrl target(url);
        if (target.scheme().isEmpty() || QFileInfo(url).isAbsolute())
            target = QUrl::fromLocalFile(url);
        return QDesktopServices::openUrl(target);
    });
}

void Window::setAutoRun(bool enabled) {
    AutoStart().setEnabled(enabled, QCoreApplication::applicationFilePath());
}

void Window::quitApplication() {
    onGui([] { quitOnce(); });
}

void Window::rememberDirectory(const QString &chosenFile, const QString &offered) {
    if (!chosenFile.isEmpty())
        lastDirectory_ = QFileInfo(chosenFile).absolutePath();
    else if (!offered.isEmpty())
        lastDirectory_ = offered;
}

QStringList Window::getOpenFileNames(const QString &title, const QString &directory,
                                     const QString &filter) {
    return onGui([&] {
        const QStringList files = QFileDialog::getOpenFileNames(this, title, directory, filter);
        rememberDirectory(files.value(0), directory);
        return files;
    });
}

QString Window::getOpenFileName(const QString &title, const QString &directory,
                                const QString &filter) {
    return onGui([&] {
        const QString file = QFileDialog::getOpenFileName(this, title, directory, filter);
        rememberDirectory(file, directory);
        return file;
    });
}

QString Window::getSaveFileName(const QString &title, const QString &directory,
                                const QString &filter) {
    return onGui([&] {
        const QString file = QFileDialog::getSaveFileName(this, title, directory, filter);
        rememberDirectory(file, directory);
        return file;
    });
}

QString Window::lastVisitedDirectory() const {
    return onGui([this] { return lastDirectory_; });
}

void Window::moveWindowBy(QWidget *requester, const QPoint &delta) {
    Q_UNUSED(requester)
    QWidget *target = this;
    if (currentPopView_ && currentPopView_->isVisible())
        target = currentPopView_;
    else if (lastPopView_ && lastPopView_->isVisible())
        target = lastPopView_;
    ClientHandler::moveTopLevelBy(target, delta);
}

void Window::onLogicalDotsPerInchChanged(qreal) {
    // The page renders at the screen's device scale, so it stays as large as the window: the
    // window takes its size for the new DPI step and the browser fills it.
    fitToScreen();
    if (view_)
        view_->ResizeBrowser(size());
}

void Window::dofunc(const QString &funcname, const QVariantMap &args, const ReplyPtr &callbackPtr) {
    dispatcher_.dofunc(funcname, args, callbackPtr);
}

void Window::quitApp() {
    hide();
}

void Window::finishLoading(bool) {}

void Window::onJsMessage(const QString &name, const ReplyPtr &callbackPtr) {
    if (route_)
        route_(name, callbackPtr);
    else
        dispatcher_.onJsMessage(name, callbackPtr);
}

void Window::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        setWindowState(Qt::WindowActive);
        show();
        break;
    default:
        break;
    }
}

void Window::onshowWidget() {
    show();
}

void Window::oncloseApp() {
    // Shown, so the refused quit is seen and the update's progress with it.
    if (firmwareUpdateHoldsQuit("the tray's quit")) {
        show();
        return;
    }
    quitOnce();
}

void Window::onDevicesChanged() {
    if (commandHost_)
        commandHost_->noticeDevicesChanged();
}

bool Window::event(QEvent *event) {
    // The keyboard and mouse access libraries get the main window's native handle when they
    // initialise a device; it changes whenever the native window is (re)created.
    if (event->type() == QEvent::WinIdChange)
        setMainWindowHandle(reinterpret_cast<void *>(internalWinId()));
    // The display settings changed: keep the browser filling the window.
    if (event->type() == QEvent::ScreenChangeInternal && view_) {
        resize(size());
        view_->resize(size());
    }
    return QWidget::event(event);
}

bool Window::eventFilter(QObject *watched, QEvent *event) {
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (ClientHandler *handler = ClientHandler::instance())
            handler->SetMainWindowHandle(this);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Window::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (view_)
        view_->resize(size());
}

void Window::closeEvent(QCloseEvent *event) {
    event->ignore();
    if (closeHandler_) {
        closeHandler_();
        return;
    }
    // The window stays in sight while a firmware update is written: hidden, its progress and
    // the quit behind it would be out of reach.
    if (firmwareUpdateHoldsQuit("closing the window"))
        return;
    hide();
    // Without a tray (many desktops have none) nothing could show the window again.
    if (!tray_ || !trayAvailable_ || !trayAvailable_())
        quitOnce();
}

} // namespace torvanix

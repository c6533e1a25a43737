// The main window with its real browser view: sizes, commands from its page, pop-up views,
// hiding on close, the tray.
#include "../browser/engine_harness.h"

#include "device/input_filter.h"
#include "device/library_loader.h"
#include "device/update_firmware.h"
#include "ui/desktop_services.h"
#include "ui/pop_widget.h"
#include "ui/system_tray.h"
#include "ui/window.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QScreen>
#include <QTemporaryDir>

using namespace torvanix;
using namespace torvanix::testing;

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        harness = &EngineHarness::get();
        resetQuitRequest();
        window = std::make_unique<Window>();
        window->setupTray();
        window->show();
    }
    void TearDown() override {
        window.reset();
        shellState().firstStartFlag = false;
        resetQuitRequest();
    }
    QString query(const QString &json) {
        runJs(window->view()->page(), QString("window.__log = []; q(%1)")
                                          .arg(QString::fromUtf8(QJsonDocument(QJsonArray{json})
                                                                     .toJson(QJsonDocument::Compact)
                                                                     .mid(1)
                                                                     .chopped(1))));
        waitFor([&] { return runJs(window->view()->page(), "__log.length").toInt() > 0; }, 8000);
        return runJs(window->view()->page(), "JSON.stringify(__log)").toString();
    }
    void send(const QString &json) { window->onJsMessage(json, nullptr); }

    EngineHarness *harness = nullptr;
    std::unique_ptr<Window> window;
};

} // namespace

TEST_F(WindowTest, StartsFramelessAtTheDpiScaledSizeAndHidesOnClose) {
    window->setTrayAvailableCheck([] { return true; });
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    const double step = dpi / 96 < 1.1 ? 1.0 : window->dpiScale();
    // 1200x800 times the DPI step, shrunk with its aspect kept where the screen is smaller
    // (the test screen is).
    const QRect available = window->screen()->availableGeometry();
    const QSize wanted(int(1200 * step), int(800 * step));
    if (available.width() >= wanted.width() && available.height() >= wanted.height())
        EXPECT_EQ(window->size(), wanted);
    else
        EXPECT_NEAR(double(window->width()) / window->height(), 1.5, 0.01);
    EXPECT_TRUE(available.contains(window->geometry()));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->objectName(), "MainWindow");
    EXPECT_EQ(window->startUrl().toString(),
              harness->base() + "/local/Torvanix/client.html?lang=" + QLocale::system().name());
    EXPECT_EQ(window->view()->size(), window->size());
    window->resize(900, 600);
    EXPECT_EQ(window->view()->size(), QSize(900, 600));

    send(R"({"FuncName":"CloseX"})");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(quitRequested());
    window->onSystemtrayActive(QSystemTrayIcon::Context);
    EXPECT_FALSE(window->isVisible());
    window->onSystemtrayActive(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());

    const Window::ThemePaths theme = window->setupTheme();
    EXPECT_TRUE(theme.themeRoot.endsWith("/theme"));
    EXPECT_EQ(theme.themeFolder, theme.themeRoot + "/Galecrafter");
}

TEST_F(WindowTest, DeviceLibrariesGetTheCurrentNativeHandle) {
    ASSERT_NE(window->winId(), WId(0));
    EXPECT_EQ(mainWindowHandle(), reinterpret_cast<void *>(window->winId()));
    // New flags give a new native window; the libraries must not keep the old one.
    send(R"({"FuncName":"ShowClient"})");
    ASSERT_NE(window->winId(), WId(0));
    EXPECT_EQ(mainWindowHandle(), reinterpret_cast<void *>(window->winId()));
    window.reset();
    EXPECT_EQ(mainWindowHandle(), nullptr);
}

// The edition decides whether the input filter runs; the monitor switch answers for both,
// with the simulated screen keyboard listed. The filter is pointed at a stand-in device folder.
TEST_F(WindowTest, OnlyTheZemloxEditionRunsTheInputFilter) {
    QTemporaryDir input;
    qputenv("TORVANIX_DEVICES_DIR", TORVANIX_PROGRAM_DIR);
    qputenv("TORVANIX_INPUT_DIR", input.path().toUtf8());
    qputenv("TORVANIX_UINPUT", "/dev/null");
    auto monitorAnswers = [&](const char *brand) {
        window = std::make_unique<Window>(QString::fromLatin1(brand));
        if (window->inputFilter())
            waitFor([&] { return window->inputFilter()->state() != DEVICE_FILTER::State::Created; },
                    5000);
        EXPECT_TRUE(loadAndWait(window->view(), harness->page("plain.html")));
        EXPECT_TRUE(query(R"({"FuncName":"GetDevicesList"})").contains("HJE-XUB-V1.5.0"));
        QStringList answers;
        for (const char *name : {"SwitchMonitor", "GetMonitorStatus", "SwitchMonitor",
                                 "GetMonitorStatus", "GetMonitorInfo"})
            answers << query(QStringLiteral(R"({"FuncName":"%1"})").arg(name)).section(',', 2);
        return answers.join(' ');
    };
    const QString failed = R"(0,"failed"]])";
    EXPECT_EQ(
        monitorAnswers("Torvanix"),
        failed + R"( "off"]] )" + failed + R"( "off"]] )" +
            R"("{\"Available\":\"0\",\"Reason\":\"this edition has no input filter\",\"Status\":\"off\"}"]])");
    EXPECT_EQ(window->inputFilter(), nullptr);
    EXPECT_TRUE(window->startUrl().toString().contains("/local/Torvanix/client.html"));

    EXPECT_EQ(monitorAnswers("Zemlox"),
              R"("success"]] "on"]] )" + failed + R"( "off"]] )" +
                  R"("{\"Available\":\"1\",\"Reason\":\"\",\"Status\":\"off\"}"]])");
    ASSERT_NE(window->inputFilter(), nullptr);
    EXPECT_EQ(window->inputFilter()->state(), DEVICE_FILTER::State::Running);
    // Its hot keys go to the client handler, which hands "HotKeyMsg" to the hot-key page only.
    EXPECT_EQ(&window->inputFilter()->eventSink(), static_cast<EventSink *>(&harness->handler()));
    EXPECT_TRUE(window->startUrl().toString().contains("/local/Zemlox/client.html"));

    // Without the kernel's input devices the filter ends and the switch cannot go on.
    qputenv("TORVANIX_INPUT_DIR", input.filePath("missing").toUtf8());
    const QString answers = monitorAnswers("Zemlox");
    EXPECT_TRUE(answers.startsWith(failed + R"( "off"]] )" + failed)) << answers.toStdString();
    EXPECT_TRUE(answers.contains(R"(\"Available\":\"0\",\"Reason\":\")" +
                                 input.filePath("missing") + " does not exist"))
        << answers.toStdString();
    EXPECT_EQ(window->inputFilter()->state(), DEVICE_FILTER::State::Unavailable);
    window.reset();

    qunsetenv("TORVANIX_INPUT_DIR");
    qunsetenv("TORVANIX_UINPUT");
    qunsetenv("TORVANIX_DEVICES_DIR");
}

TEST_F(WindowTest, TrayOffersOpenAndClose) {
    SystemTray *tray = window->tray();
    ASSERT_NE(tray, nullptr);
    // The icon comes from a static library's resources; without it the tray shows a blank.
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_EQ(tray->openAction()->text(), QString::fromUtf8("Открыть"));
    EXPECT_EQ(tray->closeAction()->text(), QString::fromUtf8("закрытие"));
    window->hide();
    tray->openAction()->trigger();
    EXPECT_TRUE(window->isVisible());
    tray->closeAction()->trigger();
    EXPECT_TRUE(quitRequested());
}

TEST_F(WindowTest, PageQueriesRunTheWindowCommands) {
    ASSERT_TRUE(loadAndWait(window->view(), harness->page("plain.html")));
    EXPECT_EQ(query(R"({"FuncName":"IsFirstStart"})"),
              R"([["ok","{\"FuncName\":\"IsFirstStart\"}","0"]])");
    shellState().firstStartFlag = true;
    EXPECT_EQ(query(R"({"FuncName":"IsFirstStart"})"),
              R"([["ok","{\"FuncName\":\"IsFirstStart\"}","1"]])");

    // MoveWindow moves the window itself while no pop-up shows.
    const QPoint start = window->pos();
    EXPECT_EQ(query("MoveWindow:7,3,0,0"), R"([["ok","MoveWindow:7,3,0,0",""]])");
    EXPECT_EQ(window->pos(), start + QPoint(7, 3));
}

TEST_F(WindowTest, PopUpViewsOpenOncePerUrlAndCloseWithTheLastOne) {
    const QString a = harness->page("plain.html").toString();
    const QString b = harness->page("quick_set.html").toString();
    send(QString(R"({"FuncName":"OpenView","Url":"%1","Width":400,"Height":300})").arg(a));
    send(QString(R"({"FuncName":"OpenView","Url":"%1","Width":400,"Height":300})").arg(a));
    ASSERT_EQ(window->popViews().size(), 1);
    PopWidget *popA = window->popViews().value(a);
    ASSERT_NE(popA, nullptr);
    const int desktopHeight = QGuiApplication::primaryScreen()->size().height();
    EXPECT_EQ(popA->size(), popupSize(400, 300, desktopHeight));
    EXPECT_TRUE(popA->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(waitFor([&] { return popA->view()->url().toString() == a; }));

    // MoveWindow moves the pop-up on show, not the main window.
    const QPoint mainPos = window->pos();
    const QPoint popPos = popA->pos();
    window->moveWindowBy(window.get(), QPoint(5, 6));
    EXPECT_EQ(popA->pos(), popPos + QPoint(5, 6));
    EXPECT_EQ(window->pos(), mainPos);

    send(QString(R"({"FuncName":"OpenView","Url":"%1","Width":200,"Height":100})").arg(b));
    QPointer<PopWidget> popB = window->popViews().value(b);
    ASSERT_TRUE(popB);
    QPointer<PopWidget> guardA = popA;

    // A becomes the active pop-up; closing it also closes B, the one opened last.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(popA, &activate);
    EXPECT_EQ(window->currentPopView(), popA);
    send(R"({"FuncName":"CloseView"})");
    EXPECT_TRUE(waitFor([&] { return guardA.isNull() && popB.isNull(); }));
    EXPECT_FALSE(window->popViews().contains(a));

    // B's URL can be opened again although its entry outlived it.
    send(QString(R"({"FuncName":"OpenView","Url":"%1","Width":200,"Height":100})").arg(b));
    EXPECT_TRUE(window->popViews().value(b));
}

TEST_F(WindowTest, AutoRunWritesTheUsersAutostartEntry) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":1})");
    AutoStart autostart;
    EXPECT_EQ(autostart.entryPath(), config.path() + "/autostart/LUMSetup.desktop");
    EXPECT_TRUE(autostart.isEnabled());
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":0})");
    EXPECT_TRUE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(autostart.isEnabled());
    qunsetenv("XDG_CONFIG_HOME");
}

// A desktop without a tray (many have none): closing the window ends the program instead of
// hiding it for good. With a tray it only hides.
TEST_F(WindowTest, ClosingQuitsWhereNoTrayCanBringTheWindowBack) {
    bool trayShown = true;
    window->setTrayAvailableCheck([&] { return trayShown; });
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(quitRequested());
    window->show();
    trayShown = false;
    send(R"({"FuncName":"CloseX"})");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(quitRequested());
}

// While a firmware update is written neither the window manager's close, CloseX nor the
// tray's quit takes the window away or ends the program.
TEST_F(WindowTest, AFirmwareUpdateKeepsTheWindowAndTheProgram) {
    window->setTrayAvailableCheck([] { return false; });
    {
        FirmwareRunSlot run;
        ASSERT_TRUE(run.owned());
        window->close();
        send(R"({"FuncName":"CloseX"})");
        window->oncloseApp();
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(quitRequested());
    }
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(quitRequested());
}

// Where the window does not fit the screen it is on, it is shrunk with its aspect kept and
// placed inside the free area.
TEST(WindowPlacement, FitsTheFreeAreaOfItsScreen) {
    const QRect laptop(0, 0, 1366, 728);
    EXPECT_EQ(fitWindowToScreen(QSize(1200, 800), QRect(300, 100, 1200, 800), laptop),
              QRect(274, 0, 1092, 728));
    EXPECT_EQ(
        fitWindowToScreen(QSize(1200, 800), QRect(50, 40, 1200, 800), QRect(0, 0, 1920, 1040)),
        QRect(50, 40, 1200, 800));
    // 144 DPI on a 1080p screen: 1800x1200 device pixels do not fit either.
    EXPECT_EQ(
        fitWindowToScreen(QSize(1800, 1200), QRect(0, 0, 1800, 1200), QRect(0, 0, 1920, 1040)),
        QRect(0, 0, 1560, 1040));
    // Off the right and bottom edges of a second screen: moved back inside.
    EXPECT_EQ(fitWindowToScreen(QSize(1200, 800), QRect(3500, 900, 1200, 800),
                                QRect(1920, 0, 2560, 1400)),
              QRect(3280, 600, 1200, 800));
}

// Torvanix: the desktop program. The browser engine runs its renderer and GPU roles in its
// own helper process, so this entry point has only the browser-process path.
#include "app_log.h"
#include "application.h"
#include "browser/client_handler.h"
#include "ui/desktop_services.h"
#include "ui/window.h"

#include <QDir>
#include <QProcess>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}

// SIGTERM and SIGINT end the run the way the tray's close does: the local socket is removed
// and, after a first start, the program starts again.
void quitOnStopSignals(QObject *context) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[1], &byte, 1);
        torvanix::quitOnce();
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char **argv) {
    using namespace torvanix;
    // The window follows the display's DPI itself (1200x800 times the DPI step).
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling);
    // Offscreen there is no OpenGL context for the engine's scene graph.
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen") &&
        !qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX",
                "1"); // the engine refuses to start as root otherwise

    // The browser storage folder missing means this is the first start on this account.
    const QString tempFolder = QDir::tempPath() + QStringLiteral("/ozk");
    shellState().firstStartFlag = !QDir(tempFolder).exists();

    int exitCode = 0;
    {
        Application app(argc, argv);
        app.setApplicationName(QStringLiteral("Torvanix"));
        setShellLogFile(tempFolder + QStringLiteral("/ozk.log"));
        quitOnStopSignals(&app);
        auto handler = std::make_unique<ClientHandler>(
            ClientHandler::defaultSettings(app.applicationDirPath(), QStringLiteral("Torvanix")));
        if (!quitRequested()) {
            app.start();
            exitCode = app.exec();
        }
        app.releaseWindow();
        handler.reset();
    }

    if (shellState().firstStartFlag) {
        // After the first run the program starts again (the page asked for it with FirstStart
        // or the run simply ended).
        QThread::msleep(2000);
        QProcess::startDetached(appFolderSlash() + QStringLiteral("torvanix"), QStringList());
    }
    return exitCode;
}

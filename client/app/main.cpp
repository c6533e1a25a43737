// Torvanix: the core of the desktop program (single instance, tray, devices, page commands).
// Its windows run in the window program "torvanix-ui", started when a window is to be shown.
#include "app_log.h"
#include "application.h"
#include "desktop/lighting_server_piece.h"
#include "device/client_update.h"
#include "device/data_folders.h"
#include "device/library_loader.h"
#include "ui/desktop_services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
// A whole firmware run takes seconds; sessions give programs far longer before they kill them.
constexpr int kStopWaitForFirmwareMs = 60000;
bool g_stoppedBySignal = false;

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (the session ending) always end the run, whatever quit was asked
// for before (after a firmware update being written, within a bound): the local socket is removed,
// and there is no relaunch after a first start, or every logout would start the program again.
void quitOnStopSignals(QObject *context) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[1], &byte, 1);
        if (!g_stoppedBySignal)
            APP_LOG(QStringLiteral("Application Info: stop signal received, quitting.."));
        g_stoppedBySignal = true;
        // A session end must not cut a firmware update short: the device would be left half
        // written. The wait is bounded, as the session kills what outlives its own limit.
        torvanix::quitAfterFirmwareUpdate(kStopWaitForFirmwareMs, [](const QString &why) {
            APP_LOG(QStringLiteral("Application Info: ") + why);
        });
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// First start means no marker yet; it is set at once, so the relaunched run is no first start.
// A marker that cannot be written makes no first start either: claiming one would relaunch
// the program after every run.
bool takeFirstStart(QString &problem) {
    const QString marker = torvanix::firstStartMarkerPath();
    if (QFileInfo::exists(marker))
        return false;
    QFile file(marker);
    if (!QDir().mkpath(QFileInfo(marker).absolutePath()) || !file.open(QIODevice::WriteOnly)) {
        problem = QStringLiteral("Application Error: cannot write the first-start marker %1, "
                                 "not treated as a first start")
                      .arg(marker);
        return false;
    }
    return true;
}

// Removes every `flag` from the arguments; true when there was one.
bool takeFlag(int &argc, char **argv, const char *flag) {
    if (argc < 1 || !argv)
        return false;
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0)
            found = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

} // namespace

int main(int argc, char **argv) {
    using namespace torvanix;
    // The tray icon and the menu follow the screen's scale.
    configureHighDpi();

    const DevicesOption devicesOption = takeDevicesOption(argc, argv);
    const bool background = takeFlag(argc, argv, "--background");
    if (!devicesOption.error.isEmpty()) {
        std::fprintf(stderr, "torvanix: %s\n", qPrintable(devicesOption.error));
        return 2;
    }
    if (devicesOption.given)
        setDevicesDirectory(QFileInfo(devicesOption.directory).absoluteFilePath());
    QString sdkOptionError;
    if (!takeSdkServerOption(argc, argv, &sdkOptionError)) {
        std::fprintf(stderr, "torvanix: %s\n", qPrintable(sdkOptionError));
        return 2;
    }

    QString markerProblem;
    shellState().firstStartFlag = takeFirstStart(markerProblem);

    int exitCode = 0;
    bool ranWindow = false;
    {
        Application app(argc, argv);
        app.setStartInBackground(background);
        app.setApplicationName(QStringLiteral("Torvanix"));
        const QString logFolder = data_folders::privateRuntimeFolder();
        if (logFolder.isEmpty())
            std::fprintf(stderr, "torvanix: no private folder for the log; running without it\n");
        else
            setShellLogFile(logFolder + QStringLiteral("/ozk.log"));
        if (!markerProblem.isEmpty())
            APP_LOG(markerProblem);
        quitOnStopSignals(&app);
        if (!quitRequested())
            app.start();
        // start() may already have asked to quit (a later instance answered at once, or the
        // socket cannot listen): the loop would not see that request and run for ever.
        if (!quitRequested())
            exitCode = app.exec();
        if (app.listenFailed())
            exitCode = 1;
        ranWindow = app.servedAsFirstInstance();
        app.releaseWindow();
    }

    if (shellState().firstStartFlag && ranWindow && !g_stoppedBySignal &&
        !torvanix::client_update::updaterStarted()) {
        // After the first run the program starts again (the page asked for it with FirstStart,
        // or the tray's close ended the run); after an update the updater starts it.
        QThread::msleep(2000);
        QProcess::startDetached(appFolderSlash() + QStringLiteral("torvanix"), QStringList());
    }
    return exitCode;
}

// Torvanix: the desktop program. The browser engine runs its renderer and GPU roles in its
// own helper process, so this entry point has only the browser-process path.
#include "app_log.h"
#include "application.h"
#include "browser/client_handler.h"
#include "ui/desktop_services.h"
#include "ui/window.h"

#include <QDir>
#include <QProcess>
#include <QThread>

#include <unistd.h>

int main(int argc, char **argv) {
    using namespace torvanix;
    // The window follows the display's DPI itself (1200x800 times the DPI step).
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling);
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

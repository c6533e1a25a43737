// torvanix-ui: the window program. The core ("torvanix") starts it when a window is to be
// shown; it hosts the browser engine with the main window, the pop-up views and the page
// bridge, and ends a short while after its last window was hidden. The browser engine runs its
// renderer and GPU roles in its own helper process, so this entry point has only the browser
// process path.
#include "app/app_log.h"
#include "browser/client_handler.h"
#include "device/data_folders.h"
#include "face_client.h"
#include "ui/desktop_services.h"
#include "ui/window.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
    using namespace torvanix;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Pages render at the screen's device scale; the window keeps 1200x800 device pixels times
    // the DPI step.
    configureHighDpi();
    // The engine draws its pages without the GPU (--disable-gpu), so an OpenGL scene graph
    // would only copy finished frames; its driver alone (a software one: an LLVM compiler)
    // took a third of the window program's memory. Offscreen there is no OpenGL anyway.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX",
                "1"); // the engine refuses to start as root otherwise

    QString corePath;
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "--core") == 0)
            corePath = QFile::decodeName(argv[i + 1]);
    if (corePath.isEmpty()) {
        std::fprintf(stderr, "torvanix-ui: started by torvanix only (--core SOCKET)\n");
        return 2;
    }

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Torvanix"));
    app.setQuitOnLastWindowClosed(false);
    // The core's log, in the user's private runtime folder.
    const QString logFolder = data_folders::privateRuntimeFolder();
    if (!logFolder.isEmpty())
        setShellLogFile(logFolder + QStringLiteral("/ozk.log"));
    int exitCode = 1;
    {
        ClientHandler handler(
            ClientHandler::defaultSettings(app.applicationDirPath(), buildBrand()));
        FaceClient face(buildBrand());
        bool lingerOk = false;
        const int linger = qEnvironmentVariableIntValue("TORVANIX_UI_LINGER_MS", &lingerOk);
        if (lingerOk && linger >= 0)
            face.setLingerMs(linger);
        const QString screenshot = qEnvironmentVariable("TORVANIX_SCREENSHOT");
        if (!screenshot.isEmpty()) {
            QObject::connect(face.window(), &Window::screenshotWritten,
                             [](const QString &path, bool ok) {
                                 if (ok)
                                     APP_LOG(QStringLiteral("Application Info: window picture "
                                                            "written to %1")
                                                 .arg(path));
                                 else
                                     APP_LOG(QStringLiteral("Application Error: cannot write "
                                                            "window picture %1")
                                                 .arg(path));
                             });
            face.window()->scheduleScreenshot(screenshot);
        }
        if (face.connectTo(corePath))
            exitCode = app.exec();
    }
    return exitCode;
}

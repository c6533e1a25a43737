#pragma once

#include "dispatch/command_dispatcher.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPair>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class QThread;

namespace torvanix {

class CommandHost;
class DesktopHub;
class DeviceMonitor;
class FaceLink;
class SystemTray;

// The program's core: one instance per user session. A later start asks the running one to
// show its window and quits; the first instance serves those requests, keeps the tray, the
// device notices, the page commands and the input filter, and starts the window program
// ("torvanix-ui") whenever a window is to be shown.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    ~Application() override;

    void start();
    // The first instance starts without its window (the session bus starts it so).
    void setStartInBackground(bool background) { startInBackground_ = background; }
    // Ends the window program and frees the commands, the tray and the device notices.
    void releaseWindow();

    static Application *theApplication();
    FaceLink *faceLink() const { return face_; }
    SystemTray *tray() const { return tray_; }
    DesktopHub *desktop() const { return desktop_; }
    QString serverName() const { return serverName_; }
    // This process became the first instance and ran the window.
    bool servedAsFirstInstance() const { return servedAsFirstInstance_; }
    // Listening on the single-instance socket failed: the run ended at once.
    bool listenFailed() const { return listenFailed_; }
    QString themeRoot() const { return themeRoot_; }
    QString themeFolder() const { return themeFolder_; }

public slots:
    void socketConnected();
    void socketError(QLocalSocket::LocalSocketError code);
    void socketDisconnected();
    void socketWritten(qint64 bytes);
    void socketReading();
    void newInstanceConnected();
    void readClients();
    void removeClients();
    void on_closeApp();
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);

private:
    void startServerAndApp(QLocalSocket::LocalSocketError code);
    void startApp();

    QTimer timer_;
    QString themeRoot_;
    QString themeFolder_;
    QString serverName_;
    QLocalSocket *socket_;
    QString response_;
    QLocalServer *server_;
    QList<QPair<QLocalSocket *, QByteArray>> clients_;
    bool connected_ = false;
    bool retriedStale_ = false;
    bool servedAsFirstInstance_ = false;
    bool listenFailed_ = false;
    CommandDispatcher dispatcher_;
    FaceLink *face_ = nullptr;
    std::unique_ptr<CommandHost> commands_;
    SystemTray *tray_ = nullptr;
    DeviceMonitor *deviceMonitor_ = nullptr;
    DesktopHub *desktop_ = nullptr;
    bool startInBackground_ = false;
};

// "Torvanix": the user agent and the name of the program relaunched after a first start.
inline const char *const kExeBaseName = "Torvanix";
// Program folder + "/".
QString appFolderSlash();
// Where the single-instance socket called name lives: the user's runtime folder
// ($XDG_RUNTIME_DIR), else a folder of this user's own in the temp folder, so another user's
// socket in a shared temp folder can neither block nor answer this user's start. Empty when
// no such folder can be had.
QString instanceSocketPath(const QString &name);
// The first-start marker in the user's state folder ($XDG_STATE_HOME, ~/.local/state): "first
// start" is the first run after install, not the first after each boot.
QString firstStartMarkerPath();

} // namespace torvanix

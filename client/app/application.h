#pragma once

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPair>
#include <QPointer>
#include <QTimer>

class QThread;

namespace torvanix {

class Window;
class DeviceMonitor;

// The program: one instance per user session. A later start asks the running one to show its
// window and quits; the first instance serves those requests and runs the window.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    ~Application() override;

    void start();
    // Frees the window and its pages while the browser profile still exists.
    void releaseWindow();

    static Application *theApplication();
    Window *window() const { return window_; }
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
    Window *window_ = nullptr;
    DeviceMonitor *deviceMonitor_ = nullptr;
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

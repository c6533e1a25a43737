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
    Window *window_ = nullptr;
    DeviceMonitor *deviceMonitor_ = nullptr;
};

// "Torvanix": the user agent and the name of the program relaunched after a first start.
inline const char *const kExeBaseName = "Torvanix";
// Program folder + "/".
QString appFolderSlash();

} // namespace torvanix

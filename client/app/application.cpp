#include "application.h"

#include "app_log.h"
#include "desktop/desktop_hub.h"
#include "device/data_folders.h"
#include "device/device_permissions.h"
#include "device/library_loader.h"
#include "device/update_firmware.h"
#include "face_link.h"
#include "link/link_frames.h"
#include "ui/command_host.h"
#include "ui/desktop_services.h"
#include "ui/device_monitor.h"
#include "ui/system_tray.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

namespace torvanix {

namespace {
Application *g_app = nullptr;
QString g_appFolderSlash;
} // namespace

QString appFolderSlash() {
    return g_appFolderSlash;
}

QString instanceSocketPath(const QString &name) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) &&
        data_folders::isPrivateFolder(runtime))
        return runtime + QLatin1Char('/') + name;
    const QString own = data_folders::ensurePrivateFolder(
        QDir::tempPath() + QStringLiteral("/torvanix-%1").arg(::getuid()));
    if (own.isEmpty())
        return QString();
    return own + QLatin1Char('/') + name;
}

QString firstStartMarkerPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/torvanix/first-start-done");
}

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv),
      serverName_(
          instanceSocketPath(QStringLiteral("Global\\{5a283c02-b5de-44b3-977a-7043851a99b8}"))),
      socket_(new QLocalSocket(this)), server_(new QLocalServer(this)) {}

Application::~Application() {
    socket_->abort();
    releaseWindow();
    server_->close();
    if (g_app == this)
        g_app = nullptr;
}

Application *Application::theApplication() {
    return g_app;
}

void Application::releaseWindow() {
    delete deviceMonitor_;
    deviceMonitor_ = nullptr;
    if (face_)
        face_->shutdown();
    // The pieces (servers, watches) stop sending before the commands go.
    if (desktop_)
        desktop_->stopPieces();
    if (commands_) {
        commands_->setDocumentListener({});
        commands_->setDevicesListener({});
    }
    // The commands end before the link their answers and events go through.
    commands_.reset();
    // After the commands: their last answers may still reach the hub until then.
    delete desktop_;
    desktop_ = nullptr;
    delete tray_;
    tray_ = nullptr;
    delete face_;
    face_ = nullptr;
}

void Application::start() {
    g_appFolderSlash = applicationDirPath() + QLatin1Char('/');
    setQuitOnLastWindowClosed(false);
    if (g_app) {
        APP_LOG(QStringLiteral("Application Error:another Application was creadted,terminating.."));
        exit(0);
    }
    g_app = this;

    connect(socket_, &QLocalSocket::connected, this, &Application::socketConnected);
    connect(socket_, &QLocalSocket::disconnected, this, &Application::socketDisconnected);
    connect(socket_, &QLocalSocket::errorOccurred, this, &Application::socketError);
    connect(socket_, &QLocalSocket::bytesWritten, this, &Application::socketWritten);
    connect(socket_, &QLocalSocket::readyRead, this, &Application::socketReading);
    connect(server_, &QLocalServer::newConnection, this, &Application::newInstanceConnected);

    APP_LOG(QStringLiteral("Application Info: connecting local socket to %1..").arg(serverName_));
    socket_->connectToServer(serverName_);
}

void Application::socketConnected() {
    APP_LOG(QStringLiteral("Application Info: socket connected, this is not the first "
                           "application instance, sending show command.."));
    connected_ = true;
    const QString command = QStringLiteral("CMD:show;");
    APP_LOG(QStringLiteral("Application Info: writing commands %1").arg(command));
    socket_->write(command.toLocal8Bit());
}

void Application::socketWritten(qint64) {
    if (socket_->state() == QLocalSocket::ConnectedState) {
        if (socket_->bytesToWrite() == 0)
            APP_LOG(QStringLiteral("Application Info: show command written, waiting response.."));
    } else {
        APP_LOG(QStringLiteral("Application Error: socket is not connected %1")
                    .arg(int(socket_->state())));
    }
}

void Application::socketReading() {
    if (socket_->state() != QLocalSocket::ConnectedState) {
        APP_LOG(QStringLiteral("Application Error: socket is not connected %1")
                    .arg(int(socket_->state())));
        return;
    }
    response_ += QString::fromUtf8(socket_->readAll());
    static const QRegularExpression answer(QStringLiteral("RES:(\\d+);"));
    if (answer.match(response_).hasMatch()) {
        const QString digits = response_.mid(4, response_.size() - 5);
        APP_LOG(QStringLiteral("Application Info: show command response received, pid = %1, "
                               "activating and quiting..")
                    .arg(digits.toULongLong()));
        quitOnce();
    }
}

void Application::socketDisconnected() {
    if (connected_) {
        APP_LOG(QStringLiteral("Application Error: socket disconnected before command response "
                               "received, quiting.."));
        quitOnce();
    }
}

void Application::socketError(QLocalSocket::LocalSocketError code) {
    if (connected_) {
        // The first instance closing the connection after its answer is no error.
        if (quitRequested())
            return;
        APP_LOG(QStringLiteral("Application Error: could not write show command, error %1, "
                               "quiting..")
                    .arg(int(code)));
        quitOnce();
        return;
    }
    startServerAndApp(code);
}

void Application::startServerAndApp(QLocalSocket::LocalSocketError code) {
    if (code == QLocalSocket::ServerNotFoundError)
        APP_LOG(QStringLiteral("Application Info: this is the only instance of kestrelux, "
                               "starting server and app.."));
    else
        APP_LOG(QStringLiteral("Application Info: socket connect error %1, starting server and "
                               "app..")
                    .arg(int(code)));
    socket_->close();
    if (!server_->listen(serverName_)) {
        // A socket file left by a program that ended without cleaning up refuses connections
        // but blocks listening for ever. Nobody answers it, so it can be replaced.
        if (server_->serverError() == QAbstractSocket::AddressInUseError &&
            code == QLocalSocket::ConnectionRefusedError && !retriedStale_) {
            retriedStale_ = true;
            QLocalServer::removeServer(serverName_);
            if (server_->listen(serverName_)) {
                startApp();
                return;
            }
        }
        APP_LOG(QStringLiteral("Application Error: failed to start listening to %1 server, "
                               "error %2 (%3), quitting..")
                    .arg(serverName_.isEmpty() ? QStringLiteral("(no private folder for the "
                                                                "instance socket)")
                                               : serverName_)
                    .arg(int(server_->serverError()))
                    .arg(server_->errorString()));
        listenFailed_ = true;
        quitOnce();
        return;
    }
    startApp();
}

void Application::startApp() {
    servedAsFirstInstance_ = true;
    // Which backend the window talks to decides everything the user sees of the devices.
    APP_LOG(QStringLiteral("Application Info: device libraries from %1")
                .arg(describeDevicesChoice(devicesChoice())));
    setPermissionLog(
        [](const QString &line) { APP_LOG(QStringLiteral("Application Error: ") + line); });
    themeRoot_ = applicationDirPath() + QStringLiteral("/theme");
    themeFolder_ = themeRoot_ + QStringLiteral("/Galecrafter");

    face_ = new FaceLink(serverName_, this);
    face_->setQueryHandler([this](const QString &request, const ReplyPtr &reply) {
        dispatcher_.onJsMessage(request, reply);
    });
    registerWindowCommands(dispatcher_, *face_, shellState());
    commands_ = std::make_unique<CommandHost>(dispatcher_, *face_, *face_, buildBrand());
    face_->setIdleCheck(
        [this] { return commands_ && commands_->idle() && !FirmwareRunSlot::taken(); });
    face_->setTrayAvailableCheck(
        [this] { return tray_ && QSystemTrayIcon::isSystemTrayAvailable(); });

    DesktopHub::Services desk;
    desk.dispatcher = &dispatcher_;
    desk.pageEvents = face_;
    CommandHost *host = commands_.get();
    desk.apply = [host](const QString &document, const QString &origin,
                        CommandHost::DocumentDone done) {
        return host->apply(document, origin, std::move(done));
    };
    desk.readDevicesSoon = [host] { host->readDevicesSoon(); };
    desk.showWindow = [this] {
        if (face_)
            face_->showWindow();
    };
    desktop_ = new DesktopHub(std::move(desk));
    DesktopHub *hub = desktop_;
    commands_->setDocumentListener([hub](const QString &identity, const QString &document,
                                         const QString &origin,
                                         const device_data_handler::Outcome &outcome) {
        hub->documentDone(identity, document, origin, outcome);
    });
    commands_->setDevicesListener(
        [hub](const DeviceRecordMap &records) { hub->devicesRead(records); });
    // The first read may have ended before the hub listened.
    commands_->readDevicesSoon();

    tray_ = new SystemTray();
    connect(tray_, &QSystemTrayIcon::activated, this, &Application::onSystemtrayActive,
            Qt::UniqueConnection);
    connect(tray_, &SystemTray::showWidget, face_, &FaceLink::showWindow);
    connect(tray_, &SystemTray::closeApp, this, [this] {
        // Shown, so the refused quit is seen and the update's progress with it.
        if (firmwareUpdateHoldsQuit("the tray's quit")) {
            face_->showWindow();
            return;
        }
        quitOnce();
    });
    desktop_->startPieces();
    // The battery levels in the tray; each new tooltip goes to the log in one line.
    connect(tray_, &SystemTray::toolTipShown, this, [](const QString &text) {
        APP_LOG(QStringLiteral("Application Info: tray tooltip: ") +
                text.split(QLatin1Char('\n')).join(QStringLiteral(" | ")));
    });
    tray_->followBattery(*desktop_);
    // Started by the session bus for a D-Bus call: the caller asked for no window.
    if (!startInBackground_)
        face_->showWindow();

    deviceMonitor_ = new DeviceMonitor(this);
    // The held device list is read again; the page hears DevicesChanged when it changed.
    connect(deviceMonitor_, &DeviceMonitor::devicesChanged, this, [this] {
        if (commands_)
            commands_->noticeDevicesChanged();
    });
}

void Application::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        if (face_)
            face_->showWindow();
        break;
    default:
        break;
    }
}

void Application::newInstanceConnected() {
    APP_LOG(QStringLiteral("Application Info: new local socket connected"));
    while (QLocalSocket *client = server_->nextPendingConnection()) {
        clients_.append(qMakePair(client, QByteArray()));
        connect(client, &QLocalSocket::readyRead, this, &Application::readClients);
        connect(client, &QLocalSocket::disconnected, this, &Application::removeClients);
    }
}

void Application::readClients() {
    for (int i = 0; i < clients_.size(); ++i) {
        auto &client = clients_[i];
        client.second.append(client.first->readAll());
        if (client.second.isEmpty())
            continue;
        // The window program opens with its hello; the connection is the link's from then on.
        const QByteArray &hello = link::kHello;
        if (client.second.startsWith(hello.left(qMin(client.second.size(), hello.size())))) {
            if (client.second.size() < hello.size())
                continue;
            QLocalSocket *socket = client.first;
            const QByteArray rest = client.second.mid(hello.size());
            clients_.removeAt(i--);
            socket->disconnect(this);
            if (face_) {
                face_->attach(socket, rest);
            } else {
                socket->abort();
                socket->deleteLater();
            }
            continue;
        }
        const QStringList segments = takeInstanceSegments(client.second);
        for (const QString &segment : segments) {
            if (segment.startsWith(QLatin1String("CMD:"))) {
                if (segment.mid(4) == QLatin1String("show") && face_)
                    face_->showWindow();
                client.first->write(QStringLiteral("RES:%1;").arg(applicationPid()).toUtf8());
            } else {
                APP_LOG(QStringLiteral("Application Error: unknown command %1 passed in local "
                                       "socket")
                            .arg(segment));
            }
        }
    }
}

void Application::removeClients() {
    APP_LOG(QStringLiteral("Application Info: remove clients slot called, clients %1")
                .arg(clients_.size()));
    for (int i = clients_.size() - 1; i >= 0; --i) {
        QLocalSocket *client = clients_[i].first;
        if (client->state() != QLocalSocket::ConnectedState) {
            APP_LOG(QStringLiteral("Application Info: removing client"));
            clients_.removeAt(i);
            client->deleteLater();
        }
    }
}

void Application::on_closeApp() {
    quitOnce();
}

} // namespace torvanix

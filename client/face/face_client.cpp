#include "face_client.h"

#include "app/app_log.h"
#include "browser/client_handler.h"
#include "ui/window.h"

#include <QApplication>
#include <QEvent>
#include <QLocalSocket>
#include <QWidget>

namespace torvanix {

using link::Frame;
using link::Kind;

FaceClient::FaceClient(const QString &brand, QObject *parent) : QObject(parent) {
    linger_.setSingleShot(true);
    linger_.setInterval(5000);
    connect(&linger_, &QTimer::timeout, this, &FaceClient::askToEnd);
    window_ = new Window(brand, [this](const QString &request, const ReplyPtr &reply) {
        forwardQuery(request, reply);
    });
    window_->setCloseHandler([this] {
        if (channel_)
            channel_->send(Kind::CloseRequest);
    });
    window_->setupTheme();
    // Shows and hides of every window (main window, pop-ups, dialogs) decide when the
    // program may end.
    qApp->installEventFilter(this);
}

FaceClient::~FaceClient() {
    qApp->removeEventFilter(this);
    delete window_;
}

bool FaceClient::connectTo(const QString &corePath) {
    auto *socket = new QLocalSocket(this);
    socket->connectToServer(corePath);
    if (!socket->waitForConnected(5000)) {
        APP_LOG(QStringLiteral("Application Error: the window program cannot reach the core at "
                               "%1: %2")
                    .arg(corePath, socket->errorString()));
        delete socket;
        return false;
    }
    socket->write(link::kHello);
    channel_ = new link::Channel(socket, QByteArray(), this);
    connect(channel_, &link::Channel::received, this, &FaceClient::onFrame);
    connect(channel_, &link::Channel::closed, this, [] {
        // Without the core nothing the page asks can be done.
        QCoreApplication::quit();
    });
    windowsChanged();
    return true;
}

void FaceClient::forwardQuery(const QString &request, const ReplyPtr &reply) {
    if (!channel_ || !channel_->isOpen())
        return;
    const qint64 id = nextQuery_++;
    if (reply)
        open_.insert(id, reply);
    channel_->send(Kind::Query, {id, request});
}

void FaceClient::onFrame(const Frame &frame) {
    const QVariantList &f = frame.fields;
    switch (frame.kind) {
    case Kind::Answer: {
        // One field: the command ended without an answer.
        const ReplyPtr reply = open_.take(f.value(0).toLongLong());
        if (!reply || f.size() != 4)
            return;
        if (f[1].toBool())
            reply->success(f[3].toString());
        else
            reply->failure(f[2].toInt(), f[3].toString());
        return;
    }
    case Kind::Event:
        if (f.size() == 2)
            if (ClientHandler *handler = ClientHandler::instance())
                handler->sendEvent(f[0].toString(), f[1].toList());
        return;
    case Kind::Action:
        if (f.size() == 3) {
            ++actionsReceived_;
            runAction(f[0].toLongLong(), f[1].toString(), f[2].toList());
        }
        return;
    case Kind::EndAnswer:
        asked_ = false;
        if (f.value(0).toBool()) {
            APP_LOG(QStringLiteral("Application Info: no window shown, the window program ends"));
            QCoreApplication::quit();
        } else if (!anyWindowShown()) {
            linger_.start();
        }
        return;
    default:
        return;
    }
}

void FaceClient::runAction(qint64 id, const QString &name, const QVariantList &args) {
    QVariant result;
    if (name == QLatin1String("show")) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
        window_->show();
        window_->activateWindow();
        window_->raise();
    } else if (name == QLatin1String("hide")) {
        window_->hide();
    } else if (name == QLatin1String("showClient")) {
        window_->showClient();
    } else if (name == QLatin1String("openView") && args.size() == 3) {
        window_->openView(args[0].toString(), args[1].toDouble(), args[2].toDouble());
    } else if (name == QLatin1String("closeView")) {
        window_->closeView();
    } else if (name == QLatin1String("getOpenFileNames") && args.size() == 3) {
        result =
            window_->getOpenFileNames(args[0].toString(), args[1].toString(), args[2].toString());
    } else if (name == QLatin1String("getOpenFileName") && args.size() == 3) {
        result =
            window_->getOpenFileName(args[0].toString(), args[1].toString(), args[2].toString());
    } else if (name == QLatin1String("getSaveFileName") && args.size() == 3) {
        result =
            window_->getSaveFileName(args[0].toString(), args[1].toString(), args[2].toString());
    } else if (name == QLatin1String("quit")) {
        QCoreApplication::quit();
    }
    if (id != 0 && channel_)
        channel_->send(Kind::ActionDone, {id, result});
}

bool FaceClient::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->isWindow())
        QMetaObject::invokeMethod(this, &FaceClient::windowsChanged, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

bool FaceClient::anyWindowShown() const {
    const auto widgets = QApplication::topLevelWidgets();
    for (const QWidget *w : widgets)
        if (w->isVisible() && !(w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip))
            return true;
    return false;
}

void FaceClient::windowsChanged() {
    if (anyWindowShown())
        linger_.stop();
    else if (!linger_.isActive() && !asked_)
        linger_.start();
}

void FaceClient::askToEnd() {
    if (anyWindowShown() || !channel_)
        return;
    // A download the page started (a firmware file) finishes first.
    if (ClientHandler *handler = ClientHandler::instance(); handler && handler->activeDownloads()) {
        linger_.start();
        return;
    }
    asked_ = true;
    channel_->send(Kind::MayEnd, {actionsReceived_});
}

} // namespace torvanix

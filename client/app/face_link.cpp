#include "face_link.h"

#include "app_log.h"
#include "ui/desktop_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <QUrl>

#include <atomic>

namespace torvanix {

using link::Frame;
using link::Kind;

namespace {

FaceLink *g_link = nullptr; // read and written on the GUI thread only

// How long after the page's last query the window program is still taken to be at work.
constexpr qint64 kQueryQuietMs = 2000;

// Runs f on the GUI thread, with the link if it still exists.
template <typename F> void onLink(F f) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [f] {
            if (g_link)
                f(g_link);
        },
        Qt::QueuedConnection);
}

// The answer channel of one query of the window process. A command that ends without an
// answer lets the window process forget the query.
class LinkReply : public Reply {
public:
    LinkReply(quint64 generation, qint64 id) : generation_(generation), id_(id) {}
    ~LinkReply() override {
        if (done_.load())
            return;
        const quint64 generation = generation_;
        const qint64 id = id_;
        onLink([generation, id](FaceLink *link) { link->forget(generation, id); });
    }
    void success(const QString &text) override { finish(true, 0, text); }
    void failure(int code, const QString &text) override { finish(false, code, text); }

private:
    void finish(bool ok, int code, const QString &text) {
        if (done_.exchange(true))
            return;
        const quint64 generation = generation_;
        const qint64 id = id_;
        onLink([=](FaceLink *link) { link->answer(generation, id, ok, code, text); });
    }

    quint64 generation_;
    qint64 id_;
    std::atomic<bool> done_{false};
};

} // namespace

FaceLink::FaceLink(QString corePath, QObject *parent)
    : QObject(parent), corePath_(std::move(corePath)),
      program_(QCoreApplication::applicationDirPath() + QStringLiteral("/torvanix-ui")) {
    g_link = this;
}

FaceLink::~FaceLink() {
    shutdown();
    if (g_link == this)
        g_link = nullptr;
}

bool FaceLink::connected() const {
    return state_ == State::Ready && channel_ && channel_->isOpen();
}

qint64 FaceLink::facePid() const {
    return process_ ? process_->processId() : 0;
}

void FaceLink::launch() {
    if (process_) {
        // The one before may still be on its way out; it ends by itself.
        process_->disconnect(this);
        connect(process_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process_,
                &QObject::deleteLater);
        if (process_->state() == QProcess::NotRunning)
            process_->deleteLater();
        process_ = nullptr;
    }
    state_ = State::Starting;
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    process_->setProgram(program_);
    process_->setArguments({QStringLiteral("--core"), corePath_});
    // The picture of the window at start is the first window's only.
    if (screenshotPassed_) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TORVANIX_SCREENSHOT"));
        process_->setProcessEnvironment(env);
    }
    screenshotPassed_ = true;
    QProcess *process = process_;
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart || process != process_)
            return;
        APP_LOG(QStringLiteral("Application Error: cannot start the window program %1: %2")
                    .arg(program_, process->errorString()));
        onClosed();
    });
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, process](int code, QProcess::ExitStatus status) {
                if (status == QProcess::CrashExit || code != 0)
                    APP_LOG(QStringLiteral("Application Error: the window program ended (%1, "
                                           "code %2); the next show starts it again")
                                .arg(status == QProcess::CrashExit ? QStringLiteral("crashed")
                                                                   : QStringLiteral("exited"))
                                .arg(code));
                if (process == process_ && state_ == State::Starting)
                    onClosed(); // ended before it connected
            });
    APP_LOG(QStringLiteral("Application Info: starting the window program"));
    process_->start();
}

void FaceLink::attach(QLocalSocket *socket, const QByteArray &rest) {
    if (channel_ && channel_->isOpen()) {
        APP_LOG(QStringLiteral("Application Error: a second window program connected; refused"));
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++generation_;
    actionsSent_ = 0;
    channel_ = new link::Channel(socket, rest, this);
    connect(channel_, &link::Channel::received, this, &FaceLink::onFrame);
    connect(channel_, &link::Channel::closed, this, &FaceLink::onClosed);
    state_ = State::Ready;
    APP_LOG(QStringLiteral("Application Info: window program connected"));
    const QList<Frame> queued = std::exchange(queued_, {});
    for (const Frame &frame : queued) {
        if (frame.kind == Kind::Action)
            ++actionsSent_;
        channel_->send(frame.kind, frame.fields);
    }
    showWanted_ = false;
    emit faceConnected(facePid());
}

void FaceLink::onClosed() {
    if (channel_) {
        channel_->disconnect(this);
        channel_->deleteLater();
        channel_ = nullptr;
    }
    const bool wasRunning = state_ != State::None;
    state_ = State::None;
    queued_.clear();
    // Dialogs waiting for the window process get the empty answer now.
    for (Wait *wait : qAsConst(waits_))
        wait->loop->quit();
    if (wasRunning)
        emit faceGone();
    // A show asked for while the window process was on its way out starts a new one.
    if (showWanted_ && !quitRequested()) {
        showWanted_ = false;
        showWindow();
    }
}

void FaceLink::sendAction(qint64 id, const QString &name, const QVariantList &args, bool start) {
    const Frame frame{Kind::Action, {id, name, args}};
    switch (state_) {
    case State::Ready:
        if (channel_ && channel_->isOpen()) {
            ++actionsSent_;
            channel_->send(frame.kind, frame.fields);
        }
        return;
    case State::Starting:
        queued_.append(frame);
        return;
    case State::Ending:
    case State::None:
        if (!start)
            return;
        queued_.append(frame);
        if (state_ == State::Ending)
            showWanted_ = true;
        else
            launch();
        return;
    }
}

void FaceLink::showWindow() {
    if (quitRequested())
        return;
    if (state_ == State::Ending) {
        showWanted_ = true;
        return;
    }
    sendAction(0, QStringLiteral("show"), {}, true);
}

void FaceLink::closeWindow() {
    // The window stays in sight while a firmware update is written: hidden, its progress and
    // the quit behind it would be out of reach.
    if (firmwareUpdateHoldsQuit("closing the window"))
        return;
    sendAction(0, QStringLiteral("hide"), {}, false);
    // Without a tray (many desktops have none) nothing could show the window again.
    if (!trayAvailable_ || !trayAvailable_())
        quitOnce();
}

void FaceLink::shutdown() {
    showWanted_ = false;
    queued_.clear();
    if (channel_) {
        channel_->send(Kind::Action, {qint64(0), QStringLiteral("quit"), QVariantList()});
        channel_->close();
    }
    for (Wait *wait : qAsConst(waits_))
        wait->loop->quit();
    if (process_)
        process_->disconnect(this);
}

void FaceLink::onFrame(const Frame &frame) {
    const QVariantList &f = frame.fields;
    switch (frame.kind) {
    case Kind::Query: {
        if (f.size() != 2 || !queries_)
            return;
        const qint64 id = f[0].toLongLong();
        sinceQuery_.start();
        queries_(f[1].toString(), std::make_shared<LinkReply>(generation_, id));
        return;
    }
    case Kind::ActionDone: {
        if (f.size() != 2)
            return;
        if (Wait *wait = waits_.value(f[0].toLongLong())) {
            wait->result = f[1];
            wait->loop->quit();
        }
        return;
    }
    case Kind::CloseRequest:
        closeWindow();
        return;
    case Kind::MayEnd: {
        // Only when the window process has seen every action sent to it (a show on its way
        // keeps it) and no page task runs.
        const bool seenAll = f.value(0).toULongLong() == actionsSent_;
        const bool quiet = !sinceQuery_.isValid() || sinceQuery_.elapsed() >= kQueryQuietMs;
        const bool may = seenAll && quiet && waits_.isEmpty() && (!idle_ || idle_());
        if (may)
            state_ = State::Ending;
        if (channel_)
            channel_->send(Kind::EndAnswer, {may});
        return;
    }
    default:
        return;
    }
}

void FaceLink::answer(quint64 generation, qint64 id, bool ok, int code, const QString &text) {
    if (generation != generation_ || !channel_)
        return;
    channel_->send(Kind::Answer, {id, ok, code, text});
}

void FaceLink::forget(quint64 generation, qint64 id) {
    if (generation != generation_ || !channel_)
        return;
    channel_->send(Kind::Answer, {id});
}

void FaceLink::sendEvent(const QString &name, const QVariantList &args) {
    if (QThread::currentThread() != thread()) {
        onLink([name, args](FaceLink *link) { link->sendEvent(name, args); });
        return;
    }
    if (state_ == State::Ready && channel_)
        channel_->send(Kind::Event, {name, args});
}

QVariant FaceLink::askFace(const QString &name, const QVariantList &args) {
    if (state_ != State::Ready || !channel_)
        return QVariant();
    const qint64 id = nextActionId_++;
    QEventLoop loop;
    Wait wait;
    wait.loop = &loop;
    waits_.insert(id, &wait);
    sendAction(id, name, args, false);
    loop.exec();
    waits_.remove(id);
    return wait.result;
}

void FaceLink::rememberDirectory(const QString &chosen, const QString &offered) {
    if (!chosen.isEmpty())
        lastDirectory_ = QFileInfo(chosen).absolutePath();
    else if (!offered.isEmpty())
        lastDirectory_ = offered;
}

void FaceLink::showClient() {
    sendAction(0, QStringLiteral("showClient"), {}, true);
}

void FaceLink::openView(const QString &url, double width, double height) {
    sendAction(0, QStringLiteral("openView"), {url, width, height}, true);
}

void FaceLink::closeView() {
    sendAction(0, QStringLiteral("closeView"), {}, false);
}

void FaceLink::closeMainWindow() {
    closeWindow();
}

bool FaceLink::openExternal(const QString &url) {
    QUrl target(url);
    if (target.scheme().isEmpty() || QFileInfo(url).isAbsolute())
        target = QUrl::fromLocalFile(url);
    return QDesktopServices::openUrl(target);
}

void FaceLink::setAutoRun(bool enabled) {
    AutoStart().setEnabled(enabled, QCoreApplication::applicationFilePath());
}

void FaceLink::quitApplication() {
    quitOnce();
}

QStringList FaceLink::getOpenFileNames(const QString &title, const QString &directory,
                                       const QString &filter) {
    const QStringList files =
        askFace(QStringLiteral("getOpenFileNames"), {title, directory, filter}).toStringList();
    rememberDirectory(files.value(0), directory);
    return files;
}

QString FaceLink::getOpenFileName(const QString &title, const QString &directory,
                                  const QString &filter) {
    const QString file =
        askFace(QStringLiteral("getOpenFileName"), {title, directory, filter}).toString();
    rememberDirectory(file, directory);
    return file;
}

QString FaceLink::getSaveFileName(const QString &title, const QString &directory,
                                  const QString &filter) {
    const QString file =
        askFace(QStringLiteral("getSaveFileName"), {title, directory, filter}).toString();
    rememberDirectory(file, directory);
    return file;
}

} // namespace torvanix

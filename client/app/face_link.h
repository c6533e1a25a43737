#pragma once

#include "device/event_sink.h"
#include "dispatch/reply.h"
#include "dispatch/window_actions.h"
#include "link/link_channel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QEventLoop;
class QLocalSocket;
class QProcess;

namespace torvanix {

// The core's side of the window process ("torvanix-ui"): starts it when a window is to be
// shown, hands it the page's answers, events and window actions, and takes its page queries.
// Nothing here waits for the window process except a file dialog the page asked for, which
// waits with the event loop running and gets the empty answer at once when the process goes.
class FaceLink : public QObject, public WindowActions, public EventSink {
    Q_OBJECT
public:
    using QueryHandler = std::function<void(const QString &request, const ReplyPtr &reply)>;

    // corePath: the single-instance socket the window process connects back to.
    explicit FaceLink(QString corePath, QObject *parent = nullptr);
    ~FaceLink() override;

    void setQueryHandler(QueryHandler handler) { queries_ = std::move(handler); }
    // Whether no page task (a command, an update, a conversion) is running.
    void setIdleCheck(std::function<bool()> check) { idle_ = std::move(check); }
    // Whether something (the tray) can show the window again once it is hidden.
    void setTrayAvailableCheck(std::function<bool()> check) { trayAvailable_ = std::move(check); }
    // The window program; default: "torvanix-ui" beside this program.
    void setProgram(const QString &path) { program_ = path; }

    // A connection that opened with the window process's hello; `rest` is what came after it.
    void attach(QLocalSocket *socket, const QByteArray &rest);
    // Shows the main window, starting the window process when none runs.
    void showWindow();
    // The main window was closed (by the user or CloseX): hidden, or the program quits where
    // no tray could bring it back. Held while a firmware update is written.
    void closeWindow();
    // The program ends: the window process is told to end too.
    void shutdown();

    bool connected() const;
    qint64 facePid() const;

    // WindowActions.
    void showClient() override;
    void openView(const QString &url, double width, double height) override;
    void closeView() override;
    void closeMainWindow() override;
    bool openExternal(const QString &url) override;
    void setAutoRun(bool enabled) override;
    void quitApplication() override;
    QStringList getOpenFileNames(const QString &title, const QString &directory,
                                 const QString &filter) override;
    QString getOpenFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString getSaveFileName(const QString &title, const QString &directory,
                            const QString &filter) override;
    QString lastVisitedDirectory() const override { return lastDirectory_; }

    // EventSink: callable from any thread; events while no window process runs reach nobody.
    void sendEvent(const QString &name, const QVariantList &args) override;

    // An answer to a query of the window process (GUI thread).
    void answer(quint64 generation, qint64 id, bool ok, int code, const QString &text);
    void forget(quint64 generation, qint64 id);

signals:
    void faceConnected(qint64 pid);
    void faceGone();

private:
    enum class State { None, Starting, Ready, Ending };
    void launch();
    // Queues the action while the window process starts; starts one when `start` is set.
    void sendAction(qint64 id, const QString &name, const QVariantList &args, bool start);
    QVariant askFace(const QString &name, const QVariantList &args);
    void onFrame(const link::Frame &frame);
    void onClosed();
    void rememberDirectory(const QString &chosen, const QString &offered);

    QString corePath_;
    QString program_;
    QueryHandler queries_;
    std::function<bool()> idle_;
    std::function<bool()> trayAvailable_;
    State state_ = State::None;
    QProcess *process_ = nullptr;
    link::Channel *channel_ = nullptr;
    quint64 generation_ = 0;
    // Actions sent on the present connection; the window process counts what it received.
    quint64 actionsSent_ = 0;
    QList<link::Frame> queued_;
    bool showWanted_ = false;
    qint64 nextActionId_ = 1;
    struct Wait {
        QEventLoop *loop = nullptr;
        QVariant result;
    };
    QHash<qint64, Wait *> waits_;
    QString lastDirectory_;
    bool screenshotPassed_ = false;
    // Since the last page query: a page task of several steps (a picture upload) is idle for
    // a moment between them.
    QElapsedTimer sinceQuery_;
};

} // namespace torvanix

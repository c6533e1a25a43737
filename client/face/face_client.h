#pragma once

#include "dispatch/reply.h"
#include "link/link_channel.h"

#include <QHash>
#include <QObject>
#include <QTimer>

namespace torvanix {

class Window;

// The window program's side of the link: its main window (and the pop-ups it opens) show the
// page, whose queries go to the core; the core's answers, events and window actions come
// back. The program ends a short while after its last window was hidden, once the core says no
// page task runs, and at once when the core goes away.
class FaceClient : public QObject {
    Q_OBJECT
public:
    explicit FaceClient(const QString &brand, QObject *parent = nullptr);
    ~FaceClient() override;

    // Connects to the core at corePath; false when it cannot be reached.
    bool connectTo(const QString &corePath);
    Window *window() const { return window_; }
    // How long the program stays after its last window was hidden.
    void setLingerMs(int ms) { linger_.setInterval(ms); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void forwardQuery(const QString &request, const ReplyPtr &reply);
    void onFrame(const link::Frame &frame);
    void runAction(qint64 id, const QString &name, const QVariantList &args);
    void windowsChanged();
    bool anyWindowShown() const;
    void askToEnd();

    Window *window_ = nullptr;
    link::Channel *channel_ = nullptr;
    QHash<qint64, ReplyPtr> open_;
    qint64 nextQuery_ = 1;
    quint64 actionsReceived_ = 0;
    QTimer linger_;
    bool asked_ = false;
};

} // namespace torvanix

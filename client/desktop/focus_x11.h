#pragma once

#include "focus_rules.h"

#include <QObject>

class QSocketNotifier;
struct xcb_connection_t;

namespace torvanix {

// The application in front on an X11 desktop: the window manager names the active window in
// the root window's _NET_ACTIVE_WINDOW; its WM_CLASS and process (_NET_WM_PID) name the
// application. The connection's socket is watched in the event loop, so nothing runs while the
// focus stays put.
class X11FocusSource : public QObject {
    Q_OBJECT
public:
    explicit X11FocusSource(QObject *parent = nullptr);
    ~X11FocusSource() override;

    // Connects to $DISPLAY and reports the window in front at once (queued). false, with why,
    // when there is no display or it refuses.
    bool start(QString *why = nullptr);
    void stop();
    bool running() const { return connection_ != nullptr; }
    // The WM_CLASS classes of the windows the window manager lists (_NET_CLIENT_LIST), through
    // the running connection or, stopped, a short one of its own.
    QStringList runningApplications();

signals:
    void activeApplication(const torvanix::FocusApplication &app);
    // The display went away; the source has stopped.
    void lost(const QString &why);

private:
    void readEvents();
    void reportActive();
    // Events may have been queued by xcb while a reply was awaited; they are handled next turn.
    void drainSoon();

    xcb_connection_t *connection_ = nullptr;
    quint32 root_ = 0;
    quint32 activeAtom_ = 0;
    quint32 clientListAtom_ = 0;
    quint32 pidAtom_ = 0;
    quint32 lastWindow_ = 0;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace torvanix

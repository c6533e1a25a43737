#pragma once

#include "focus_rules.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace torvanix {

// The application in front on a wlroots compositor (sway, labwc, Hyprland, ...): its foreign
// toplevel manager lists every toplevel window with its app id and states; the "activated" one
// is in front. The connection's socket is watched in the event loop, so nothing runs while the
// focus stays put.
class WlrootsFocusSource : public QObject {
    Q_OBJECT
public:
    explicit WlrootsFocusSource(QObject *parent = nullptr);
    ~WlrootsFocusSource() override;

    // Connects to $WAYLAND_DISPLAY and binds the toplevel manager, then reports the window in
    // front (queued). false, with why, without a compositor or one that keeps its windows
    // private (GNOME, KDE: their desktop scripts report over D-Bus instead).
    bool start(QString *why = nullptr);
    void stop();
    bool running() const;
    // The app ids of the open windows, through the running connection or, stopped, a short
    // one of its own.
    QStringList runningApplications();

    struct State;

signals:
    void activeApplication(const torvanix::FocusApplication &app);
    // The compositor went away; the source has stopped.
    void lost(const QString &why);

private:
    void readEvents();
    bool prepare();
    void reportActive();

    std::unique_ptr<State> state_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace torvanix

#pragma once

#include "focus_follow.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace torvanix {

class DesktopHub;
class X11FocusSource;
class WlrootsFocusSource;

// Profiles following the application in front, in the core: the "focus" settings section, the
// sources that say what is in front (a wlroots compositor's window list under Wayland, else the
// X11 window manager's active window; and whatever desktop scripts report over D-Bus), and the
// follower that switches the devices through the hub. The sources run only while following is
// on.
class FocusPiece : public QObject {
    Q_OBJECT
public:
    explicit FocusPiece(DesktopHub &hub, QObject *parent = nullptr);
    ~FocusPiece() override;

    // Where the notice of a switch goes (settings "notify"). `key` names what the notice is
    // about, so a newer one can replace it on screen.
    using NoticeSender =
        std::function<void(const QString &key, const QString &summary, const QString &body)>;
    void setNoticeSender(NoticeSender send) { notice_ = std::move(send); }

    FocusFollower &follower() { return follower_; }
    // Which source watches the focus now: "wlroots", "x11" or "" (only D-Bus reports).
    QString sourceName() const;

private:
    void settingsChanged(const QJsonObject &section);
    void startSources();
    void stopSources();
    void sourceReport(const FocusApplication &app, const QString &source);
    QStringList runningApplications();

    DesktopHub &hub_;
    FocusFollower follower_;
    X11FocusSource *x11_ = nullptr;
    WlrootsFocusSource *wlroots_ = nullptr;
    NoticeSender notice_;
    // App ids the desktop scripts reported, newest last: the picker's only list where the
    // compositor keeps its windows private.
    QStringList reported_;
    bool enabled_ = false;
};

// Registers the "focus" section and starts following when it is on; the hub owns the piece.
FocusPiece *startFocusFollow(DesktopHub &hub);

} // namespace torvanix

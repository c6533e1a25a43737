#pragma once

#include "focus_rules.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace torvanix {

// Profiles following the application in front. Every source (X11, a wlroots compositor, a
// desktop script over D-Bus) reports the application it sees; once the focus has stayed on one
// application for kSettleMs, each device the rules name is switched to its profile, only when
// that differs from the profile the device holds and from the one set here last. Alt-tabbing
// through windows therefore switches nothing on the way, and each settled change switches a
// device at most once. Runs on the GUI thread; the timer runs only after a report, so nothing
// wakes while the focus stays put.
class FocusFollower : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;

    struct Device {
        bool present = false;
        int profile = 0; // 0: not known
        QString name;
    };
    using Done = std::function<void(bool applied, const QString &reason)>;
    struct Hooks {
        std::function<Device(const QString &identity)> device;
        std::function<void(const QString &identity, int profile, Done done)> switchProfile;
        // Only called when the rules ask for notices.
        std::function<void(const QString &summary, const QString &body)> notify;
        // Every settled focus change (frequent: a developer's trace).
        std::function<void(const QString &line)> log;
        // Each switch and why one failed (the user's log).
        std::function<void(const QString &line)> note;
    };

    explicit FocusFollower(Hooks hooks, QObject *parent = nullptr);

    // New rules act from the next focus change on.
    void setRules(const FocusRules &rules);
    const FocusRules &rules() const { return rules_; }
    void setSettleMs(int ms) { timer_.setInterval(ms); }
    void report(const FocusApplication &app, const QString &source);
    // Following was switched off: what was in front is forgotten, so the first report after it
    // is switched on counts as a change.
    void reset();
    // A device came (back): it takes the profile of the application in front, if it differs.
    void deviceArrived(const QString &identity);
    FocusApplication settled() const { return settled_; }
    bool settling() const { return timer_.isActive(); }

signals:
    // A switch this follower asked for reached the device.
    void switched(const QString &identity, int profile, const QString &app);

private:
    void settle();
    void switchTo(const QMap<QString, int> &targets);

    Hooks hooks_;
    FocusRules rules_;
    QTimer timer_;
    FocusApplication pending_;
    QString pendingSource_;
    FocusApplication settled_;
    // Lower-cased identity -> the profile last asked for here (also while its switch runs).
    QMap<QString, int> lastSet_;
};

} // namespace torvanix

#include "focus_follow.h"

#include <QPointer>

#include <memory>

namespace torvanix {

FocusFollower::FocusFollower(Hooks hooks, QObject *parent)
    : QObject(parent), hooks_(std::move(hooks)) {
    timer_.setSingleShot(true);
    timer_.setInterval(kSettleMs);
    connect(&timer_, &QTimer::timeout, this, &FocusFollower::settle);
}

void FocusFollower::setRules(const FocusRules &rules) {
    rules_ = rules;
}

void FocusFollower::report(const FocusApplication &app, const QString &source) {
    // No window in front (the desktop, a closing window): the profiles stay as they are.
    if (app.isEmpty())
        return;
    // Our own window in front is the user looking at (or editing) the profile that is on: it
    // stays, and a change still settling is dropped.
    if (app.isOwnWindow()) {
        timer_.stop();
        pending_ = settled_;
        return;
    }
    // Sources repeat themselves (several windows of one application, a property written
    // twice); a repeat must not push the switch further away.
    if (timer_.isActive() && app.names() == pending_.names())
        return;
    pending_ = app;
    pendingSource_ = source;
    timer_.start();
}

void FocusFollower::reset() {
    timer_.stop();
    pending_ = {};
    settled_ = {};
}

void FocusFollower::settle() {
    if (pending_.names() == settled_.names())
        return;
    settled_ = pending_;
    QString ruleApp;
    const QMap<QString, int> targets = rules_.targetsFor(settled_, &ruleApp);
    if (hooks_.log)
        hooks_.log(
            QStringLiteral("%1 in front (%2)%3")
                .arg(settled_.label(), pendingSource_,
                     ruleApp.isEmpty() ? QString() : QStringLiteral(", rule \"%1\"").arg(ruleApp)));
    switchTo(targets);
}

void FocusFollower::deviceArrived(const QString &identity) {
    if (settled_.isEmpty())
        return;
    // What was asked of it before it left says nothing about what it holds now.
    lastSet_.remove(identity.toLower());
    QMap<QString, int> targets;
    const QMap<QString, int> all = rules_.targetsFor(settled_);
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0)
            targets.insert(it.key(), it.value());
    }
    switchTo(targets);
}

void FocusFollower::switchTo(const QMap<QString, int> &targets) {
    const QString label = settled_.label();
    struct Round {
        int open = 0;
        QStringList lines;
    };
    auto round = std::make_shared<Round>();
    const bool notify = rules_.notify && bool(hooks_.notify);
    auto finishOne = [this, round, notify, label] {
        if (--round->open > 0 || round->lines.isEmpty() || !notify)
            return;
        hooks_.notify(QStringLiteral("Profile for %1").arg(label),
                      round->lines.join(QLatin1Char('\n')));
    };

    QList<QPair<QString, int>> switches;
    for (auto it = targets.begin(); it != targets.end(); ++it) {
        const Device device = hooks_.device ? hooks_.device(it.key()) : Device{};
        if (!device.present)
            continue;
        const QString key = it.key().toLower();
        // The device holds it already, or it is on its way there (the device list learns a
        // switch only once it has been written).
        if (device.profile == it.value() ||
            (lastSet_.contains(key) && lastSet_.value(key) == it.value() && device.profile == 0))
            continue;
        switches << qMakePair(it.key(), it.value());
        lastSet_.insert(key, it.value());
        round->open++;
    }
    for (const auto &entry : switches) {
        const QString identity = entry.first;
        const int profile = entry.second;
        const QString name = hooks_.device(identity).name;
        // The answer comes from the command lane, possibly after following has ended.
        QPointer<FocusFollower> self(this);
        hooks_.switchProfile(identity, profile,
                             [this, self, round, finishOne, identity, profile, name,
                              label](bool applied, const QString &reason) {
                                 if (!self)
                                     return;
                                 const QString key = identity.toLower();
                                 if (applied) {
                                     round->lines << QStringLiteral("%1: profile %2")
                                                         .arg(name.isEmpty() ? identity : name)
                                                         .arg(profile);
                                     if (hooks_.note)
                                         hooks_.note(QStringLiteral("profile %1 set on %2 for %3")
                                                         .arg(profile)
                                                         .arg(identity, label));
                                     emit switched(identity, profile, label);
                                 } else {
                                     if (lastSet_.value(key) == profile)
                                         lastSet_.remove(key);
                                     if (hooks_.note)
                                         hooks_.note(QStringLiteral("profile %1 of %2 not "
                                                                    "set: %3")
                                                         .arg(profile)
                                                         .arg(identity, reason));
                                 }
                                 finishOne();
                             });
    }
}

} // namespace torvanix

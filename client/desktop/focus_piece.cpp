#include "focus_piece.h"

#include "app/app_log.h"
#include "desktop_hub.h"
#include "notifier.h"
#ifdef TORVANIX_FOCUS_WLROOTS
#include "focus_wlroots.h"
#endif
#ifdef TORVANIX_FOCUS_X11
#include "focus_x11.h"
#endif

#include <QLoggingCategory>

namespace torvanix {

namespace {

Q_LOGGING_CATEGORY(lcFocus, "torvanix.focus")

const QString kSection = QStringLiteral("focus");

// What the user may want to find later: the program's log, and the trace beside it.
void note(const QString &line) {
    qCInfo(lcFocus).noquote() << line;
    APP_LOG(QStringLiteral("Application Info: focus: ") + line);
}
// Enough for the picker; a desktop script reports every focus change.
constexpr int kReportedKept = 64;

FocusFollower::Hooks hubHooks(DesktopHub &hub, const FocusPiece::NoticeSender *notice) {
    FocusFollower::Hooks hooks;
    hooks.device = [&hub](const QString &identity) {
        FocusFollower::Device device;
        const std::optional<BookDevice> found = hub.book().device(identity);
        // A device without a profile slot would only refuse every switch.
        if (found && found->hasProfileSlot) {
            device.present = true;
            device.profile = found->profile;
            device.name = found->model;
        }
        return device;
    };
    hooks.switchProfile = [&hub](const QString &identity, int profile, FocusFollower::Done done) {
        hub.switchProfile(identity, profile, QStringLiteral("focus"),
                          [done](const ApplyResult &result) {
                              done(result.status == ApplyResult::Applied, result.reason);
                          });
    };
    hooks.notify = [notice](const QString &summary, const QString &body) {
        if (*notice)
            (*notice)(QStringLiteral("focus-profile"), summary, body);
    };
    hooks.log = [](const QString &line) { qCInfo(lcFocus).noquote() << line; };
    hooks.note = note;
    return hooks;
}

} // namespace

FocusPiece::FocusPiece(DesktopHub &hub, QObject *parent)
    : QObject(parent), hub_(hub), follower_(hubHooks(hub, &notice_)) {
    connect(&hub_.settings(), &CoreSettings::changed, this,
            [this](const QString &section, const QJsonObject &value) {
                if (section == kSection)
                    settingsChanged(value);
            });
    connect(&hub_, &DesktopHub::activeApplicationReported, this,
            [this](const QString &appId, const QString &source) {
                const QString id = appId.trimmed();
                if (id.isEmpty())
                    return;
                reported_.removeAll(id);
                reported_ << id;
                while (reported_.size() > kReportedKept)
                    reported_.removeFirst();
                FocusApplication app;
                app.appId = id;
                sourceReport(app, source.isEmpty() ? QStringLiteral("dbus") : source);
            });
    // A device plugged in (or found by the core's first read) while an application is in front.
    connect(&hub_.book(), &DeviceBook::deviceAdded, this, [this](const BookDevice &device) {
        if (enabled_)
            follower_.deviceArrived(device.identity);
    });
    hub_.setRunningApplicationsProvider([this] { return runningApplications(); });
    settingsChanged(hub_.settings().section(kSection));
}

FocusPiece::~FocusPiece() {
    hub_.setRunningApplicationsProvider({});
    stopSources();
}

QString FocusPiece::sourceName() const {
#ifdef TORVANIX_FOCUS_WLROOTS
    if (wlroots_)
        return QStringLiteral("wlroots");
#endif
#ifdef TORVANIX_FOCUS_X11
    if (x11_)
        return QStringLiteral("x11");
#endif
    return QString();
}

void FocusPiece::settingsChanged(const QJsonObject &section) {
    const FocusRules rules = FocusRules::fromSection(section);
    follower_.setRules(rules);
    if (rules.enabled == enabled_)
        return;
    enabled_ = rules.enabled;
    if (enabled_) {
        startSources();
    } else {
        stopSources();
        follower_.reset();
        note(QStringLiteral("following the application in front is off"));
    }
}

void FocusPiece::startSources() {
    QStringList why;
    // Under Xwayland the X11 side sees only its own windows: the compositor's list comes first.
#ifdef TORVANIX_FOCUS_WLROOTS
    auto *wlroots = new WlrootsFocusSource(this);
    QString wlWhy;
    if (wlroots->start(&wlWhy)) {
        wlroots_ = wlroots;
        connect(
            wlroots_, &WlrootsFocusSource::activeApplication, this,
            [this](const FocusApplication &app) { sourceReport(app, QStringLiteral("wlroots")); });
        connect(wlroots_, &WlrootsFocusSource::lost, this, [this](const QString &text) {
            note(QStringLiteral("the wlroots window list stopped: ") + text);
            wlroots_->deleteLater();
            wlroots_ = nullptr;
        });
        note(QStringLiteral("following the application in front (wlroots window list)"));
        return;
    }
    delete wlroots;
    why << wlWhy;
#endif
#ifdef TORVANIX_FOCUS_X11
    auto *x11 = new X11FocusSource(this);
    QString xWhy;
    if (x11->start(&xWhy)) {
        x11_ = x11;
        connect(x11_, &X11FocusSource::activeApplication, this,
                [this](const FocusApplication &app) { sourceReport(app, QStringLiteral("x11")); });
        connect(x11_, &X11FocusSource::lost, this, [this](const QString &text) {
            note(QStringLiteral("the X11 active window stopped: ") + text);
            x11_->deleteLater();
            x11_ = nullptr;
        });
        note(QStringLiteral("following the application in front (X11 active window)"));
        return;
    }
    delete x11;
    why << xWhy;
#endif
    note(QStringLiteral("following only what desktop scripts report over D-Bus (%1)")
             .arg(why.join(QStringLiteral("; "))));
}

void FocusPiece::stopSources() {
#ifdef TORVANIX_FOCUS_WLROOTS
    delete wlroots_;
    wlroots_ = nullptr;
#endif
#ifdef TORVANIX_FOCUS_X11
    delete x11_;
    x11_ = nullptr;
#endif
}

void FocusPiece::sourceReport(const FocusApplication &app, const QString &source) {
    if (enabled_)
        follower_.report(app, source);
}

QStringList FocusPiece::runningApplications() {
    QStringList names;
#ifdef TORVANIX_FOCUS_WLROOTS
    if (wlroots_)
        names << wlroots_->runningApplications();
    else if (!x11_)
        names << WlrootsFocusSource().runningApplications();
#endif
#ifdef TORVANIX_FOCUS_X11
    if (x11_)
        names << x11_->runningApplications();
    else if (!wlroots_)
        names << X11FocusSource().runningApplications();
#endif
    names << reported_;
    return names;
}

FocusPiece *startFocusFollow(DesktopHub &hub) {
    hub.settings().addSection(kSection, &FocusRules::normalise);
    auto *piece = new FocusPiece(hub);
    auto *notifier = new Notifier(piece);
    piece->setNoticeSender(
        [notifier](const QString &key, const QString &summary, const QString &body) {
            // A passing word, not a warning: low urgency, gone by itself.
            notifier->notify(key, summary, body, QString(), Notifier::Urgency::Low);
        });
    hub.adopt(piece);
    return piece;
}

} // namespace torvanix

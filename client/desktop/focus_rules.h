#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace torvanix {

// The application in front, by every name a source knows it by. X11 gives the WM_CLASS pair
// and, through the window's process, the executable; Wayland compositors and desktop scripts
// give an app id.
struct FocusApplication {
    QString appId;
    QString instance;
    QString windowClass;
    QString executable;

    bool isEmpty() const;
    // The names a rule is compared with: lower-cased, without a ".desktop" ending, and for a
    // reverse-DNS app id ("org.gnome.Nautilus") its last part too, since that is what a user
    // types. Distinct, in the order above.
    QStringList names() const;
    // The program's own window program, by any of the names the sources give it.
    bool isOwnWindow() const;
    // What a notice and the log call it.
    QString label() const;
};

// The "focus" settings section, read:
//   {"enabled": bool, "notify": bool,
//    "rules": [{"app": "firefox", "profiles": {"<DeviceIdentity>": 2}}, ...],
//    "default": {"<DeviceIdentity>": 1}}
// The first rule whose app is one of the application's names decides; the devices it does not
// name take the default; devices neither names are left as they are.
class FocusRules {
public:
    static constexpr int kMinProfile = 1;
    static constexpr int kMaxProfile = 16;

    struct Rule {
        QString app;
        QMap<QString, int> profiles; // DeviceIdentity as stored -> profile
    };

    // The section's normaliser: fills what is missing, refuses what is wrong (why says what).
    static bool normalise(QJsonObject &value, QString *why);
    // From a normalised section.
    static FocusRules fromSection(const QJsonObject &section);

    bool enabled = false;
    bool notify = false;
    QList<Rule> rules;
    QMap<QString, int> defaults;

    // The profile each named device takes while this application is in front, and the rule's
    // app (empty when only the default applied).
    QMap<QString, int> targetsFor(const FocusApplication &app, QString *ruleApp = nullptr) const;
};

} // namespace torvanix

Q_DECLARE_METATYPE(torvanix::FocusApplication)

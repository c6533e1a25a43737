#include "focus_rules.h"

#include <QJsonArray>

#include <cmath>

namespace torvanix {

namespace {

QString plainName(QString name) {
    name = name.trimmed().toLower();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    return name;
}

void addName(QStringList &names, const QString &name) {
    if (!name.isEmpty() && !names.contains(name))
        names << name;
}

bool fail(QString *why, const QString &text) {
    if (why)
        *why = text;
    return false;
}

// A device -> profile object: identities non-empty, profiles whole numbers in range.
bool normaliseProfiles(const QJsonValue &value, const QString &where, QJsonObject &out,
                       QString *why) {
    out = {};
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isObject())
        return fail(why, QStringLiteral("%1 must be an object of device profiles").arg(where));
    const QJsonObject in = value.toObject();
    for (auto it = in.begin(); it != in.end(); ++it) {
        const QString identity = it.key().trimmed();
        if (identity.isEmpty())
            return fail(why, QStringLiteral("%1 names a device without an identity").arg(where));
        const double number = it.value().toDouble(-1);
        if (!it.value().isDouble() || number != std::floor(number) ||
            number < FocusRules::kMinProfile || number > FocusRules::kMaxProfile)
            return fail(why, QStringLiteral("%1: the profile of %2 must be %3 to %4")
                                 .arg(where, identity)
                                 .arg(FocusRules::kMinProfile)
                                 .arg(FocusRules::kMaxProfile));
        for (auto seen = out.begin(); seen != out.end(); ++seen) {
            if (seen.key().compare(identity, Qt::CaseInsensitive) == 0)
                return fail(why,
                            QStringLiteral("%1 names the device %2 twice").arg(where, identity));
        }
        out.insert(identity, int(number));
    }
    return true;
}

bool normaliseFlag(const QJsonObject &in, const char *key, QJsonObject &out, QString *why) {
    const QJsonValue value = in.value(QLatin1String(key));
    if (!value.isUndefined() && !value.isBool())
        return fail(why, QStringLiteral("%1 must be true or false").arg(QLatin1String(key)));
    out.insert(QLatin1String(key), value.toBool(false));
    return true;
}

QMap<QString, int> profileMap(const QJsonObject &object) {
    QMap<QString, int> map;
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key(), it.value().toInt());
    return map;
}

} // namespace

bool FocusApplication::isEmpty() const {
    return names().isEmpty();
}

bool FocusApplication::isOwnWindow() const {
    for (const QString &name : names())
        if (name == QLatin1String("torvanix") || name == QLatin1String("torvanix-ui"))
            return true;
    return false;
}

QStringList FocusApplication::names() const {
    QStringList names;
    const QString id = plainName(appId);
    addName(names, id);
    // Only reverse-DNS ids have a meaningful last part; "firefox-esr" or "code" do not split.
    if (id.count(QLatin1Char('.')) >= 2)
        addName(names, id.section(QLatin1Char('.'), -1));
    addName(names, plainName(instance));
    addName(names, plainName(windowClass));
    addName(names, plainName(executable));
    return names;
}

QString FocusApplication::label() const {
    for (const QString &name : {appId, windowClass, instance, executable}) {
        if (!name.trimmed().isEmpty())
            return name.trimmed();
    }
    return QString();
}

bool FocusRules::normalise(QJsonObject &value, QString *why) {
    QJsonObject out;
    if (!normaliseFlag(value, "enabled", out, why) || !normaliseFlag(value, "notify", out, why))
        return false;

    QJsonArray rules;
    const QJsonValue rulesValue = value.value(QLatin1String("rules"));
    if (!rulesValue.isUndefined() && !rulesValue.isNull() && !rulesValue.isArray())
        return fail(why, QStringLiteral("rules must be a list"));
    const QJsonArray rulesIn = rulesValue.toArray();
    for (int i = 0; i < rulesIn.size(); ++i) {
        const QString where = QStringLiteral("rule %1").arg(i + 1);
        if (!rulesIn.at(i).isObject())
            return fail(why, where + QStringLiteral(" must be an object"));
        const QJsonObject rule = rulesIn.at(i).toObject();
        const QString app = rule.value(QLatin1String("app")).toString().trimmed();
        if (app.isEmpty())
            return fail(why, where + QStringLiteral(" names no application"));
        QJsonObject profiles;
        if (!normaliseProfiles(rule.value(QLatin1String("profiles")), where, profiles, why))
            return false;
        rules.append(
            QJsonObject{{QStringLiteral("app"), app}, {QStringLiteral("profiles"), profiles}});
    }
    out.insert(QLatin1String("rules"), rules);

    QJsonObject defaults;
    if (!normaliseProfiles(value.value(QLatin1String("default")), QStringLiteral("the default"),
                           defaults, why))
        return false;
    out.insert(QLatin1String("default"), defaults);
    value = out;
    return true;
}

FocusRules FocusRules::fromSection(const QJsonObject &section) {
    FocusRules rules;
    rules.enabled = section.value(QLatin1String("enabled")).toBool();
    rules.notify = section.value(QLatin1String("notify")).toBool();
    const QJsonArray list = section.value(QLatin1String("rules")).toArray();
    for (const QJsonValue &entry : list) {
        const QJsonObject object = entry.toObject();
        Rule rule;
        rule.app = object.value(QLatin1String("app")).toString();
        rule.profiles = profileMap(object.value(QLatin1String("profiles")).toObject());
        rules.rules << rule;
    }
    rules.defaults = profileMap(section.value(QLatin1String("default")).toObject());
    return rules;
}

QMap<QString, int> FocusRules::targetsFor(const FocusApplication &app, QString *ruleApp) const {
    QMap<QString, int> targets = defaults;
    if (ruleApp)
        ruleApp->clear();
    const QStringList names = app.names();
    for (const Rule &rule : rules) {
        if (!names.contains(plainName(rule.app)))
            continue;
        for (auto it = rule.profiles.begin(); it != rule.profiles.end(); ++it) {
            // An identity the default spells in another case is the same device.
            for (auto d = targets.begin(); d != targets.end();) {
                if (d.key().compare(it.key(), Qt::CaseInsensitive) == 0)
                    d = targets.erase(d);
                else
                    ++d;
            }
            targets.insert(it.key(), it.value());
        }
        if (ruleApp)
            *ruleApp = rule.app;
        break;
    }
    return targets;
}

} // namespace torvanix

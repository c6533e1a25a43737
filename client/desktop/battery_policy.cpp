#include "battery_policy.h"

#include <QJsonValue>

#include <cmath>

namespace torvanix::battery {

namespace {

// A whole number in [min, max] from the section, or the default when absent.
bool takeInt(QJsonObject &value, const QString &key, int fallback, int min, int max, int *out,
             QString *why) {
    const QJsonValue v = value.value(key);
    if (v.isUndefined() || v.isNull()) {
        *out = fallback;
        return true;
    }
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || d != std::floor(d) || d < min || d > max) {
        if (why)
            *why = QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                       .arg(key)
                       .arg(min)
                       .arg(max);
        return false;
    }
    *out = int(d);
    return true;
}

} // namespace

bool normaliseSettings(QJsonObject &value, QString *why) {
    const Thresholds defaults;
    const QJsonValue notices = value.value(QStringLiteral("notices"));
    if (!notices.isUndefined() && !notices.isNull() && !notices.isBool()) {
        if (why)
            *why = QStringLiteral("\"notices\" must be true or false");
        return false;
    }
    int low = 0, critical = 0;
    if (!takeInt(value, QStringLiteral("low"), defaults.low, 2, 50, &low, why) ||
        !takeInt(value, QStringLiteral("critical"), defaults.critical, 1, 49, &critical, why))
        return false;
    if (critical >= low) {
        if (why)
            *why = QStringLiteral("the critical level must be below the low level");
        return false;
    }
    value = QJsonObject{{QStringLiteral("notices"), notices.toBool(defaults.notices)},
                        {QStringLiteral("low"), low},
                        {QStringLiteral("critical"), critical}};
    return true;
}

Thresholds thresholdsFrom(const QJsonObject &section) {
    QJsonObject value = section;
    if (!normaliseSettings(value, nullptr))
        return Thresholds();
    Thresholds t;
    t.notices = value.value(QStringLiteral("notices")).toBool();
    t.low = value.value(QStringLiteral("low")).toInt();
    t.critical = value.value(QStringLiteral("critical")).toInt();
    return t;
}

Notice NoticePolicy::reading(const QString &identity, int level, bool charging,
                             const Thresholds &t) {
    if (level < 1 || level > 100)
        return Notice::None;
    Armed &armed = armed_[identity.toLower()];
    if (charging) {
        armed = Armed();
        return Notice::None;
    }
    if (level > t.low)
        armed.low = true;
    if (level > t.critical)
        armed.critical = true;
    Notice notice = Notice::None;
    if (level <= t.critical && armed.critical) {
        notice = Notice::Critical;
        armed.critical = false;
        armed.low = false; // the low notice would come after the worse one
    } else if (level <= t.low && armed.low) {
        notice = Notice::Low;
        armed.low = false;
    }
    // Switched off, the policy still follows the levels, so switching on later does not
    // report a level the user has long been living with.
    return t.notices ? notice : Notice::None;
}

bool hasLevel(const BookDevice &device) {
    return device.battery >= 1 && device.battery <= 100;
}

bool isWireless(const BookDevice &device) {
    return device.connection == QLatin1String("wireless") ||
           device.connection == QLatin1String("bluetooth") || device.connection.isEmpty();
}

const BookDevice *lowestWireless(const QList<BookDevice> &devices) {
    const BookDevice *lowest = nullptr;
    for (const BookDevice &d : devices)
        if (hasLevel(d) && isWireless(d) && (!lowest || d.battery < lowest->battery))
            lowest = &d;
    return lowest;
}

QString toolTip(const QList<BookDevice> &devices) {
    QString text = QStringLiteral("Torvanix");
    for (const BookDevice &d : devices) {
        if (!hasLevel(d))
            continue;
        text += QStringLiteral("\n%1: %2 %").arg(d.model).arg(d.battery);
        if (d.charging)
            text += QStringLiteral(", charging");
    }
    return text;
}

QString menuText(const BookDevice &device) {
    return QStringLiteral("%1 \u2014 %2 %").arg(device.model).arg(device.battery);
}

QStringList iconNames(int level, bool charging, const Thresholds &t) {
    const int tens = qBound(0, (level + 5) / 10 * 10, 100);
    QStringList names;
    if (charging && tens == 100)
        names << QStringLiteral("battery-level-100-charged-symbolic");
    names << QStringLiteral("battery-level-%1%2-symbolic")
                 .arg(tens)
                 .arg(charging ? QStringLiteral("-charging") : QString());
    const QString state = level <= t.critical ? QStringLiteral("battery-caution")
                          : level <= t.low    ? QStringLiteral("battery-low")
                          : level < 80        ? QStringLiteral("battery-good")
                                              : QStringLiteral("battery-full");
    if (charging)
        names << state + QStringLiteral("-charging");
    names << state << QStringLiteral("battery");
    return names;
}

} // namespace torvanix::battery

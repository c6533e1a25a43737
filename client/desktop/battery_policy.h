#pragma once

#include "device_book.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What the battery levels of the devices make the program say: the notices at the low and the
// critical level, the tray's tooltip, menu texts and icon. Pure, so it is tested without a
// desktop.
namespace torvanix::battery {

struct Thresholds {
    bool notices = true;
    int low = 15;
    int critical = 5;
};

// The "battery" settings section: {"notices": bool, "low": n, "critical": n} with
// 1 <= critical < low <= 50; missing keys take the defaults, other keys are dropped.
bool normaliseSettings(QJsonObject &value, QString *why);
Thresholds thresholdsFrom(const QJsonObject &section);

enum class Notice { None, Low, Critical };

// One notice when a device's level falls to the low threshold and one at the critical one.
// Each is armed again once the device charges or its level rises above that threshold, so a
// level hovering below a threshold says nothing more. A device first seen already low gets
// the one notice of the lowest threshold it is under.
class NoticePolicy {
public:
    // A reading of a device's level (1..100; anything else is no reading and changes nothing).
    Notice reading(const QString &identity, int level, bool charging, const Thresholds &t);

private:
    struct Armed {
        bool low = true;
        bool critical = true;
    };
    // Kept after a device leaves: one that drops out of range and comes back at the same low
    // level has been told already.
    QHash<QString, Armed> armed_;
};

// A device whose level is known (the same rule as the page's battery figure).
bool hasLevel(const BookDevice &device);
// Connected without a cable, so its battery runs down. A device that answers a level but does
// not say how it is connected (the packet keyboard's power query) counts too: a level that
// never changes on the tray would be worse than one more read every few minutes.
bool isWireless(const BookDevice &device);
// The wireless device with the lowest level; null when none has a level.
const BookDevice *lowestWireless(const QList<BookDevice> &devices);

// "Torvanix", then one line per device with a level: "MODEL: 64 %" or "MODEL: 64 %, charging".
QString toolTip(const QList<BookDevice> &devices);
// The tray menu's entry of a device with a level: "MODEL — 64 %".
QString menuText(const BookDevice &device);
// Icon theme names for a level, the best first: the symbolic level icons in steps of ten,
// then the older named states.
QStringList iconNames(int level, bool charging, const Thresholds &t);

} // namespace torvanix::battery

#pragma once

#include "battery_policy.h"
#include "notifier.h"

#include <QObject>
#include <QSet>
#include <QTimer>

namespace torvanix {

class DesktopHub;

// Follows the battery levels of the devices: tells the book whether each one charges, reads
// the level of devices that answer it only to a power query, shows the low-battery notices,
// and reads the device list again now and then while a wireless device is there to drain.
class BatteryWatch : public QObject {
    Q_OBJECT
public:
    // Registers the "battery" settings section and hands the watch to the hub.
    static void start(DesktopHub &hub);

    explicit BatteryWatch(DesktopHub &hub, QObject *parent = nullptr);

    // Five minutes: levels move by a percent or so in that time, and each read is one device
    // listing (a short report per device). TORVANIX_BATTERY_POLL_MS overrides it (tests).
    static int pollInterval();
    // Whether a device with this record charges. The records carry no such flag: a device with
    // a battery that reports connection status 1 (its cable) and no Bluetooth charges until it
    // is full; anything else, or anything unknown, counts as not charging.
    static bool chargingOf(const BookDevice &device);
    bool polling() const { return poll_.isActive(); }

private:
    void seen(const BookDevice &device, const QStringList &fields);
    void armPoll();
    void poll();
    void readPower(const BookDevice &device);

    DesktopHub &hub_;
    Notifier notifier_;
    battery::NoticePolicy policy_;
    battery::Thresholds thresholds_;
    QTimer poll_;
    QSet<QString> powerReads_; // devices whose power query is on its way
};

} // namespace torvanix

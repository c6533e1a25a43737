#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

struct udev;
struct udev_monitor;
class QLibrary;
class QSocketNotifier;

namespace torvanix {

// The sysfs path of the USB device a notice belongs to (the device itself, one of its
// interfaces, or a node below an interface such as hidraw).
QString usbDeviceKey(const QString &syspath);

// The device an interface path of a device access library belongs to
// ("vid_258a&pid_0013"), so the interfaces of one device make one notice.
QString interfaceDeviceKey(const QString &interfacePath);

// One USB device produces a burst of kernel notices (the device, each interface, each hidraw
// node). The page wants one "devices changed" per device plugged in or removed, sent once
// the burst is over so the device's nodes exist when the page asks for the list.
class DeviceChangeCoalescer : public QObject {
    Q_OBJECT
public:
    explicit DeviceChangeCoalescer(int quietMs = 400, QObject *parent = nullptr);

    // A notice about the USB device at deviceKey (its sysfs path) with the action "add" or
    // "remove". Other actions are ignored.
    void notice(const QString &deviceKey, const QString &action);
    int pending() const { return timers_.size(); }

signals:
    void devicesChanged();

private:
    int quietMs_;
    QHash<QString, QTimer *> timers_;
};

// Watches udev for USB interface and hidraw arrivals and removals on the GUI thread's event
// loop; where udev is unavailable it stays silent. Devices that udev cannot see (the
// simulator's) are reported by the USB device access library itself when it offers
// dcWatchDevices.
class DeviceMonitor : public QObject {
    Q_OBJECT
public:
    explicit DeviceMonitor(QObject *parent = nullptr);
    ~DeviceMonitor() override;
    bool isActive() const { return monitor_ != nullptr; }
    bool isWatchingLibrary() const { return watchLibrary_ != nullptr; }

signals:
    void devicesChanged();

private:
    void readNotices();
    void watchLibrary();
    static void libraryNotice(void *context, int arrived, const uint16_t *path);

    DeviceChangeCoalescer coalescer_;
    struct udev *udev_ = nullptr;
    struct udev_monitor *monitor_ = nullptr;
    QSocketNotifier *notifier_ = nullptr;
    QLibrary *library_ = nullptr;
    int (*watchLibrary_)(void (*)(void *, int, const uint16_t *), void *) = nullptr;
};

} // namespace torvanix

#include "device_monitor.h"

#include "device/library_loader.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>

#ifdef TORVANIX_HAVE_UDEV
#include <libudev.h>
#endif

namespace torvanix {

QString usbDeviceKey(const QString &syspath) {
    // Parents of removed nodes can no longer be looked up in sysfs, so the USB device is
    // found from the path itself: the component before the first interface ("1-2:1.0").
    static const QRegularExpression iface(QStringLiteral("^\\d+-[\\d.]+:\\d+\\.\\d+$"));
    const QStringList parts = syspath.split(QLatin1Char('/'));
    for (int i = 1; i < parts.size(); ++i)
        if (iface.match(parts[i]).hasMatch())
            return parts.mid(0, i).join(QLatin1Char('/'));
    return syspath;
}

QString interfaceDeviceKey(const QString &interfacePath) {
    static const QRegularExpression ids(QStringLiteral("vid_[0-9a-f]{4}&pid_[0-9a-f]{4}"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = ids.match(interfacePath);
    return (m.hasMatch() ? m.captured() : interfacePath).toLower();
}

DeviceChangeCoalescer::DeviceChangeCoalescer(int quietMs, QObject *parent)
    : QObject(parent), quietMs_(quietMs) {}

void DeviceChangeCoalescer::notice(const QString &deviceKey, const QString &action) {
    if (action != QLatin1String("add") && action != QLatin1String("remove"))
        return;
    const QString key = action + QLatin1Char('|') + deviceKey;
    QTimer *timer = timers_.value(key);
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, key, timer] {
            timers_.remove(key);
            timer->deleteLater();
            emit devicesChanged();
        });
        timers_.insert(key, timer);
    }
    timer->start(quietMs_);
}

DeviceMonitor::DeviceMonitor(QObject *parent) : QObject(parent) {
    connect(&coalescer_, &DeviceChangeCoalescer::devicesChanged, this,
            &DeviceMonitor::devicesChanged);
    watchLibrary();
#ifdef TORVANIX_HAVE_UDEV
    udev_ = udev_new();
    if (!udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_)
        return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device");
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_interface");
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return;
    }
    const int fd = udev_monitor_get_fd(monitor_);
    if (fd < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return;
    }
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceMonitor::readNotices);
#endif
}

DeviceMonitor::~DeviceMonitor() {
    // Returns only when no notice runs any more, so none can reach a half-destroyed monitor.
    if (watchLibrary_)
        watchLibrary_(nullptr, nullptr);
    delete library_;
#ifdef TORVANIX_HAVE_UDEV
    delete notifier_;
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
#endif
}

void DeviceMonitor::readNotices() {
#ifdef TORVANIX_HAVE_UDEV
    while (struct udev_device *dev = udev_monitor_receive_device(monitor_)) {
        const char *action = udev_device_get_action(dev);
        const char *syspath = udev_device_get_syspath(dev);
        if (action && syspath)
            coalescer_.notice(usbDeviceKey(QString::fromLocal8Bit(syspath)),
                              QString::fromLatin1(action));
        udev_device_unref(dev);
    }
#endif
}

void DeviceMonitor::watchLibrary() {
    library_ = new QLibrary;
    if (!loadDeviceLibrary(*library_, QStringLiteral("UsbInterface")))
        return;
    auto watch = reinterpret_cast<decltype(watchLibrary_)>(library_->resolve("dcWatchDevices"));
    if (watch && watch(&DeviceMonitor::libraryNotice, this))
        watchLibrary_ = watch;
}

void DeviceMonitor::libraryNotice(void *context, int arrived, const uint16_t *path) {
    // Runs on the library's thread; the coalescer lives on the monitor's.
    auto *self = static_cast<DeviceMonitor *>(context);
    const QString key = interfaceDeviceKey(QString::fromUtf16(path));
    const QString action = arrived ? QStringLiteral("add") : QStringLiteral("remove");
    QMetaObject::invokeMethod(
        self, [self, key, action] { self->coalescer_.notice(key, action); }, Qt::QueuedConnection);
}

} // namespace torvanix

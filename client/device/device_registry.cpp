#include "device_registry.h"

namespace torvanix {

void PublishedDevices::publish(const DeviceRecordMap &records) {
    QWriteLocker locker(&lock_);
    records_ = records;
}

DeviceRecordMap PublishedDevices::snapshot() const {
    QReadLocker locker(&lock_);
    return records_;
}

QJsonObject PublishedDevices::lookup(const QString &identity) const {
    QReadLocker locker(&lock_);
    auto exact = records_.constFind(identity);
    if (exact != records_.constEnd())
        return exact.value();
    for (auto it = records_.constBegin(); it != records_.constEnd(); ++it) {
        if (it.key().compare(identity, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return {};
}

bool PublishedDevices::contains(const QString &identity) const {
    return !lookup(identity).isEmpty();
}

PublishedDevices &PublishedDevices::instance() {
    static PublishedDevices devices;
    return devices;
}

} // namespace torvanix

#pragma once

#include <QJsonObject>
#include <QMap>
#include <QReadWriteLock>
#include <QString>

namespace torvanix {

// DeviceIdentity -> device record, ordered by identity (UTF-16 code units).
using DeviceRecordMap = QMap<QString, QJsonObject>;

// The copy of the last enumeration that device operations and the translator dispatch read.
// Replaced as a whole by GetDevicesList on the command thread while pool threads read it, so
// every access takes the lock and readers get their own copy.
class PublishedDevices {
public:
    void publish(const DeviceRecordMap &records);
    DeviceRecordMap snapshot() const;

    // Identities compare without regard to case: the page writes some identities in lower
    // case while the dispatcher upper-cases them, and both must reach the same device.
    // An unknown identity gives an empty record.
    QJsonObject lookup(const QString &identity) const;
    bool contains(const QString &identity) const;

    // The one copy the program uses.
    static PublishedDevices &instance();

private:
    mutable QReadWriteLock lock_;
    DeviceRecordMap records_;
};

} // namespace torvanix

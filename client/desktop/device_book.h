#pragma once

#include "device/device_registry.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace torvanix {

// What the core knows of one device beyond its record: what it was last told (profile, DPI)
// and what it answered of its battery.
struct BookDevice {
    QString identity;   // DeviceIdentity, the record map's key
    quint32 number = 0; // given on first sight (1, 2, ...), kept while the core runs
    QJsonObject record; // as GetDevicesList answers it
    QString model;      // the model template's `model`, else the record's Version
    QString connection; // "wired", "wireless", "bluetooth" or "" (unknown)
    int battery = -1;   // percent 1..100; -1: no battery or none reported
    bool charging = false;
    int profile = 0; // 0: unknown
    int profileCount = 1;
    int dpi = 0; // 0: unknown
    bool hasLighting = false;
    bool hasProfileSlot = false; // profile switches are written to the device

    bool present() const { return !record.isEmpty(); }
};

// The devices the core has seen this run, kept from the device list reads and from the
// documents that reached them. Lives on the GUI thread; its signals are emitted there.
class DeviceBook : public QObject {
    Q_OBJECT
public:
    explicit DeviceBook(QObject *parent = nullptr);

    // Present devices, by number.
    QList<BookDevice> devices() const;
    // Identities compare without regard to case. Only present devices.
    std::optional<BookDevice> device(const QString &identity) const;
    std::optional<BookDevice> deviceByNumber(quint32 number) const;

    // A device list read: devices that appeared, left or changed.
    void updateRecords(const DeviceRecordMap &records);
    // A level a device answered outside its record (a power read).
    void setBattery(const QString &identity, int level, bool charging);
    // A document that reached its device: a profile switch, a DPI table, notebook lighting.
    void noteApplied(const QString &identity, const QString &document);
    // What to write again when the device may have forgotten it (after suspend, on its
    // return): the profile switch of a profile set this run, then the last lighting of the
    // notebook zones. Empty when nothing needs putting back.
    QStringList restoreDocuments(const QString &identity) const;

    // The profile switch document the page sends: the template's UsbId key and its CurProfile
    // key with `profile` and action "set". Empty when the device has no profile slot, no
    // template or the profile is out of range.
    static QString profileSwitchDocument(const QString &version, int profile);
    // Identities of USB vendor and product digits take no profile byte.
    static bool writesProfileSlot(const QString &version);
    // Battery and connection as the page reads them from a record.
    static int batteryOf(const QJsonObject &record);
    static QString connectionOf(const QJsonObject &record);

signals:
    void deviceAdded(const BookDevice &device);
    void deviceRemoved(const BookDevice &device);
    // Names among "record", "battery", "charging", "profile", "dpi", "connection".
    void deviceChanged(const BookDevice &device, const QStringList &fields);
    // A device list read was taken in (after the signals of what it changed).
    void recordsRead();

private:
    struct Entry {
        BookDevice device;
        QMap<QString, QString> zoneLighting; // zone ("light", "lightLeft") -> its last document
        bool profileSetThisRun = false;
    };
    Entry *find(const QString &identity);
    const Entry *find(const QString &identity) const;
    void fillFromTemplate(BookDevice &device);

    QList<Entry> entries_; // every device seen, present or not, by number
    quint32 nextNumber_ = 1;
    QHash<QString, bool> notebookFlag_; // upper-case identity -> its template has a left zone
};

} // namespace torvanix

Q_DECLARE_METATYPE(torvanix::BookDevice)

#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace torvanix {

class DesktopHub;
class RestoreMemory;
struct BookDevice;

// Tells when the session comes back from suspend: logind announces "PrepareForSleep" on the
// system bus, true before the machine sleeps and false once it runs again. Without a system
// bus (a container, a test) it says so once in the log and stays silent.
class ResumeWatch : public QObject {
    Q_OBJECT
public:
    explicit ResumeWatch(QObject *parent = nullptr);

    // Whether the signal is subscribed (a system bus was reached).
    bool watching() const { return watching_; }

signals:
    void suspending();
    void resumed();

private slots:
    void onPrepareForSleep(bool start);

private:
    bool watching_ = false;
};

// Puts back what a device forgets while it is without power: after the session resumes, when
// a device seen earlier in this run comes back, and at logon from what an earlier boot left
// in the restore memory. A device's own default profile is what it wakes up in, so only
// another profile is switched to again; a notebook's zones come back without their lighting,
// so theirs is always written.
class ResumeRestore : public QObject {
    Q_OBJECT
public:
    // memory may be null (nothing is kept for the next logon). settleMs: the pause after a
    // resume before the device list is read again, for the USB devices to come back.
    ResumeRestore(DesktopHub &hub, std::unique_ptr<RestoreMemory> memory, int settleMs,
                  QObject *parent = nullptr);
    ~ResumeRestore() override;

    // The documents the device gets back now (empty: nothing to put back).
    QStringList forgotten(const QString &identity) const;

public slots:
    void onSuspending();
    void onResumed();

private:
    void onDeviceAdded(const BookDevice &device);
    void onDocumentApplied(const QString &identity, const QString &document, const QString &origin);
    void restoreAll();
    void put(const QString &identity, const QStringList &documents, const QString &when);
    QStringList lightingOf(const QString &identity) const;
    void saveMemory();

    DesktopHub &hub_;
    std::unique_ptr<RestoreMemory> memory_;
    QSet<QString> seen_;    // upper-case identities seen in this run
    QSet<QString> putBack_; // given back since the last resume (by their return)
    QTimer settle_;         // after a resume, until the device list is read again
    QTimer readWait_;       // the read asked for after the settle, at most this long
    bool awaitingRead_ = false;
    QTimer saveSoon_; // a burst of lighting changes makes one write
};

// The piece the hub adopts: the watch on logind and the restore behind it.
QObject *startResumeRestore(DesktopHub &hub);

} // namespace torvanix

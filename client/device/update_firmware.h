#pragma once

#include "devices_handler.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QString>
#include <functional>

class QThread;

namespace torvanix {

class EventSink;

// A firmware image file as the boot loader takes it: the whole file in a 67,200-byte area,
// a payload from offset 264 whose length and check value sit in a trailer near the end.
struct FirmwareImage {
    static constexpr int AreaSize = 67200;
    static constexpr int PayloadOffset = 264;
    static constexpr int LengthOffset = 66143;
    static constexpr int CheckOffset = 66151;
    static constexpr int TrailerEnd = CheckOffset + 4; // a file must hold the whole trailer
    static constexpr quint32 FormatMark = 4118;
    static constexpr int ChunkSize = 2000;

    QByteArray area; // AreaSize bytes, zero past the end of the file
    quint64 payloadLength = 0;
    quint32 check = 0;

    // Checks the format mark, the zero word after it, the file size (the whole trailer, at
    // most the area) and the payload length (not zero, ending before the trailer). False for
    // anything else: a truncated file must never pass as an empty image.
    static bool parse(const QByteArray &file, FirmwareImage *image);
    // Reads the file without blocking on anything that is not a plain file. The file stays:
    // it is needed again when the run has to be retried.
    static bool read(const QString &path, FirmwareImage *image);
    // Removes the image file once it served: only a plain file that still parses as an image
    // and lies in `downloadFolder` (where the page's downloads land). Anything else the page
    // named is not ours to delete.
    static bool removeIfDownloaded(const QString &path, const QString &downloadFolder);
};

// Devices left waiting in their boot loader by a run that failed after the switch. They are no
// longer listed by the library under their own identity, so the enumeration lists them again
// with the record field "BootLoader": "1" while their boot loader answers, and a new run for
// such an identity goes straight to the boot-loader steps. The table is kept in a file (when
// one is set) so that a restart of the program still knows the device.
class BootLoaderDevices {
public:
    static BootLoaderDevices &instance();

    // The file that keeps the table across runs (default: "torvanix/firmware-boot-loader.json"
    // in the user's data folder); empty keeps it in memory only. Loads what the file holds.
    void setStoreFile(const QString &path);

    // `bootPath`: where this device's boot loader answered; empty when that is not known.
    void add(const QString &identity, const QJsonObject &record, const QString &bootPath = {});
    void remove(const QString &identity);
    // The waiting device's record (with "BootLoader": "1"), empty when none waits.
    QJsonObject lookup(const QString &identity) const;
    // Where the waiting device's boot loader answered; empty when not known.
    QString bootPath(const QString &identity) const;
    // Another waiting device than `identity`, or a boot path remembered for one equal to
    // `bootPath` (when that is not empty).
    bool othersWaiting(const QString &identity, const QString &bootPath = {}) const;
    bool isEmpty() const;

    // After an enumeration: a waiting device listed again under its identity runs normally
    // (forgotten); one not listed is added with its waiting record while `bootLoaderPresent`
    // says its boot loader answers.
    void reconcile(QMap<QString, QJsonObject> &listed,
                   const std::function<bool()> &bootLoaderPresent);

private:
    BootLoaderDevices();
    void ensureLoaded() const;
    void save() const;

    mutable QMutex mutex_;
    mutable bool loaded_ = false;
    QString storeFile_;
    mutable QMap<QString, QJsonObject> waiting_;
    mutable QMap<QString, QString> bootPaths_; // same keys as waiting_; kept out of the records
};

// The one firmware update slot: a run holds it from before the device is touched until its
// end. While it is held the program must not quit, or the device is left half written.
class FirmwareRunSlot {
public:
    FirmwareRunSlot();  // claims the slot when it is free
    ~FirmwareRunSlot(); // gives it back when it was claimed
    FirmwareRunSlot(const FirmwareRunSlot &) = delete;
    FirmwareRunSlot &operator=(const FirmwareRunSlot &) = delete;
    bool owned() const { return owned_; }
    // True while some run holds the slot.
    static bool taken();

private:
    bool owned_ = false;
};

// Writes a firmware image to a listed device through its boot loader, on a thread of its own,
// reporting "20", "40", "60", "70", "80", "100" as RefreshUpdateState. A run that stops sends
// "-1" once, with the step that failed as a second argument (see client/device/README.md).
// One update runs at a time: the boot loader answers under one fixed hardware id, so a second
// run while one is going is refused with "-1". For the same reason the boot loader found after
// the switch is taken only when it is this device's: one that was not there before the switch
// (or the one remembered for a device already waiting). Every device's boot loader answers to
// that id and the library names only one of them, so when another device waits in its boot
// loader, this one's may not be told apart: the run then stops with "bootloader" before any
// erase. "100" comes only once the device is listed again.
class update_firmware : public devices_handler {
    Q_OBJECT
public:
    // Loads the USB device access library for this run. Moves itself to `thread`; starting
    // the thread runs UpdateFirmware().
    update_firmware(QThread *thread, const QString &identity, const QString &filePath,
                    EventSink &events);
    // The same over a given library table (tests, other back ends).
    update_firmware(UsbInterfaceTable table, QThread *thread, const QString &identity,
                    const QString &filePath, EventSink &events);

    static constexpr const char *BootLoaderId = "Vid_258a&Pid_ff12";
    // Seconds a restarted device has to be listed again before the run counts as failed.
    static constexpr int RelistAttempts = 15;

    // Starts a run on a new thread that deletes itself (and the worker) when done;
    // `finished` (may be empty) is called on that thread at the very end.
    static void start(const QString &identity, const QString &filePath, EventSink &events,
                      std::function<void()> finished = {}, const QString &downloadFolder = {});

    // Where the page's downloads land; an image from there is removed after a successful run.
    void setDownloadFolder(const QString &folder) { downloadFolder_ = folder; }

    // The second argument of "-1": the step that failed.
    enum class Step { Busy, Image, Device, BootLoader, Erase, Write, Check, Commit, Restart };
    static const char *stepName(Step step);

public slots:
    void UpdateFirmware();

signals:
    void done();

private:
    void attach(QThread *thread);
    bool run(Step *failed);
    bool writePayload(const std::vector<tvx_char16> &bootPath, const FirmwareImage &image);
    // The path the boot loader search names, empty when none answers.
    QString findBootLoader() const;
    // Waits for the device to be listed as itself again (its path or its identity).
    bool listedAgain(const QJsonObject &record);
    void report(const char *text);

    QString identity_;
    QString filePath_;
    QString downloadFolder_;
    EventSink &events_;
};

} // namespace torvanix

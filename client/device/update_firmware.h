#pragma once

#include "devices_handler.h"

#include <QByteArray>
#include <QString>

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
    static constexpr quint32 FormatMark = 4118;
    static constexpr int ChunkSize = 2000;

    QByteArray area; // AreaSize bytes, zero past the end of the file
    quint64 payloadLength = 0;
    quint32 check = 0;

    // Checks the format mark, the zero word after it, the file size against the area and the
    // payload length against the trailer's place. False for anything else.
    static bool parse(const QByteArray &file, FirmwareImage *image);
    // Reads and then deletes the file (also when its content is refused). False when it is
    // missing, unreadable or refused; a file that cannot be opened, and anything that is not
    // a plain file, is left alone.
    static bool readAndRemove(const QString &path, FirmwareImage *image);
};

// Writes a firmware image to a listed device through its boot loader, on a thread of its own,
// reporting "20", "40", "60", "70", "80", "100" (or "-1" once when it stops) as
// RefreshUpdateState. One update runs at a time: the boot loader answers under one fixed
// hardware id, so a second run while one is going is refused with "-1".
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

    // Starts a run on a new thread that deletes itself (and the worker) when done;
    // `finished` (may be empty) is called on that thread at the very end.
    static void start(const QString &identity, const QString &filePath, EventSink &events,
                      std::function<void()> finished = {});

public slots:
    void UpdateFirmware();

signals:
    void done();

private:
    void attach(QThread *thread);
    bool run();
    bool writePayload(const std::vector<tvx_char16> &bootPath, const FirmwareImage &image);
    void report(const char *text);

    QString identity_;
    QString filePath_;
    EventSink &events_;
};

} // namespace torvanix

#pragma once

#include "command_dispatcher.h"
#include "device/device_registry.h"
#include "performance_figures.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace torvanix {

class EventSink;
class MusicPlayer;
class ScreenImages;
class WindowActions;

// The input filter's switch that forwards mouse buttons to the screen keyboard. Only the
// edition that runs the input filter hands one in.
class MouseButtonForwarding {
public:
    virtual ~MouseButtonForwarding() = default;
    virtual bool forwardMouseButtons() const = 0;
    // May refuse to switch on (the filter cannot run); forwardMouseButtons() tells.
    virtual void setForwardMouseButtons(bool on) = 0;
    // Why forwarding cannot be switched on; empty while it can.
    virtual QString unavailableReason() const { return QString(); }
};

// What the page commands use from the rest of the program. Empty members fall back to the
// defaults named beside them.
struct PageServices {
    // The program folder, where the helper programs are. Default: the folder of the running
    // program.
    QString programDir;
    // Where "screen/" and "update/" are written: the program folder when it is writable,
    // otherwise the user's data folder (data_folders::writableFolder). Default: that rule.
    QString dataDir;
    // Where file dialogs start when no folder was remembered. Default: the user's desktop.
    QString desktopDir;

    // The device list (blocking, about a second); called on a worker thread. Default: none
    // (an empty list).
    std::function<DeviceRecordMap()> enumerateDevices;
    // The same list without the settle pause, for the list the commands hold once
    // startDeviceList() ran; called on that list's own thread. Default: none (the held list
    // is not available and GetDevicesList enumerates on every query).
    std::function<DeviceRecordMap()> listDevices;
    // Told the result of every read of the held list, on that list's thread. Default: none.
    std::function<void(const DeviceRecordMap &)> devicesRead;
    // The translator's configuration entry and its macro entry; both return at once.
    std::function<void(const QString &document)> writeDevice;
    // `done` learns whether the whole table reached the device; it may be called on any thread.
    std::function<void(const QString &ver, const QString &macroArr, std::function<void(bool)> done)>
        writeMacro;

    // Picture work (client/screen). Null: picture commands fail or do nothing.
    ScreenImages *screenImages = nullptr;
    // The music player (client/media), used on the thread that registered the commands.
    // Null: the music commands answer their texts and change nothing.
    MusicPlayer *audio = nullptr;
    // Null in the edition without the input filter: GetMonitorStatus answers "off",
    // SwitchMonitor fails and GetMonitorInfo says that the edition has no filter.
    MouseButtonForwarding *inputFilter = nullptr;

    // Starts a helper program without waiting (the updater). Default: a detached process.
    std::function<bool(const QString &program, const QStringList &arguments)> startDetached;
    // Runs a helper program to its end (the picture converter); its exit code, -1 when it did
    // not run. Default: a child process with its output discarded.
    std::function<int(const QString &program, const QStringList &arguments,
                      const QString &workingDir)>
        runProcess;
    // Starts a firmware run that reports through the event sink and calls `finished` at its
    // end. Default: update_firmware on a thread of its own.
    std::function<void(const QString &identity, const QString &filePath, EventSink &events,
                       std::function<void()> finished)>
        startFirmwareUpdate;
    // Default: the real clock, memory and time sources.
    std::shared_ptr<PerformanceFigures> performance;
    // The key client update packages must be signed with. Default: the release key the
    // program was built with (tests sign with keys of their own).
    QByteArray updatePublicKey;
};

// The state the page commands keep across queries, and the handle to wait for their work.
class PageCommands {
public:
    virtual ~PageCommands() = default;

    // Waits until every command queued so far has run and the work they started (firmware
    // runs, picture conversions) has ended. False on time-out (-1 waits for ever). Must not be
    // called on a thread whose event loop the commands need (the registering thread) unless
    // that loop keeps running; waitForIdleProcessingEvents does that.
    virtual bool waitForIdle(int timeoutMs = -1) = 0;
    // The same, keeping the calling thread's event loop running (dialogs, quit).
    virtual bool waitForIdleProcessingEvents(int timeoutMs = -1) = 0;

    // Ends the commands' service before the objects they use go away: later queries are
    // dropped, queued commands are skipped and a waiting dialog or player call is cancelled.
    // Work already running (a firmware run, a conversion) finishes on its own. The window
    // calls it before it goes away.
    virtual void shutdown() = 0;

    // Starts holding the device list (services.listDevices): it is read now, read again on
    // every noticeDevicesChanged(), and GetDevicesList answers from it. Call once at start.
    virtual void startDeviceList() = 0;
    // A device arrived or left. With the held list the page hears DevicesChanged once a read
    // has found the list changed; without it, at once.
    virtual void noticeDevicesChanged() = 0;
    // The held list is read again at once, with no settle read after it (battery levels, the
    // return from suspend); the page hears DevicesChanged when it changed.
    virtual void readDevicesSoon() = 0;

    // Runs `write` on the command lane as NoticeModify runs its document (after a picture
    // conversion the page started), for senders other than the page. False once shut down.
    virtual bool postDocumentWrite(std::function<void()> write) = 0;

    virtual bool screenDeviceFound() const = 0;
    virtual QString lastDirectory() const = 0;
    virtual DeviceRecordMap deviceRecords() const = 0;
    virtual QString programDir() const = 0;
    virtual QString dataDir() const = 0;
};

// Registers every page command except the window, URL, pop-up and first-start commands.
// Must be called on the GUI thread (dialogs, the desktop's handlers, the quit and the music
// player run there). Commands run one after the other, in the page's order, on a worker
// thread, and answer from there; the GUI thread only parses and queues.
std::shared_ptr<PageCommands> registerPageCommands(CommandDispatcher &dispatcher,
                                                   WindowActions &actions, EventSink &events,
                                                   PageServices services = {});

// Fixed names and texts of the commands.
namespace page {
inline const char *const ScreenKeyboardVersion = "HJE-XUB-V1.5.0";
inline const char *const UpdaterProgram = "torvanix-updater";
inline const char *const ConverterProgram = "torvanix-imgconv";
inline const char *const ConverterParameters =
    "name=temp_abc&img=screen/%1&format=bin_565_swap&cf=true_color&outdir=screen/";

// A name the picture commands accept: one plain file name, no separators, no "..", no
// characters that would end the converter's parameter fields.
bool isPlainFileName(const QString &name);
} // namespace page

} // namespace torvanix

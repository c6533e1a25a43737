#pragma once

#include "input_mapping.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <memory>

class QThread;

namespace torvanix {

class DeviceOperations;
class EventSink;

struct InputFilterOptions {
    // Where the kernel's event devices appear, and the node that makes virtual devices.
    QString inputDir = QStringLiteral("/dev/input");
    QString uinputPath = QStringLiteral("/dev/uinput");
    // Follow devices that come and go (udev monitor). Off only where no netlink exists.
    bool followHotplug = true;
    // Names of the virtual twins this filter makes; devices so named are never watched.
    QString twinPrefix = QStringLiteral("Torvanix forwarded ");
};

// Watches every keyboard and mouse of the machine on a thread of its own.
// - A released F1, F2, F3, F4, F11, F12 or Caps Lock (as F12) on an ordinary keyboard sends the
//   page event "HotKeyMsg" with the key name; the keyboard is never taken from the desktop.
// - A released middle button on an ordinary mouse sends "F11".
// - While mouse buttons are forwarded, every ordinary mouse is taken exclusively and given a
//   virtual twin that re-emits everything it sends except the strokes of the five forwarded
//   buttons; those become notification blocks for the keyboard with a screen instead, handed
//   to the device library by a thread of their own so that a slow library call never holds
//   up the movement. The middle button is the exception: it keeps reaching the desktop
//   (press and release), so the F11 it stands for and the click both stay whole, and the
//   keyboard gets both its blocks.
// - The system's own devices (input::isSystemOwnDevice) are left alone entirely.
// Without read access to the event devices or write access to the uinput node the filter
// cannot work: start() returns at once, says why once in the log, and the reason stays
// readable through unavailableReason().
class DEVICE_FILTER : public QObject {
    Q_OBJECT
public:
    enum class State { Created, Running, Unavailable, Stopped };

    DEVICE_FILTER(EventSink &events, DeviceOperations &devices, QString screenIdentity,
                  InputFilterOptions options = {}, QObject *parent = nullptr);
    // Moves the filter to `thread` and runs start() when it starts.
    DEVICE_FILTER(QThread *thread, EventSink &events, DeviceOperations &devices,
                  QString screenIdentity, InputFilterOptions options = {});
    ~DEVICE_FILTER() override;

    bool forwardMouseButtons() const { return forward_.load(); }
    // Callable from any thread but the filter's. Turning forwarding on while the filter does
    // not run is refused (the flag stays off). Returns once the grabs follow the new setting,
    // so a mouse is free again when switching off has returned.
    void setForwardMouseButtons(bool on);

    State state() const;
    // Why the filter is not running; empty while it runs.
    QString unavailableReason() const;
    // Makes start() return; callable from any thread, before or during start().
    void stop();

    // Where hot keys go.
    EventSink &eventSink() const { return events_; }
    // Event nodes watched right now, and the nodes of the virtual twins (diagnostics, tests).
    QStringList watchedNodes() const;
    QStringList twinNodes() const;

public slots:
    // The filter loop; returns when stop() is called or the filter cannot run.
    void start();

signals:
    // After start() returned.
    void stopped();

private:
    struct Loop;
    void finish(State state, const QString &reason);

    EventSink &events_;
    DeviceOperations &devices_;
    const QString screenIdentity_;
    const InputFilterOptions options_;

    std::atomic<bool> forward_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> wakeFd_{-1};

    mutable QMutex mutex_;
    QWaitCondition changed_;
    State state_ = State::Created;
    QString reason_;
    quint64 requested_ = 0;
    quint64 applied_ = 0;
    QStringList watched_;
    QStringList twins_;
};

} // namespace torvanix

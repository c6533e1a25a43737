#pragma once

#include "dispatch/command_dispatcher.h"

#include <QString>
#include <QThread>

#include <memory>

namespace torvanix {

class DEVICE_FILTER;
class DeviceFunctions;
class EventSink;
class PageCommands;
class WindowActions;
class PageCommandsObjects;

// The page commands beyond the window's own (devices, configuration documents, files,
// updates, screen pictures, music) with the objects they work on, and the input filter of the
// edition that runs it. The core holds one for the window process; a window that runs its
// commands itself (tests) holds its own.
class CommandHost {
public:
    CommandHost(CommandDispatcher &dispatcher, WindowActions &actions, EventSink &events,
                const QString &brand);
    ~CommandHost();

    PageCommands &commands();
    // A device arrived or left: the held device list is read again, and the page hears
    // DevicesChanged when it changed.
    void noticeDevicesChanged();
    // Null unless the edition runs the input filter.
    DEVICE_FILTER *inputFilter() const { return inputFilter_; }
    // No command runs and no work they started (firmware run, update, conversion, a
    // configuration write) is left.
    bool idle();

private:
    void startInputFilter(EventSink &events);
    void stopInputFilter();

    QString brand_;
    QString screenKeyboardVersion_;
    std::unique_ptr<PageCommandsObjects> objects_;
    std::unique_ptr<DeviceFunctions> filterDevices_;
    QThread *filterThread_ = nullptr;
    DEVICE_FILTER *inputFilter_ = nullptr;
};

} // namespace torvanix

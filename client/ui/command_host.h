#pragma once

#include "device/device_registry.h"
#include "dispatch/command_dispatcher.h"
#include "translate/device_data_handler.h"

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
    // What became of one configuration document; `origin` says who sent it ("page" for the
    // page's own). Called on a translation thread.
    using DocumentDone =
        std::function<void(const QString &identity, const QString &document, const QString &origin,
                           const device_data_handler::Outcome &outcome)>;
    // Told of every document's outcome, the page's included. Set once, before documents flow.
    void setDocumentListener(DocumentDone listener);
    // A document through the page's lane and translator, as NoticeModify sends it; `done` (may
    // be empty) learns its outcome. False when the commands have ended (done is not called).
    bool apply(const QString &document, const QString &origin, DocumentDone done);

    // Told the result of every read of the held device list (on the list's thread).
    void setDevicesListener(std::function<void(const DeviceRecordMap &)> listener);
    // A read of the held list at once, without the settle pause.
    void readDevicesSoon();

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

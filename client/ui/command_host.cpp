// The page commands beyond the window's own: devices, configuration documents, files,
// updates, screen pictures and music, with the objects they work on.
#include "command_host.h"

#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/input_filter.h"
#include "dispatch/page_commands.h"
#include "screen/screen_pictures.h"
#include "translate/device_data_handler.h"

#include "dispatch/music_module.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>

namespace torvanix {

// The page's switch of mouse-button forwarding, on the input filter.
class FilterSwitch : public MouseButtonForwarding {
public:
    explicit FilterSwitch(const CommandHost &host) : host_(host) {}
    bool forwardMouseButtons() const override {
        const DEVICE_FILTER *filter = host_.inputFilter();
        return filter && filter->forwardMouseButtons();
    }
    void setForwardMouseButtons(bool on) override {
        if (DEVICE_FILTER *filter = host_.inputFilter())
            filter->setForwardMouseButtons(on);
    }
    QString unavailableReason() const override {
        const DEVICE_FILTER *filter = host_.inputFilter();
        if (!filter)
            return QStringLiteral("the input filter has not started");
        if (filter->state() == DEVICE_FILTER::State::Created)
            return QStringLiteral("the input filter is starting");
        return filter->unavailableReason();
    }

private:
    const CommandHost &host_;
};

class PageCommandsObjects {
public:
    PageCommandsObjects(CommandHost &host, CommandDispatcher &dispatcher, WindowActions &actions,
                        EventSink &events, bool withFilter) {
        // The translator and its device operations live on a thread of their own; every
        // translation then runs on the thread pool.
        translator_ = new device_data_handler(translatorDevices_, events);
        for (const char *table : {":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0"})
            translator_->loadDriverTemplate(QString::fromLatin1(table));
        translatorDevices_.moveToThread(&translatorThread_);
        translator_->moveToThread(&translatorThread_);
        QObject::connect(&translatorThread_, &QThread::finished, translator_,
                         &QObject::deleteLater);
        translatorThread_.setObjectName(QStringLiteral("translator"));
        translatorThread_.start();

        PageServices services;
        std::shared_ptr<Listener> listener = listener_;
        services.enumerateDevices = [this] { return deviceList_.enumerateDevices(); };
        services.listDevices = [this] { return deviceList_.listDevices(); };
        services.devicesRead = [listener](const DeviceRecordMap &records) {
            std::function<void(const DeviceRecordMap &)> fn;
            {
                QMutexLocker lock(&listener->mutex);
                fn = listener->devices;
            }
            if (fn)
                fn(records);
        };
        device_data_handler *translator = translator_;
        services.writeDevice = [translator, listener](const QString &document) {
            QMetaObject::invokeMethod(
                translator,
                [translator, document, listener] {
                    translator->writeDevice(document, report(listener, QStringLiteral("page"), {}));
                },
                Qt::QueuedConnection);
        };
        services.writeMacro = [translator](const QString &ver, const QString &macroArr,
                                           std::function<void(bool)> done) {
            QMetaObject::invokeMethod(
                translator,
                [translator, ver, macroArr, done] {
                    translator->noticeMacoModify(ver, macroArr, done);
                },
                Qt::QueuedConnection);
        };
        services.screenImages = &pictures_;
        player_ = std::make_unique<MusicModule>(
            events, MusicModule::defaultPath(QCoreApplication::applicationDirPath()));
        services.audio = player_.get();
        // Only the edition with the input filter has a switch for it.
        if (withFilter) {
            filterSwitch_ = std::make_unique<FilterSwitch>(host);
            services.inputFilter = filterSwitch_.get();
        }
        commands_ = registerPageCommands(dispatcher, actions, events, services);
        commands_->startDeviceList();
    }

    void noticeDevicesChanged() { commands_->noticeDevicesChanged(); }

    ~PageCommandsObjects() {
        commands_->shutdown();
        commands_->waitForIdleProcessingEvents(5000);
        if (translator_)
            translator_->waitForDone(5000);
        // Back to this thread before its own thread ends, so it is destroyed where it lives.
        QThread *here = QThread::currentThread();
        QMetaObject::invokeMethod(
            &translatorDevices_, [this, here] { translatorDevices_.moveToThread(here); },
            Qt::BlockingQueuedConnection);
        translatorThread_.quit();
        translatorThread_.wait();
    }

    PageCommands &commands() { return *commands_; }

    bool apply(const QString &document, const QString &origin, CommandHost::DocumentDone done) {
        device_data_handler *translator = translator_;
        std::shared_ptr<Listener> listener = listener_;
        return commands_->postDocumentWrite([translator, listener, document, origin, done] {
            QMetaObject::invokeMethod(
                translator,
                [translator, listener, document, origin, done] {
                    translator->writeDevice(document, report(listener, origin, done));
                },
                Qt::QueuedConnection);
        });
    }

    void setListener(CommandHost::DocumentDone fn) {
        QMutexLocker lock(&listener_->mutex);
        listener_->fn = std::move(fn);
    }
    void setDevicesListener(std::function<void(const DeviceRecordMap &)> fn) {
        QMutexLocker lock(&listener_->mutex);
        listener_->devices = std::move(fn);
    }
    // No configuration write (a picture sent to the screen, a macro table) is queued or runs.
    bool translatorIdle() { return !translator_ || translator_->waitForDone(0); }

private:
    struct Listener {
        QMutex mutex;
        CommandHost::DocumentDone fn;
        std::function<void(const DeviceRecordMap &)> devices;
    };
    // The translator's answer for one document, to the listener and then to its sender.
    static device_data_handler::Done report(std::shared_ptr<Listener> listener, QString origin,
                                            CommandHost::DocumentDone done) {
        return [listener, origin, done](const QString &identity, const QString &document,
                                        const device_data_handler::Outcome &outcome) {
            CommandHost::DocumentDone fn;
            {
                QMutexLocker lock(&listener->mutex);
                fn = listener->fn;
            }
            if (fn)
                fn(identity, document, origin, outcome);
            if (done)
                done(identity, document, origin, outcome);
        };
    }

    std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
    DeviceFunctions deviceList_;
    DeviceFunctions translatorDevices_;
    QThread translatorThread_;
    device_data_handler *translator_ = nullptr;
    ScreenPictures pictures_;
    std::unique_ptr<MusicModule> player_;
    std::unique_ptr<FilterSwitch> filterSwitch_;
    std::shared_ptr<PageCommands> commands_;
};

CommandHost::CommandHost(CommandDispatcher &dispatcher, WindowActions &actions, EventSink &events,
                         const QString &brand)
    : brand_(brand), screenKeyboardVersion_(QString::fromLatin1(page::ScreenKeyboardVersion)) {
    const bool withFilter = brand_ == QLatin1String("Zemlox");
    objects_ =
        std::make_unique<PageCommandsObjects>(*this, dispatcher, actions, events, withFilter);
    if (withFilter)
        startInputFilter(events);
}

CommandHost::~CommandHost() {
    // The commands may still switch the filter; they end first.
    objects_.reset();
    stopInputFilter();
}

PageCommands &CommandHost::commands() {
    return objects_->commands();
}

void CommandHost::noticeDevicesChanged() {
    objects_->noticeDevicesChanged();
}

void CommandHost::setDocumentListener(DocumentDone listener) {
    objects_->setListener(std::move(listener));
}

void CommandHost::setDevicesListener(std::function<void(const DeviceRecordMap &)> listener) {
    objects_->setDevicesListener(std::move(listener));
}

void CommandHost::readDevicesSoon() {
    objects_->commands().readDevicesSoon();
}

bool CommandHost::apply(const QString &document, const QString &origin, DocumentDone done) {
    return objects_->apply(document, origin, std::move(done));
}

bool CommandHost::idle() {
    return objects_->commands().waitForIdle(0) && objects_->translatorIdle();
}

void CommandHost::startInputFilter(EventSink &events) {
    stopInputFilter();
    if (!filterDevices_)
        filterDevices_ = std::make_unique<DeviceFunctions>();
    InputFilterOptions options;
    options.twinPrefix = brand_ + QStringLiteral(" forwarded ");
    // Other device folders for tests and unusual systems.
    if (qEnvironmentVariableIsSet("TORVANIX_INPUT_DIR"))
        options.inputDir = qEnvironmentVariable("TORVANIX_INPUT_DIR");
    if (qEnvironmentVariableIsSet("TORVANIX_UINPUT"))
        options.uinputPath = qEnvironmentVariable("TORVANIX_UINPUT");
    filterThread_ = new QThread;
    filterThread_->setObjectName(QStringLiteral("input filter"));
    inputFilter_ =
        new DEVICE_FILTER(filterThread_, events, *filterDevices_, screenKeyboardVersion_, options);
    // A filter that cannot run ends its thread with it.
    QObject::connect(inputFilter_, &DEVICE_FILTER::stopped, filterThread_, &QThread::quit);
    filterThread_->start();
}

void CommandHost::stopInputFilter() {
    if (!inputFilter_)
        return;
    inputFilter_->stop();
    filterThread_->quit();
    filterThread_->wait();
    delete inputFilter_;
    inputFilter_ = nullptr;
    delete filterThread_;
    filterThread_ = nullptr;
}

} // namespace torvanix

// The page commands beyond the window's own: devices, configuration documents, files,
// updates, screen pictures and music, with the objects they work on.
#include "window.h"

#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/input_filter.h"
#include "dispatch/page_commands.h"
#include "screen/screen_pictures.h"
#include "translate/device_data_handler.h"

#include "dispatch/music_module.h"

#include <QCoreApplication>
#include <QThread>

namespace torvanix {

// The page's switch of mouse-button forwarding, on the window's input filter.
class FilterSwitch : public MouseButtonForwarding {
public:
    explicit FilterSwitch(const Window &window) : window_(window) {}
    bool forwardMouseButtons() const override {
        const DEVICE_FILTER *filter = window_.inputFilter();
        return filter && filter->forwardMouseButtons();
    }
    void setForwardMouseButtons(bool on) override {
        if (DEVICE_FILTER *filter = window_.inputFilter())
            filter->setForwardMouseButtons(on);
    }
    QString unavailableReason() const override {
        const DEVICE_FILTER *filter = window_.inputFilter();
        if (!filter)
            return QStringLiteral("the input filter has not started");
        if (filter->state() == DEVICE_FILTER::State::Created)
            return QStringLiteral("the input filter is starting");
        return filter->unavailableReason();
    }

private:
    const Window &window_;
};

class PageCommandsHost {
public:
    PageCommandsHost(Window &window, EventSink &events) {
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
        QObject::connect(&window, &Window::SigWriteDevice, translator_,
                         QOverload<const QString &>::of(&device_data_handler::slot_writeDevice),
                         Qt::QueuedConnection);

        PageServices services;
        services.enumerateDevices = [this] { return deviceList_.enumerateDevices(); };
        services.listDevices = [this] { return deviceList_.listDevices(); };
        services.writeDevice = [w = &window](const QString &document) {
            emit w->SigWriteDevice(document);
        };
        device_data_handler *translator = translator_;
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
        if (window.brand() == QLatin1String("Zemlox")) {
            filterSwitch_ = std::make_unique<FilterSwitch>(window);
            services.inputFilter = filterSwitch_.get();
        }
        commands_ = registerPageCommands(window.dispatcher(), window, events, services);
        commands_->startDeviceList();
    }

    void noticeDevicesChanged() { commands_->noticeDevicesChanged(); }

    ~PageCommandsHost() {
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

private:
    DeviceFunctions deviceList_;
    DeviceFunctions translatorDevices_;
    QThread translatorThread_;
    device_data_handler *translator_ = nullptr;
    ScreenPictures pictures_;
    std::unique_ptr<MusicModule> player_;
    std::unique_ptr<FilterSwitch> filterSwitch_;
    std::shared_ptr<PageCommands> commands_;
};

void Window::onDevicesChanged() {
    if (pageCommands_)
        pageCommands_->noticeDevicesChanged();
}

void Window::setupPageCommands() {
    static NullEventSink noPage;
    EventSink *events = ClientHandler::instance();
    pageCommands_ = std::make_shared<PageCommandsHost>(*this, events ? *events : noPage);
}

} // namespace torvanix

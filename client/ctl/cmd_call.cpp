// torvanix-ctl call JSON: one page command through the same dispatcher the window uses, with
// dialogs answered from --choose. Prints every page event as a JSON line, then the answer.
#include "ctl_support.h"

#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/library_loader.h"
#include "dispatch/command_dispatcher.h"
#include "dispatch/headless_window_actions.h"
#include "dispatch/page_commands.h"
#include "dispatch/window_commands.h"
#include "screen/screen_pictures.h"
#include "translate/device_data_handler.h"

#if __has_include("media/audio_player.h") && defined(TORVANIX_HAVE_MEDIA)
#include "media/audio_player.h"
#define TORVANIX_CTL_PLAYER 1
#endif

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QThreadPool>

namespace torvanix::ctl {

namespace {

QString jsonLine(const QJsonObject &object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

class RecordingReply : public Reply {
public:
    void success(const QString &text) override { set(true, 0, text); }
    void failure(int code, const QString &text) override { set(false, code, text); }

    QString line() const {
        QMutexLocker lock(&mutex_);
        QJsonObject answer;
        if (!answered_) {
            answer.insert(QStringLiteral("answer"), QStringLiteral("none"));
        } else if (success_) {
            answer.insert(QStringLiteral("answer"), QStringLiteral("success"));
            answer.insert(QStringLiteral("text"), text_);
        } else {
            answer.insert(QStringLiteral("answer"), QStringLiteral("failure"));
            answer.insert(QStringLiteral("code"), code_);
            answer.insert(QStringLiteral("text"), text_);
        }
        return jsonLine(answer);
    }

private:
    void set(bool success, int code, const QString &text) {
        QMutexLocker lock(&mutex_);
        if (answered_)
            return;
        answered_ = true;
        success_ = success;
        code_ = code;
        text_ = text;
    }

    mutable QMutex mutex_;
    bool answered_ = false;
    bool success_ = false;
    int code_ = 0;
    QString text_;
};

int runCall(const Options &options, const QStringList &args, Streams &io) {
    if (args.size() != 1) {
        io.err << "usage: torvanix-ctl [--no-pause] [--choose FILE]... call JSON\n";
        return 2;
    }
    if (!applyDevicesDirectory(options, io))
        return 2;

    PrintingEventSink events(io.out);
    HeadlessWindowActions actions(options.choose);
    actions.note = [&io](const QString &line) {
        io.err << line << '\n';
        io.err.flush();
    };

    // The window's device list object and the translator's own device operations, as in the
    // program.
    DeviceFunctions deviceList;
    DeviceFunctions translatorDevices;
    device_data_handler translator(translatorDevices, events);
    loadDriveTables(translator, io);
    ScreenPictures pictures;

    PageServices services;
    services.enumerateDevices = [&deviceList] { return deviceList.enumerateDevices(); };
    services.writeDevice = [&translator](const QString &document) {
        translator.slot_writeDevice(document);
    };
    services.writeMacro = [&translator](const QString &ver, const QString &macroArr,
                                        std::function<void(bool)> done) {
        translator.noticeMacoModify(ver, macroArr, std::move(done));
    };
    services.screenImages = &pictures;
    // The updater would install the unpacked update over the folder this tool runs from (a
    // build tree, as a rule): the terminal only reports the start, like the window's quit.
    // Run "torvanix-updater --Upgrade" by hand to install.
    services.startDetached = [&io](const QString &program, const QStringList &arguments) {
        io.err << "start " << program << ' ' << arguments.join(QLatin1Char(' ')) << '\n';
        io.err.flush();
        return true;
    };
#ifdef TORVANIX_CTL_PLAYER
    AudioPlayer player(events);
    services.audio = &player;
#endif

    CommandDispatcher dispatcher;
    // The window's own commands act on the headless window; the terminal is never a first
    // start.
    static ShellState shell;
    registerWindowCommands(dispatcher, actions, shell);
    std::shared_ptr<PageCommands> page =
        registerPageCommands(dispatcher, actions, events, services);

    // The page lists the devices when it starts, so every later command finds them; a single
    // command from the terminal gets the same start. GetDevicesList does its own listing.
    const QJsonObject request = QJsonDocument::fromJson(args.first().toUtf8()).object();
    if (request.value(QStringLiteral("FuncName")).toString() != QLatin1String("GetDevicesList"))
        listAndPublish(deviceList, io);

    auto reply = std::make_shared<RecordingReply>();
    dispatcher.onJsMessage(args.first(), reply);

    // The command, then whatever it started: translations, a firmware run, a conversion.
    do {
        page->waitForIdleProcessingEvents(-1);
        translator.waitForDone(-1);
    } while (translator.pendingTranslations() > 0 || !page->waitForIdle(0));

    io.out << reply->line() << '\n';
    io.out.flush();
    page->shutdown();
    return 0;
}

const Registration reg("call", "call JSON", runCall);

} // namespace
} // namespace torvanix::ctl

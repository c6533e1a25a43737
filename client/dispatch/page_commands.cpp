#include "page_commands.h"

#include "command_lane.h"
#include "device/client_update.h"
#include "device/data_folders.h"
#include "device/device_directory.h"
#include "device/event_sink.h"
#include "device/pacer.h"
#include "device/plain_file.h"
#include "device/signed_index.h"
#include "device/update_firmware.h"
#include "file_container.h"
#include "music_follow.h"
#include "music_player.h"
#include "screen_images.h"
#include "translate/driver_templates.h"
#include "translate/sync_model_templates.h"
#include "window_actions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <atomic>
#include <chrono>

namespace torvanix {

namespace page {
bool isPlainFileName(const QString &name) {
    if (name.isEmpty() || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('&') ||
            c == QLatin1Char('=') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}
} // namespace page

namespace {

using Args = QVariantMap;

const QString SaveFailed = QStringLiteral("SaveCommand is failed!");
const QString LoadFailed = QStringLiteral("LoadCommand file failed!");

QString arg(const Args &args, const char *key) {
    return CommandDispatcher::arg(args, QString::fromLatin1(key));
}

QString compact(const QJsonArray &array) {
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

bool flag(const QString &text) {
    if (text == QLatin1String("true"))
        return true;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value != 0.0;
}

// A channel volume from the page's text, kept in the player's range before it becomes an int
// (a huge or non-numeric value must not reach the conversion).
int volumeLevel(const QString &text) {
    const double value = text.toDouble();
    if (!(value > 0.0))
        return 0;
    return static_cast<int>(qMin(value, 100.0));
}

// Copies a plain file (never waiting on a pipe or device) to a new file of that name.
bool copyPlainFile(const QString &from, const QString &to) {
    QByteArray bytes;
    if (!readPlainFile(from, 64 * 1024 * 1024, &bytes))
        return false;
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.close();
        out.remove();
        return false;
    }
    return true;
}

int defaultRunProcess(const QString &program, const QStringList &arguments,
                      const QString &workingDir) {
    QProcess process;
    process.setWorkingDirectory(workingDir);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(-1))
        return -1;
    process.closeWriteChannel();
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// One GetDevicesList enumeration and the queries waiting for it.
struct Enumeration {
    quint64 laneJob = 0;
    bool closed = false;
    QList<ReplyPtr> replies;
};

class PageCommandsImpl : public PageCommands,
                         public std::enable_shared_from_this<PageCommandsImpl> {
public:
    PageCommandsImpl(WindowActions &actions, EventSink &events, PageServices services)
        : actions_(actions), events_(events), services_(std::move(services)),
          tracker_(std::make_shared<WorkTracker>()) {
        if (services_.programDir.isEmpty())
            services_.programDir = QCoreApplication::applicationDirPath();
        if (services_.dataDir.isEmpty())
            services_.dataDir = data_folders::writableFolder(services_.programDir);
        if (services_.dataDir.isEmpty()) {
            // Neither folder takes files: the writes fail one by one with their own answers.
            qWarning().noquote() << "no writable data folder: neither" << services_.programDir
                                 << "nor" << data_folders::userDataFolder();
            services_.dataDir = services_.programDir;
        }
        if (!services_.performance)
            services_.performance = std::make_shared<PerformanceFigures>();
        if (services_.updatePublicKey.isEmpty())
            services_.updatePublicKey = client_update::releasePublicKey();
        if (!services_.runProcess)
            services_.runProcess = &defaultRunProcess;
        if (!services_.startDetached) {
            services_.startDetached = [](const QString &program, const QStringList &arguments) {
                return QProcess::startDetached(program, arguments);
            };
        }
        if (!services_.startFirmwareUpdate) {
            // Images the page downloaded land in the update folder; only those are removed
            // after a successful run.
            const QString downloads = services_.dataDir + QStringLiteral("/update");
            services_.startFirmwareUpdate = [downloads](const QString &identity,
                                                        const QString &path, EventSink &sink,
                                                        std::function<void()> finished) {
                update_firmware::start(identity, path, sink, std::move(finished), downloads);
            };
        }
        // GetLocalConf answers the built-in templates; they live in a static library.
        initDriveResources();
        initModelTemplates();
        converterPool_.setMaxThreadCount(1);
        lane_ = std::make_unique<CommandLane>();
    }

    ~PageCommandsImpl() override {
        shutdown();
        lane_.reset();
        directory_.reset();
        converterPool_.waitForDone();
    }

    void registerAll(CommandDispatcher &d);

    bool waitForIdle(int timeoutMs) override {
        const QDeadlineTimer deadline = deadlineAfter(timeoutMs);
        while (true) {
            if (!lane_->waitForIdle(remaining(deadline)))
                return false;
            if (!tracker_->waitForIdle(remaining(deadline)))
                return false;
            // Finished work may have queued more (a converter run after a lane job).
            if (lane_->idle() && tracker_->running() == 0)
                return true;
        }
    }

    bool waitForIdleProcessingEvents(int timeoutMs) override {
        const QDeadlineTimer deadline = deadlineAfter(timeoutMs);
        while (!(lane_->idle() && tracker_->running() == 0)) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            lane_->waitForIdle(1);
            tracker_->waitForIdle(1);
        }
        return true;
    }

    void shutdown() override {
        stopped_ = true;
        bridge_.shutdown();
        if (directory_)
            directory_->stop();
    }

    void startDeviceList() override {
        if (!services_.listDevices || directory_)
            return;
        EventSink *events = &events_;
        const std::atomic<bool> *stopped = &stopped_;
        // Devices take this long after their arrival before their interfaces answer.
        const int settle = pausesEnabled() ? DeviceSettleMs : 0;
        directory_ = std::make_unique<DeviceDirectory>(
            services_.listDevices,
            [events, stopped] {
                if (!*stopped)
                    events->sendEvent(QString::fromLatin1(events::DevicesChanged), {0});
            },
            settle,
            [read = services_.devicesRead](const DeviceRecordMap &records) {
                // The core's own senders (D-Bus, focus, resume) write with no page that would
                // publish the list by asking for it; the page's next ask gets this list anyway.
                PublishedDevices::instance().publish(records);
                if (read)
                    read(records);
            });
        directory_->start();
    }

    void noticeDevicesChanged() override {
        if (stopped_)
            return;
        if (directory_)
            directory_->noticeChange();
        else
            events_.sendEvent(QString::fromLatin1(events::DevicesChanged), {0});
    }

    void readDevicesSoon() override {
        if (!stopped_ && directory_)
            directory_->readSoon();
    }

    bool postDocumentWrite(std::function<void()> write) override {
        if (stopped_)
            return false;
        lane_->post([this, write] {
            if (stopped_)
                return;
            converterPool_.waitForDone(60000);
            write();
        });
        return true;
    }

    bool screenDeviceFound() const override {
        QMutexLocker lock(&stateMutex_);
        return screenDeviceFound_;
    }
    QString lastDirectory() const override {
        QMutexLocker lock(&stateMutex_);
        return lastDirectory_;
    }
    DeviceRecordMap deviceRecords() const override {
        QMutexLocker lock(&stateMutex_);
        return deviceRecords_;
    }
    QString programDir() const override { return services_.programDir; }
    QString dataDir() const override { return services_.dataDir; }

private:
    static int remaining(const QDeadlineTimer &deadline) {
        if (deadline.isForever())
            return -1;
        return static_cast<int>(qMax<qint64>(0, deadline.remainingTime()));
    }

    // Registers a command whose body runs on the lane, in the page's order.
    void onLane(CommandDispatcher &d, const char *name,
                void (PageCommandsImpl::*body)(const Args &, const ReplyPtr &)) {
        // The handlers keep the commands alive as long as the dispatcher holds them; the
        // queued jobs do not, since the commands wait for their lane when they go.
        std::shared_ptr<PageCommandsImpl> self = shared_from_this();
        d.registerCommand(QString::fromLatin1(name),
                          [self, body](const Args &args, const ReplyPtr &reply) {
                              PageCommandsImpl *commands = self.get();
                              if (commands->stopped_)
                                  return;
                              commands->lane_->post([commands, body, args, reply] {
                                  if (!commands->stopped_)
                                      (commands->*body)(args, reply);
                              });
                          });
    }

    QString dialogStartFolder() {
        QMutexLocker lock(&stateMutex_);
        if (lastDirectory_.isEmpty()) {
            lastDirectory_ = services_.desktopDir.isEmpty()
                                 ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                                 : services_.desktopDir;
        }
        return lastDirectory_;
    }

    void rememberDialogFolder(const QString &folder) {
        QMutexLocker lock(&stateMutex_);
        lastDirectory_ = folder;
    }

    enum class Dialog { Open, Save };
    // Shows a dialog on the GUI thread; the chosen path, empty when cancelled.
    QString dialog(Dialog kind, const QString &title, const QString &directory,
                   const QString &filter, bool rememberOnCancel) {
        QString path;
        QString visited;
        const bool ran = bridge_.run([&] {
            path = kind == Dialog::Open ? actions_.getOpenFileName(title, directory, filter)
                                        : actions_.getSaveFileName(title, directory, filter);
            visited = actions_.lastVisitedDirectory();
        });
        if (!ran)
            return QString();
        if (!path.isEmpty() || rememberOnCancel)
            rememberDialogFolder(visited);
        return path;
    }

    void sendUpdateState(const QString &text) {
        events_.sendEvent(QString::fromLatin1(events::RefreshUpdateState), {text});
    }

    QString screenFolder() const { return services_.dataDir + QStringLiteral("/screen"); }
    QString updateFolder() const { return services_.dataDir + QStringLiteral("/update"); }

    void getDevicesList(const ReplyPtr &reply);
    void runEnumeration(const std::shared_ptr<Enumeration> &job);

    void noticeModify(const Args &args, const ReplyPtr &reply);
    void noticeMacoModify(const Args &args, const ReplyPtr &reply);
    void getLocalConf(const Args &args, const ReplyPtr &reply);
    void getMonitorStatus(const Args &args, const ReplyPtr &reply);
    void switchMonitor(const Args &args, const ReplyPtr &reply);
    void getMonitorInfo(const Args &args, const ReplyPtr &reply);
    void executeUpdateFirmware(const Args &args, const ReplyPtr &reply);
    void executeUpdateClient(const Args &args, const ReplyPtr &reply);
    void openUpdateDirectory(const Args &args, const ReplyPtr &reply);
    void openUpdateExe(const Args &args, const ReplyPtr &reply);
    void saveContainer(const Args &args, const ReplyPtr &reply, bool profile);
    void saveCommand(const Args &args, const ReplyPtr &reply) { saveContainer(args, reply, false); }
    void saveProfile(const Args &args, const ReplyPtr &reply) { saveContainer(args, reply, true); }
    void loadContainer(const ReplyPtr &reply, bool profile);
    void loadCommand(const Args &, const ReplyPtr &reply) { loadContainer(reply, false); }
    void loadProfile(const Args &, const ReplyPtr &reply) { loadContainer(reply, true); }
    void openFileDialog(const Args &args, const ReplyPtr &reply);
    void openMp3Ex(const Args &args, const ReplyPtr &reply);
    void getPerformance(const Args &args, const ReplyPtr &reply);
    void saveImageTemp(const Args &args, const ReplyPtr &reply);
    void imageConvBin(const Args &args, const ReplyPtr &reply);
    void screenImageDownload(const Args &args, const ReplyPtr &reply);
    void music(const Args &args, const ReplyPtr &reply, bool rgb);
    void rgbMusicPlay(const Args &args, const ReplyPtr &reply) { music(args, reply, true); }
    void playAudio(const Args &args, const ReplyPtr &reply) { music(args, reply, false); }
    void getMusicInfo(const Args &args, const ReplyPtr &reply);
    void followMusic(const Args &args);
    void onLevel(int left, int right, bool playing);
    void writeDocuments(const QStringList &documents);

    WindowActions &actions_;
    EventSink &events_;
    PageServices services_;
    GuiBridge bridge_;
    // After shutdown the objects the services point to may go at any time: queries are
    // dropped and queued commands are skipped.
    std::atomic<bool> stopped_{false};
    std::shared_ptr<WorkTracker> tracker_;
    QThreadPool converterPool_;
    std::unique_ptr<CommandLane> lane_;

    mutable QMutex stateMutex_;
    QString lastDirectory_;
    DeviceRecordMap deviceRecords_;
    bool screenDeviceFound_ = false;
    QString clientUpdateFile_;

    QMutex enumerationMutex_;
    std::shared_ptr<Enumeration> enumeration_;
    MusicFollow follow_;
    // Last, so it goes first: its thread may still be sending an event.
    std::unique_ptr<DeviceDirectory> directory_;
};

void PageCommandsImpl::registerAll(CommandDispatcher &d) {
    std::shared_ptr<PageCommandsImpl> self = shared_from_this();
    if (services_.audio) {
        // The player may outlive the commands (and report once more as it goes).
        std::weak_ptr<PageCommandsImpl> weak = self;
        services_.audio->setLevelListener([weak](int left, int right, bool playing) {
            if (std::shared_ptr<PageCommandsImpl> commands = weak.lock())
                commands->onLevel(left, right, playing);
        });
    }
    d.registerCommand(QStringLiteral("GetDevicesList"),
                      [self](const Args &, const ReplyPtr &reply) { self->getDevicesList(reply); });
    onLane(d, "NoticeModify", &PageCommandsImpl::noticeModify);
    onLane(d, "NoticeMacoModify", &PageCommandsImpl::noticeMacoModify);
    onLane(d, "GetLocalConf", &PageCommandsImpl::getLocalConf);
    onLane(d, "GetMonitorStatus", &PageCommandsImpl::getMonitorStatus);
    onLane(d, "SwitchMonitor", &PageCommandsImpl::switchMonitor);
    onLane(d, "GetMonitorInfo", &PageCommandsImpl::getMonitorInfo);
    onLane(d, "ExecuteUpdateFirmware", &PageCommandsImpl::executeUpdateFirmware);
    onLane(d, "ExecuteUpdateClient", &PageCommandsImpl::executeUpdateClient);
    onLane(d, "OpenUpdateDirectory", &PageCommandsImpl::openUpdateDirectory);
    onLane(d, "OpenUpdateExe", &PageCommandsImpl::openUpdateExe);
    onLane(d, "SaveCommand", &PageCommandsImpl::saveCommand);
    onLane(d, "LoadCommand", &PageCommandsImpl::loadCommand);
    onLane(d, "SaveProfile", &PageCommandsImpl::saveProfile);
    onLane(d, "LoadProfile", &PageCommandsImpl::loadProfile);
    onLane(d, "OpenFileDialog", &PageCommandsImpl::openFileDialog);
    onLane(d, "OpenMP3Ex", &PageCommandsImpl::openMp3Ex);
    onLane(d, "GetPerformance", &PageCommandsImpl::getPerformance);
    onLane(d, "SaveImageTemp", &PageCommandsImpl::saveImageTemp);
    onLane(d, "ImageConvBin", &PageCommandsImpl::imageConvBin);
    onLane(d, "ScreenImageDownload", &PageCommandsImpl::screenImageDownload);
    onLane(d, "RGBMusicPlay", &PageCommandsImpl::rgbMusicPlay);
    onLane(d, "PlayAudio", &PageCommandsImpl::playAudio);
    onLane(d, "GetMusicInfo", &PageCommandsImpl::getMusicInfo);
}

// --- devices -------------------------------------------------------------------------------

void PageCommandsImpl::getDevicesList(const ReplyPtr &reply) {
    // A query that arrives while the last queued job is an enumeration not yet answered joins
    // it: it gets the list of the enumeration under way instead of waiting for another one.
    // Behind any other command it gets a fresh enumeration, so answers keep the page's order.
    if (stopped_)
        return;
    QMutexLocker lock(&enumerationMutex_);
    if (enumeration_ && !enumeration_->closed && enumeration_->laneJob == lane_->lastPosted()) {
        enumeration_->replies.append(reply);
        return;
    }
    auto job = std::make_shared<Enumeration>();
    job->replies.append(reply);
    enumeration_ = job;
    job->laneJob = lane_->post([this, job] {
        if (!stopped_)
            runEnumeration(job);
    });
}

void PageCommandsImpl::runEnumeration(const std::shared_ptr<Enumeration> &job) {
    const DeviceRecordMap records = directory_                   ? directory_->take()
                                    : services_.enumerateDevices ? services_.enumerateDevices()
                                                                 : DeviceRecordMap();
    PublishedDevices::instance().publish(records);

    const QJsonValue screenVersion(QString::fromLatin1(page::ScreenKeyboardVersion));
    QJsonArray list;
    bool screenFound = false;
    for (auto it = records.constBegin(); it != records.constEnd(); ++it) {
        list.append(it.value());
        if (it.value().value(QStringLiteral("Version")) == screenVersion)
            screenFound = true;
    }
    {
        QMutexLocker lock(&stateMutex_);
        deviceRecords_ = records;
        screenDeviceFound_ = screenFound;
    }
    if (services_.inputFilter && !screenFound)
        services_.inputFilter->setForwardMouseButtons(false);

    QList<ReplyPtr> replies;
    {
        QMutexLocker lock(&enumerationMutex_);
        job->closed = true;
        replies = job->replies;
    }
    const QString answer = compact(list);
    for (const ReplyPtr &reply : qAsConst(replies))
        replySuccess(reply, answer);
}

void PageCommandsImpl::noticeModify(const Args &args, const ReplyPtr &) {
    // A document that sends a screen picture reads the converter's output: a conversion the
    // page started just before must have finished, or the picture would be skipped (or half
    // written) while the page believes it went. Conversions take well under this bound.
    converterPool_.waitForDone(60000);
    if (services_.writeDevice)
        services_.writeDevice(arg(args, "XmlConfigStr"));
}

// Answered once the table was sent, so that the page can tell a table the keyboard refused
// from one it took (a page that does not wait for the answer loses nothing).
void PageCommandsImpl::noticeMacoModify(const Args &args, const ReplyPtr &reply) {
    if (!services_.writeMacro) {
        replyFailure(reply, 0, QStringLiteral("failed"));
        return;
    }
    services_.writeMacro(arg(args, "Ver"), arg(args, "MacroArr"), [reply](bool written) {
        if (written)
            replySuccess(reply, QStringLiteral("success"));
        else
            replyFailure(reply, 0, QStringLiteral("failed"));
    });
}

void PageCommandsImpl::getLocalConf(const Args &args, const ReplyPtr &reply) {
    QFile resource(QStringLiteral(":/drive/") + arg(args, "Name"));
    QString text;
    if (resource.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(resource.readAll());
    replySuccess(reply, text);
}

void PageCommandsImpl::getMonitorStatus(const Args &, const ReplyPtr &reply) {
    const bool on = services_.inputFilter && services_.inputFilter->forwardMouseButtons();
    replySuccess(reply, on ? QStringLiteral("on") : QStringLiteral("off"));
}

void PageCommandsImpl::switchMonitor(const Args &, const ReplyPtr &reply) {
    // Without the input filter there is nothing to switch: the switch fails.
    if (!screenDeviceFound() || !services_.inputFilter) {
        replyFailure(reply, 0, QStringLiteral("failed"));
        return;
    }
    services_.inputFilter->setForwardMouseButtons(!services_.inputFilter->forwardMouseButtons());
    // A filter that cannot run refuses to switch on: that is no success.
    if (services_.inputFilter->forwardMouseButtons())
        replySuccess(reply, QStringLiteral("success"));
    else
        replyFailure(reply, 0, QStringLiteral("failed"));
}

// What the page shows beside the monitor switch: its state, whether it can be switched on
// at all and, if not, why: {"Status":"on"|"off","Available":"1"|"0","Reason":text}.
void PageCommandsImpl::getMonitorInfo(const Args &, const ReplyPtr &reply) {
    MouseButtonForwarding *filter = services_.inputFilter;
    const QString reason =
        filter ? filter->unavailableReason() : QStringLiteral("this edition has no input filter");
    QJsonObject info;
    info.insert(QStringLiteral("Status"), filter && filter->forwardMouseButtons()
                                              ? QStringLiteral("on")
                                              : QStringLiteral("off"));
    info.insert(QStringLiteral("Available"),
                reason.isEmpty() ? QStringLiteral("1") : QStringLiteral("0"));
    info.insert(QStringLiteral("Reason"), reason);
    replySuccess(reply, QString::fromUtf8(QJsonDocument(info).toJson(QJsonDocument::Compact)));
}

// --- updates -------------------------------------------------------------------------------

void PageCommandsImpl::executeUpdateFirmware(const Args &args, const ReplyPtr &) {
    const QString version = arg(args, "Version");
    const QString path = arg(args, "FilePath");
    // An image from the update server comes with the index that named it (optional arguments
    // "Index" and "IndexSignature"); a file the user picked comes without, and runs unsigned.
    const QString index = arg(args, "Index");
    const QString signature = arg(args, "IndexSignature");
    if (!index.isEmpty() || !signature.isEmpty()) {
        QList<QByteArray> keys = signed_index::testKeys();
        keys.prepend(services_.updatePublicKey);
        QString why;
        if (!signed_index::checkImage(path, version, index.toUtf8(), signature, keys, &why)) {
            qWarning().noquote() << "ExecuteUpdateFirmware: refused," << why;
            events_.sendEvent(QString::fromLatin1(events::RefreshUpdateState),
                              {QStringLiteral("-1"), QStringLiteral("signature")});
            return;
        }
    }
    std::shared_ptr<WorkTracker> tracker = tracker_;
    tracker->begin();
    services_.startFirmwareUpdate(version, path, events_, [tracker] { tracker->end(); });
}

void PageCommandsImpl::executeUpdateClient(const Args &args, const ReplyPtr &) {
    {
        QMutexLocker lock(&stateMutex_);
        clientUpdateFile_ = arg(args, "FilePath");
    }
    // The updater replaces files in the program folder. Where the program's writes go
    // elsewhere, that folder belongs to the package manager: updating it here would fail half
    // way or fight the package's records, so the program stays as it is.
    if (QDir(services_.dataDir) != QDir(services_.programDir)) {
        qWarning().noquote() << "ExecuteUpdateClient: refused, the program folder"
                             << services_.programDir
                             << "is not writable; this installation is updated through the "
                                "system's package manager";
        return;
    }
    if (client_update::runClientUpdate(arg(args, "FilePath"), updateFolder(),
                                       services_.updatePublicKey) == 0)
        return;
    const QString updater =
        services_.programDir + QLatin1Char('/') + QString::fromLatin1(page::UpdaterProgram);
    // Without the updater nothing would install the files or start the program again: it
    // stays running, as after a refused package.
    if (!services_.startDetached(updater, {QStringLiteral("--Upgrade")})) {
        qWarning().noquote() << "ExecuteUpdateClient: the updater" << updater << "did not start";
        return;
    }
    client_update::noteUpdaterStarted();
    bridge_.run([this] { actions_.quitApplication(); });
}

void PageCommandsImpl::openUpdateDirectory(const Args &args, const ReplyPtr &) {
    {
        QMutexLocker lock(&stateMutex_);
        clientUpdateFile_ = arg(args, "FilePath");
    }
    client_update::runClientUpdate(arg(args, "FilePath"), updateFolder(),
                                   services_.updatePublicKey);
    const QString folder = QUrl::fromLocalFile(updateFolder()).toString();
    bridge_.run([this, folder] {
        actions_.openExternal(folder);
        actions_.quitApplication();
    });
}

void PageCommandsImpl::openUpdateExe(const Args &, const ReplyPtr &) {
    // The flashing tool is an outside program dropped beside ours; a native build of it is
    // preferred over the Windows one. It is run, not handed to the desktop's file handler,
    // which would open a program file in some viewer instead of starting it.
    QString tool = services_.programDir + QStringLiteral("/iap");
    if (!QFileInfo(tool).isFile())
        tool = services_.programDir + QStringLiteral("/iap.exe");
    const QFileInfo info(tool);
    if (!info.isFile() || !info.isExecutable()) {
        qWarning().noquote() << "OpenUpdateExe: no flashing tool to run at" << tool
                             << (info.isFile() ? "(not executable)" : "(missing)");
        return;
    }
    if (!services_.startDetached(info.absoluteFilePath(), QStringList()))
        qWarning().noquote() << "OpenUpdateExe: the flashing tool" << tool << "did not start";
}

// --- macro and profile files ---------------------------------------------------------------

void PageCommandsImpl::saveContainer(const Args &args, const ReplyPtr &reply, bool profile) {
    if (!args.contains(QStringLiteral("CommandString")))
        return;
    const QString text = arg(args, "CommandString");
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString name = object.value(QStringLiteral("name")).toVariant().toString();
    const QString folder = dialogStartFolder();
    const QString path =
        profile ? dialog(Dialog::Save, QStringLiteral("SaveProfile"), folder + "/" + name,
                         QStringLiteral("profile(*.profile)"), false)
                : dialog(Dialog::Save, QString::fromUtf8("导出"), folder + "/" + name,
                         QStringLiteral("macro(*.macro)"), false);
    if (path.isEmpty())
        return;
    const QString extension = profile ? QStringLiteral(".profile") : QStringLiteral(".macro");
    if (!container::writeFile(container::finalPath(path, extension), text)) {
        replyFailure(reply, 0, SaveFailed);
        return;
    }
    replySuccess(reply, profile ? QStringLiteral("Saveprofile Success!")
                                : QStringLiteral("SaveCommand Success!"));
}

void PageCommandsImpl::loadContainer(const ReplyPtr &reply, bool profile) {
    const QString folder = dialogStartFolder();
    const QString path = profile ? dialog(Dialog::Open, QStringLiteral("LoadProfile"), folder,
                                          QStringLiteral("profile(*.profile)"), false)
                                 : dialog(Dialog::Open, QStringLiteral("OpenFileDialog"), folder,
                                          QStringLiteral("macro(*.macro)"), false);
    if (path.isEmpty())
        return;
    QString text;
    if (!container::readFile(path, &text)) {
        replyFailure(reply, 0, LoadFailed);
        return;
    }
    if (!profile)
        qDebug().noquote() << text;
    replySuccess(reply, text);
}

void PageCommandsImpl::openFileDialog(const Args &, const ReplyPtr &reply) {
    const QString folder = dialogStartFolder();
    const QString path = dialog(Dialog::Open, QStringLiteral("OpenFileDialog"), folder,
                                QStringLiteral("320*172(*.png)"), true);
    if (path.isEmpty())
        return;
    const QSize size = services_.screenImages ? services_.screenImages->pictureSize(path) : QSize();
    if (size != QSize(320, 172)) {
        replyFailure(reply, 0, LoadFailed);
        return;
    }
    QDir().mkpath(screenFolder());
    const QTime now = QTime::currentTime();
    QRandomGenerator random(static_cast<quint32>(now.msec() + now.second() * 1000));
    const int first = static_cast<int>(random.generate() % 1000);
    // An existing picture of the drawn name belongs to an earlier pick: the next free number
    // is taken, so the answer always names the picture just chosen.
    for (int i = 0; i < 1000; ++i) {
        const QString name = QStringLiteral("screen_%1.png").arg((first + i) % 1000);
        const QString target = screenFolder() + QLatin1Char('/') + name;
        if (QFileInfo::exists(target))
            continue;
        if (!copyPlainFile(path, target))
            break;
        replySuccess(reply, name);
        return;
    }
    replyFailure(reply, 0, LoadFailed);
}

void PageCommandsImpl::openMp3Ex(const Args &, const ReplyPtr &reply) {
    const QString folder = dialogStartFolder();
    QStringList files;
    QString visited;
    const bool ran = bridge_.run([&] {
        files = actions_.getOpenFileNames(
            QString::fromUtf8("选择MP3音乐"), folder,
            QStringLiteral("music(*.mp3;*.wav;*.ogg;*.flac;*.flacogg;*.ac3;*.aac;*.wavein)"));
        visited = actions_.lastVisitedDirectory();
    });
    if (ran)
        rememberDialogFolder(visited);
    QJsonArray list;
    for (const QString &file : qAsConst(files)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), QFileInfo(file).fileName());
        entry.insert(QStringLiteral("path"), file);
        list.append(entry);
    }
    replySuccess(reply, compact(list));
}

// --- screen keyboard -----------------------------------------------------------------------

void PageCommandsImpl::getPerformance(const Args &, const ReplyPtr &reply) {
    replySuccess(reply, services_.performance->sampleJson());
}

void PageCommandsImpl::saveImageTemp(const Args &args, const ReplyPtr &reply) {
    const QString name = arg(args, "ImageName");
    const QByteArray data = QByteArray::fromBase64(arg(args, "ImageBase64Data").toLocal8Bit());
    if (!page::isPlainFileName(name)) {
        qDebug() << "SaveImageTemp: refused image name" << name;
    } else if (services_.screenImages) {
        const QString target = screenFolder() + QLatin1Char('/') + name + QStringLiteral(".png");
        const ScreenImages::Saved saved = services_.screenImages->storePng(data, target);
        if (saved == ScreenImages::Saved::NotAPicture) {
            qDebug() << "SaveImageTemp: not a picture" << name;
        } else if (saved == ScreenImages::Saved::WriteFailed) {
            // The page must not go on to convert a picture that is not there.
            qDebug() << "SaveImageTemp: picture not stored" << target;
            replyFailure(reply, 0, QStringLiteral("failed"));
            return;
        }
    }
    replySuccess(reply, QString());
}

void PageCommandsImpl::imageConvBin(const Args &args, const ReplyPtr &reply) {
    const QString name = arg(args, "ImageName");
    replySuccess(reply, QString());
    if (!page::isPlainFileName(name)) {
        qDebug() << "ImageConvBin: refused image name" << name;
        return;
    }
    const QString program =
        services_.programDir + QLatin1Char('/') + QString::fromLatin1(page::ConverterProgram);
    const QStringList arguments{QString::fromLatin1(page::ConverterParameters).arg(name)};
    // The converter's arguments name "screen/" relative to its working folder.
    const QString workingDir = services_.dataDir;
    auto run = services_.runProcess;
    std::shared_ptr<WorkTracker> tracker = tracker_;
    tracker->begin();
    QDir().mkpath(screenFolder());
    // Conversions write the same output file, so they run one at a time.
    converterPool_.start([run, program, arguments, workingDir, tracker] {
        const int code = run(program, arguments, workingDir);
        if (code != 0)
            qDebug() << "picture converter ended with" << code;
        tracker->end();
    });
}

void PageCommandsImpl::screenImageDownload(const Args &args, const ReplyPtr &) {
    if (!services_.screenImages)
        return;
    const QByteArray pages = services_.screenImages->monochromePages(
        services_.dataDir + QLatin1Char('/') + arg(args, "FilePath"), false);
    QString text;
    text.reserve(pages.size() * 6);
    for (const char byte : pages)
        text += QStringLiteral("0x%1, ").arg(static_cast<quint8>(byte), 2, 16, QLatin1Char('0'));
    qDebug() << text.size();
}

// --- music ---------------------------------------------------------------------------------

void PageCommandsImpl::music(const Args &args, const ReplyPtr &reply, bool rgb) {
    const QString event = arg(args, "Event");
    const QString done =
        rgb ? QStringLiteral("RGBMusicPlay success") : QStringLiteral("Play success");
    MusicPlayer *player = services_.audio;
    if (event == QLatin1String("PlayMusic")) {
        const QString url = arg(args, "Url");
        if (rgb && url.isEmpty())
            return;
        const QString version = arg(args, "Ver");
        if (player)
            bridge_.run([&] {
                player->setSource(url, version);
                player->play();
            });
    } else if (!player) {
        // Nothing to operate; the page still gets its answer.
    } else if (event == QLatin1String("PauseMusic")) {
        bridge_.run([&] { player->pause(); });
    } else if (event == QLatin1String("ResumeMusic")) {
        bridge_.run([&] { player->resume(); });
    } else if (event == QLatin1String("PlayLoopMusic")) {
        bridge_.run([&] { player->playLoop(); });
    } else if (event == QLatin1String("SeekPosition")) {
        const qint64 position = arg(args, "RefreshPosition").toLongLong();
        bridge_.run([&] { player->seek(position); });
    } else if (event == QLatin1String("SetMute")) {
        const bool left = flag(arg(args, "L"));
        const bool right = flag(arg(args, "R"));
        bridge_.run([&] { player->setMute(left, right); });
    } else if (event == QLatin1String("SetPlayerVolume")) {
        const int left = volumeLevel(arg(args, "L"));
        const int right = volumeLevel(arg(args, "R"));
        bridge_.run([&] { player->setVolume(left, right); });
    } else if (event == QLatin1String("FollowLighting")) {
        followMusic(args);
    } else if (event == QLatin1String("StopFollow")) {
        writeDocuments(follow_.stop());
    }
    replySuccess(reply, done);
}

// FollowLighting: `First` (the first step's value), `Steps` (a JSON array holding, per step
// from First on, the array of documents that set it) and `Held` (the documents that set the
// brightness the device holds). A malformed request changes nothing.
void PageCommandsImpl::followMusic(const Args &args) {
    bool ok = false;
    const int first = arg(args, "First").toInt(&ok);
    const QJsonArray steps = QJsonDocument::fromJson(arg(args, "Steps").toUtf8()).array();
    const QJsonDocument held = QJsonDocument::fromJson(arg(args, "Held").toUtf8());
    if (!ok || steps.isEmpty() || steps.size() > 256 || !held.isArray())
        return;
    auto texts = [](const QJsonArray &array, QStringList *out) {
        for (const QJsonValue &v : array) {
            if (!v.isString())
                return false;
            out->append(v.toString());
        }
        return true;
    };
    QVector<QStringList> documents;
    for (const QJsonValue &step : steps) {
        QStringList list;
        if (!step.isArray() || !texts(step.toArray(), &list))
            return;
        documents.append(list);
    }
    QStringList heldDocuments;
    if (!texts(held.array(), &heldDocuments))
        return;
    follow_.follow(first, documents, heldDocuments);
}

void PageCommandsImpl::onLevel(int left, int right, bool playing) {
    if (stopped_)
        return;
    const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    writeDocuments(playing ? follow_.level(left, right, now) : follow_.stopped());
}

void PageCommandsImpl::writeDocuments(const QStringList &documents) {
    if (!services_.writeDevice)
        return;
    for (const QString &document : documents)
        services_.writeDevice(document);
}

void PageCommandsImpl::getMusicInfo(const Args &, const ReplyPtr &reply) {
    QString info = QStringLiteral("{}");
    if (services_.audio)
        bridge_.run([&] { info = services_.audio->info(); });
    // Whether the lighting follows the music, for the page's switch.
    QJsonObject object = QJsonDocument::fromJson(info.toUtf8()).object();
    if (services_.audio && !object.isEmpty()) {
        object.insert(QStringLiteral("follow"), follow_.active());
        info = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    replySuccess(reply, info);
}

} // namespace

std::shared_ptr<PageCommands> registerPageCommands(CommandDispatcher &dispatcher,
                                                   WindowActions &actions, EventSink &events,
                                                   PageServices services) {
    auto commands = std::make_shared<PageCommandsImpl>(actions, events, std::move(services));
    commands->registerAll(dispatcher);
    return commands;
}

} // namespace torvanix

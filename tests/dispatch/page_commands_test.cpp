#include "page_test_support.h"

#include "device/client_update.h"
#include "device/device_functions.h"
#include "dispatch/music_follow.h"
#include "dispatch/music_module.h"
#include "dispatch/music_player.h"
#include "translate/sync_model_templates.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <gtest/gtest.h>

using namespace torvanix;
using namespace torvanix::test;

namespace {

QJsonObject record(const QString &version, const QString &path) {
    QJsonObject r;
    r.insert(QStringLiteral("DevicePath"), path);
    r.insert(QStringLiteral("Version"), version);
    r.insert(QStringLiteral("Sn"), QStringLiteral("SN1"));
    return r;
}

DeviceRecordMap mouseOnly() {
    DeviceRecordMap m;
    m.insert(QStringLiteral("QPA-RTE-V1.1.0"), record(QStringLiteral("QPA-RTE-V1.1.0.12"), "p1"));
    return m;
}

DeviceRecordMap withScreenKeyboard() {
    DeviceRecordMap m = mouseOnly();
    m.insert(QStringLiteral("HJE-XUB-V1.5.0"), record(QStringLiteral("HJE-XUB-V1.5.0"), "p2"));
    return m;
}

class FakeFilter : public MouseButtonForwarding {
public:
    bool forwardMouseButtons() const override { return on; }
    void setForwardMouseButtons(bool value) override { on = value && reason.isEmpty(); }
    QString unavailableReason() const override { return reason; }
    bool on = false;
    QString reason;
};

class FakePlayer : public MusicPlayer {
public:
    void setSource(const QString &url, const QString &version) override {
        calls << QStringLiteral("source %1 %2").arg(url, version);
    }
    void play() override { calls << "play"; }
    void pause() override { calls << "pause"; }
    void resume() override { calls << "resume"; }
    void playLoop() override { calls << "loop"; }
    void seek(qint64 ms) override { calls << QStringLiteral("seek %1").arg(ms); }
    void setMute(bool l, bool r) override { calls << QStringLiteral("mute %1 %2").arg(l).arg(r); }
    void setVolume(int l, int r) override { calls << QStringLiteral("volume %1 %2").arg(l).arg(r); }
    QString info() override { return QStringLiteral("{\"title\":\"t\"}"); }
    void setLevelListener(LevelListener l) override { listener = std::move(l); }
    QStringList calls;
    LevelListener listener;
};

} // namespace

TEST(DevicesCommands, ListAnswersRecordsInOrderAndNotesTheScreenKeyboard) {
    PageServices services;
    services.enumerateDevices = [] { return withScreenKeyboard(); };
    PageFixture f(services);

    EXPECT_FALSE(f.page->screenDeviceFound());
    const Answer a = f.call(R"({"FuncName":"GetDevicesList"})");
    ASSERT_EQ(a.kind, Answer::Success);
    EXPECT_EQ(a.count, 1);
    const QJsonArray list = QJsonDocument::fromJson(a.text.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    // Map order: identities sorted.
    EXPECT_EQ(list.at(0).toObject().value("Version").toString(), "HJE-XUB-V1.5.0");
    EXPECT_EQ(list.at(1).toObject().value("DevicePath").toString(), "p1");
    EXPECT_FALSE(a.text.contains(' '));
    EXPECT_TRUE(f.page->screenDeviceFound());
    // Later writes find the devices of this list.
    EXPECT_EQ(PublishedDevices::instance().lookup("hje-xub-v1.5.0").value("DevicePath"), "p2");
}

TEST(DevicesCommands, MonitorSwitchFollowsScreenKeyboardAndFilter) {
    // No screen keyboard listed: the switch fails and the status is off.
    {
        FakeFilter filter;
        filter.on = true;
        PageServices services;
        services.enumerateDevices = [] { return mouseOnly(); };
        services.inputFilter = &filter;
        PageFixture f(services);
        Answer a = f.call(R"({"FuncName":"SwitchMonitor"})");
        EXPECT_EQ(a.kind, Answer::Failure);
        EXPECT_EQ(a.text, "failed");
        EXPECT_EQ(a.code, 0);
        EXPECT_TRUE(filter.on) << "the filter is left alone before a list";
        f.call(R"({"FuncName":"GetDevicesList"})");
        EXPECT_FALSE(filter.on) << "forwarding stops while no screen keyboard is connected";
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").text, "off");
        EXPECT_EQ(f.call(R"({"FuncName":"SwitchMonitor"})").kind, Answer::Failure);
    }
    // Screen keyboard and filter: on, then off.
    {
        FakeFilter filter;
        PageServices services;
        services.enumerateDevices = [] { return withScreenKeyboard(); };
        services.inputFilter = &filter;
        PageFixture f(services);
        f.call(R"({"FuncName":"GetDevicesList"})");
        Answer first = f.call(R"({"FuncName":"SwitchMonitor"})");
        EXPECT_EQ(first.kind, Answer::Success);
        EXPECT_EQ(first.text, "success");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").text, "on");
        Answer second = f.call(R"({"FuncName":"SwitchMonitor"})");
        EXPECT_EQ(second.kind, Answer::Failure);
        EXPECT_EQ(second.text, "failed");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").text, "off");
    }
    // Screen keyboard but no input filter in this edition: failure, status off.
    {
        PageServices services;
        services.enumerateDevices = [] { return withScreenKeyboard(); };
        PageFixture f(services);
        f.call(R"({"FuncName":"GetDevicesList"})");
        Answer a = f.call(R"({"FuncName":"SwitchMonitor"})");
        EXPECT_EQ(a.kind, Answer::Failure);
        EXPECT_EQ(a.text, "failed");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").text, "off");
        EXPECT_EQ(
            f.call(R"({"FuncName":"GetMonitorInfo"})").text,
            R"({"Available":"0","Reason":"this edition has no input filter","Status":"off"})");
    }
    // A filter that cannot reach the input devices: switching on fails (no false "success")
    // and the page can read why.
    {
        FakeFilter filter;
        filter.reason = "cannot open /dev/uinput (Permission denied)";
        PageServices services;
        services.enumerateDevices = [] { return withScreenKeyboard(); };
        services.inputFilter = &filter;
        PageFixture f(services);
        f.call(R"({"FuncName":"GetDevicesList"})");
        Answer a = f.call(R"({"FuncName":"SwitchMonitor"})");
        EXPECT_EQ(a.kind, Answer::Failure);
        EXPECT_EQ(a.text, "failed");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").text, "off");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorInfo"})").text,
                  R"x({"Available":"0","Reason":"cannot open /dev/uinput (Permission denied)",)x"
                  R"x("Status":"off"})x");
        filter.reason.clear();
        EXPECT_EQ(f.call(R"({"FuncName":"SwitchMonitor"})").text, "success");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorInfo"})").text,
                  R"({"Available":"1","Reason":"","Status":"on"})");
    }
}

TEST(DevicesCommands, HeldListAnswersWithoutTheSettlePauseAndHotPlugReachesThePage) {
    std::atomic<int> enumerations{0};
    std::atomic<int> lists{0};
    std::atomic<bool> keyboardIn{false};
    PageServices services;
    services.enumerateDevices = [&] {
        ++enumerations;
        return mouseOnly();
    };
    services.listDevices = [&] {
        ++lists;
        return keyboardIn ? withScreenKeyboard() : mouseOnly();
    };
    PageFixture f(services);
    // Without the held list a notice goes to the page as it comes.
    f.page->noticeDevicesChanged();
    EXPECT_EQ(f.events.texts("DevicesChanged").size(), 1);

    f.page->startDeviceList();
    Answer a = f.call(R"({"FuncName":"GetDevicesList"})");
    EXPECT_EQ(a.text, QString::fromUtf8(deviceListJson(mouseOnly())));
    EXPECT_EQ(enumerations.load(), 0);
    EXPECT_EQ(lists.load(), 1);

    // The keyboard is plugged in: the page hears of it once the list has it, and its next
    // question gets that list (and the screen keyboard's switch with it).
    keyboardIn = true;
    f.page->noticeDevicesChanged();
    for (int i = 0; i < 500 && f.events.texts("DevicesChanged").size() < 2; ++i)
        QThread::msleep(10);
    EXPECT_EQ(f.events.texts("DevicesChanged").size(), 2);
    EXPECT_EQ(f.call(R"({"FuncName":"GetDevicesList"})").text,
              QString::fromUtf8(deviceListJson(withScreenKeyboard())));
    EXPECT_TRUE(f.page->screenDeviceFound());
    EXPECT_EQ(enumerations.load(), 0);
}

// Documents from the core itself (D-Bus, profiles following the focus) go out while no page
// has asked for the list: what the background read found must reach the translator.
TEST(DevicesCommands, ABackgroundReadMakesTheDevicesKnownWithoutThePageAsking) {
    PublishedDevices::instance().publish({});
    std::atomic<int> reads{0};
    PageServices services;
    services.listDevices = [] { return withScreenKeyboard(); };
    services.devicesRead = [&](const DeviceRecordMap &) { ++reads; };
    PageFixture f(services);
    f.page->startDeviceList();
    for (int i = 0; i < 500 && reads.load() == 0; ++i)
        QThread::msleep(10);
    ASSERT_GT(reads.load(), 0);
    EXPECT_FALSE(PublishedDevices::instance().lookup("hje-xub-v1.5.0").isEmpty());
}

TEST(DevicesCommands, OverlappingListRequestsShareOneEnumeration) {
    QSemaphore gate;
    std::atomic<int> enumerations{0};
    PageServices services;
    services.enumerateDevices = [&] {
        ++enumerations;
        gate.acquire();
        return mouseOnly();
    };
    PageFixture f(services);
    auto r1 = f.send(R"({"FuncName":"GetDevicesList"})");
    auto r2 = f.send(R"({"FuncName":"GetDevicesList"})");
    auto r3 = f.send(R"({"FuncName":"GetDevicesList"})");
    // A command in between keeps its place: the list after it is a fresh one.
    auto status = f.send(R"({"FuncName":"GetMonitorStatus"})");
    auto r4 = f.send(R"({"FuncName":"GetDevicesList"})");
    gate.release(2);
    ASSERT_TRUE(f.page->waitForIdleProcessingEvents(10000));
    EXPECT_EQ(enumerations.load(), 2);
    for (const auto &r : {r1, r2, r3, r4}) {
        EXPECT_EQ(r->answer().kind, Answer::Success);
        EXPECT_EQ(r->answer().count, 1);
        EXPECT_TRUE(r->answer().text.contains("QPA-RTE"));
    }
    EXPECT_EQ(status->answer().text, "off");
}

// A document is answered by events; a macro table by whether the keyboard took it, so that a
// refused table is not shown as written.
TEST(DevicesCommands, TranslatorEntriesGetTheTextsAndOnlyTheMacroTableIsAnswered) {
    QStringList documents;
    QStringList macros;
    bool taken = true;
    PageServices services;
    services.writeDevice = [&](const QString &doc) { documents << doc; };
    services.writeMacro = [&](const QString &ver, const QString &arr,
                              std::function<void(bool)> done) {
        macros << ver << arr;
        done(taken);
    };
    PageFixture f(services);
    Answer a = f.call(R"({"FuncName":"NoticeModify","XmlConfigStr":"<configuration/>"})");
    EXPECT_EQ(a.kind, Answer::None);
    Answer b = f.call(R"({"FuncName":"NoticeMacoModify","Ver":"0c458075","MacroArr":"[1,2]"})");
    EXPECT_EQ(b.kind, Answer::Success);
    EXPECT_EQ(b.text, "success");
    taken = false;
    Answer c = f.call(R"({"FuncName":"NoticeMacoModify","Ver":"0c458075","MacroArr":"[]"})");
    EXPECT_EQ(c.kind, Answer::Failure);
    EXPECT_EQ(c.text, "failed");
    EXPECT_EQ(documents, QStringList{"<configuration/>"});
    EXPECT_EQ(macros, (QStringList{"0c458075", "[1,2]", "0c458075", "[]"}));
}

TEST(DevicesCommands, NumberAndFlagArgumentsReachTheTranslatorAsTheirJsonText) {
    QStringList macros;
    PageServices services;
    services.writeMacro = [&](const QString &ver, const QString &arr, std::function<void(bool)>) {
        macros << ver << arr;
    };
    PageFixture f(services);
    f.call(R"({"FuncName":"NoticeMacoModify","Ver":2.1,"MacroArr":7})");
    f.call(R"({"FuncName":"NoticeMacoModify","Ver":1e20,"MacroArr":-0.5})");
    f.call(R"({"FuncName":"NoticeMacoModify","Ver":true,"MacroArr":null})");
    EXPECT_EQ(macros, (QStringList{"2.1", "7", "1e+20", "-0.5", "true", ""}));
}

TEST(DevicesCommands, LocalConfAnswersTemplateTextOrEmpty) {
    PageFixture f;
    EXPECT_EQ(f.call(R"({"FuncName":"GetLocalConf","Name":"NoSuchModel"})").text, "");
    EXPECT_EQ(f.call(R"({"FuncName":"GetLocalConf"})").kind, Answer::Success);
    QFile resource(":/drive/D2.0");
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    const Answer a = f.call(R"({"FuncName":"GetLocalConf","Name":"D2.0"})");
    EXPECT_EQ(a.text, QString::fromUtf8(resource.readAll()));
    EXPECT_TRUE(a.text.contains("Version=\"D2.0\""));
    // The per-model templates the page reads by the device's Version.
    const QStringList models = modelTemplateNames();
    ASSERT_FALSE(models.isEmpty());
    QJsonObject query{{"FuncName", "GetLocalConf"}, {"Name", models.first()}};
    const Answer model = f.call(QJsonDocument(query).toJson(QJsonDocument::Compact));
    EXPECT_TRUE(model.text.contains("<configuration")) << models.first();
}

TEST(UpdateCommands, FirmwareUpdateIsHandedToItsWorkerWithoutAnswer) {
    QStringList started;
    PageServices services;
    services.startFirmwareUpdate = [&](const QString &id, const QString &path, EventSink &events,
                                       std::function<void()> finished) {
        started << id << path;
        events.sendEvent("RefreshUpdateState", {QStringLiteral("20")});
        finished();
    };
    PageFixture f(services);
    Answer a = f.call(
        R"({"FuncName":"ExecuteUpdateFirmware","Version":"HJE-XAV-V1.2.0","FilePath":"/tmp/fw.bin"})");
    EXPECT_EQ(a.kind, Answer::None);
    EXPECT_EQ(started, (QStringList{"HJE-XAV-V1.2.0", "/tmp/fw.bin"}));
    EXPECT_EQ(f.events.texts("RefreshUpdateState"), QStringList{"20"});
}

TEST(UpdateCommands, ClientUpdateStartsUpdaterAndQuitsOnlyAfterAGoodPackage) {
    QStringList launched;
    bool updaterStarts = true;
    PageServices services;
    services.startDetached = [&](const QString &program, const QStringList &args) {
        launched << program << args;
        return updaterStarts;
    };
    const QByteArray seed(32, 's');
    services.updatePublicKey = client_update::publicKeyForSeed(seed);
    PageFixture f(services);
    const QString dir = f.programDir.path();

    // A file that is no package: nothing happens, the program keeps running.
    QFile bad(dir + "/bad.pkg");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(200, 'x'));
    bad.close();
    Answer a = f.call(QStringLiteral(R"({"FuncName":"ExecuteUpdateClient","FilePath":"%1"})")
                          .arg(bad.fileName()));
    EXPECT_EQ(a.kind, Answer::None);
    EXPECT_TRUE(launched.isEmpty());
    EXPECT_EQ(f.actions.quitCount(), 0);

    client_update::Content content;
    content.label = client_update::programVersion();
    content.entries.append({QStringLiteral("pkg/bin/app"), QByteArray("new program")});
    QFile good(dir + "/good.pkg");
    ASSERT_TRUE(good.open(QIODevice::WriteOnly));
    good.write(client_update::encodePackage(client_update::encodeContent(content), seed));
    good.close();
    const QString execute = QStringLiteral(R"({"FuncName":"ExecuteUpdateClient","FilePath":"%1"})")
                                .arg(good.fileName());
    // An updater that does not start would leave nobody to install or start the program.
    updaterStarts = false;
    f.call(execute);
    EXPECT_EQ(launched.size(), 2);
    EXPECT_EQ(f.actions.quitCount(), 0);
    EXPECT_FALSE(client_update::updaterStarted());

    launched.clear();
    updaterStarts = true;
    a = f.call(execute);
    EXPECT_EQ(a.kind, Answer::None);
    EXPECT_EQ(launched, (QStringList{dir + "/torvanix-updater", "--Upgrade"}));
    EXPECT_EQ(f.actions.quitCount(), 1);
    // The program quits for the updater, which starts it again; the first run's own restart
    // must not.
    EXPECT_TRUE(client_update::updaterStarted());
    QFile written(dir + "/update/bin/app");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("new program"));
}

// The update folder opens through the desktop; the flashing tool is a program to run (the
// desktop's file handler does not run programs), and only when it is there and executable.
TEST(UpdateCommands, UpdateFolderOpensThroughTheDesktopTheFlashToolIsRun) {
    QStringList launched;
    PageServices services;
    services.startDetached = [&](const QString &program, const QStringList &args) {
        launched << program << args;
        return true;
    };
    PageFixture f(services);
    const QString dir = f.programDir.path();
    f.call(R"({"FuncName":"OpenUpdateExe"})");
    EXPECT_TRUE(launched.isEmpty());
    QFile tool(dir + "/iap.exe");
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.close();
    f.call(R"({"FuncName":"OpenUpdateExe"})");
    EXPECT_TRUE(launched.isEmpty()) << "a file without execute permission is no program";
    ASSERT_TRUE(tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner));
    f.call(R"({"FuncName":"OpenUpdateExe"})");
    EXPECT_EQ(launched, QStringList{dir + "/iap.exe"});

    Answer a = f.call(R"({"FuncName":"OpenUpdateDirectory","FilePath":"/nonexistent.pkg"})");
    EXPECT_EQ(a.kind, Answer::None);
    const QStringList log = f.actions.log();
    EXPECT_FALSE(log.join('\n').contains("iap"));
    EXPECT_TRUE(log.contains("openExternal " + QUrl::fromLocalFile(dir + "/update").toString()));
    EXPECT_EQ(f.actions.quitCount(), 1);
}

TEST(MusicCommands, AnswerTheirTextsWithAndWithoutPlayer) {
    {
        PageFixture f;
        EXPECT_EQ(f.call(R"({"FuncName":"RGBMusicPlay","Event":"Dance"})").text,
                  "RGBMusicPlay success");
        EXPECT_EQ(f.call(R"({"FuncName":"RGBMusicPlay","Event":"PlayMusic","Url":""})").kind,
                  Answer::None);
        EXPECT_EQ(f.call(R"({"FuncName":"PlayAudio","Event":"PlayMusic"})").text, "Play success");
        EXPECT_EQ(f.call(R"({"FuncName":"PlayAudio","Event":"SetMute","L":1,"R":0})").text,
                  "Play success");
        EXPECT_EQ(f.call(R"({"FuncName":"GetMusicInfo"})").text, "{}");
    }
    {
        FakePlayer player;
        PageServices services;
        services.audio = &player;
        PageFixture f(services);
        f.call(R"({"FuncName":"RGBMusicPlay","Event":"PlayMusic","Url":"/m/a.mp3","Ver":"2"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"SeekPosition","RefreshPosition":"1500"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"SetMute","L":"1","R":"0"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"SetPlayerVolume","L":30,"R":70})");
        f.call(R"({"FuncName":"PlayAudio","Event":"PauseMusic"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"ResumeMusic"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"PlayLoopMusic"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"pausemusic"})");
        // Volumes outside the range, however far, land on its ends.
        f.call(R"({"FuncName":"PlayAudio","Event":"SetPlayerVolume","L":1e20,"R":"-1e300"})");
        f.call(R"({"FuncName":"PlayAudio","Event":"SetPlayerVolume","L":"nan","R":"inf"})");
        EXPECT_EQ(player.calls,
                  (QStringList{"source /m/a.mp3 2", "play", "seek 1500", "mute 1 0", "volume 30 70",
                               "pause", "resume", "loop", "volume 100 0", "volume 0 100"}));
        EXPECT_EQ(f.call(R"({"FuncName":"GetMusicInfo"})").text,
                  "{\"follow\":false,\"title\":\"t\"}");
    }
}

TEST(MusicFollow, StepsGoOutWhenTheyChangeNoSoonerThanTheGapAndTheHeldValueReturns) {
    MusicFollow follow;
    EXPECT_TRUE(follow.level(100, 0, 0).isEmpty()); // off: nothing
    follow.follow(1, {{"b1"}, {"b2"}, {"b3a", "b3b"}}, {"held"});
    EXPECT_EQ(follow.level(20, 100, 1000), QStringList({"b3a", "b3b"})); // louder channel
    EXPECT_TRUE(follow.level(100, 100, 2000).isEmpty());                 // same step
    EXPECT_EQ(follow.level(0, 0, 2100), QStringList({"b1"}));
    EXPECT_TRUE(follow.level(25, 0, 2349).isEmpty());          // within the gap
    EXPECT_EQ(follow.level(25, 0, 2350), QStringList({"b2"})); // 1.5 rounds up
    EXPECT_EQ(follow.stopped(), QStringList({"held"}));
    EXPECT_TRUE(follow.stopped().isEmpty()); // given back once
    // Still on for the next track; switched off it gives back only what it changed.
    EXPECT_EQ(follow.level(-5, 0, 2360), QStringList({"b1"}));
    EXPECT_EQ(follow.stop(), QStringList({"held"}));
    EXPECT_FALSE(follow.active());
    EXPECT_TRUE(follow.level(100, 0, 9000).isEmpty());
}

TEST(MusicCommands, LightingFollowsThePlayersLevelsWithoutAPage) {
    FakePlayer player;
    QStringList written;
    QMutex writtenMutex;
    PageServices services;
    services.audio = &player;
    services.writeDevice = [&](const QString &document) {
        QMutexLocker lock(&writtenMutex);
        written << document;
    };
    PageFixture f(services);
    ASSERT_TRUE(player.listener);
    // Malformed requests change nothing.
    for (
        const char *bad :
        {R"({"FuncName":"RGBMusicPlay","Event":"FollowLighting","First":"0","Steps":"[]","Held":"[]"})",
         R"({"FuncName":"RGBMusicPlay","Event":"FollowLighting","First":"x","Steps":"[[\"a\"]]","Held":"[]"})",
         R"({"FuncName":"RGBMusicPlay","Event":"FollowLighting","First":"0","Steps":"[[1]]","Held":"[]"})"})
        EXPECT_EQ(f.call(bad).text, "RGBMusicPlay success");
    player.listener(100, 100, true);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(f.call(R"({"FuncName":"GetMusicInfo"})").text.contains("\"follow\":false"));

    EXPECT_EQ(f.call(R"({"FuncName":"RGBMusicPlay","Event":"FollowLighting","First":"0",)"
                     R"("Steps":"[[\"s0\"],[\"s1\"]]","Held":"[\"h\"]"})")
                  .text,
              "RGBMusicPlay success");
    EXPECT_TRUE(f.call(R"({"FuncName":"GetMusicInfo"})").text.contains("\"follow\":true"));
    player.listener(90, 10, true);
    player.listener(0, 0, false); // paused: the held brightness goes back
    EXPECT_EQ(written, QStringList({"s1", "h"}));
    f.call(R"({"FuncName":"RGBMusicPlay","Event":"StopFollow"})");
    EXPECT_EQ(written, QStringList({"s1", "h"}));
    EXPECT_TRUE(f.call(R"({"FuncName":"GetMusicInfo"})").text.contains("\"follow\":false"));
}

TEST(MusicModule, AMissingModuleIsReportedAsThePlayersErrorAndNothingElseHappens) {
    RecordingEvents events;
    MusicModule module(events, QStringLiteral(TORVANIX_PROGRAM_DIR "/no-such-music-module.so"));
    EXPECT_FALSE(module.info().contains("error")); // nothing asked of it yet
    module.pause();
    EXPECT_FALSE(module.loaded());
    module.setSource("/music/a.wav", "3");
    module.play();
    const QJsonObject info = QJsonDocument::fromJson(module.info().toUtf8()).object();
    EXPECT_EQ(info.value("source").toString(), "/music/a.wav");
    EXPECT_EQ(info.value("state").toString(), "stopped");
    EXPECT_TRUE(info.value("error").toString().contains("cannot be loaded"));
    EXPECT_FALSE(module.loaded());
}

TEST(PageCommandsLifetime, ShutdownDropsLaterQueries) {
    QSemaphore gate;
    PageServices services;
    services.enumerateDevices = [&] {
        gate.acquire();
        return mouseOnly();
    };
    PageFixture f(services);
    auto running = f.send(R"({"FuncName":"GetDevicesList"})");
    auto queued = f.send(R"({"FuncName":"GetMonitorStatus"})");
    f.page->shutdown();
    gate.release();
    EXPECT_EQ(f.call(R"({"FuncName":"GetMonitorStatus"})").kind, Answer::None);
    EXPECT_EQ(f.call(R"({"FuncName":"GetDevicesList"})").kind, Answer::None);
    EXPECT_EQ(queued->answer().kind, Answer::None);
}

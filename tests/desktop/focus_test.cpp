// Profiles following the application in front: the "focus" settings, which rule decides, and
// when a switch goes out (settled focus, a differing profile, once per change).
#include "desktop/desktop_hub.h"
#include "desktop/focus_follow.h"
#include "desktop/focus_piece.h"
#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace torvanix;

namespace {

QJsonObject parse(const char *text) {
    return QJsonDocument::fromJson(text).object();
}

FocusApplication x11(const QString &instance, const QString &cls, const QString &exe = {}) {
    FocusApplication app;
    app.instance = instance;
    app.windowClass = cls;
    app.executable = exe;
    return app;
}

FocusApplication wayland(const QString &appId) {
    FocusApplication app;
    app.appId = appId;
    return app;
}

struct TextAnswer : Reply {
    QString text;
    void success(const QString &t) override { text = t; }
    void failure(int, const QString &t) override { text = "failure: " + t; }
};

// Readable in a failure message.
std::string text(const QList<QPair<QString, int>> &switches) {
    QStringList parts;
    for (const auto &s : switches)
        parts << QStringLiteral("%1=%2").arg(s.first).arg(s.second);
    return parts.join(' ').toStdString();
}

} // namespace

TEST(FocusRulesTest, NormaliserFillsDefaultsAndRefusesWhatCannotBeFollowed) {
    QJsonObject empty;
    ASSERT_TRUE(FocusRules::normalise(empty, nullptr));
    EXPECT_EQ(empty, parse(R"({"enabled":false,"notify":false,"rules":[],"default":{}})"));

    QJsonObject good = parse(R"({"enabled":true,"extra":1,"rules":[{"app":"  Firefox ",
        "profiles":{"kb1":2.0},"x":0}],"default":{"kb1":1}})");
    ASSERT_TRUE(FocusRules::normalise(good, nullptr));
    EXPECT_EQ(good, parse(R"({"enabled":true,"notify":false,"rules":[{"app":"Firefox",
        "profiles":{"kb1":2}}],"default":{"kb1":1}})"));

    for (const char *bad : {R"({"enabled":"yes"})", R"({"rules":{}})", R"({"rules":[{"app":" "}]})",
                            R"({"rules":[{"app":"a","profiles":{"kb1":0}}]})",
                            R"({"rules":[{"app":"a","profiles":{"kb1":17}}]})",
                            R"({"rules":[{"app":"a","profiles":{"kb1":1.5}}]})",
                            R"({"default":{"kb1":"2"}})", R"({"default":{"":2}})",
                            R"({"default":{"kb1":2,"KB1":3}})", R"({"rules":["firefox"]})"}) {
        QJsonObject value = parse(bad);
        QString why;
        EXPECT_FALSE(FocusRules::normalise(value, &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
}

TEST(FocusRulesTest, FirstRuleNamingTheApplicationDecidesAndTheDefaultFillsIn) {
    QJsonObject section = parse(R"({"rules":[
        {"app":"XClock","profiles":{"KB1":3}},
        {"app":"nautilus","profiles":{"ms1":4}},
        {"app":"firefox-esr","profiles":{"kb1":5,"ms1":5}},
        {"app":"xclock","profiles":{"kb1":9}}],
        "default":{"kb1":1,"ms1":2}})");
    ASSERT_TRUE(FocusRules::normalise(section, nullptr));
    const FocusRules rules = FocusRules::fromSection(section);

    QString rule;
    // The class, case-insensitively; the rule's spelling of the identity replaces the default's.
    QMap<QString, int> targets = rules.targetsFor(x11("xclock", "XClock"), &rule);
    EXPECT_EQ(rule, "XClock");
    EXPECT_EQ(targets, (QMap<QString, int>{{"KB1", 3}, {"ms1", 2}}));
    // A reverse-DNS app id and a desktop file name match by their last part.
    EXPECT_EQ(rules.targetsFor(wayland("org.gnome.Nautilus.desktop")).value("ms1"), 4);
    // The executable, when the window class says nothing.
    EXPECT_EQ(rules.targetsFor(x11("Navigator", "Firefox", "firefox-esr")).value("kb1"), 5);
    // No rule: the default alone.
    targets = rules.targetsFor(wayland("foot"), &rule);
    EXPECT_TRUE(rule.isEmpty());
    EXPECT_EQ(targets, (QMap<QString, int>{{"kb1", 1}, {"ms1", 2}}));
    // "code" is no reverse-DNS id: nothing splits off it.
    EXPECT_EQ(wayland("code").names(), QStringList{"code"});
}

namespace {

struct FakeDesk {
    QMap<QString, FocusFollower::Device> devices;
    QList<QPair<QString, int>> switches;
    QStringList notices;
    bool fail = false;
    // Switches finish later, as the command lane answers: held here until released.
    QList<std::function<void()>> pending;

    FocusFollower::Hooks hooks() {
        FocusFollower::Hooks h;
        h.device = [this](const QString &identity) { return devices.value(identity.toLower()); };
        h.switchProfile = [this](const QString &identity, int profile, FocusFollower::Done done) {
            switches << qMakePair(identity, profile);
            pending << [this, identity, profile, done] {
                if (!fail)
                    devices[identity.toLower()].profile = profile;
                done(!fail, fail ? QStringLiteral("write failed") : QString());
            };
        };
        h.notify = [this](const QString &summary, const QString &body) {
            notices << summary + " | " + body;
        };
        return h;
    }
    void finishSwitches() {
        const auto run = pending;
        pending.clear();
        for (const auto &f : run)
            f();
    }
};

FocusRules followerRules(bool notify) {
    QJsonObject section = parse(R"({"enabled":true,"rules":[
        {"app":"alpha","profiles":{"kb1":2,"ms1":3}},
        {"app":"beta","profiles":{"kb1":4}},
        {"app":"gamma","profiles":{"kb1":2,"gone":5}}],
        "default":{"kb1":1,"ms1":1}})");
    section.insert("notify", notify);
    EXPECT_TRUE(FocusRules::normalise(section, nullptr));
    return FocusRules::fromSection(section);
}

class FocusFollowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        desk.devices["kb1"] = {true, 1, "Keyboard"};
        desk.devices["ms1"] = {true, 1, "Mouse"};
        follower.setSettleMs(30);
        follower.setRules(followerRules(false));
    }
    void waitSettled() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !follower.settling(); }, 5000));
    }
    void settle() {
        waitSettled();
        desk.finishSwitches();
    }
    FakeDesk desk;
    FocusFollower follower{desk.hooks()};
};

} // namespace

TEST_F(FocusFollowerTest, SwitchesOncePerSettledChangeOnlyWhereTheProfileDiffers) {
    follower.report(wayland("alpha"), "test");
    settle();
    EXPECT_EQ(text(desk.switches), "kb1=2 ms1=3");

    // The same application again, and a quick tour that comes back to it: nothing.
    desk.switches.clear();
    follower.report(wayland("alpha"), "test");
    follower.report(wayland("beta"), "test");
    follower.report(wayland("gamma"), "test");
    follower.report(wayland("ALPHA"), "test");
    settle();
    EXPECT_TRUE(desk.switches.isEmpty());

    // Our own window keeps what is on, and drops a change that had not settled yet.
    follower.report(wayland("beta"), "test");
    follower.report(x11("torvanix-ui", "Torvanix"), "x11");
    settle();
    EXPECT_TRUE(desk.switches.isEmpty());

    // beta names the keyboard; the mouse takes the default.
    follower.report(wayland("beta"), "test");
    settle();
    EXPECT_EQ(text(desk.switches), "kb1=4 ms1=1");

    // A switch still on its way (the device list does not know the profile yet) is not sent
    // twice; a device that is not connected is left out.
    desk.switches.clear();
    desk.devices["kb1"].profile = 0;
    follower.report(wayland("gamma"), "test");
    waitSettled();
    follower.report(wayland("alpha"), "test");
    settle();
    EXPECT_EQ(text(desk.switches), "kb1=2 ms1=3");
    desk.finishSwitches();

    // A device plugged in while an application is in front takes its profile.
    desk.switches.clear();
    desk.devices["ms1"] = {true, 1, "Mouse"};
    follower.deviceArrived("MS1");
    follower.deviceArrived("kb1"); // holds it already
    desk.finishSwitches();
    EXPECT_EQ(text(desk.switches), "ms1=3");
}

TEST_F(FocusFollowerTest, AFailedSwitchIsTriedAgainAndTheNoticeNamesWhatWasSet) {
    follower.setRules(followerRules(true));
    desk.fail = true;
    follower.report(x11("alpha", "Alpha"), "x11");
    settle();
    EXPECT_EQ(desk.switches.size(), 2);
    EXPECT_TRUE(desk.notices.isEmpty());

    // After a failed write the profile is unknown to be set: the next change tries again.
    desk.fail = false;
    desk.devices["kb1"].profile = 0;
    follower.report(wayland("other"), "x11");
    settle();
    follower.report(x11("alpha", "Alpha"), "x11");
    settle();
    EXPECT_EQ(text(desk.switches.mid(2)), "kb1=1 kb1=2 ms1=3");
    ASSERT_EQ(desk.notices.size(), 2);
    EXPECT_EQ(desk.notices.last().toStdString(),
              "Profile for Alpha | Keyboard: profile 2\nMouse: profile 3");

    // Switched off and on: what was in front counts as new again.
    desk.switches.clear();
    desk.devices["kb1"].profile = 5; // the page changed it meanwhile
    follower.reset();
    follower.report(x11("alpha", "Alpha"), "x11");
    settle();
    EXPECT_EQ(text(desk.switches), "kb1=2");
}

// The core's side: a report from a desktop script (the D-Bus method) reaches the device as the
// page's profile switch, the picker lists what was reported, and nothing follows while the
// setting is off.
TEST(FocusPieceTest, ReportsThroughTheHubSwitchTheDeviceOnlyWhileFollowingIsOn) {
    QTemporaryDir dir;
    const QString path = dir.filePath("core-settings.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"focus":{"enabled":true,"notify":true,"rules":[{"app":"alpha",
        "profiles":{"tob-nir-v1.2.0":2}}]}})");
    file.close();

    CommandDispatcher dispatcher;
    NullEventSink events;
    QStringList written;
    DesktopHub::Services services;
    services.dispatcher = &dispatcher;
    services.pageEvents = &events;
    services.settingsPath = path;
    services.apply = [&](const QString &document, const QString &origin, auto done) {
        written << origin + ": " + document;
        done(QStringLiteral("TOB-NIR-V1.2.0"), document, origin, device_data_handler::Outcome{});
        return true;
    };
    // Neither X11 nor Wayland: only the reports.
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    DesktopHub hub(services);
    FocusPiece *piece = startFocusFollow(hub);
    QStringList notices;
    piece->setNoticeSender([&](const QString &key, const QString &summary, const QString &body) {
        notices << key + " | " + summary + " | " + body;
    });
    hub.devicesRead({{"TOB-NIR-V1.2.0", QJsonObject{{"Version", "TOB-NIR-V1.2.0"},
                                                    {"DevicePath", "p1"},
                                                    {"ProfileCount", "4"}}}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(hub.book().device("TOB-NIR-V1.2.0")); }));

    hub.reportActiveApplication("org.example.Alpha", "dbus");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !written.isEmpty(); }, 5000));
    QTest::qWait(FocusFollower::kSettleMs + 100);
    ASSERT_EQ(written.size(), 1);
    EXPECT_TRUE(written[0].startsWith("focus: ")) << written[0].toStdString();
    EXPECT_TRUE(written[0].contains(R"(name="CurProfile")") &&
                written[0].contains(R"(value="2" action="set")"))
        << written[0].toStdString();

    EXPECT_EQ(notices.join("; ").toStdString(),
              "focus-profile | Profile for org.example.Alpha | Torvanix Keystone 104: profile 2");

    auto answer = std::make_shared<TextAnswer>();
    dispatcher.dofunc("GetRunningApplications", {}, answer);
    EXPECT_EQ(answer->text.toStdString(), R"(["org.example.Alpha"])");

    QJsonObject off = hub.settings().section("focus");
    off.insert("enabled", false);
    ASSERT_TRUE(hub.settings().setSection("focus", off));
    hub.reportActiveApplication("beta", "dbus");
    hub.reportActiveApplication("alpha", "dbus");
    QTest::qWait(FocusFollower::kSettleMs + 200);
    EXPECT_EQ(written.size(), 1);
    hub.stopPieces();
}

// The core stops following (settings off, shutting down) while a switch is still in the lane:
// its late answer must find nothing of the follower (the sanitizer build catches a use).
TEST(FocusFollowerEnd, ALateAnswerAfterTheFollowerIsGoneIsDropped) {
    FakeDesk desk;
    desk.devices["kb1"] = {true, 1, "Keyboard"};
    auto *follower = new FocusFollower(desk.hooks());
    follower->setSettleMs(10);
    follower->setRules(followerRules(true));
    follower->report(wayland("alpha"), "test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.pending.isEmpty(); }, 5000));
    delete follower;
    desk.finishSwitches();
    EXPECT_TRUE(desk.notices.isEmpty());
}

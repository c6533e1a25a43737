// What the battery levels make the program say: notices, tooltip, menu and icon names.
#include "desktop/battery_policy.h"
#include "desktop/battery_watch.h"
#include "desktop/notifier.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace torvanix;
using battery::Notice;

namespace {

BookDevice device(const QString &model, int level, const QString &connection,
                  const QString &status = QString()) {
    BookDevice d;
    d.identity = model.toUpper();
    d.model = model;
    d.battery = level;
    d.connection = connection;
    if (!status.isEmpty())
        d.record.insert(QStringLiteral("ConnectStatus"), status);
    return d;
}

} // namespace

TEST(BatteryNotices, OnePerThresholdGoingDownNoneUpAndArmedAgainAboveIt) {
    battery::NoticePolicy policy;
    const battery::Thresholds t;
    auto run = [&](std::initializer_list<int> levels, bool charging = false) {
        QList<Notice> out;
        for (int level : levels)
            out << policy.reading(QStringLiteral("a"), level, charging, t);
        return out;
    };
    using N = QList<Notice>;
    const Notice o = Notice::None, L = Notice::Low, C = Notice::Critical;
    EXPECT_EQ(run({100, 60, 16, 15, 14, 10, 6, 5, 4, 3}), (N{o, o, o, L, o, o, o, C, o, o}));
    // Rising: the critical notice is armed above 5 and the low one above 15, and neither
    // speaks on the way up; a level hovering at a threshold says nothing more.
    EXPECT_EQ(run({4, 6, 10, 15, 16, 15, 14}), (N{o, o, o, o, o, L, o}));
    EXPECT_EQ(run({6, 5, 6, 5}), (N{o, C, o, C}));
    // Charging arms both again; nothing while charging.
    EXPECT_EQ(run({5}, true), (N{o}));
    EXPECT_EQ(run({10, 4}), (N{L, C}));
    // No reading changes nothing; a device first seen low, or a fall past both thresholds
    // between two readings, gets the one notice of the worse level.
    EXPECT_EQ(run({-1, 0, 101}), (N{o, o, o}));
    EXPECT_EQ(policy.reading(QStringLiteral("b"), 3, false, t), C);
    EXPECT_EQ(policy.reading(QStringLiteral("c"), 40, false, t), o);
    EXPECT_EQ(policy.reading(QStringLiteral("c"), 4, false, t), C);
    EXPECT_EQ(policy.reading(QStringLiteral("C"), 4, false, t), o); // identities ignore case
    // Switched off it stays quiet, and switching on later does not report an old level.
    battery::Thresholds off = t;
    off.notices = false;
    EXPECT_EQ(policy.reading(QStringLiteral("d"), 10, false, off), o);
    EXPECT_EQ(policy.reading(QStringLiteral("d"), 9, false, t), o);
}

TEST(BatteryNotices, SettingsSectionTakesOnlyOrderedWholeLevels) {
    QJsonObject v;
    ASSERT_TRUE(battery::normaliseSettings(v, nullptr));
    EXPECT_EQ(v, (QJsonObject{{"notices", true}, {"low", 15}, {"critical", 5}}));
    v = QJsonObject{{"notices", false}, {"low", 30}, {"other", 1}};
    ASSERT_TRUE(battery::normaliseSettings(v, nullptr));
    EXPECT_EQ(v, (QJsonObject{{"notices", false}, {"low", 30}, {"critical", 5}}));
    for (const QJsonObject &bad :
         {QJsonObject{{"low", 5}}, QJsonObject{{"low", 51}}, QJsonObject{{"critical", 0}},
          QJsonObject{{"low", 12.5}}, QJsonObject{{"low", "20"}}, QJsonObject{{"notices", 1}},
          QJsonObject{{"low", 10}, {"critical", 10}}}) {
        QJsonObject value = bad;
        QString why;
        EXPECT_FALSE(battery::normaliseSettings(value, &why)) << QJsonDocument(bad).toJson().data();
        EXPECT_FALSE(why.isEmpty());
    }
    EXPECT_EQ(battery::thresholdsFrom(QJsonObject{{"low", 20}, {"critical", 2}}).critical, 2);
}

TEST(BatteryTray, TextsIconAndChargingFollowTheBook) {
    const QList<BookDevice> devices{
        device(QStringLiteral("Keystone"), 100, QStringLiteral("wired"), QStringLiteral("1")),
        device(QStringLiteral("Glide"), 85, QStringLiteral("bluetooth"), QStringLiteral("1")),
        device(QStringLiteral("Swift"), 64, QStringLiteral("wireless"), QStringLiteral("2")),
        device(QStringLiteral("Cable"), 40, QStringLiteral("wired"), QStringLiteral("1")),
        device(QStringLiteral("Plain"), -1, QStringLiteral("wired"), QStringLiteral("1"))};
    // On its cable below full a device charges; at full, over the air or unknown it does not.
    QList<bool> charging;
    for (const BookDevice &d : devices)
        charging << BatteryWatch::chargingOf(d);
    EXPECT_EQ(charging, (QList<bool>{false, false, false, true, false}));
    EXPECT_FALSE(BatteryWatch::chargingOf(device(QStringLiteral("X"), 40, QStringLiteral(""))));

    QList<BookDevice> shown = devices;
    shown[3].charging = true;
    EXPECT_EQ(battery::toolTip(shown), QStringLiteral("Torvanix\nKeystone: 100 %\nGlide: 85 %\n"
                                                      "Swift: 64 %\nCable: 40 %, charging"));
    EXPECT_EQ(battery::toolTip({}), QStringLiteral("Torvanix"));
    EXPECT_EQ(battery::menuText(shown[2]), QStringLiteral("Swift \u2014 64 %"));
    // The icon shows the lowest wireless level: the wired 40 % does not count.
    ASSERT_NE(battery::lowestWireless(shown), nullptr);
    EXPECT_EQ(battery::lowestWireless(shown)->model, QStringLiteral("Swift"));
    EXPECT_EQ(battery::lowestWireless({shown[0], shown[3], shown[4]}), nullptr);
    // A level from a power query, with no word of the connection, drains like a wireless one.
    EXPECT_EQ(
        battery::lowestWireless({shown[0], device(QStringLiteral("Pulse"), 30, QString())})->model,
        QStringLiteral("Pulse"));

    const battery::Thresholds t;
    EXPECT_EQ(battery::iconNames(64, false, t),
              (QStringList{"battery-level-60-symbolic", "battery-good", "battery"}));
    EXPECT_EQ(battery::iconNames(3, false, t),
              (QStringList{"battery-level-0-symbolic", "battery-caution", "battery"}));
    EXPECT_EQ(battery::iconNames(15, true, t).mid(1, 2),
              (QStringList{"battery-low-charging", "battery-low"}));
    EXPECT_EQ(battery::iconNames(100, true, t).first(),
              QStringLiteral("battery-level-100-charged-symbolic"));
}

TEST(Notifier, WithoutABusNothingIsShownAndNothingFails) {
    Notifier notifier(QDBusConnection(QStringLiteral("no bus")));
    QStringList log;
    notifier.setLog([&](const QString &line) { log << line; });
    QSignalSpy shown(&notifier, &Notifier::shown);
    notifier.notify(QStringLiteral("k"), QStringLiteral("s"), QStringLiteral("b"));
    notifier.notify(QStringLiteral("k"), QStringLiteral("s"), QStringLiteral("b"));
    EXPECT_EQ(shown.count(), 0);
    EXPECT_EQ(log.size(), 1);
}

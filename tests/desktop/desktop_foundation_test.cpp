// The core's own settings file and what it remembers of the devices.
#include "desktop/core_settings.h"
#include "desktop/device_book.h"
#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

struct Answer : Reply {
    QString text;
    bool ok = false;
    void success(const QString &t) override { ok = true, text = t; }
    void failure(int, const QString &t) override { ok = false, text = t; }
};

bool levels(QJsonObject &v, QString *why) {
    if (!v.contains(QLatin1String("low")))
        v.insert(QStringLiteral("low"), 15);
    const int low = v.value(QLatin1String("low")).toInt(-1);
    if (low < 1 || low > 50) {
        if (why)
            *why = QStringLiteral("low out of range");
        return false;
    }
    return true;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(CoreSettings, RefusedOrDamagedValuesNeverCostWhatIsStored) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("torvanix/core-settings.json"));
    CoreSettings settings(path);
    settings.addSection(QStringLiteral("battery"), levels);
    CommandDispatcher dispatcher;
    NullEventSink events;
    registerCoreSettingsCommands(dispatcher, settings, events);

    auto set = [&](const QString &section, const QString &value) {
        auto a = std::make_shared<Answer>();
        dispatcher.dofunc(QStringLiteral("SetCoreSettings"),
                          {{QStringLiteral("Section"), section}, {QStringLiteral("Value"), value}},
                          a);
        return a;
    };
    auto stored = set(QStringLiteral("battery"), QStringLiteral("{\"low\":20,\"extra\":1}"));
    ASSERT_TRUE(stored->ok);
    EXPECT_EQ(QJsonDocument::fromJson(stored->text.toUtf8()).object().value("low").toInt(), 20);
    const QByteArray before = fileBytes(path);
    ASSERT_FALSE(before.isEmpty());

    EXPECT_FALSE(set(QStringLiteral("battery"), QStringLiteral("{\"low\":90}"))->ok);
    EXPECT_FALSE(set(QStringLiteral("battery"), QStringLiteral("[1]"))->ok);
    EXPECT_EQ(set(QStringLiteral("nothing"), QStringLiteral("{}"))->text, QStringLiteral("failed"));
    EXPECT_EQ(fileBytes(path), before);

    // A file damaged by hand reads as defaults and stays on disk until the next change.
    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("{\"battery\": {\"low\": 2");
    damaged.close();
    CoreSettings again(path);
    again.addSection(QStringLiteral("battery"), levels);
    EXPECT_EQ(again.section(QStringLiteral("battery")).value("low").toInt(), 15);
    EXPECT_EQ(fileBytes(path), QByteArray("{\"battery\": {\"low\": 2"));
}

TEST(DeviceBook, RemembersWhatTheDeviceWasToldAndWhatToPutBack) {
    DeviceBook book;
    auto record = [](const char *version, const char *battery, const char *status) {
        return QJsonObject{{"Version", version},
                           {"DevicePath", QString::fromLatin1(version) + "-path"},
                           {"Battery", battery},
                           {"ConnectStatus", status}};
    };
    DeviceRecordMap records;
    records.insert("TOB-NIR-V1.2.0", record("TOB-NIR-V1.2.0", "0", "1"));
    records.insert("WSU-DFO-V1.1.0", record("WSU-DFO-V1.1.0", "0", "1"));
    records.insert("0C458075", record("0C458075", "64", "2"));
    int added = 0;
    QObject::connect(&book, &DeviceBook::deviceAdded, [&] { ++added; });
    book.updateRecords(records);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(book.device("0c458075")->battery, 64);
    EXPECT_EQ(book.device("0C458075")->connection, "wireless");

    // The profile switch the page sends, and none for identities of USB digits.
    const QString sw = DeviceBook::profileSwitchDocument("TOB-NIR-V1.2.0", 3);
    EXPECT_EQ(sw, QStringLiteral("<configuration><key name=\"UsbId\" index=\"1\" length=\"4\" "
                                 "value=\"TOB-NIR-V1.2.0\"/><key name=\"CurProfile\" index=\"5\" "
                                 "length=\"1\" value=\"3\" action=\"set\"/></configuration>"));
    EXPECT_TRUE(DeviceBook::profileSwitchDocument("0C458075", 2).isEmpty());
    EXPECT_TRUE(book.restoreDocuments("TOB-NIR-V1.2.0").isEmpty());

    QStringList changed;
    QObject::connect(&book, &DeviceBook::deviceChanged,
                     [&](const BookDevice &, const QStringList &f) { changed << f; });
    book.noteApplied("TOB-NIR-V1.2.0", sw);
    EXPECT_EQ(book.device("TOB-NIR-V1.2.0")->profile, 3);
    EXPECT_EQ(changed, QStringList{"profile"});
    EXPECT_EQ(book.restoreDocuments("TOB-NIR-V1.2.0"), QStringList{sw});

    // Only a notebook's zones are lighting it forgets.
    const QString zone = "<configuration><key name=\"UsbId\" value=\"X\"/><lightLeft index=\"180\" "
                         "length=\"1\"><mode name=\"Default\" action=\"set\"/></lightLeft>"
                         "</configuration>";
    book.noteApplied("TOB-NIR-V1.2.0", zone);
    book.noteApplied("WSU-DFO-V1.1.0", zone);
    EXPECT_EQ(book.restoreDocuments("TOB-NIR-V1.2.0"), QStringList{sw});
    EXPECT_EQ(book.restoreDocuments("WSU-DFO-V1.1.0"), QStringList{zone});

    // A device that leaves and comes back keeps its number and what it was told.
    const quint32 number = book.device("TOB-NIR-V1.2.0")->number;
    records.remove("TOB-NIR-V1.2.0");
    book.updateRecords(records);
    EXPECT_FALSE(book.device("TOB-NIR-V1.2.0"));
    records.insert("TOB-NIR-V1.2.0", record("TOB-NIR-V1.2.0", "0", "1"));
    book.updateRecords(records);
    EXPECT_EQ(book.device("TOB-NIR-V1.2.0")->number, number);
    EXPECT_EQ(book.restoreDocuments("TOB-NIR-V1.2.0"), QStringList{sw});
}

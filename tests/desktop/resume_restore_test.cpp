// What is put back on a device's return and after a wake, and what the restore memory keeps
// for the next logon: the decisions, with the hub's device lane replaced by a list.
#include "desktop/desktop_hub.h"
#include "desktop/restore_memory.h"
#include "desktop/resume_watch.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

const QString kNotebook = QStringLiteral("WSU-DFO-V1.1.0");
const QString kKeyboard = QStringLiteral("TOB-NIR-V1.2.0");

QString zone(const QString &name, const QString &rgb) {
    return QStringLiteral("<configuration><key name=\"UsbId\" value=\"WSU-DFO-V1.1.0\"/><%1 "
                          "index=\"162\" length=\"1\"><mode name=\"Default\" index=\"3\" "
                          "length=\"1\" action=\"set\"><key name=\"LightRGB\" index=\"166\" "
                          "length=\"3\" value=\"%2\" action=\"set\"/></mode></%1></configuration>")
        .arg(name, rgb);
}

DeviceRecordMap records(const QStringList &versions) {
    DeviceRecordMap map;
    for (const QString &v : versions)
        map.insert(v, QJsonObject{{"Version", v}, {"DevicePath", "path-" + v}});
    return map;
}

std::string text(const QStringList &list) {
    return list.join('\n').toStdString();
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct Rig {
    QTemporaryDir dir;
    DeviceRecordMap present;
    QStringList applied;
    std::unique_ptr<DesktopHub> hub;

    explicit Rig() {
        DesktopHub::Services s;
        s.settingsPath = dir.filePath("core-settings.json");
        s.apply = [this](const QString &document, const QString &origin, auto done) {
            static const QRegularExpression usbId("name=\"UsbId\"[^>]*value=\"([^\"]+)\"");
            const QString identity = usbId.match(document).captured(1);
            applied << document;
            device_data_handler::Outcome ok;
            if (!present.contains(identity))
                ok.dispatch = device_data_handler::Dispatch::UnknownDevice;
            hub->documentDone(identity, document, origin, ok);
            if (done)
                done(identity, document, origin, ok);
            return true;
        };
        s.readDevicesSoon = [this] { hub->devicesRead(present); };
        hub = std::make_unique<DesktopHub>(std::move(s));
    }
    QString memoryPath() const { return dir.filePath("restore.json"); }
    void plug(const QStringList &versions) {
        present = records(versions);
        hub->devicesRead(present);
        settle();
    }
    // What the page sent, as the hub hears of it.
    void pageSent(const QString &identity, const QString &document) {
        hub->documentDone(identity, document, "page", {});
        settle();
    }
};

} // namespace

TEST(ResumeRestore, AReturningDeviceAndAWakeGetBackWhatTheDeviceForgetsAndNothingElse) {
    Rig rig;
    auto restore = std::make_unique<ResumeRestore>(
        *rig.hub, std::make_unique<RestoreMemory>(rig.memoryPath(), "boot-1"), 0);
    rig.plug({kNotebook, kKeyboard});
    EXPECT_TRUE(rig.applied.isEmpty()) << "first sight in this run puts nothing back";

    const QString light = zone("light", "ff0000");
    const QString left = zone("lightLeft", "00ff00");
    rig.pageSent(kNotebook, light);
    rig.pageSent(kNotebook, left);
    rig.pageSent(kNotebook, zone("light", "0000ff")); // the zone's later choice wins
    rig.pageSent(kKeyboard, DeviceBook::profileSwitchDocument(kKeyboard, 1));

    // The notebook leaves and comes back: both zones, each with its last choice; the keyboard
    // in its default profile is left alone.
    rig.plug({kKeyboard});
    rig.plug({kNotebook, kKeyboard});
    const QStringList zones{zone("light", "0000ff"), left};
    EXPECT_EQ(text(rig.applied), text(zones));

    // A wake: the list is read again first, then the same.
    rig.applied.clear();
    rig.pageSent(kKeyboard, DeviceBook::profileSwitchDocument(kKeyboard, 3));
    emit rig.hub->sessionResumed();
    settle();
    // By device number: the keyboard came first in the first list.
    const QStringList expected =
        QStringList{DeviceBook::profileSwitchDocument(kKeyboard, 3)} + zones;
    EXPECT_EQ(text(rig.applied), text(expected));

    // A reset gives the device its defaults back: nothing to restore, nothing kept for logon.
    rig.applied.clear();
    rig.pageSent(kNotebook, "<configuration action=\"reset\"><key name=\"UsbId\" "
                            "value=\"WSU-DFO-V1.1.0\"/></configuration>");
    rig.plug({kKeyboard});
    rig.plug({kNotebook, kKeyboard});
    EXPECT_TRUE(rig.applied.isEmpty()) << rig.applied.join('\n').toStdString();
    restore.reset(); // saves what is due
    RestoreMemory kept(rig.memoryPath(), "boot-2");
    ASSERT_TRUE(kept.load());
    EXPECT_TRUE(kept.fromEarlierBoot(kNotebook).isEmpty());
}

TEST(RestoreMemory, KeepsPerBootAndSurvivesAFailedStartOrADamagedFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state/restore.json");
    const QStringList docs{zone("light", "ff0000"), zone("lightLeft", "00ff00")};
    {
        RestoreMemory memory(path, "boot-1");
        ASSERT_TRUE(memory.load()); // no file yet: empty
        EXPECT_TRUE(memory.remember(kNotebook, docs));
        EXPECT_FALSE(memory.remember(kNotebook.toLower(), docs));
        ASSERT_TRUE(memory.save());
        EXPECT_TRUE(memory.fromEarlierBoot(kNotebook).isEmpty()) << "same boot";
    }
    RestoreMemory nextBoot(path, "boot-2");
    ASSERT_TRUE(nextBoot.load());
    EXPECT_EQ(nextBoot.fromEarlierBoot(kNotebook.toLower()), docs);
    RestoreMemory unknownBoot(path, QString());
    ASSERT_TRUE(unknownBoot.load());
    EXPECT_TRUE(unknownBoot.fromEarlierBoot(kNotebook).isEmpty());

    // A damaged file is refused with words, and the next save replaces it whole.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"devices\": [");
    file.close();
    RestoreMemory damaged(path, "boot-3");
    QString why;
    EXPECT_FALSE(damaged.load(&why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(damaged.fromEarlierBoot(kNotebook).isEmpty());
    EXPECT_TRUE(damaged.remember(kNotebook, docs));
    ASSERT_TRUE(damaged.save());
    RestoreMemory after(path, "boot-4");
    ASSERT_TRUE(after.load());
    EXPECT_EQ(after.fromEarlierBoot(kNotebook), docs);
}

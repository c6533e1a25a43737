// Shell pieces that need no browser: logon start, the single-instance command buffer and
// the device-change notices.
#include "app/app_log.h"
#include "device/library_loader.h"
#include "device/update_firmware.h"
#include "ui/desktop_services.h"
#include "ui/device_monitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace torvanix;

TEST(AutoStart, EnablingWritesAnEntryDisablingKeepsItDisabled) {
    QTemporaryDir dir;
    AutoStart autostart(dir.filePath("autostart"));
    EXPECT_FALSE(autostart.isEnabled());
    ASSERT_TRUE(autostart.setEnabled(true, "/opt/Torvanix/torvanix"));
    EXPECT_TRUE(autostart.entryPath().endsWith("/LUMSetup.desktop"));
    EXPECT_TRUE(autostart.isEnabled());
    QFile f(autostart.entryPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("Exec=\"/opt/Torvanix/torvanix\"\n"));
    f.close();

    ASSERT_TRUE(autostart.setEnabled(false, "/opt/Torvanix/torvanix"));
    EXPECT_TRUE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(autostart.isEnabled());
}

TEST(AutoStart, ProgramPathCannotBecomeAnotherCommand) {
    EXPECT_EQ(AutoStart::execValue("/opt/my apps/torvanix"), QString("\"/opt/my apps/torvanix\""));
    EXPECT_EQ(AutoStart::execValue("/a/$(rm -rf ~)`x`\"q\"%u"),
              QString("\"/a/\\\\$(rm -rf ~)\\\\`x\\\\`\\\\\"q\\\\\"%%u\""));
    EXPECT_EQ(AutoStart::execValue("/a\\b"), QString("\"/a\\\\\\\\b\""));
    EXPECT_EQ(AutoStart::execValue("/a\nExec=evil"), QString("\"/aExec=evil\""));
}

// The log's folder may have been made by someone else: a link in place of the log must not
// carry the lines into whatever file it points at.
TEST(ShellLog, NeverAppendsThroughALink) {
    QTemporaryDir dir;
    QFile victim(dir.filePath("victim"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("kept\n");
    victim.close();
    const QString log = dir.filePath("ozk.log");
    ASSERT_TRUE(QFile::link(victim.fileName(), log));
    setShellLogFile(log);
    APP_LOG(QStringLiteral("Application Info: through the link"));
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), QByteArray("kept\n"));
    victim.close();

    // Nor through a second name of the same file.
    QFile::remove(log);
    ASSERT_EQ(::link(QFile::encodeName(victim.fileName()).constData(),
                     QFile::encodeName(log).constData()),
              0);
    APP_LOG(QStringLiteral("Application Info: through the hard link"));
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), QByteArray("kept\n"));
    victim.close();

    QFile::remove(log);
    APP_LOG(QStringLiteral("Application Info: into the log"));
    QFile written(log);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("Application Info: into the log"));
    EXPECT_EQ(written.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther), 0);
    setShellLogFile(QString());
}

TEST(InstanceCommands, SegmentsEndAtSemicolonsAndTheRestStaysBuffered) {
    QByteArray buffer("CMD:show;CMD:show;");
    EXPECT_EQ(takeInstanceSegments(buffer), QStringList({"CMD:show", "CMD:show"}));
    EXPECT_TRUE(buffer.isEmpty());

    buffer = "CMD:sh";
    EXPECT_TRUE(takeInstanceSegments(buffer).isEmpty());
    EXPECT_EQ(buffer, QByteArray("CMD:sh"));
    buffer += "ow;junk;CMD:other;CMD:";
    EXPECT_EQ(takeInstanceSegments(buffer), QStringList({"CMD:show", "junk", "CMD:other"}));
    EXPECT_EQ(buffer, QByteArray("CMD:"));

    buffer = ";;";
    EXPECT_EQ(takeInstanceSegments(buffer), QStringList({"", ""}));

    // Bytes that are no valid text in front of a command do not eat into the next one.
    QTextCodec *const locale = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    buffer = QByteArray("\xff\xfe"
                        "CMD;CMD:sh");
    EXPECT_EQ(takeInstanceSegments(buffer).size(), 1);
    EXPECT_EQ(buffer, QByteArray("CMD:sh"));
    buffer += "ow;";
    EXPECT_EQ(takeInstanceSegments(buffer), QStringList({"CMD:show"}));
    EXPECT_TRUE(buffer.isEmpty());
    QTextCodec::setCodecForLocale(locale);
}

TEST(DeviceNotices, OneChangePerDeviceArrivalOrRemoval) {
    EXPECT_EQ(usbDeviceKey("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"),
              QString("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"));
    EXPECT_EQ(usbDeviceKey("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1"),
              QString("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"));
    EXPECT_EQ(usbDeviceKey("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2.4/1-2.4:1.0/"
                           "0003:1234:5678.0007/hidraw/hidraw3"),
              QString("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2.4"));

    DeviceChangeCoalescer coalescer(50);
    QSignalSpy spy(&coalescer, &DeviceChangeCoalescer::devicesChanged);
    const QString a = "/sys/devices/x/usb1/1-2", b = "/sys/devices/x/usb1/1-3";
    // A keyboard with three interfaces and two hidraw nodes: one change.
    for (int i = 0; i < 6; ++i)
        coalescer.notice(a, "add");
    coalescer.notice(a, "bind");
    coalescer.notice(b, "add");
    EXPECT_TRUE(spy.wait(2000));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(spy.count(), 2); // one per device
    coalescer.notice(a, "remove");
    coalescer.notice(a, "remove");
    EXPECT_TRUE(spy.wait(2000));
    EXPECT_EQ(spy.count(), 3);
    EXPECT_EQ(coalescer.pending(), 0);
}

TEST(DeviceNotices, TheMonitorStartsQuietlyWithOrWithoutUdev) {
    DeviceMonitor monitor;
    QSignalSpy spy(&monitor, &DeviceMonitor::devicesChanged);
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 0);
}

TEST(DeviceNotices, RewrittenSimulatedDeviceSetRaisesOneChangePerDevice) {
    EXPECT_EQ(interfaceDeviceKey("\\\\?\\hid#VID_258A&PID_0013&mi_01&col02#7&2a#{4d1e}"),
              QString("vid_258a&pid_0013"));
    QTemporaryDir dir;
    const QString file = dir.filePath("devices.json");
    const auto writeSet = [&](const QByteArray &json) {
        QFile f(file + ".new");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(json);
        f.close();
        ASSERT_TRUE(QFile::remove(file) || !QFile::exists(file));
        ASSERT_TRUE(QFile::rename(file + ".new", file));
    };
    writeSet("[]");
    qputenv("TORVANIX_SIM_DEVICES", file.toLocal8Bit());
    setDevicesDirectory(TORVANIX_PROGRAM_DIR);
    {
        DeviceMonitor monitor;
        ASSERT_TRUE(monitor.isWatchingLibrary());
        QSignalSpy spy(&monitor, &DeviceMonitor::devicesChanged);
        // Two interfaces of one keyboard plugged in: one change, as with udev.
        writeSet(R"([{"path":"\\\\?\\hid#vid_05ac&pid_024f&mi_00#7&1#{4d}"},
                     {"path":"\\\\?\\hid#vid_05ac&pid_024f&mi_01#7&1#{4d}"}])");
        EXPECT_TRUE(spy.wait(3000));
        EXPECT_FALSE(spy.wait(700));
        EXPECT_EQ(spy.count(), 1);
        writeSet("[]");
        EXPECT_TRUE(spy.wait(3000));
        EXPECT_EQ(spy.count(), 2);
    }
    setDevicesDirectory(QString());
    qunsetenv("TORVANIX_SIM_DEVICES");
}

TEST(QuitOnce, OnlyTheFirstRequestCounts) {
    resetQuitRequest();
    EXPECT_FALSE(quitRequested());
    quitOnce();
    quitOnce();
    EXPECT_TRUE(quitRequested());
    resetQuitRequest();
}

// A firmware update being written holds every quit; a stop request waits for its end, but only
// up to its bound.
TEST(QuitOnce, AFirmwareUpdateHoldsQuitsAndAStopWaitsForItsEnd) {
    resetQuitRequest();
    QStringList log;
    auto note = [&](const QString &line) { log << line; };
    auto waitForQuit = [] {
        QElapsedTimer waited;
        waited.start();
        while (!quitRequested() && waited.elapsed() < 10000)
            QTest::qWait(20);
        return quitRequested();
    };
    {
        FirmwareRunSlot run;
        ASSERT_TRUE(run.owned());
        quitOnce();
        EXPECT_FALSE(quitRequested());
        quitAfterFirmwareUpdate(60000, note);
        QTest::qWait(300);
        EXPECT_FALSE(quitRequested());
    }
    EXPECT_TRUE(waitForQuit());
    EXPECT_TRUE(log.last().contains("ended")) << qPrintable(log.join('\n'));

    resetQuitRequest();
    log.clear();
    {
        FirmwareRunSlot run;
        quitAfterFirmwareUpdate(0, note);
        EXPECT_TRUE(waitForQuit());
        EXPECT_TRUE(log.last().contains("still running")) << qPrintable(log.join('\n'));
    }
    resetQuitRequest();
    quitAfterFirmwareUpdate(60000, note);
    EXPECT_TRUE(quitRequested()) << "without a firmware update a stop quits at once";
    resetQuitRequest();
}

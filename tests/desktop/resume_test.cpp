// The core puts back what devices forget while without power: after logind says the session
// woke up, and at logon from what an earlier boot left. The core runs on the simulated devices
// with a trace of their calls; this test is its window program (over the link) and logind (on
// a private bus the core takes for the system bus).
#include "desktop/device_book.h"
#include "link/link_frames.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace torvanix;

namespace {

const QString kServer = QStringLiteral("Global\\{5a283c02-b5de-44b3-977a-7043851a99b8}");
const QString kNotebook = QStringLiteral("WSU-DFO-V1.1.0");
const QString kNotebookPath = QStringLiteral("vid_4c4a&pid_4255");
const QString kKeyboard = QStringLiteral("TOB-NIR-V1.2.0");
const QString kKeyboardPath = QStringLiteral("vid_258a&pid_0013");
const QString kMouse = QStringLiteral("HJE-XUB-V1.5.0");
const QString kMousePath = QStringLiteral("vid_1956&pid_3010");

const QStringList kWriteCalls = {"dcWriteProperty", "dcWritePropertyForQPA",
                                 "dcWriteStartTr",  "dcWriteHFDData",
                                 "Reset",           "dcNotifyDevice",
                                 "SetLED",          "SetKeyColor",
                                 "SetMacro",        "SetKey",
                                 "new_key_action",  "SetKeyMatrix",
                                 "SetConfig"};

QString zoneDocument(const QString &zone, int index, int colourIndex, const QString &rgb) {
    return QStringLiteral("<configuration><key name=\"UsbId\" index=\"1\" length=\"4\" "
                          "value=\"WSU-DFO-V1.1.0\"/><%1 value=\"1\" index=\"%2\" length=\"1\">"
                          "<mode name=\"Default\" index=\"3\" length=\"1\" action=\"set\">"
                          "<key name=\"LightRGB\" index=\"%3\" length=\"3\" value=\"%4\" "
                          "action=\"set\"/></mode></%1></configuration>")
        .arg(zone)
        .arg(index)
        .arg(colourIndex)
        .arg(rgb);
}

// One device write as a comparable text.
QString describe(const QJsonObject &c) {
    QStringList parts{c.value("lib").toString() + "." + c.value("call").toString(),
                      c.value("path").toString()};
    for (const char *key : {"arg", "count", "bytes", "args"})
        if (c.contains(key))
            parts << QString::fromUtf8(
                QJsonDocument(QJsonObject{{key, c.value(key)}}).toJson(QJsonDocument::Compact));
    return parts.join(' ');
}

class ResumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        // The core from a folder of its own, beside a window program that ends at once: this
        // test connects as the window instead.
        QDir(tmp.path()).mkpath("prog");
        QDir(tmp.path()).mkpath("state/torvanix");
        QFile::copy(QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix"),
                    tmp.filePath("prog/torvanix"));
        QFile face(tmp.filePath("prog/torvanix-ui"));
        ASSERT_TRUE(face.open(QIODevice::WriteOnly));
        face.write("#!/bin/sh\nexit 0\n");
        face.close();
        face.setPermissions(face.permissions() | QFileDevice::ExeOwner);
        QFile marker(tmp.filePath("state/torvanix/first-start-done"));
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        marker.close();

        bus.setProgram("dbus-daemon");
        bus.setArguments({"--session", "--nofork", "--print-address=1"});
        bus.start();
        ASSERT_TRUE(bus.waitForStarted(10000));
        QElapsedTimer t;
        t.start();
        while (!bus.canReadLine() && t.elapsed() < 10000)
            bus.waitForReadyRead(100);
        address = QString::fromUtf8(bus.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
        logind = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("resume-test-logind")));
        ASSERT_TRUE(logind->isConnected());
        ASSERT_TRUE(logind->registerService("org.freedesktop.login1"));

        env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("XDG_RUNTIME_DIR", tmp.path());
        env.insert("XDG_STATE_HOME", tmp.filePath("state"));
        env.insert("XDG_CONFIG_HOME", tmp.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        env.insert("TORVANIX_SIM_TRACE", trace());
    }
    void TearDown() override {
        stopCore();
        if (logind)
            QDBusConnection::disconnectFromBus(logind->name());
        bus.kill();
        bus.waitForFinished(5000);
    }

    QString trace() const { return tmp.filePath("trace.jsonl"); }
    QString memoryFile() const { return tmp.filePath("state/torvanix/restore.json"); }
    QString log() const {
        QFile f(tmp.filePath("torvanix/ozk.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    void startCore() {
        core = std::make_unique<QProcess>();
        core->setProcessEnvironment(env);
        core->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        core->setStandardOutputFile(QProcess::nullDevice());
        core->start(tmp.filePath("prog/torvanix"), {"--devices", TORVANIX_PROGRAM_DIR});
        ASSERT_TRUE(core->waitForStarted(10000));
        QElapsedTimer t;
        t.start();
        while (!QFile::exists(tmp.filePath(kServer)) && t.elapsed() < 30000)
            QThread::msleep(50);
        ASSERT_TRUE(QFile::exists(tmp.filePath(kServer))) << log().toStdString();
    }
    void stopCore() {
        if (window)
            window->abort();
        window.reset();
        if (core && core->state() != QProcess::NotRunning) {
            core->terminate();
            if (!core->waitForFinished(10000)) {
                core->kill();
                core->waitForFinished(5000);
            }
        }
        core.reset();
    }

    // The page's road: a query over the link, as the window program sends it.
    void connectWindow() {
        window = std::make_unique<QLocalSocket>();
        window->connectToServer(tmp.filePath(kServer));
        ASSERT_TRUE(window->waitForConnected(10000));
        window->write(link::kHello);
    }
    QString query(const QVariantMap &request, bool answered = true) {
        const qint64 id = ++lastId;
        const QString text = QString::fromUtf8(
            QJsonDocument(QJsonObject::fromVariantMap(request)).toJson(QJsonDocument::Compact));
        window->write(link::encode({link::Kind::Query, {id, text}}));
        window->waitForBytesWritten(5000);
        if (!answered)
            return {};
        QByteArray buffer;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            window->waitForReadyRead(100);
            buffer += window->readAll();
            QList<link::Frame> frames;
            if (!link::takeFrames(buffer, frames))
                return {};
            for (const link::Frame &f : frames)
                if (f.kind == link::Kind::Answer && f.fields.size() == 4 &&
                    f.fields[0].toLongLong() == id)
                    return f.fields[3].toString();
        }
        return {};
    }
    void send(const QString &document) {
        query({{"FuncName", "NoticeModify"}, {"XmlConfigStr", document}}, false);
    }

    QStringList writesSince(qint64 offset, const QString &pathPart = {}) const {
        QFile f(trace());
        if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
            return {};
        QStringList out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QJsonObject c = QJsonDocument::fromJson(line).object();
            if (!kWriteCalls.contains(c.value("call").toString()))
                continue;
            if (!pathPart.isEmpty() && !c.value("path").toString().contains(pathPart))
                continue;
            // The battery watch asks the packet keyboard for its level when it appears (an
            // announce of the power query and its finish); that is no setting put back.
            if (c.value("path").toString().contains(QLatin1String("vid_0c45&pid_8075")) &&
                c.value("call").toString() == QLatin1String("dcWriteStartTr"))
                continue;
            out << describe(c);
        }
        return out;
    }
    qint64 traceSize() const { return QFileInfo(trace()).size(); }
    // Waits until the trace holds `count` writes since offset (and a moment more, for any
    // write beyond them).
    QStringList waitForWrites(qint64 offset, int count, int timeoutMs = 20000) const {
        QElapsedTimer t;
        t.start();
        while (writesSince(offset).size() < count && t.elapsed() < timeoutMs)
            QThread::msleep(50);
        QThread::msleep(500);
        QStringList writes = writesSince(offset);
        writes.sort();
        return writes;
    }
    void prepareForSleep(bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
        signal << start;
        ASSERT_TRUE(logind->send(signal));
    }

    QTemporaryDir tmp;
    QProcess bus;
    QString address;
    std::unique_ptr<QDBusConnection> logind;
    QProcessEnvironment env;
    std::unique_ptr<QProcess> core;
    std::unique_ptr<QLocalSocket> window;
    qint64 lastId = 0;
};

} // namespace

TEST_F(ResumeTest, AWakePutsBackTheProfileAndTheNotebookZonesAndALogonTheNotebookLighting) {
    DeviceBook templates; // the model templates, for the page's profile switches
    const QString keyboardProfile = DeviceBook::profileSwitchDocument(kKeyboard, 2);
    const QString mouseDefault = DeviceBook::profileSwitchDocument(kMouse, 1);
    const QString light = zoneDocument("light", 162, 166, "ff8000");
    const QString left = zoneDocument("lightLeft", 180, 186, "0080ff");
    ASSERT_FALSE(keyboardProfile.isEmpty());
    ASSERT_FALSE(mouseDefault.isEmpty());

    ASSERT_NO_FATAL_FAILURE(startCore());
    ASSERT_NO_FATAL_FAILURE(connectWindow());
    ASSERT_TRUE(query({{"FuncName", "GetDevicesList"}}).contains(kNotebook));
    const qint64 before = traceSize();
    for (const QString &document : {keyboardProfile, mouseDefault, light, left})
        send(document);
    const QStringList set = waitForWrites(before, 4);
    const QStringList setNotebook = writesSince(before, kNotebookPath);
    ASSERT_GE(writesSince(before, kKeyboardPath).size(), 1) << set.join('\n').toStdString();
    ASSERT_GE(writesSince(before, kMousePath).size(), 1);
    ASSERT_GE(setNotebook.size(), 2);
    // The lighting for the next logon is kept (after a short pause).
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(memoryFile()) && t.elapsed() < 10000)
        QThread::msleep(50);
    ASSERT_TRUE(QFile::exists(memoryFile()));

    // Asleep and awake: the same bytes again, but nothing for the mouse in its default profile.
    const qint64 asleep = traceSize();
    prepareForSleep(true);
    prepareForSleep(false);
    QStringList expected = set;
    for (const QString &write : writesSince(before, kMousePath))
        expected.removeOne(write);
    EXPECT_EQ(waitForWrites(asleep, expected.size()).join('\n').toStdString(),
              expected.join('\n').toStdString());
    const QString lines = log();
    EXPECT_TRUE(lines.contains("putting back profile 2 on ")) << lines.toStdString();
    EXPECT_TRUE(lines.contains("putting back the lighting on Torvanix Nimbus notebook lighting "
                               "(WSU-DFO-V1.1.0) after the resume"))
        << lines.toStdString();

    // A start of the core in the same boot puts nothing back: the devices still hold it.
    stopCore();
    const qint64 restarted = traceSize();
    ASSERT_NO_FATAL_FAILURE(startCore());
    ASSERT_NO_FATAL_FAILURE(connectWindow());
    ASSERT_TRUE(query({{"FuncName", "GetDevicesList"}}).contains(kNotebook));
    QThread::msleep(1500);
    EXPECT_EQ(writesSince(restarted).join('\n').toStdString(), "");
    stopCore();

    // After a reboot (the memory names another boot) the notebook gets its zones back, by
    // itself, before any window asks for anything.
    QFile memory(memoryFile());
    ASSERT_TRUE(memory.open(QIODevice::ReadOnly));
    QJsonObject kept = QJsonDocument::fromJson(memory.readAll()).object();
    memory.close();
    QJsonObject devices = kept.value("devices").toObject();
    ASSERT_EQ(devices.keys(), QStringList{kNotebook});
    QJsonObject notebook = devices.value(kNotebook).toObject();
    notebook.insert("boot", "an-earlier-boot");
    devices.insert(kNotebook, notebook);
    kept.insert("devices", devices);
    ASSERT_TRUE(memory.open(QIODevice::WriteOnly | QIODevice::Truncate));
    memory.write(QJsonDocument(kept).toJson());
    memory.close();
    const qint64 logon = traceSize();
    ASSERT_NO_FATAL_FAILURE(startCore());
    QStringList notebookOnly = setNotebook;
    notebookOnly.sort();
    EXPECT_EQ(waitForWrites(logon, notebookOnly.size()).join('\n').toStdString(),
              notebookOnly.join('\n').toStdString())
        << log().toStdString();
    EXPECT_TRUE(log().contains("putting back the lighting on Torvanix Nimbus notebook lighting "
                               "(WSU-DFO-V1.1.0) from the last session"));
}

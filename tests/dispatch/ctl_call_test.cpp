// torvanix-ctl call: the same commands from a terminal, one JSON line per event and the
// answer last.
#include "dispatch/file_container.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Output {
    QList<QJsonObject> lines;
    QString err;
    int exitCode = -1;
    QJsonObject answer() const { return lines.isEmpty() ? QJsonObject() : lines.last(); }
    QStringList events(const QString &name) const {
        QStringList out;
        for (const QJsonObject &l : lines)
            if (l.value("event").toString() == name)
                out << l.value("args").toArray().at(0).toVariant().toString();
        return out;
    }
};

Output ctl(const QStringList &args, const QProcessEnvironment &extra = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : extra.keys())
        env.insert(key, extra.value(key));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TORVANIX_PROGRAM_DIR "/torvanix-ctl"), args);
    p.waitForFinished(120000);
    Output out;
    out.exitCode = p.exitCode();
    out.err = QString::fromUtf8(p.readAllStandardError());
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        if (!line.trimmed().isEmpty())
            out.lines << QJsonDocument::fromJson(line).object();
    }
    return out;
}

// 4000 payload bytes: i * step + first.
QByteArray firmwarePayload(int step, int first) {
    QByteArray payload(4000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * step + first);
    return payload;
}

// A firmware image carrying firmwarePayload(step, first), written into `folder`; its path.
QString writeFirmwareImage(const QString &folder, int step = 0, int first = 0) {
    QByteArray file(67200, '\0');
    file[0] = 0x16;
    file[1] = 0x10;
    file[66143] = static_cast<char>(0xA0); // 4000 = 0x0FA0
    file[66144] = 0x0F;
    file.replace(264, 4000, firmwarePayload(step, first));
    QFile f(folder + "/fw.bin");
    if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size())
        return QString();
    return f.fileName();
}

} // namespace

TEST(CtlCall, AnswersLastAndNoneForUnansweredCommands) {
    Output none = ctl({"--no-pause", "call", R"({"FuncName":"NoSuchCommand"})"});
    EXPECT_EQ(none.exitCode, 0);
    ASSERT_EQ(none.lines.size(), 1);
    EXPECT_EQ(none.answer(), QJsonObject({{"answer", "none"}}));

    Output garbage = ctl({"--no-pause", "call", "[1,2]"});
    EXPECT_EQ(garbage.answer().value("answer"), "none");

    Output failed = ctl({"--no-pause", "call", R"({"FuncName":"SwitchMonitor"})"});
    EXPECT_EQ(failed.answer(),
              QJsonObject({{"answer", "failure"}, {"code", 0}, {"text", "failed"}}));

    Output status = ctl({"--no-pause", "call", R"({"FuncName":"GetMonitorStatus"})"});
    EXPECT_EQ(status.answer(), QJsonObject({{"answer", "success"}, {"text", "off"}}));
}

TEST(CtlCall, ListsTheSimulatedDevices) {
    Output out = ctl({"--no-pause", "call", R"({"FuncName":"GetDevicesList"})"});
    ASSERT_EQ(out.answer().value("answer"), "success") << out.err.toStdString();
    const QJsonArray list =
        QJsonDocument::fromJson(out.answer().value("text").toString().toUtf8()).array();
    QStringList versions;
    for (const QJsonValue &v : list)
        versions << v.toObject().value("Version").toString();
    EXPECT_TRUE(versions.contains("HJE-XUB-V1.5.0")) << versions.join(',').toStdString();
}

TEST(CtlCall, ChooseAnswersTheFileDialogs) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/m1.macro";
    Output saved = ctl({"--no-pause", "--choose", dir.path() + "/m1", "call",
                        R"({"FuncName":"SaveCommand","CommandString":"{\"name\":\"m1\"}"})"});
    EXPECT_EQ(saved.answer().value("text"), "SaveCommand Success!") << saved.err.toStdString();
    QString text;
    ASSERT_TRUE(torvanix::container::readFile(path, &text));
    EXPECT_EQ(text, R"({"name":"m1"})");

    Output loaded = ctl({"--no-pause", "--choose", path, "call", R"({"FuncName":"LoadProfile"})"});
    EXPECT_EQ(loaded.answer().value("text"), R"({"name":"m1"})");

    Output cancelled = ctl({"--no-pause", "call", R"({"FuncName":"LoadCommand"})"});
    EXPECT_EQ(cancelled.answer().value("answer"), "none");
}

TEST(CtlCall, FirmwareUpdateReportsProgressAndFaults) {
    QTemporaryDir dir;
    auto writeImage = [&] { return writeFirmwareImage(dir.path()); };
    const QString query =
        R"({"FuncName":"ExecuteUpdateFirmware","Version":"HJE-XAV-V1.2.0","FilePath":"%1"})";
    QProcessEnvironment env;
    env.insert("TORVANIX_SIM_STATE", dir.path() + "/state.json");
    env.insert("TORVANIX_SIM_FAULTS", "");
    Output ok = ctl({"--no-pause", "call", QString(query).arg(writeImage())}, env);
    EXPECT_EQ(ok.events("RefreshUpdateState"), (QStringList{"20", "40", "60", "70", "80", "100"}))
        << ok.err.toStdString();
    EXPECT_EQ(ok.answer().value("answer"), "none");
    EXPECT_TRUE(QFile::exists(dir.path() + "/fw.bin")) << "only downloaded images are removed";

    // The boot loader saw the switch, the erase, three chunks, the check and the commit.
    env.insert("TORVANIX_SIM_TRACE", dir.path() + "/trace.jsonl");
    Output traced = ctl({"--no-pause", "call", QString(query).arg(writeImage())}, env);
    EXPECT_EQ(traced.events("RefreshUpdateState").last(), "100");
    QStringList calls;
    QList<QJsonArray> romWrites;
    QFile trace(dir.path() + "/trace.jsonl");
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    for (const QByteArray &line : trace.readAll().split('\n')) {
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        const QString name = call.value("call").toString();
        if (name == "dcDevices" || name.isEmpty() ||
            call.value("lib").toString() != "UsbInterface") {
            continue;
        }
        calls << name;
        if (name == "dcWriteRom")
            romWrites << QJsonArray{call.value("count"), call.value("args").toArray().at(0)};
        if (name == "CheckRom") {
            EXPECT_EQ(call.value("args").toArray().at(0).toInt(), 4000);
        }
    }
    calls.removeDuplicates();
    EXPECT_EQ(calls, (QStringList{"dcDeviceExist", "Reset", "dcEraseRom", "dcWriteRom", "CheckRom",
                                  "FinishUpdateRom", "UpdateVersion"}))
        << calls.join(',').toStdString();
    EXPECT_EQ(romWrites, (QList<QJsonArray>{{2000, 0}, {2000, 2000}, {0, 4000}}));
    env.remove("TORVANIX_SIM_TRACE");

    const QList<QPair<QString, QStringList>> faults = {
        {"dcDeviceExist@*", {"20", "40", "-1"}},
        {"dcEraseRom@1", {"20", "40", "60", "-1"}},
        {"dcWriteRom@2", {"20", "40", "60", "70", "-1"}},
        {"CheckRom@1", {"20", "40", "60", "70", "-1"}},
        {"FinishUpdateRom@1", {"20", "40", "60", "70", "80", "-1"}},
    };
    for (const auto &fault : faults) {
        // A run that stopped leaves the device in its boot loader; each case starts afresh.
        QFile::remove(dir.path() + "/state.json");
        env.insert("TORVANIX_SIM_FAULTS", fault.first);
        Output failed = ctl({"--no-pause", "call", QString(query).arg(writeImage())}, env);
        EXPECT_EQ(failed.events("RefreshUpdateState"), fault.second) << fault.first.toStdString();
    }
}

// A run that fails after the switch leaves the device in its boot loader with its ROM in any
// state; it is listed as such, and a retry reaches the end with the image on the device.
TEST(CtlCall, FirmwareRetryBringsBackADeviceLeftInItsBootLoader) {
    QTemporaryDir dir;
    const QString image = writeFirmwareImage(dir.path(), 7, 3);
    ASSERT_FALSE(image.isEmpty());
    const QString query =
        QString(
            R"({"FuncName":"ExecuteUpdateFirmware","Version":"HJE-XAV-V1.2.0","FilePath":"%1"})")
            .arg(image);
    const QString payloadHex = QString::fromLatin1(firmwarePayload(7, 3).toHex());
    auto device = [&] {
        QFile state(dir.path() + "/state.json");
        state.open(QIODevice::ReadOnly);
        const QJsonObject devices =
            QJsonDocument::fromJson(state.readAll()).object().value("devices").toObject();
        for (const QString &path : devices.keys())
            if (path.contains("vid_276d&pid_2238"))
                return devices.value(path).toObject();
        return QJsonObject();
    };
    auto failedStep = [](const Output &out) {
        for (const QJsonObject &l : out.lines)
            if (l.value("event") == "RefreshUpdateState" && l.value("args").toArray().size() > 1)
                return l.value("args").toArray().at(1).toString();
        return QString();
    };

    struct Case {
        QString fault, step;
        QStringList progress;
        QString romAfterFailure; // hex of the image the failure leaves
    };
    const QList<Case> cases = {
        {"dcEraseRom@1", "erase", {"20", "40", "60", "-1"}, QString()},
        {"dcWriteRom@2", "write", {"20", "40", "60", "70", "-1"}, payloadHex.left(4000)},
        {"CheckRom@1", "check", {"20", "40", "60", "70", "-1"}, payloadHex},
        {"FinishUpdateRom@1", "commit", {"20", "40", "60", "70", "80", "-1"}, payloadHex},
    };
    for (const Case &c : cases) {
        QFile::remove(dir.path() + "/state.json");
        QProcessEnvironment env;
        env.insert("TORVANIX_SIM_STATE", dir.path() + "/state.json");
        env.insert("TORVANIX_SIM_FAULTS", c.fault);
        const Output failed = ctl({"--no-pause", "call", query}, env);
        EXPECT_EQ(failed.events("RefreshUpdateState"), c.progress) << c.fault.toStdString();
        EXPECT_EQ(failedStep(failed), c.step);
        EXPECT_TRUE(device().value("bootloader").toBool()) << c.fault.toStdString();
        if (!c.romAfterFailure.isNull()) {
            EXPECT_EQ(device().value("rom").toObject().value("image").toString(), c.romAfterFailure)
                << c.fault.toStdString();
        }
        ASSERT_TRUE(QFile::exists(image)) << "the image stays for the retry";

        // The page sees the device waiting in its boot loader.
        env.insert("TORVANIX_SIM_FAULTS", "");
        const Output list = ctl({"--no-pause", "call", R"({"FuncName":"GetDevicesList"})"}, env);
        const QJsonArray records =
            QJsonDocument::fromJson(list.answer().value("text").toString().toUtf8()).array();
        QJsonObject waiting;
        for (const QJsonValue &r : records)
            if (r.toObject().value("Version") == "HJE-XAV-V1.2.0")
                waiting = r.toObject();
        EXPECT_EQ(waiting.value("BootLoader"), "1") << c.fault.toStdString();

        const Output retry = ctl({"--no-pause", "call", query}, env);
        EXPECT_EQ(retry.events("RefreshUpdateState"),
                  (QStringList{"20", "40", "60", "70", "80", "100"}))
            << c.fault.toStdString() << retry.err.toStdString();
        const QJsonObject after = device();
        EXPECT_FALSE(after.value("bootloader").toBool());
        EXPECT_EQ(after.value("rom").toObject().value("image").toString(), payloadHex);
        EXPECT_EQ(after.value("rom").toObject().value("updates").toInt(), 1);
    }
}

// Every boot loader answers to the same id and the simulator names the first device's first.
// With that device left waiting, an update of another device must not write to it.
TEST(CtlCall, FirmwareGoesOnlyToTheBootLoaderOfItsOwnDevice) {
    QTemporaryDir dir;
    const QString image = writeFirmwareImage(dir.path(), 5, 1);
    ASSERT_FALSE(image.isEmpty());
    auto update = [&](const char *identity, const char *faults) {
        QProcessEnvironment env;
        env.insert("TORVANIX_SIM_STATE", dir.path() + "/state.json");
        env.insert("TORVANIX_SIM_FAULTS", faults);
        const QString query =
            QString(R"({"FuncName":"ExecuteUpdateFirmware","Version":"%1","FilePath":"%2"})")
                .arg(identity, image);
        Output out = ctl({"--no-pause", "call", query}, env);
        QStringList texts = out.events("RefreshUpdateState");
        for (const QJsonObject &l : out.lines)
            if (l.value("event") == "RefreshUpdateState" && l.value("args").toArray().size() > 1)
                texts << l.value("args").toArray().at(1).toString();
        return texts;
    };
    auto device = [&](const char *pathPart) {
        QFile state(dir.path() + "/state.json");
        state.open(QIODevice::ReadOnly);
        const QJsonObject devices =
            QJsonDocument::fromJson(state.readAll()).object().value("devices").toObject();
        for (const QString &path : devices.keys())
            if (path.contains(pathPart))
                return devices.value(path).toObject();
        return QJsonObject();
    };
    const char *keyboard = "vid_258a&pid_0013";
    const char *mouse = "vid_276d&pid_2238";

    EXPECT_EQ(update("TOB-NIR-V1.2.0", "dcWriteRom@1"),
              (QStringList{"20", "40", "60", "70", "-1", "write"}));
    const QJsonValue keyboardRom = device(keyboard).value("rom");
    EXPECT_EQ(update("HJE-XAV-V1.2.0", ""), (QStringList{"20", "40", "-1", "bootloader"}));
    EXPECT_EQ(device(keyboard).value("rom"), keyboardRom) << "the waiting keyboard is untouched";
    EXPECT_TRUE(device(mouse).value("bootloader").toBool());

    // The keyboard's own boot loader is remembered; once it is done the mouse's is alone.
    EXPECT_EQ(update("TOB-NIR-V1.2.0", "").last(), "100");
    EXPECT_EQ(update("HJE-XAV-V1.2.0", "").last(), "100");
    const QString payloadHex = QString::fromLatin1(firmwarePayload(5, 1).toHex());
    for (const char *part : {keyboard, mouse}) {
        EXPECT_FALSE(device(part).value("bootloader").toBool()) << part;
        EXPECT_EQ(device(part).value("rom").toObject().value("image").toString(), payloadHex)
            << part;
        EXPECT_EQ(device(part).value("rom").toObject().value("updates").toInt(), 1) << part;
    }
}

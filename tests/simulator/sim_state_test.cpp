#include "sim_fixture.h"

#include <QDir>
#include <QElapsedTimer>

#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace simtest;

namespace {

const QString kDevice = hidPath(QStringLiteral("vid_258a&pid_0013&mi_01&col02"));
const QString kOther = hidPath(QStringLiteral("vid_0c45&pid_8075&mi_00"));

QJsonArray devices() {
    return QJsonArray{QJsonObject{{QStringLiteral("path"), kDevice}},
                      QJsonObject{{QStringLiteral("path"), kOther}}};
}

// Runs `body` in a child process and returns its exit status.
template <typename F> int inChild(F body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class State : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        useDevices(devices());
    }
};

TEST_F(State, ChangesSurviveAndCrossProcesses) {
    EXPECT_EQ(write(kDevice, 30, {1, 2, 3}), 1);

    // Another process sees what this one wrote, and this one sees the other's changes.
    const int child = inChild([&] {
        if (read(kDevice, 30, 3) != std::vector<uint8_t>{1, 2, 3})
            return 1;
        return write(kDevice, 31, {9}) == 1 ? 0 : 2;
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(read(kDevice, 31, 1), std::vector<uint8_t>{9});
    EXPECT_EQ(read(kDevice, 30, 3), (std::vector<uint8_t>{1, 2, 3}));

    // Boot-loader mode is device state too.
    ASSERT_EQ(usb.reset(wide(kDevice).data(), 1, 0), 1);
    EXPECT_EQ(inChild([&] { return listed().contains(kDevice) ? 1 : 0; }), 0);

    // The file on disk is whole JSON and leaves no temporary files behind.
    const QJsonObject s = deviceState(kDevice);
    EXPECT_EQ(
        s.value(QStringLiteral("registers")).toObject().value(QStringLiteral("30")).toString(),
        QStringLiteral("010203"));
    EXPECT_TRUE(s.value(QStringLiteral("bootloader")).toBool());
    const QStringList leftovers =
        QDir(dir.path()).entryList(QStringList{QStringLiteral("state.json.tmp*")}, QDir::Files);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(QLatin1Char(' ')).toStdString();

    // Deleting the state file starts every device afresh.
    QFile::remove(statePath());
    EXPECT_TRUE(listed().contains(kDevice));
    EXPECT_EQ(read(kDevice, 30, 1), std::vector<uint8_t>{0});
}

TEST_F(State, BatteryFollowsTheStateFile) {
    // A battery draining outside the program: register 7 (level, status) rewritten in the state
    // file reaches the listing and the power answer.
    ASSERT_TRUE(listed().contains(kOther));
    QJsonObject all = state();
    QJsonObject devs = all.value(QStringLiteral("devices")).toObject();
    devs.insert(kOther, QJsonObject{{QStringLiteral("registers"),
                                     QJsonObject{{QStringLiteral("7"), QStringLiteral("0302")}}}});
    all.insert(QStringLiteral("devices"), devs);
    QFile f(statePath() + QStringLiteral(".new"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(all).toJson());
    f.close();
    ASSERT_EQ(::rename(qPrintable(f.fileName()), qPrintable(statePath())), 0);

    std::vector<uint8_t> block(TVX_LIST_BLOCK_SIZE, 0);
    const int n = usb.devices(block.data(), nullptr);
    ASSERT_EQ(n, 2);
    const uint8_t *other = block.data() + 2 + TVX_DESCRIPTION_SIZE;
    EXPECT_EQ(other[TVX_DESC_BATTERY], 3);
    EXPECT_EQ(other[TVX_DESC_STATUS], 2);
    uint8_t buf[TVX_TRANSFER_BLOCK_SIZE] = {};
    ASSERT_EQ(usb.writeStartTr(wide(kOther).data(), buf, 97, 64), 1);
    ASSERT_EQ(usb.readHfd(wide(kOther).data(), buf, 97, 8), 1);
    EXPECT_EQ(buf[2], 2);
    EXPECT_EQ(buf[4], 3);
}

TEST_F(State, ConcurrentWritersLoseNothing) {
    // Threads of this process and a second process write at the same time.
    const pid_t pid = fork();
    if (pid == 0) {
        bool ok = true;
        for (int i = 0; i < 40; ++i)
            ok = write(kOther, uint8_t(i), {uint8_t(i)}) == 1 && ok;
        _exit(ok ? 0 : 1);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 10; ++i)
                write(kDevice, uint8_t(t * 10 + i), {uint8_t(t), uint8_t(i)});
        });
    for (auto &th : threads)
        th.join();
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const QJsonObject regs = deviceState(kDevice).value(QStringLiteral("registers")).toObject();
    const QJsonObject other = deviceState(kOther).value(QStringLiteral("registers")).toObject();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(regs.value(QString::number(t * 10 + i)).toString(),
                      QString::asprintf("%02x%02x", t, i));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(other.value(QString::number(i)).toString(), QString::asprintf("%02x", i));

    // Every call left exactly one whole line in the trace.
    const QVector<QJsonObject> lines = traceLines();
    int writes = 0;
    for (const QJsonObject &l : lines)
        writes += l.value(QStringLiteral("call")).toString() == QLatin1String("dcWriteProperty");
    EXPECT_EQ(writes, 80);
}

TEST_F(State, TraceLinesCarryTheCallExactly) {
    ASSERT_EQ(write(kDevice, 23, {0x01, 0x01, 0x03, 0x02}), 1);
    read(kDevice, 23, 2);
    int ret = -1;
    read(hidPath(QStringLiteral("vid_9&pid_9&col02")), 5, 1, &ret);
    uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {0x81};
    usb.writeStartTr(wide(kOther).data(), block, 19, 9);
    usb.reset(wide(kDevice).data(), 2, 0);

    const QVector<QJsonObject> lines = traceLines();
    ASSERT_EQ(lines.size(), 5);
    const QJsonObject w = lines[0];
    EXPECT_EQ(w.value(QStringLiteral("lib")).toString(), QStringLiteral("UsbInterface"));
    EXPECT_EQ(w.value(QStringLiteral("call")).toString(), QStringLiteral("dcWriteProperty"));
    EXPECT_EQ(w.value(QStringLiteral("path")).toString(), kDevice);
    EXPECT_EQ(w.value(QStringLiteral("arg")).toInt(), 23);
    EXPECT_EQ(w.value(QStringLiteral("count")).toInt(), 4);
    EXPECT_EQ(w.value(QStringLiteral("bytes")).toString(), QStringLiteral("01010302"));
    EXPECT_EQ(w.value(QStringLiteral("ret")).toInt(), 1);
    EXPECT_FALSE(w.contains(QStringLiteral("args")));

    EXPECT_EQ(lines[1].value(QStringLiteral("bytes")).toString(), QStringLiteral("0101"));
    EXPECT_EQ(lines[2].value(QStringLiteral("ret")).toInt(), 0);
    EXPECT_FALSE(lines[2].contains(QStringLiteral("bytes")));
    EXPECT_EQ(lines[3].value(QStringLiteral("bytes")).toString(), QStringLiteral("81"));
    EXPECT_EQ(lines[3].value(QStringLiteral("count")).toInt(), 9);
    EXPECT_EQ(lines[4].value(QStringLiteral("args")).toArray(), (QJsonArray{2, 0}));
    EXPECT_FALSE(lines[4].contains(QStringLiteral("arg")));
    EXPECT_FALSE(lines[4].contains(QStringLiteral("count")));
}

TEST_F(State, InjectedFaults) {
    // The second register write fails, the ones around it go through.
    qputenv("TORVANIX_SIM_FAULTS", "dcWriteProperty@2, dcReadHFDData@1+");
    EXPECT_EQ(write(kDevice, 1, {1}), 1);
    EXPECT_EQ(write(kDevice, 2, {2}), 0);
    EXPECT_EQ(write(kDevice, 3, {3}), 1);
    EXPECT_EQ(read(kDevice, 2, 1), std::vector<uint8_t>{0}) << "a failed write changes nothing";
    uint8_t block[TVX_TRANSFER_BLOCK_SIZE] = {};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(usb.readHfd(wide(kOther).data(), block, 97, 8), 0);
    const QVector<QJsonObject> lines = traceLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[1].value(QStringLiteral("fault")).toBool());

    // A device that vanishes after two calls: the third fails and the listing drops it.
    qputenv("TORVANIX_SIM_FAULTS", "vanish:VID_0C45@2");
    EXPECT_TRUE(listed().contains(kOther));
    EXPECT_EQ(write(kOther, 1, {1}), 1);
    EXPECT_EQ(write(kOther, 2, {2}), 1);
    EXPECT_FALSE(listed().contains(kOther));
    EXPECT_EQ(write(kOther, 3, {3}), 0);
    EXPECT_TRUE(listed().contains(kDevice));
    EXPECT_TRUE(deviceState(kOther).value(QStringLiteral("vanished")).toBool());

    // A slow call succeeds; a rule with bad milliseconds is ignored, not taken for a failure.
    qputenv("TORVANIX_SIM_FAULTS", "slow:150:dcWriteProperty@2, slow:x:dcWriteProperty@1");
    EXPECT_EQ(write(kDevice, 4, {4}), 1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(write(kDevice, 5, {5}), 1);
    EXPECT_GE(timer.elapsed(), 150);
    EXPECT_FALSE(traceLines().last().contains(QStringLiteral("fault")));

    // A fault in one step of a firmware update.
    qputenv("TORVANIX_SIM_FAULTS", "dcWriteRom@2");
    ASSERT_EQ(usb.reset(wide(kDevice).data(), 1, 0), 1);
    uint16_t bootPath[250] = {};
    ASSERT_EQ(usb.exist(wide(QStringLiteral("Vid_258a&Pid_ff12")).data(), bootPath), 1);
    EXPECT_EQ(usb.eraseRom(bootPath), 1);
    EXPECT_EQ(usb.writeRom(bootPath, block, 10, 0), 1);
    EXPECT_EQ(usb.writeRom(bootPath, block, 10, 10), 0);
    EXPECT_EQ(usb.writeRom(bootPath, block, 10, 10), 1);
}

// The filter's thread on a machine without the kernel's input devices, and its shutdown.
// Keys, buttons and grabs on real devices are checked in the VM (tests/vm/input_filter.sh).
#include "device/device_operations.h"
#include "device/event_sink.h"
#include "device/input_filter.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

class NoDevices : public DeviceOperations {
public:
    bool writeProperty(const QString &, const QString &, const QString &,
                       const QString &) override {
        return false;
    }
    bool writePropertyForQpa(const QString &, const QString &, const QString &,
                             const QString &) override {
        return false;
    }
    bool writePacket(const QString &, const QString &, const QString &, const QString &) override {
        return false;
    }
    bool writeSingleValue(const QString &, const QString &, const QString &,
                          const QString &) override {
        return false;
    }
    QString readProperty(const QString &, int, int) override { return {}; }
    QString requestPacket(const QString &, int, int) override { return {}; }
    bool isAreaBlank(const QString &, int, int) override { return false; }
    bool clearArea(const QString &, int, int) override { return false; }
    bool resetDevice(const QString &) override { return false; }
    void notifyDevice(const QString &, const QByteArray &) override { ++notified; }
    int readInputReport(const QString &, uint8_t *, int, int) override { return 0; }
    KeyboardLibrary &keyboard() override { std::abort(); }
    MouseLibrary &mouse() override { std::abort(); }
    int notified = 0;
};

struct FilterRun {
    explicit FilterRun(InputFilterOptions options)
        : filter(&thread, events, devices, "HJE-XUB-V1.5.0", std::move(options)) {}
    ~FilterRun() {
        filter.stop();
        thread.quit();
        thread.wait();
    }
    bool waitForState(DEVICE_FILTER::State wanted) {
        for (int i = 0; i < 500 && filter.state() != wanted; ++i)
            QThread::msleep(10);
        return filter.state() == wanted;
    }
    NullEventSink events;
    NoDevices devices;
    QThread thread;
    DEVICE_FILTER filter;
};

} // namespace

TEST(InputFilter, WithoutTheKernelsDevicesItEndsAtOnceAndSaysWhy) {
    QTemporaryDir dir;
    struct Case {
        InputFilterOptions options;
        const char *reasonPart;
    } cases[] = {
        {{dir.filePath("input"), dir.filePath("no-uinput")}, "no-uinput"},
        // A node that can be opened stands in for uinput; the event folder is missing.
        {{dir.filePath("input"), "/dev/null"}, "input"},
    };
    for (Case &c : cases) {
        FilterRun run(c.options);
        run.thread.start();
        ASSERT_TRUE(run.waitForState(DEVICE_FILTER::State::Unavailable));
        EXPECT_TRUE(run.filter.unavailableReason().contains(c.reasonPart))
            << run.filter.unavailableReason().toStdString();
        // Nothing to forward with: switching on is refused.
        run.filter.setForwardMouseButtons(true);
        EXPECT_FALSE(run.filter.forwardMouseButtons());
    }
}

TEST(InputFilter, StopsCleanlyWhileWaitingAndBeforeItStarted) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("input"));
    {
        FilterRun run({dir.filePath("input"), "/dev/null", false});
        run.thread.start();
        ASSERT_TRUE(run.waitForState(DEVICE_FILTER::State::Running));
        EXPECT_TRUE(run.filter.unavailableReason().isEmpty());
        // No mice: switching on and off is immediate and grabs nothing.
        run.filter.setForwardMouseButtons(true);
        EXPECT_TRUE(run.filter.forwardMouseButtons());
        EXPECT_TRUE(run.filter.twinNodes().isEmpty());
        run.filter.setForwardMouseButtons(false);
        EXPECT_FALSE(run.filter.forwardMouseButtons());

        run.filter.stop();
        ASSERT_TRUE(run.waitForState(DEVICE_FILTER::State::Stopped));
    }
    {
        FilterRun run({dir.filePath("input"), "/dev/null", false});
        run.filter.stop();
        run.thread.start();
        ASSERT_TRUE(run.waitForState(DEVICE_FILTER::State::Stopped));
    }
}

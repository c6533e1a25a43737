#include "device/device_directory.h"

#include <gtest/gtest.h>

#include <QSemaphore>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace torvanix;

namespace {

DeviceRecordMap listOf(const QString &identity) {
    DeviceRecordMap map;
    map.insert(identity, QJsonObject{{"Version", identity}});
    return map;
}

// A device set that tests change between reads, counting the reads.
struct FakeDevices {
    std::mutex mutex;
    DeviceRecordMap current;
    std::atomic<int> reads{0};
    std::atomic<int> changes{0};

    DeviceRecordMap read() {
        ++reads;
        std::lock_guard<std::mutex> lock(mutex);
        return current;
    }
    void set(const DeviceRecordMap &map) {
        std::lock_guard<std::mutex> lock(mutex);
        current = map;
    }
};

bool waitFor(const std::function<bool()> &condition) {
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

} // namespace

TEST(DeviceDirectory, FirstListIsReadAtStartAndHandedOutOnceThenReadAfresh) {
    QSemaphore firstRead;
    FakeDevices devices;
    devices.set(listOf("A"));
    std::atomic<bool> holdFirst{true};
    DeviceDirectory directory(
        [&] {
            if (holdFirst.exchange(false))
                firstRead.acquire();
            return devices.read();
        },
        [&] { ++devices.changes; }, 0);
    // Before the start nothing is held: the caller reads for itself.
    EXPECT_FALSE(directory.started());

    directory.start();
    // A question during the first read waits for that read instead of starting another.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        firstRead.release();
    });
    EXPECT_EQ(directory.take(), listOf("A"));
    releaser.join();
    EXPECT_EQ(devices.reads.load(), 1);

    // Asked again with no notice in between (an update ended, a permission was fixed): the
    // answer is a fresh read.
    devices.set(listOf("B"));
    EXPECT_EQ(directory.take(), listOf("B"));
    EXPECT_EQ(devices.reads.load(), 2);
    // A read the page asked for itself brings its own answer: no event for it.
    EXPECT_EQ(devices.changes.load(), 0);
}

TEST(DeviceDirectory, NoticeReadsAtOnceAndAfterItsOwnSettleTimeAndReportsOnlyChanges) {
    FakeDevices devices;
    devices.set(listOf("A"));
    DeviceDirectory directory([&] { return devices.read(); }, [&] { ++devices.changes; }, 1000);
    directory.start();
    ASSERT_TRUE(waitFor([&] { return devices.reads.load() == 1; }));

    // Unchanged after a notice: nobody is told.
    directory.noticeChange();
    ASSERT_TRUE(waitFor([&] { return devices.reads.load() == 2; }));
    EXPECT_EQ(devices.changes.load(), 0);

    // A second device arrives while the first notice's settle time runs: it is read at once,
    // not after that wait, and the page hears of it.
    devices.set([] {
        DeviceRecordMap both = listOf("A");
        both.insert("B", QJsonObject{{"Version", "B"}});
        return both;
    }());
    directory.noticeChange();
    ASSERT_TRUE(waitFor([&] { return devices.changes.load() == 1; }));
    EXPECT_EQ(devices.reads.load(), 3);
    EXPECT_EQ(directory.take().size(), 2);

    // Both settle times still bring a read, and then the reading ends: the thread sleeps. On a
    // loaded machine the thread may wake when both are due, and one read serves the two.
    ASSERT_TRUE(waitFor([&] { return devices.reads.load() >= 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const int settled = devices.reads.load();
    EXPECT_TRUE(settled == 4 || settled == 5) << settled;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(devices.reads.load(), settled);
    EXPECT_EQ(devices.changes.load(), 1);
}

TEST(DeviceDirectory, NoticesBeforeTheStartAreIgnoredAndTheEndWaitsForNothing) {
    FakeDevices devices;
    {
        DeviceDirectory directory([&] { return devices.read(); }, [&] { ++devices.changes; },
                                  60000);
        directory.noticeChange();
        EXPECT_EQ(devices.reads.load(), 0);
        directory.start();
        ASSERT_TRUE(waitFor([&] { return devices.reads.load() == 1; }));
        directory.noticeChange(); // a settle read a minute away must not hold the end up
        ASSERT_TRUE(waitFor([&] { return devices.reads.load() == 2; }));
    }
    EXPECT_EQ(devices.reads.load(), 2);
}

#include "device/device_registry.h"

#include <gtest/gtest.h>

#include <QtConcurrent>
#include <atomic>

using namespace torvanix;

namespace {
QJsonObject record(const QString &path) {
    return QJsonObject{{"DevicePath", path}};
}
} // namespace

TEST(PublishedDevices, LookupIgnoresCaseAndPrefersExactMatch) {
    PublishedDevices devices;
    DeviceRecordMap map;
    map.insert("0c458075", record("packet"));
    map.insert("TOB-NIR-V1.2.0", record("kbd"));
    devices.publish(map);

    EXPECT_EQ(devices.lookup("0C458075").value("DevicePath").toString(), "packet");
    EXPECT_EQ(devices.lookup("0c458075").value("DevicePath").toString(), "packet");
    EXPECT_EQ(devices.lookup("tob-nir-v1.2.0").value("DevicePath").toString(), "kbd");
    EXPECT_TRUE(devices.lookup("258A002E").isEmpty());
    EXPECT_FALSE(devices.contains("SYNC"));

    // An exact identity wins over a case-folded one when both are present.
    map.insert("0C458075", record("upper"));
    devices.publish(map);
    EXPECT_EQ(devices.lookup("0C458075").value("DevicePath").toString(), "upper");
    EXPECT_EQ(devices.lookup("0c458075").value("DevicePath").toString(), "packet");
}

TEST(PublishedDevices, ReadersNeverSeeAHalfReplacedTable) {
    PublishedDevices devices;
    DeviceRecordMap a, b;
    for (int i = 0; i < 50; ++i) {
        a.insert(QString("A%1").arg(i), record("a"));
        b.insert(QString("B%1").arg(i), record("b"));
    }
    devices.publish(a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    auto reader = QtConcurrent::run([&] {
        while (!stop.load()) {
            const DeviceRecordMap snap = devices.snapshot();
            const bool allA = snap.firstKey().startsWith('A') && snap.lastKey().startsWith('A');
            const bool allB = snap.firstKey().startsWith('B') && snap.lastKey().startsWith('B');
            if (snap.size() != 50 || !(allA || allB))
                ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i)
        devices.publish(i % 2 ? a : b);
    stop = true;
    reader.waitForFinished();
    EXPECT_EQ(torn.load(), 0);
}

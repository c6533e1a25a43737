// Hot-plug notices of the simulator: rewriting the device set file reports what left and
// what came, as the system's device monitor does for real hardware.
#include "sim_fixture.h"

#include <QDir>
#include <QSaveFile>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace simtest;

namespace {

struct Notices {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList seen; // "+path" arrived, "-path" left

    static void record(void *context, int arrived, const uint16_t *path) {
        auto *self = static_cast<Notices *>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->seen << (arrived ? QStringLiteral("+") : QStringLiteral("-")) +
                          QString::fromUtf16(path);
        self->changed.notify_all();
    }
    QStringList waitFor(int count, int ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return seen.size() >= count; });
        QStringList out = seen;
        seen.clear();
        return out;
    }
};

QByteArray deviceSet(const QStringList &paths) {
    QJsonArray a;
    for (const QString &p : paths)
        a.append(QJsonObject{{QStringLiteral("path"), p}});
    return QJsonDocument(a).toJson();
}

} // namespace

class Watch : public SimFixture {
protected:
    void TearDown() override {
        if (watch)
            watch(nullptr, nullptr);
        SimFixture::TearDown();
    }
    void replace(const QByteArray &content) {
        QSaveFile f(dir.filePath(QStringLiteral("devices.json")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        ASSERT_TRUE(f.commit());
    }
    tvx_dcWatchDevices_fn watch = nullptr;
};

TEST_F(Watch, RewritingTheDeviceSetReportsLeavingThenArrivingInterfaces) {
    const QString a = hidPath(QStringLiteral("vid_258a&pid_0013&mi_01&col02"));
    const QString b = hidPath(QStringLiteral("vid_0c45&pid_8075&mi_00"));
    const QString c = hidPath(QStringLiteral("vid_05ac&pid_024f&mi_01"));
    useDevices(QJsonArray{QJsonObject{{"path", a}}, QJsonObject{{"path", b}}});
    watch = entry<tvx_dcWatchDevices_fn>(usb.lib, "dcWatchDevices");
    ASSERT_NE(watch, nullptr);
    Notices notices;
    ASSERT_EQ(watch(&Notices::record, &notices), 1);

    // Renamed over the old file; b only changes case, which is the same interface.
    replace(deviceSet({b.toUpper(), c}));
    EXPECT_EQ(notices.waitFor(2), QStringList({"-" + a, "+" + c}));
    EXPECT_EQ(listed().size(), 2);

    // A file caught half written is skipped until it is complete.
    replace("[{\"path\":");
    replace(deviceSet({c}));
    EXPECT_EQ(notices.waitFor(1), QStringList({"-" + b.toUpper()}));

    QFile::remove(dir.filePath(QStringLiteral("devices.json")));
    EXPECT_EQ(notices.waitFor(1), QStringList({"-" + c}));

    // Once stopped, nothing more is reported.
    EXPECT_EQ(watch(nullptr, nullptr), 0);
    replace(deviceSet({a}));
    EXPECT_TRUE(notices.waitFor(1, 300).isEmpty());
}

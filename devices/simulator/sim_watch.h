// Arrival and removal notices for the simulated devices: the device set file is watched and
// every interface that appears in it or leaves it is reported, as the system's device
// monitor reports real hardware.
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <mutex>
#include <thread>

namespace torvanix::sim {

using DeviceNotice = void (*)(void *context, int arrived, const uint16_t *path);

class DeviceWatcher {
public:
    static DeviceWatcher &instance();
    ~DeviceWatcher();

    // Watches `file` from now on; what it lists now is the starting point. False when the
    // folder cannot be watched or a watch is already running.
    bool start(const QString &file, DeviceNotice notice, void *context);
    // Ends the watch; returns when no notice runs any more. Ignored from a notice itself.
    void stop();

private:
    DeviceWatcher() = default;
    void run();
    void rescan();

    std::mutex control_;
    std::thread thread_;
    int inotify_ = -1;
    int wake_[2] = {-1, -1};
    QString file_, fileName_;
    QHash<QString, QString> listed_; // upper-case path -> path as written
    DeviceNotice notice_ = nullptr;
    void *context_ = nullptr;
};

} // namespace torvanix::sim

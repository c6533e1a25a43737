#pragma once

#include "device_registry.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torvanix {

// How long a device that just arrived needs before its interfaces answer.
inline constexpr int DeviceSettleMs = 1000;

// The device list the program keeps from its start, so the page's first question finds it
// ready. Reads run on a thread of the list's own, one at a time:
// - start(): the first read, at once (devices present at start have long settled);
// - noticeChange(): a device arrived or left: a read at once, and one more once the device
//   has had its settle time. Each notice keeps its own settle time, so a device plugged in
//   a moment after another is listed at its own pace, not after the other's wait;
// - take(): the list for GetDevicesList: the result of a read under way or not yet handed
//   out, else a fresh read (the page asks again after an update or a permission fix, which
//   send no notice).
// After a notice's read that changed the list, `changed` runs (on the list's thread), so the
// page hears of it and asks; `read` (optional) learns the result of every read. The thread sleeps
// while nothing is due.
class DeviceDirectory {
public:
    using Lister = std::function<DeviceRecordMap()>;

    DeviceDirectory(Lister list, std::function<void()> changed, int settleMs,
                    std::function<void(const DeviceRecordMap &)> read = {});
    ~DeviceDirectory();
    DeviceDirectory(const DeviceDirectory &) = delete;
    DeviceDirectory &operator=(const DeviceDirectory &) = delete;

    void start();
    bool started() const;
    // Ends the reading for good (waits for a read under way); take() then answers what is
    // held. The objects the reads use may go after it.
    void stop();
    void noticeChange();
    // A read at once without a settle read after it (levels that change with no notice, the
    // return from suspend); `changed` runs when it found the list changed.
    void readSoon();
    // Blocks while a read it needs runs. Before start() it reads on the calling thread.
    DeviceRecordMap take();

private:
    using Clock = std::chrono::steady_clock;
    void run();

    Lister list_;
    std::function<void()> changed_;
    std::function<void(const DeviceRecordMap &)> read_; // told every read's result
    const std::chrono::milliseconds settle_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    std::vector<Clock::time_point> due_; // notice reads not run yet
    bool started_ = false;
    bool stopping_ = false;
    bool readNow_ = false; // the first read, or one a take() waits for
    bool reading_ = false;
    bool handedOut_ = false; // the last result went to a take()
    quint64 readsDone_ = 0;
    DeviceRecordMap held_;
};

} // namespace torvanix

#include "device_directory.h"

#include <algorithm>

namespace torvanix {

DeviceDirectory::DeviceDirectory(Lister list, std::function<void()> changed, int settleMs,
                                 std::function<void(const DeviceRecordMap &)> read)
    : list_(std::move(list)), changed_(std::move(changed)), read_(std::move(read)),
      settle_(std::max(0, settleMs)) {}

DeviceDirectory::~DeviceDirectory() {
    stop();
}

void DeviceDirectory::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void DeviceDirectory::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || stopping_)
        return;
    started_ = true;
    readNow_ = true;
    worker_ = std::thread([this] { run(); });
}

bool DeviceDirectory::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

void DeviceDirectory::noticeChange() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_)
            return;
        const Clock::time_point now = Clock::now();
        due_.push_back(now);
        if (settle_.count() > 0)
            due_.push_back(now + settle_);
    }
    wake_.notify_all();
}

void DeviceDirectory::readSoon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_)
            return;
        due_.push_back(Clock::now());
    }
    wake_.notify_all();
}

DeviceRecordMap DeviceDirectory::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return held_;
    if (!started_) {
        lock.unlock();
        return list_ ? list_() : DeviceRecordMap();
    }
    if (!reading_ && !readNow_ && readsDone_ > 0 && !handedOut_) {
        handedOut_ = true;
        return held_;
    }
    if (!reading_ && !readNow_) {
        readNow_ = true;
        wake_.notify_all();
    }
    const quint64 target = readsDone_ + 1;
    wake_.wait(lock, [&] { return readsDone_ >= target || stopping_; });
    handedOut_ = true;
    return held_;
}

void DeviceDirectory::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        const auto firstDue = std::min_element(due_.begin(), due_.end());
        const bool noticeDue = firstDue != due_.end() && *firstDue <= now;
        if (!readNow_ && !noticeDue) {
            if (firstDue == due_.end()) {
                wake_.wait(lock);
            } else {
                // A copy: a notice arriving while this waits may grow the list and move it.
                const Clock::time_point until = *firstDue;
                wake_.wait_until(lock, until);
            }
            continue;
        }
        // Notices due by now are all served by this one read.
        due_.erase(std::remove_if(due_.begin(), due_.end(),
                                  [now](Clock::time_point t) { return t <= now; }),
                   due_.end());
        readNow_ = false;
        reading_ = true;
        lock.unlock();
        DeviceRecordMap records = list_ ? list_() : DeviceRecordMap();
        lock.lock();
        reading_ = false;
        const bool differs = readsDone_ == 0 || records != held_;
        held_ = std::move(records);
        ++readsDone_;
        handedOut_ = false;
        wake_.notify_all();
        if (read_) {
            const DeviceRecordMap result = held_;
            lock.unlock();
            read_(result);
            lock.lock();
        }
        if (noticeDue && differs && changed_) {
            lock.unlock();
            changed_();
            lock.lock();
        }
    }
}

} // namespace torvanix

#include "command_lane.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QSemaphore>

namespace torvanix {

CommandLane::CommandLane() {
    thread_.setObjectName(QStringLiteral("page-commands"));
    context_ = new QObject;
    context_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

CommandLane::~CommandLane() {
    thread_.quit();
    thread_.wait();
}

quint64 CommandLane::post(std::function<void()> job) {
    const quint64 id = ++posted_;
    QMetaObject::invokeMethod(
        context_,
        [this, job = std::move(job)] {
            job();
            QMutexLocker lock(&mutex_);
            ++done_;
            doneCondition_.wakeAll();
        },
        Qt::QueuedConnection);
    return id;
}

bool CommandLane::onLane() const {
    return QThread::currentThread() == &thread_;
}

bool CommandLane::waitForIdle(int timeoutMs) {
    const QDeadlineTimer deadline = deadlineAfter(timeoutMs);
    QMutexLocker lock(&mutex_);
    while (done_ < posted_.load()) {
        if (!doneCondition_.wait(&mutex_, deadline))
            return done_ >= posted_.load();
    }
    return true;
}

bool CommandLane::idle() const {
    QMutexLocker lock(&mutex_);
    return done_ >= posted_.load();
}

GuiBridge::GuiBridge() = default;

GuiBridge::~GuiBridge() {
    shutdown();
}

bool GuiBridge::run(const std::function<void()> &work) {
    if (QThread::currentThread() == thread()) {
        if (shut_)
            return false;
        work();
        return true;
    }
    auto done = std::make_shared<QSemaphore>(0);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    {
        QMutexLocker lock(&mutex_);
        if (shut_)
            return false;
        waiting_.insert(done);
        QMetaObject::invokeMethod(
            this,
            [this, work, done, ran] {
                if (!shut_) {
                    work();
                    *ran = true;
                }
                done->release();
            },
            Qt::QueuedConnection);
    }
    done->acquire();
    QMutexLocker lock(&mutex_);
    waiting_.erase(done);
    return *ran;
}

void GuiBridge::shutdown() {
    QMutexLocker lock(&mutex_);
    shut_ = true;
    for (const auto &semaphore : waiting_)
        semaphore->release();
}

void WorkTracker::begin() {
    QMutexLocker lock(&mutex_);
    ++running_;
}

void WorkTracker::end() {
    QMutexLocker lock(&mutex_);
    --running_;
    condition_.wakeAll();
}

bool WorkTracker::waitForIdle(int timeoutMs) {
    const QDeadlineTimer deadline = deadlineAfter(timeoutMs);
    QMutexLocker lock(&mutex_);
    while (running_ > 0) {
        if (!condition_.wait(&mutex_, deadline))
            return running_ == 0;
    }
    return true;
}

int WorkTracker::running() const {
    QMutexLocker lock(&mutex_);
    return running_;
}

} // namespace torvanix

#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>
#include <set>

class QSemaphore;

namespace torvanix {

// A deadline `ms` milliseconds ahead; negative values never expire.
inline QDeadlineTimer deadlineAfter(int ms) {
    return ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(ms);
}

// Page commands run one after the other, in the order the page sent them, on a thread of
// their own, so the window never waits for a device enumeration, a performance sample or an
// update package. The thread runs an event loop, so jobs may create objects that need one
// (threads that delete themselves later, child processes).
class CommandLane {
public:
    CommandLane();
    ~CommandLane();

    // Queues a job; returns its number (1, 2, ...).
    quint64 post(std::function<void()> job);
    // The number of the job posted last (0 before the first).
    quint64 lastPosted() const { return posted_.load(); }
    bool onLane() const;

    // Waits until every posted job has run. False on time-out (-1 waits for ever).
    bool waitForIdle(int timeoutMs = -1);
    bool idle() const;

private:
    QThread thread_;
    QObject *context_ = nullptr;
    std::atomic<quint64> posted_{0};
    mutable QMutex mutex_;
    QWaitCondition doneCondition_;
    quint64 done_ = 0;
};

// Runs a piece of work on the thread that created the bridge (the GUI thread: dialogs, the
// desktop's handlers, the quit) and waits for it. Called on that thread, it runs the work at
// once. After shutdown() nothing runs any more and waiting callers are released.
class GuiBridge : public QObject {
    Q_OBJECT
public:
    GuiBridge();
    ~GuiBridge() override;

    // True when the work ran.
    bool run(const std::function<void()> &work);
    void shutdown();

private:
    QMutex mutex_;
    std::set<std::shared_ptr<QSemaphore>> waiting_;
    std::atomic<bool> shut_{false};
};

// Counts work that page commands leave running after they return (firmware runs, converter
// processes), so the command-line tool and tests can wait for it.
class WorkTracker {
public:
    void begin();
    void end();
    bool waitForIdle(int timeoutMs = -1);
    int running() const;

private:
    mutable QMutex mutex_;
    QWaitCondition condition_;
    int running_ = 0;
};

} // namespace torvanix

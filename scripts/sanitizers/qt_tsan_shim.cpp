// Preloaded into the ThreadSanitizer runs. Debian's Qt is not built for the thread sanitizer, so
// the hand-offs Qt synchronises inside its own (uninstrumented) code are invisible to it: a
// contended mutex, a read-write lock, a wait on a condition, an event posted to another thread, a task handed to
// a thread pool, a thread that finished. Each exported entry point below calls the real one and
// tells the sanitizer about the happens-before edge it stands for, so only races in our own
// code are reported. Nothing here changes what Qt does.
//
// Built by scripts/sanitize.sh; does nothing in a process without the sanitizer runtime.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>

#include <dlfcn.h>
#include <functional>

extern "C" {
void __tsan_acquire(void *addr) __attribute__((weak));
void __tsan_release(void *addr) __attribute__((weak));
}

namespace {

void acquire(const void *addr) {
    if (__tsan_acquire && addr)
        __tsan_acquire(const_cast<void *>(addr));
}

void release(const void *addr) {
    if (__tsan_release && addr)
        __tsan_release(const_cast<void *>(addr));
}

template <typename F> F real(const char *mangled) {
    void *f = dlvsym(RTLD_NEXT, mangled, "Qt_5");
    if (!f)
        f = dlsym(RTLD_NEXT, mangled);
    return reinterpret_cast<F>(f);
}

// Edges from a pool's tasks to whoever waits for the pool: one address per pool.
const void *poolDone(const QThreadPool *pool) {
    return reinterpret_cast<const char *>(pool) + 1;
}

// Runs the task handed to the pool after acquiring what the starting thread released.
class Handoff : public QRunnable {
public:
    Handoff(QRunnable *inner, std::function<void()> fn, const QThreadPool *pool)
        : inner_(inner), fn_(std::move(fn)), pool_(pool) {
        release(this);
    }
    void run() override {
        acquire(this);
        if (inner_) {
            const bool owned = inner_->autoDelete();
            inner_->run();
            if (owned)
                delete inner_;
        } else if (fn_) {
            fn_();
        }
        release(poolDone(pool_));
    }
    QRunnable *inner_;
    std::function<void()> fn_;
    const QThreadPool *pool_;
};

// A functor handed to another thread's event loop (QMetaObject::invokeMethod with a lambda):
// the delivery runs inside Qt, so the functor is wrapped to acquire what the poster released.
class SlotHandoff : public QtPrivate::QSlotObjectBase {
public:
    explicit SlotHandoff(QtPrivate::QSlotObjectBase *inner)
        : QSlotObjectBase(&impl), inner_(inner) {
        release(this);
    }

private:
    static void impl(int which, QSlotObjectBase *self, QObject *receiver, void **args, bool *ret) {
        auto *h = static_cast<SlotHandoff *>(self);
        switch (which) {
        case Destroy:
            h->inner_->destroyIfLastRef();
            delete h;
            break;
        case Call:
            acquire(h);
            h->inner_->call(receiver, args);
            release(h->inner_);
            break;
        case Compare:
            if (ret)
                *ret = false;
            break;
        default:
            break;
        }
    }
    QtPrivate::QSlotObjectBase *inner_;
};

} // namespace

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot,
                                   Qt::ConnectionType type, void *ret) {
    static auto f =
        real<bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *)>(
            "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14"
            "ConnectionTypeEPv");
    if (!slot)
        return f(object, slot, type, ret);
    QtPrivate::QSlotObjectBase *inner = slot;
    const bool ok = f(object, new SlotHandoff(slot), type, ret);
    // A blocking call returns after the slot ran in the other thread.
    acquire(inner);
    return ok;
}

// Mutexes: the uncontended path is inline in our own instrumented code; the contended path and
// QMutex's own entry points run inside Qt.
void QBasicMutex::lockInternal() QT_MUTEX_LOCK_NOEXCEPT {
    static auto f = real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex12lockInternalEv");
    f(this);
    acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) QT_MUTEX_LOCK_NOEXCEPT {
    static auto f = real<bool (*)(QBasicMutex *, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept {
    static auto f = real<void (*)(QBasicMutex *)>("_ZN11QBasicMutex14unlockInternalEv");
    release(this);
    f(this);
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT {
    static auto f = real<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    f(this);
    acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT {
    static auto f = real<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QMutex::unlock() noexcept {
    static auto f = real<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    release(this);
    f(this);
}

// Read-write locks take even their uncontended path inside Qt. One edge per lock: what a
// writer did happens before every later holder, and what readers did before the next writer.
void QReadWriteLock::lockForRead() {
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    f(this);
    acquire(this);
}

bool QReadWriteLock::tryLockForRead() {
    static auto f = real<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = f(this);
    if (locked)
        acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout) {
    static auto f =
        real<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QReadWriteLock::lockForWrite() {
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    f(this);
    acquire(this);
}

bool QReadWriteLock::tryLockForWrite() {
    static auto f = real<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = f(this);
    if (locked)
        acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout) {
    static auto f =
        real<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QReadWriteLock::unlock() {
    static auto f = real<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    release(this);
    f(this);
}

// A wait gives the mutex up and takes it back inside Qt; a wake hands over to the waiter.
bool QWaitCondition::wait(QMutex *mutex, QDeadlineTimer deadline) {
    static auto f = real<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    release(mutex);
    const bool woken = f(this, mutex, deadline);
    acquire(mutex);
    acquire(this);
    return woken;
}

bool QWaitCondition::wait(QMutex *mutex, unsigned long time) {
    static auto f = real<bool (*)(QWaitCondition *, QMutex *, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    release(mutex);
    const bool woken = f(this, mutex, time);
    acquire(mutex);
    acquire(this);
    return woken;
}

void QWaitCondition::wakeOne() {
    static auto f = real<void (*)(QWaitCondition *)>("_ZN14QWaitCondition7wakeOneEv");
    release(this);
    f(this);
}

void QWaitCondition::wakeAll() {
    static auto f = real<void (*)(QWaitCondition *)>("_ZN14QWaitCondition7wakeAllEv");
    release(this);
    f(this);
}

// Queued calls and posted events: what the poster did happens before the delivery.
void QCoreApplication::postEvent(QObject *receiver, QEvent *event, int priority) {
    static auto f = real<void (*)(QObject *, QEvent *, int)>(
        "_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    release(event);
    f(receiver, event, priority);
}

bool QCoreApplication::notifyInternal2(QObject *receiver, QEvent *event) {
    static auto f = real<bool (*)(QObject *, QEvent *)>(
        "_ZN16QCoreApplication15notifyInternal2EP7QObjectP6QEvent");
    acquire(event);
    return f(receiver, event);
}

// Tasks handed to a pool, and waiting for a pool.
void QThreadPool::start(QRunnable *runnable, int priority) {
    static auto f =
        real<void (*)(QThreadPool *, QRunnable *, int)>("_ZN11QThreadPool5startEP9QRunnablei");
    if (!runnable)
        return f(this, runnable, priority);
    f(this, new Handoff(runnable, {}, this), priority);
}

void QThreadPool::start(std::function<void()> functionToRun, int priority) {
    static auto f =
        real<void (*)(QThreadPool *, QRunnable *, int)>("_ZN11QThreadPool5startEP9QRunnablei");
    if (!functionToRun)
        return;
    f(this, new Handoff(nullptr, std::move(functionToRun), this), priority);
}

bool QThreadPool::tryStart(QRunnable *runnable) {
    static auto f =
        real<bool (*)(QThreadPool *, QRunnable *)>("_ZN11QThreadPool8tryStartEP9QRunnable");
    if (!runnable)
        return f(this, runnable);
    auto *handoff = new Handoff(runnable, {}, this);
    if (f(this, handoff))
        return true;
    handoff->inner_ = nullptr;
    delete handoff;
    return false;
}

bool QThreadPool::waitForDone(int msecs) {
    static auto f = real<bool (*)(QThreadPool *, int)>("_ZN11QThreadPool11waitForDoneEi");
    const bool done = f(this, msecs);
    acquire(poolDone(this));
    return done;
}

// A finished thread's work happens before the return of a wait for it. The thread's last
// steps run inside Qt, so the edge is taken from the thread's object once the wait succeeded
// and released by every run that ends there (see below).
bool QThread::wait(QDeadlineTimer deadline) {
    static auto f = real<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool done = f(this, deadline);
    if (done)
        acquire(this);
    return done;
}

bool QThread::wait(unsigned long time) {
    static auto f = real<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    const bool done = f(this, time);
    if (done)
        acquire(this);
    return done;
}

// A thread's event loop returning is the last thing it does in Qt's run() before finishing.
int QThread::exec() {
    static auto f = real<int (*)(QThread *)>("_ZN7QThread4execEv");
    const int code = f(this);
    release(this);
    return code;
}

#include "input_filter.h"

#include "device_log.h"
#include "device_operations.h"
#include "event_sink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <libudev.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace torvanix {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isKeyboard(const libevdev *dev) {
    if (!libevdev_has_event_type(dev, EV_KEY))
        return false;
    for (int code : {KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F11, KEY_F12, KEY_CAPSLOCK})
        if (libevdev_has_event_code(dev, EV_KEY, code))
            return true;
    return false;
}

// Pointers that move relatively and have a left button; touch screens and tablets are not
// mice to the screen keyboard.
bool isMouse(const libevdev *dev) {
    return libevdev_has_event_code(dev, EV_KEY, BTN_LEFT) &&
           libevdev_has_event_code(dev, EV_REL, REL_X) &&
           libevdev_has_event_code(dev, EV_REL, REL_Y);
}

bool anythingHeld(const libevdev *dev) {
    for (int code = 0; code <= KEY_MAX; ++code)
        if (libevdev_has_event_code(dev, EV_KEY, code) &&
            libevdev_get_event_value(dev, EV_KEY, code) != 0)
            return true;
    return false;
}

struct Device {
    QString node;
    int fd = -1;
    libevdev *dev = nullptr;
    bool keyboard = false;
    bool mouse = false;
    // While forwarding: the device is taken exclusively and its strokes re-emitted through
    // the twin.
    libevdev_uinput *twin = nullptr;
    int twinFd = -1;
    QString twinNode;
    // Forwarding was switched on while a button or key was down: the desktop saw the press,
    // so the device is taken only once everything is up (else the release never reaches it).
    bool engagePending = false;

    ~Device() {
        if (twin)
            libevdev_uinput_destroy(twin);
        if (twinFd >= 0)
            ::close(twinFd);
        if (dev)
            libevdev_free(dev);
        if (fd >= 0)
            ::close(fd);
    }
};

// Hands the notification blocks to the device library on a thread of its own. A library call
// can wait seconds behind another (a listing holds the library that long), and the grabbed
// mouse's movement, re-emitted by the filter's thread, must never wait with it. Blocks go
// out in the order of the strokes.
class BlockSender {
public:
    explicit BlockSender(std::function<void(const input::ButtonBlock &)> send)
        : send_(std::move(send)), thread_([this] { serve(); }) {}
    // Waits for a call in progress; blocks still queued are dropped with the filter.
    ~BlockSender() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        wake_.notify_one();
        thread_.join();
    }
    BlockSender(const BlockSender &) = delete;
    BlockSender &operator=(const BlockSender &) = delete;

    void post(const input::ButtonBlock &block) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // A library that hangs must not make the queue grow without end.
            if (queue_.size() >= kMaxQueued) {
                if (!overflowed_)
                    qCWarning(lcDevices) << "input filter: the device library does not take "
                                            "the button notifications; dropping them";
                overflowed_ = true;
                return;
            }
            overflowed_ = false;
            queue_.push_back(block);
        }
        wake_.notify_one();
    }

private:
    static constexpr size_t kMaxQueued = 256;

    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            const input::ButtonBlock block = queue_.front();
            queue_.pop_front();
            lock.unlock();
            send_(block);
            lock.lock();
        }
    }

    const std::function<void(const input::ButtonBlock &)> send_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<input::ButtonBlock> queue_;
    bool stopping_ = false;
    bool overflowed_ = false;
    // Last: the thread starts once everything it uses exists.
    std::thread thread_;
};

} // namespace

struct DEVICE_FILTER::Loop {
    explicit Loop(DEVICE_FILTER &filter) : f(filter) {}
    ~Loop() {
        // Twins go with their devices; the kernel releases what a twin still holds pressed.
        for (auto &entry : devices)
            release(*entry.second);
        devices.clear();
        if (monitor)
            udev_monitor_unref(monitor);
        if (udevContext)
            udev_unref(udevContext);
        if (epollFd >= 0)
            ::close(epollFd);
    }

    DEVICE_FILTER &f;
    int epollFd = -1;
    udev *udevContext = nullptr;
    udev_monitor *monitor = nullptr;
    int monitorFd = -1;
    std::map<int, std::unique_ptr<Device>> devices;
    input::ButtonBlockState blockState;
    std::unique_ptr<BlockSender> sender;
    bool forwarding = false;

    QString setUp();
    void run();
    void watchHotplug();
    // 0 when the node was opened (watched or deliberately left alone), else the errno.
    int addDevice(const QString &node);
    void dropDevice(int fd);
    void dropNode(const QString &node);
    void readDevice(Device &device);
    void handle(Device &device, const input_event &ev);
    void engage(Device &device);
    void release(Device &device);
    void applyForwarding();
    void readHotplug();
    void publish();
};

QString DEVICE_FILTER::Loop::setUp() {
    const QByteArray uinputPath = QFile::encodeName(f.options_.uinputPath);
    const int probe = ::open(uinputPath.constData(), O_RDWR | O_CLOEXEC);
    if (probe < 0)
        return QStringLiteral("cannot open %1 (%2): virtual input devices cannot be made, so "
                              "the mouse cannot be shared with the screen keyboard")
            .arg(f.options_.uinputPath, errnoText(errno));
    ::close(probe);

    const QDir dir(f.options_.inputDir);
    if (!dir.exists())
        return QStringLiteral("%1 does not exist: the kernel's input devices are not available")
            .arg(f.options_.inputDir);

    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0)
        return QStringLiteral("epoll: %1").arg(errnoText(errno));
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = f.wakeFd_.load();
    if (wake.data.fd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wake.data.fd, &wake) != 0)
        return QStringLiteral("cannot set up the filter's wake-up: %1").arg(errnoText(errno));

    // Devices that arrive while the folder is read are seen by the monitor.
    if (f.options_.followHotplug)
        watchHotplug();

    const QStringList nodes =
        dir.entryList({QStringLiteral("event*")}, QDir::System | QDir::Files, QDir::Name);
    int opened = 0;
    int denied = 0;
    for (const QString &name : nodes) {
        const int error = addDevice(dir.filePath(name));
        if (error == 0)
            ++opened;
        else if (error == EACCES || error == EPERM)
            ++denied;
    }
    if (opened == 0 && denied > 0)
        return QStringLiteral("no permission to read the input devices in %1 (the user is not "
                              "in the group that may read them)")
            .arg(f.options_.inputDir);
    publish();
    return QString();
}

void DEVICE_FILTER::Loop::watchHotplug() {
    udevContext = udev_new();
    if (!udevContext)
        return;
    // With udevd running its messages come after the node's permissions were set; without
    // it (containers, small systems) the kernel's own messages are all there is.
    const bool udevd = ::access("/run/udev/control", F_OK) == 0;
    monitor = udev_monitor_new_from_netlink(udevContext, udevd ? "udev" : "kernel");
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "input", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        qCWarning(lcDevices) << "input filter: devices plugged in later will not be seen (no "
                                "device monitor)";
        if (monitor)
            udev_monitor_unref(monitor);
        monitor = nullptr;
        return;
    }
    monitorFd = udev_monitor_get_fd(monitor);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = monitorFd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, monitorFd, &ev);
}

int DEVICE_FILTER::Loop::addDevice(const QString &node) {
    for (const auto &entry : devices)
        if (entry.second->node == node)
            return 0;
    const QByteArray path = QFile::encodeName(node);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    auto device = std::make_unique<Device>();
    device->node = node;
    device->fd = fd;
    if (libevdev_new_from_fd(fd, &device->dev) < 0) {
        device->dev = nullptr;
        return 0;
    }
    const QString name = QString::fromUtf8(libevdev_get_name(device->dev));
    if (name.startsWith(f.options_.twinPrefix))
        return 0;
    const QString id = input::deviceIdText(libevdev_get_id_bustype(device->dev),
                                           libevdev_get_id_vendor(device->dev),
                                           libevdev_get_id_product(device->dev), name);
    if (input::isSystemOwnDevice(id)) {
        qCDebug(lcDevices) << "input filter: leaves the system's own device alone:" << node << id;
        return 0;
    }
    device->keyboard = isKeyboard(device->dev);
    device->mouse = isMouse(device->dev);
    if (!device->keyboard && !device->mouse)
        return 0;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return 0;
    qCDebug(lcDevices) << "input filter: watches" << node << id
                       << (device->keyboard ? "keyboard" : "") << (device->mouse ? "mouse" : "");
    Device &added = *device;
    devices.emplace(fd, std::move(device));
    if (forwarding && added.mouse)
        engage(added);
    return 0;
}

void DEVICE_FILTER::Loop::dropDevice(int fd) {
    auto it = devices.find(fd);
    if (it == devices.end())
        return;
    qCDebug(lcDevices) << "input filter: device gone:" << it->second->node;
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    release(*it->second);
    devices.erase(it);
    publish();
}

void DEVICE_FILTER::Loop::dropNode(const QString &node) {
    for (const auto &entry : devices) {
        if (entry.second->node == node) {
            dropDevice(entry.first);
            return;
        }
    }
}

void DEVICE_FILTER::Loop::engage(Device &device) {
    if (device.twin)
        return;
    device.engagePending = anythingHeld(device.dev);
    if (device.engagePending)
        return;
    const QByteArray uinputPath = QFile::encodeName(f.options_.uinputPath);
    device.twinFd = ::open(uinputPath.constData(), O_RDWR | O_CLOEXEC);
    if (device.twinFd < 0) {
        qCWarning(lcDevices) << "input filter: cannot forward" << device.node << "- no access to"
                             << f.options_.uinputPath << errnoText(errno);
        return;
    }
    // The twin carries everything the mouse can send; its name marks it as ours so that it
    // is never watched (and taken) in turn.
    const QByteArray original = libevdev_get_name(device.dev);
    const QByteArray twinName = (f.options_.twinPrefix).toUtf8() + original;
    libevdev_set_name(device.dev, twinName.constData());
    const int rc = libevdev_uinput_create_from_device(device.dev, device.twinFd, &device.twin);
    libevdev_set_name(device.dev, original.constData());
    if (rc < 0) {
        qCWarning(lcDevices) << "input filter: cannot make a twin of" << device.node
                             << errnoText(-rc);
        device.twin = nullptr;
        ::close(device.twinFd);
        device.twinFd = -1;
        return;
    }
    const int grab = libevdev_grab(device.dev, LIBEVDEV_GRAB);
    if (grab < 0) {
        // Someone else holds it: its buttons go where they went before.
        qCWarning(lcDevices) << "input filter: cannot take" << device.node << errnoText(-grab);
        libevdev_uinput_destroy(device.twin);
        device.twin = nullptr;
        ::close(device.twinFd);
        device.twinFd = -1;
        return;
    }
    const char *twinNode = libevdev_uinput_get_devnode(device.twin);
    device.twinNode = twinNode ? QString::fromUtf8(twinNode) : QString();
}

void DEVICE_FILTER::Loop::release(Device &device) {
    device.engagePending = false;
    if (!device.twin)
        return;
    libevdev_grab(device.dev, LIBEVDEV_UNGRAB);
    libevdev_uinput_destroy(device.twin);
    device.twin = nullptr;
    ::close(device.twinFd);
    device.twinFd = -1;
    device.twinNode.clear();
}

void DEVICE_FILTER::Loop::applyForwarding() {
    quint64 target;
    {
        QMutexLocker lock(&f.mutex_);
        target = f.requested_;
    }
    const bool want = f.forward_.load();
    if (want != forwarding) {
        forwarding = want;
        for (auto &entry : devices) {
            if (!entry.second->mouse)
                continue;
            if (want)
                engage(*entry.second);
            else
                release(*entry.second);
        }
        publish();
    }
    QMutexLocker lock(&f.mutex_);
    f.applied_ = qMax(f.applied_, target);
    f.changed_.wakeAll();
}

void DEVICE_FILTER::Loop::handle(Device &device, const input_event &ev) {
    if (ev.type == EV_KEY) {
        if (device.keyboard && ev.value == 0) {
            const QString name = input::hotKeyName(ev.code);
            if (!name.isEmpty())
                f.events_.sendEvent(QString::fromLatin1(events::HotKeyMsg), {name});
        }
        if (device.mouse && ev.code == BTN_MIDDLE && ev.value == 0)
            f.events_.sendEvent(QString::fromLatin1(events::HotKeyMsg), {QStringLiteral("F11")});
        if (device.twin && input::isForwardedButton(ev.code)) {
            const auto block = input::buttonBlock(ev.code, ev.value, blockState);
            if (block && sender)
                sender->post(*block);
            if (ev.code != BTN_MIDDLE)
                return;
        }
    }
    if (device.twin)
        libevdev_uinput_write_event(device.twin, ev.type, ev.code, ev.value);
    else if (device.engagePending && ev.type == EV_SYN && ev.code == SYN_REPORT) {
        engage(device);
        if (device.twin)
            publish();
    }
}

void DEVICE_FILTER::Loop::readDevice(Device &device) {
    const int fd = device.fd;
    input_event ev;
    while (true) {
        int rc = libevdev_next_event(device.dev, LIBEVDEV_READ_FLAG_NORMAL, &ev);
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            // The kernel dropped events: the state is brought up to date with made-up
            // events. They still reach the desktop through a twin, but are no strokes of
            // their own (no hot keys, no blocks).
            while (rc == LIBEVDEV_READ_STATUS_SYNC) {
                if (device.twin)
                    libevdev_uinput_write_event(device.twin, ev.type, ev.code, ev.value);
                rc = libevdev_next_event(device.dev, LIBEVDEV_READ_FLAG_SYNC, &ev);
            }
            continue;
        }
        if (rc == -EAGAIN)
            return;
        if (rc < 0) {
            dropDevice(fd);
            return;
        }
        handle(device, ev);
    }
}

void DEVICE_FILTER::Loop::readHotplug() {
    while (udev_device *dev = udev_monitor_receive_device(monitor)) {
        const char *action = udev_device_get_action(dev);
        const char *sysname = udev_device_get_sysname(dev);
        if (action && sysname && std::strncmp(sysname, "event", 5) == 0) {
            const QString node =
                f.options_.inputDir + QLatin1Char('/') + QString::fromUtf8(sysname);
            if (std::strcmp(action, "add") == 0) {
                if (addDevice(node) == 0)
                    publish();
            } else if (std::strcmp(action, "remove") == 0) {
                dropNode(node);
            }
        }
        udev_device_unref(dev);
    }
}

void DEVICE_FILTER::Loop::publish() {
    QStringList watched;
    QStringList twins;
    for (const auto &entry : devices) {
        watched << entry.second->node;
        if (!entry.second->twinNode.isEmpty())
            twins << entry.second->twinNode;
    }
    QMutexLocker lock(&f.mutex_);
    f.watched_ = watched;
    f.twins_ = twins;
}

void DEVICE_FILTER::Loop::run() {
    const int wakeFd = f.wakeFd_.load();
    epoll_event ready[16];
    while (!f.stopRequested_.load()) {
        const int n = ::epoll_wait(epollFd, ready, 16, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            qCWarning(lcDevices) << "input filter: epoll:" << errnoText(errno);
            return;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == wakeFd) {
                uint64_t count;
                [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
                if (f.stopRequested_.load())
                    return;
                applyForwarding();
            } else if (fd == monitorFd) {
                readHotplug();
            } else {
                auto it = devices.find(fd);
                if (it == devices.end())
                    continue;
                if (ready[i].events & EPOLLIN)
                    readDevice(*it->second);
                else if (ready[i].events & (EPOLLHUP | EPOLLERR))
                    dropDevice(fd);
            }
        }
    }
}

DEVICE_FILTER::DEVICE_FILTER(EventSink &events, DeviceOperations &devices, QString screenIdentity,
                             InputFilterOptions options, QObject *parent)
    : QObject(parent), events_(events), devices_(devices),
      screenIdentity_(std::move(screenIdentity)), options_(std::move(options)) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DEVICE_FILTER::DEVICE_FILTER(QThread *thread, EventSink &events, DeviceOperations &devices,
                             QString screenIdentity, InputFilterOptions options)
    : DEVICE_FILTER(events, devices, std::move(screenIdentity), std::move(options)) {
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

DEVICE_FILTER::~DEVICE_FILTER() {
    const int fd = wakeFd_.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

void DEVICE_FILTER::setForwardMouseButtons(bool on) {
    QMutexLocker lock(&mutex_);
    if (on && state_ != State::Running)
        return;
    if (forward_.load() == on)
        return;
    forward_ = on;
    if (state_ != State::Running)
        return;
    const quint64 ticket = ++requested_;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t put = ::write(wakeFd_.load(), &one, sizeof one);
    const QDeadlineTimer deadline(2000);
    while (applied_ < ticket && state_ == State::Running)
        if (!changed_.wait(&mutex_, deadline))
            break;
}

DEVICE_FILTER::State DEVICE_FILTER::state() const {
    QMutexLocker lock(&mutex_);
    return state_;
}

QString DEVICE_FILTER::unavailableReason() const {
    QMutexLocker lock(&mutex_);
    return reason_;
}

QStringList DEVICE_FILTER::watchedNodes() const {
    QMutexLocker lock(&mutex_);
    return watched_;
}

QStringList DEVICE_FILTER::twinNodes() const {
    QMutexLocker lock(&mutex_);
    return twins_;
}

void DEVICE_FILTER::stop() {
    stopRequested_ = true;
    const int fd = wakeFd_.load();
    if (fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t put = ::write(fd, &one, sizeof one);
    }
}

void DEVICE_FILTER::finish(State state, const QString &reason) {
    {
        QMutexLocker lock(&mutex_);
        state_ = state;
        reason_ = reason;
        watched_.clear();
        twins_.clear();
        forward_ = false;
        changed_.wakeAll();
    }
    emit stopped();
}

void DEVICE_FILTER::start() {
    {
        QMutexLocker lock(&mutex_);
        if (state_ != State::Created)
            return;
    }
    if (stopRequested_.load()) {
        finish(State::Stopped, QStringLiteral("stopped"));
        return;
    }
    auto loop = std::make_unique<Loop>(*this);
    const QString problem = loop->setUp();
    if (!problem.isEmpty()) {
        loop.reset();
        qCWarning(lcDevices).noquote() << "input filter off:" << problem;
        finish(State::Unavailable, problem);
        return;
    }
    loop->sender = std::make_unique<BlockSender>([this](const input::ButtonBlock &block) {
        devices_.notifyDevice(
            screenIdentity_,
            QByteArray(reinterpret_cast<const char *>(block.data()), int(block.size())));
    });
    // Strokes wait in the kernel while this thread sleeps: run it ahead of ordinary work
    // where the system allows (it usually does not for ordinary users; that is fine). The
    // sender, started before, keeps the ordinary priority for its device calls.
    ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), -10);
    {
        QMutexLocker lock(&mutex_);
        state_ = State::Running;
    }
    loop->run();
    loop.reset();
    finish(State::Stopped, QStringLiteral("stopped"));
}

} // namespace torvanix

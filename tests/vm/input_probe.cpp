// torvanix-vm-input MODE: runs the real input filter against kernel input devices made through
// uinput, with the simulated device libraries, inside the test VM (tests/vm/input_filter.sh).
//   check     hot keys, the system's own devices, forwarding with its grab, twin and blocks
//             (also while a slow listing holds the device library),
//             devices that come and go, switching off, shutdown
//   noaccess  the filter cannot reach /dev/input or /dev/uinput: it ends at once and says why
//   bench N   a re-emitted movement against the raw read of the same movement
// Environment: TORVANIX_DEVICES_DIR (the simulated libraries), TORVANIX_SIM_TRACE (their trace,
// where the notification blocks are looked for).
#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/input_filter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace torvanix;

namespace {

int failures = 0;

void check(bool ok, const QString &what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", qPrintable(what));
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

template <typename F> bool waitUntil(F done, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(5);
    }
    return true;
}

class HotKeys : public EventSink {
public:
    void sendEvent(const QString &name, const QVariantList &args) override {
        QMutexLocker lock(&mutex_);
        received_ << name + QLatin1Char(' ') + args.value(0).toString();
    }
    QStringList take() {
        QMutexLocker lock(&mutex_);
        return std::exchange(received_, {});
    }
    int count() {
        QMutexLocker lock(&mutex_);
        return received_.size();
    }

private:
    QMutex mutex_;
    QStringList received_;
};

// A keyboard or mouse made through uinput.
class Virtual {
public:
    Virtual(const char *name, int vendor, int product, std::initializer_list<int> keys,
            bool pointer) {
        libevdev *dev = libevdev_new();
        libevdev_set_name(dev, name);
        libevdev_set_id_bustype(dev, BUS_USB);
        libevdev_set_id_vendor(dev, vendor);
        libevdev_set_id_product(dev, product);
        libevdev_enable_event_type(dev, EV_KEY);
        for (int key : keys)
            libevdev_enable_event_code(dev, EV_KEY, key, nullptr);
        if (pointer)
            for (int rel : {REL_X, REL_Y, REL_WHEEL})
                libevdev_enable_event_code(dev, EV_REL, rel, nullptr);
        const int rc = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &ui_);
        libevdev_free(dev);
        if (rc < 0) {
            std::fprintf(stderr, "cannot make %s: %s\n", name, strerror(-rc));
            ui_ = nullptr;
        }
    }
    ~Virtual() {
        if (ui_)
            libevdev_uinput_destroy(ui_);
    }
    bool ok() const { return ui_ != nullptr; }
    QString node() const {
        return ui_ ? QString::fromUtf8(libevdev_uinput_get_devnode(ui_)) : QString();
    }
    void send(int type, int code, int value) {
        libevdev_uinput_write_event(ui_, type, code, value);
        libevdev_uinput_write_event(ui_, EV_SYN, SYN_REPORT, 0);
    }
    void stroke(int code) {
        send(EV_KEY, code, 1);
        send(EV_KEY, code, 0);
    }

private:
    libevdev_uinput *ui_ = nullptr;
};

struct Event {
    int type, code, value;
    bool operator==(const Event &o) const {
        return type == o.type && code == o.code && value == o.value;
    }
};

// Another program reading a device, as the desktop does.
class Reader {
public:
    explicit Reader(const QString &node) {
        fd_ = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0 && libevdev_new_from_fd(fd_, &dev_) == 0)
            libevdev_set_clock_id(dev_, CLOCK_MONOTONIC);
    }
    ~Reader() {
        if (dev_)
            libevdev_free(dev_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return dev_ != nullptr; }
    int fd() const { return fd_; }
    // Everything but synchronisation events that arrives within ms.
    std::vector<Event> collect(int ms = 300) {
        std::vector<Event> events;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 20);
            input_event ev;
            while (libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev) == 0)
                if (ev.type != EV_SYN)
                    events.push_back({ev.type, ev.code, ev.value});
        }
        return events;
    }
    // One event, waiting without limit; its kernel time stamp in ns.
    bool next(input_event &ev) {
        while (true) {
            const int rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev);
            if (rc == 0 && ev.type != EV_SYN)
                return true;
            if (rc == -EAGAIN) {
                pollfd p{fd_, POLLIN, 0};
                ::poll(&p, 1, 2000);
                if (!(p.revents & POLLIN))
                    return false;
            } else if (rc < 0 && rc != -EAGAIN) {
                return false;
            }
        }
    }

private:
    int fd_ = -1;
    libevdev *dev_ = nullptr;
};

bool has(const std::vector<Event> &events, Event e) {
    return std::find(events.begin(), events.end(), e) != events.end();
}
bool hasType(const std::vector<Event> &events, int type, int code) {
    return std::any_of(events.begin(), events.end(),
                       [&](const Event &e) { return e.type == type && e.code == code; });
}

// Whether another program could take the device exclusively right now.
bool grabbable(const QString &node) {
    const int fd = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::ioctl(fd, EVIOCGRAB, 1) == 0;
    if (ok)
        ::ioctl(fd, EVIOCGRAB, 0);
    ::close(fd);
    return ok;
}

// The notification blocks the simulated libraries received, in order.
QStringList notifications() {
    QFile trace(qEnvironmentVariable("TORVANIX_SIM_TRACE"));
    QStringList blocks;
    if (!trace.open(QIODevice::ReadOnly))
        return blocks;
    for (const QByteArray &line : trace.readAll().split('\n')) {
        if (!line.contains("\"dcNotifyDevice\""))
            continue;
        const int at = line.indexOf("\"bytes\":\"");
        if (at >= 0)
            blocks << QString::fromLatin1(line.mid(at + 9, 8));
    }
    return blocks;
}

const std::initializer_list<int> kKeyboardKeys = {KEY_A,  KEY_ESC, KEY_F1,  KEY_F2,  KEY_F3,
                                                  KEY_F4, KEY_F5,  KEY_F11, KEY_F12, KEY_CAPSLOCK};
const std::initializer_list<int> kMouseButtons = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE,
                                                  BTN_EXTRA};

struct FilterThread {
    FilterThread(EventSink &sink, DeviceOperations &ops, InputFilterOptions options = {})
        : filter(&thread, sink, ops, QStringLiteral("HJE-XUB-V1.5.0"), std::move(options)) {
        thread.start();
    }
    ~FilterThread() {
        filter.stop();
        thread.quit();
        thread.wait();
    }
    QThread thread;
    DEVICE_FILTER filter;
};

int runCheck() {
    DeviceFunctions devices;
    const DeviceRecordMap records = devices.enumerateDevices();
    PublishedDevices::instance().publish(records);
    check(records.contains(QStringLiteral("HJE-XUB-V1.5.0")),
          "the simulated screen keyboard is listed");

    auto keyboard =
        std::make_unique<Virtual>("Probe Keyboard", 0x1d57, 0xfa01, kKeyboardKeys, false);
    Virtual own("Probe Own Keyboard", 0x258a, 0x0014, kKeyboardKeys, false);
    Virtual mouse("Probe Mouse", 0x1d57, 0xfa02, kMouseButtons, true);
    if (!keyboard->ok() || !own.ok() || !mouse.ok())
        return 2;

    HotKeys hotKeys;
    FilterThread run(hotKeys, devices);
    DEVICE_FILTER &filter = run.filter;
    check(waitUntil([&] { return filter.watchedNodes().contains(mouse.node()); }) &&
              filter.watchedNodes().contains(keyboard->node()),
          "the filter watches the keyboard and the mouse");
    check(!filter.watchedNodes().contains(own.node()), "the system's own keyboard is left alone");

    {
        Reader desktop(keyboard->node());
        keyboard->stroke(KEY_F1);
        waitUntil([&] { return hotKeys.count() > 0; });
        const std::vector<Event> seen = desktop.collect();
        check(hotKeys.take() == QStringList{"HotKeyMsg F1"}, "F1 gives one F1 hot key");
        check(has(seen, {EV_KEY, KEY_F1, 1}) && has(seen, {EV_KEY, KEY_F1, 0}),
              "a reader of the keyboard still sees both strokes of F1");
    }
    keyboard->stroke(KEY_CAPSLOCK);
    waitUntil([&] { return hotKeys.count() > 0; });
    QThread::msleep(200);
    check(hotKeys.take() == QStringList{"HotKeyMsg F12"}, "Caps Lock gives F12");
    keyboard->send(EV_KEY, KEY_F2, 1);
    QThread::msleep(200);
    check(hotKeys.count() == 0, "a key gives its hot key only when released");
    keyboard->send(EV_KEY, KEY_F2, 0);
    keyboard->stroke(KEY_A);
    keyboard->stroke(KEY_F5);
    waitUntil([&] { return hotKeys.count() > 0; });
    QThread::msleep(200);
    check(hotKeys.take() == QStringList{"HotKeyMsg F2"}, "other keys give nothing");

    own.stroke(KEY_F1);
    own.stroke(KEY_CAPSLOCK);
    QThread::msleep(300);
    keyboard->stroke(KEY_F3);
    waitUntil([&] { return hotKeys.count() > 0; });
    QThread::msleep(200);
    check(hotKeys.take() == QStringList{"HotKeyMsg F3"}, "the system's own keyboard gives nothing");

    // Forwarding off: nothing is taken, the middle button is F11 and clicks.
    {
        check(grabbable(mouse.node()), "forwarding off: the mouse is free");
        Reader desktop(mouse.node());
        mouse.stroke(BTN_MIDDLE);
        mouse.stroke(BTN_LEFT);
        waitUntil([&] { return hotKeys.count() > 0; });
        const std::vector<Event> seen = desktop.collect();
        check(hotKeys.take() == QStringList{"HotKeyMsg F11"}, "forwarding off: middle gives F11");
        check(has(seen, {EV_KEY, BTN_MIDDLE, 1}) && has(seen, {EV_KEY, BTN_MIDDLE, 0}) &&
                  has(seen, {EV_KEY, BTN_LEFT, 1}) && has(seen, {EV_KEY, BTN_LEFT, 0}),
              "forwarding off: the desktop gets every click");
        check(notifications().isEmpty(), "forwarding off: the screen keyboard is told nothing");
    }

    // Forwarding on, switched while the left button is down: the mouse is taken only once the
    // desktop has had the release.
    {
        Reader desktop(mouse.node());
        mouse.send(EV_KEY, BTN_LEFT, 1);
        QThread::msleep(200);
        filter.setForwardMouseButtons(true);
        check(filter.forwardMouseButtons(), "forwarding switches on");
        check(filter.twinNodes().isEmpty() && grabbable(mouse.node()),
              "switched on with a button down: the mouse is not taken yet");
        mouse.send(EV_KEY, BTN_LEFT, 0);
        check(waitUntil([&] { return filter.twinNodes().size() == 1; }),
              "it is taken once the button is up");
        check(has(desktop.collect(), {EV_KEY, BTN_LEFT, 0}), "and the desktop got the release");
    }
    const QStringList twins = filter.twinNodes();
    check(twins.size() == 1, "the mouse has one twin");
    check(!grabbable(mouse.node()), "forwarding on: the mouse is taken exclusively");
    if (twins.size() == 1) {
        Reader twin(twins.first());
        Reader underneath(mouse.node());
        mouse.stroke(BTN_LEFT);
        mouse.send(EV_REL, REL_X, 5);
        mouse.send(EV_REL, REL_WHEEL, -1);
        waitUntil([&] { return notifications().size() >= 2; });
        std::vector<Event> seen = twin.collect();
        check(notifications() == QStringList{"01000174", "01010174"},
              "a left click reaches the screen keyboard as 01000174, 01010174: " +
                  notifications().join(' '));
        check(!hasType(seen, EV_KEY, BTN_LEFT), "the left click does not reach the desktop");
        check(has(seen, {EV_REL, REL_X, 5}) && has(seen, {EV_REL, REL_WHEEL, -1}),
              "movement and wheel reach the desktop through the twin");
        check(underneath.collect(50).empty(), "nobody else reads the taken mouse");

        mouse.stroke(BTN_MIDDLE);
        mouse.stroke(BTN_SIDE);
        waitUntil([&] { return notifications().size() >= 6; });
        seen = twin.collect();
        check(hotKeys.take() == QStringList{"HotKeyMsg F11"}, "forwarding on: middle gives F11");
        check(has(seen, {EV_KEY, BTN_MIDDLE, 1}) && has(seen, {EV_KEY, BTN_MIDDLE, 0}),
              "forwarding on: the middle button still clicks");
        check(!hasType(seen, EV_KEY, BTN_SIDE), "the side button does not reach the desktop");
        check(notifications().mid(2) ==
                  QStringList({"01000476", "01010476", "01000a77", "01010a77"}),
              "middle and side buttons reach the screen keyboard (the side button as 10): " +
                  notifications().mid(2).join(' '));

        // A listing holds the device library for seconds while the mouse clicks and moves:
        // the movement reaches the desktop at once, the click's blocks follow when the
        // library is free again.
        qputenv("TORVANIX_SIM_FAULTS", "slow:4000:dcDevices@*");
        std::atomic<bool> listed{false};
        std::thread listing([&] {
            devices.enumerateDevices();
            listed = true;
        });
        QThread::msleep(500);
        mouse.stroke(BTN_RIGHT);
        mouse.send(EV_REL, REL_Y, 7);
        bool moved = false;
        input_event ev;
        while (!moved && twin.next(ev))
            moved = ev.type == EV_REL && ev.code == REL_Y && ev.value == 7;
        check(moved && !listed, "the mouse moves while a listing holds the device library");
        listing.join();
        waitUntil([&] { return notifications().size() >= 8; });
        check(notifications().mid(6) == QStringList({"01000275", "01010275"}),
              "the right click reaches the screen keyboard after the listing: " +
                  notifications().mid(6).join(' '));
        qunsetenv("TORVANIX_SIM_FAULTS");
    }

    // Devices that come and go while the filter runs.
    Virtual later("Probe Later Keyboard", 0x1d57, 0xfa03, kKeyboardKeys, false);
    check(waitUntil([&] { return filter.watchedNodes().contains(later.node()); }),
          "a keyboard plugged in later is watched");
    const QString gone = keyboard->node();
    keyboard.reset();
    check(waitUntil([&] { return !filter.watchedNodes().contains(gone); }),
          "a keyboard that went away is dropped");
    later.stroke(KEY_F4);
    waitUntil([&] { return hotKeys.count() > 0; });
    check(hotKeys.take() == QStringList{"HotKeyMsg F4"},
          "the filter goes on after a device went away");

    filter.setForwardMouseButtons(false);
    check(grabbable(mouse.node()), "forwarding off again: the mouse is free at once");
    check(filter.twinNodes().isEmpty() && !QFile::exists(twins.value(0)), "the twin is gone");
    {
        Reader desktop(mouse.node());
        mouse.stroke(BTN_LEFT);
        check(has(desktop.collect(), {EV_KEY, BTN_LEFT, 1}), "clicks reach the desktop again");
        check(notifications().size() == 8, "and no longer the screen keyboard");
    }

    filter.stop();
    check(waitUntil([&] { return filter.state() == DEVICE_FILTER::State::Stopped; }),
          "the filter stops when asked");
    return failures ? 1 : 0;
}

int runNoAccess() {
    // Where this user may make devices, one keyboard is there to be denied.
    std::unique_ptr<Virtual> keyboard;
    if (::access("/dev/uinput", W_OK) == 0)
        keyboard =
            std::make_unique<Virtual>("Probe Keyboard", 0x1d57, 0xfa01, kKeyboardKeys, false);
    DeviceFunctions devices;
    HotKeys hotKeys;
    FilterThread run(hotKeys, devices);
    check(waitUntil([&] { return run.filter.state() == DEVICE_FILTER::State::Unavailable; }),
          "without access the filter ends at once");
    std::printf("reason: %s\n", qPrintable(run.filter.unavailableReason()));
    run.filter.setForwardMouseButtons(true);
    check(!run.filter.forwardMouseButtons(), "forwarding cannot be switched on");
    return failures ? 1 : 0;
}

int runBench(int rounds) {
    DeviceFunctions devices;
    HotKeys hotKeys;
    Virtual mouse("Probe Bench Mouse", 0x1d57, 0xfa04, kMouseButtons, true);
    FilterThread run(hotKeys, devices);
    waitUntil([&] { return run.filter.watchedNodes().contains(mouse.node()); });

    auto measure = [&](Reader &reader) {
        std::vector<qint64> ns;
        for (int i = 0; i < rounds; ++i) {
            timespec t0, t1;
            clock_gettime(CLOCK_MONOTONIC, &t0);
            mouse.send(EV_REL, REL_X, 1);
            input_event ev;
            if (!reader.next(ev))
                break;
            clock_gettime(CLOCK_MONOTONIC, &t1);
            ns.push_back((t1.tv_sec - t0.tv_sec) * 1000000000LL + (t1.tv_nsec - t0.tv_nsec));
        }
        std::sort(ns.begin(), ns.end());
        return ns;
    };
    auto report = [](const char *what, const std::vector<qint64> &ns) {
        if (ns.empty()) {
            std::printf("%s: no events\n", what);
            return qint64(0);
        }
        const qint64 median = ns[ns.size() / 2];
        const qint64 p99 = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)];
        std::printf("%-34s median %7.1f us  p99 %7.1f us  (%zu moves)\n", what, median / 1000.0,
                    p99 / 1000.0, ns.size());
        return median;
    };
    std::vector<qint64> raw;
    {
        Reader direct(mouse.node());
        raw = measure(direct);
    }
    run.filter.setForwardMouseButtons(true);
    std::vector<qint64> forwarded;
    if (run.filter.twinNodes().size() == 1) {
        Reader twin(run.filter.twinNodes().first());
        forwarded = measure(twin);
    }
    const qint64 a = report("raw read (write -> reader)", raw);
    const qint64 b = report("forwarded (write -> twin reader)", forwarded);
    std::printf("added by the filter (median)       %7.1f us\n", (b - a) / 1000.0);
    return raw.empty() || forwarded.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("check"))
        return runCheck();
    if (mode == QLatin1String("noaccess"))
        return runNoAccess();
    if (mode == QLatin1String("bench"))
        return runBench(argc > 2 ? std::max(1, atoi(argv[2])) : 2000);
    std::fprintf(stderr, "usage: torvanix-vm-input check|noaccess|bench [N]\n");
    return 2;
}

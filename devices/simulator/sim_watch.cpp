#include "sim_watch.h"

#include "sim_engine.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace torvanix::sim {

namespace {

QHash<QString, QString> byFoldedPath(const QStringList &paths) {
    QHash<QString, QString> out;
    for (const QString &p : paths)
        out.insert(p.toUpper(), p); // the listing matches paths ASCII case-insensitively
    return out;
}

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

DeviceWatcher &DeviceWatcher::instance() {
    static DeviceWatcher watcher;
    return watcher;
}

DeviceWatcher::~DeviceWatcher() {
    stop();
}

bool DeviceWatcher::start(const QString &file, DeviceNotice notice, void *context) {
    std::lock_guard<std::mutex> lock(control_);
    if (thread_.joinable() || !notice)
        return false;
    const QFileInfo info(file);
    file_ = info.absoluteFilePath();
    fileName_ = info.fileName();
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0)
        return false;
    // The folder is watched, not the file: a device set is usually replaced by a rename,
    // which a watch on the old file would never see.
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    if (::inotify_add_watch(inotify_, folder.constData(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE) <
            0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        closeFd(inotify_);
        return false;
    }
    listed_ = byFoldedPath(deviceSetPaths(file_).value_or(QStringList()));
    notice_ = notice;
    context_ = context;
    thread_ = std::thread([this] { run(); });
    return true;
}

void DeviceWatcher::stop() {
    std::lock_guard<std::mutex> lock(control_);
    if (!thread_.joinable())
        return;
    if (std::this_thread::get_id() == thread_.get_id())
        return;
    const char byte = 1;
    while (::write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    closeFd(inotify_);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
    notice_ = nullptr;
    context_ = nullptr;
}

void DeviceWatcher::run() {
    std::vector<char> buffer(16 * 1024);
    for (;;) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {inotify_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        bool touched = false;
        for (;;) {
            const ssize_t n = ::read(inotify_, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer.data() + at);
                if (event->len && QFile::decodeName(event->name) == fileName_)
                    touched = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        if (touched)
            rescan();
    }
}

void DeviceWatcher::rescan() {
    // A half-written file is no JSON array yet; its writer's close brings another event.
    const std::optional<QStringList> paths = deviceSetPaths(file_);
    if (!paths)
        return;
    const QHash<QString, QString> now = byFoldedPath(*paths);
    for (auto it = listed_.cbegin(); it != listed_.cend(); ++it)
        if (!now.contains(it.key()))
            notice_(context_, 0, it.value().utf16());
    for (const QString &p : *paths)
        if (!listed_.contains(p.toUpper()))
            notice_(context_, 1, p.utf16());
    listed_ = now;
}

} // namespace torvanix::sim

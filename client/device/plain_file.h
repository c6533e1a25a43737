#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvanix {

// Opens `path` for reading only when it names a plain file. The type is taken from the opened
// descriptor, not from the name, and the open itself never waits: a FIFO, a device or a
// socket the page names is refused at once instead of stalling the caller (and everything
// queued behind it) until someone writes to it. Links are followed, as an ordinary open would.
inline bool openPlainFile(const QString &path, QFile &file) {
    if (path.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Plain files never block; the flag only mattered for the open.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The whole content of a plain file of at most `maxSize` bytes; false for anything else.
inline bool readPlainFile(const QString &path, qint64 maxSize, QByteArray *content) {
    QFile file;
    if (!openPlainFile(path, file))
        return false;
    if (file.size() > maxSize)
        return false;
    // One byte more tells a file that grew past the limit while it was read.
    const QByteArray bytes = file.read(file.size() + 1);
    if (bytes.size() > maxSize)
        return false;
    *content = bytes;
    return true;
}

} // namespace torvanix

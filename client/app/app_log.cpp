#include "app_log.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStringList>
#include <QTextStream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvanix {

namespace {
QMutex g_logMutex;
QString g_logFile;
} // namespace

void setShellLogFile(const QString &path) {
    QMutexLocker lock(&g_logMutex);
    g_logFile = path;
}

QString shellLogFile() {
    QMutexLocker lock(&g_logMutex);
    return g_logFile;
}

void shellLog(int line, const QString &message) {
    QMutexLocker lock(&g_logMutex);
    if (g_logFile.isEmpty())
        return;
    // Opened without following a link and only as a plain file of this user's with no other
    // name: a link, a hard link or a pipe planted in place of the log must not take the lines
    // (or block the program).
    ::mkdir(QFile::encodeName(QFileInfo(g_logFile).absolutePath()).constData(), 0700);
    const int fd =
        ::open(QFile::encodeName(g_logFile).constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        st.st_nlink != 1) {
        ::close(fd);
        return;
    }
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << '[' << now.toString(QStringLiteral("MMdd/HHmmss.zzz")) << ":INFO:application.cpp("
        << line << ")] " << message << '\n';
}

QStringList takeInstanceSegments(QByteArray &buffer) {
    QStringList segments;
    const QString text = QString::fromLocal8Bit(buffer);
    int pos = 0;
    int end = text.indexOf(QLatin1Char(';'));
    while (end >= pos) {
        segments << text.mid(pos, end - pos);
        pos = end + 1;
        end = pos < text.size() ? text.indexOf(QLatin1Char(';'), pos) : -1;
    }
    // Everything up to the last ";" has been taken. Counted in bytes of the buffer itself:
    // re-encoding the decoded text gives another length when the peer sent bytes that are
    // not valid text, and the rest of the buffer would lose the start of the next command.
    if (pos > 0)
        buffer.remove(0, buffer.lastIndexOf(';') + 1);
    return segments;
}

} // namespace torvanix

#include "app_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStringList>
#include <QTextStream>

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
    QDir().mkpath(QFileInfo(g_logFile).absolutePath());
    QFile file(g_logFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
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

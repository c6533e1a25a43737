#include "data_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

namespace torvanix {
namespace data_folders {

namespace {

// Copies `source` (file, folder or link) to `target`, which must not exist yet.
bool copyEntry(const QFileInfo &source, const QString &target) {
    if (source.isSymLink())
        return QFile::link(source.symLinkTarget(), target);
    if (source.isDir()) {
        if (!QDir().mkdir(target))
            return false;
        const QFileInfoList entries = QDir(source.absoluteFilePath())
                                          .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                         QDir::Hidden | QDir::System);
        for (const QFileInfo &entry : entries)
            if (!copyEntry(entry, target + QLatin1Char('/') + entry.fileName()))
                return false;
        return true;
    }
    if (!source.isFile())
        return true; // sockets and pipes of a running engine carry nothing to keep
    return QFile::copy(source.absoluteFilePath(), target);
}

bool removeEntry(const QFileInfo &entry) {
    if (entry.isDir() && !entry.isSymLink())
        return QDir(entry.absoluteFilePath()).removeRecursively();
    return QFile::remove(entry.absoluteFilePath());
}

} // namespace

bool isPrivateFolder(const QString &path) {
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QString ensurePrivateFolder(const QString &path) {
    if (path.isEmpty())
        return QString();
    // mkdir does not follow a link planted at the path, and leaves an existing folder as it
    // is for the check to judge.
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    return isPrivateFolder(path) ? path : QString();
}

QString privateRuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime)) {
        const QString own = ensurePrivateFolder(runtime + QStringLiteral("/torvanix"));
        if (!own.isEmpty())
            return own;
    }
    return ensurePrivateFolder(QDir::tempPath() + QStringLiteral("/torvanix-%1").arg(::getuid()));
}

QString userDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/torvanix");
}

bool canCreateFiles(const QString &folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.write-probe-XXXXXX"));
    return probe.open();
}

QString writableFolder(const QString &programFolder, const WritableProbe &writable) {
    if (writable(programFolder))
        return programFolder;
    const QString user = userDataFolder();
    if (!QDir().mkpath(user))
        return QString();
    return user;
}

QString settleBrowserStorage(const QString &tempFolder, const QString &storageFolder,
                             const QStringList &keep, QString *why) {
    if (QFileInfo::exists(storageFolder) || tempFolder.isEmpty())
        return storageFolder;
    struct stat st {};
    if (::lstat(QFile::encodeName(tempFolder).constData(), &st) != 0)
        return storageFolder;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & S_IWOTH)) {
        if (why)
            *why = QStringLiteral("browser storage in %1 is not taken over: not a folder of "
                                  "this user's own")
                       .arg(tempFolder);
        return storageFolder;
    }
    QFileInfoList moving;
    const QFileInfoList entries =
        QDir(tempFolder)
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries)
        if (!keep.contains(entry.fileName()))
            moving << entry;
    if (moving.isEmpty())
        return storageFolder;

    // Copied into a side folder that becomes the storage folder in one rename, and only then
    // are the originals removed: a run cut off half way leaves the old storage whole.
    const QString staging = storageFolder + QStringLiteral(".moving");
    QDir(staging).removeRecursively();
    bool copied = QDir().mkpath(staging);
    for (const QFileInfo &entry : qAsConst(moving)) {
        if (!copied)
            break;
        copied = copyEntry(entry, staging + QLatin1Char('/') + entry.fileName());
    }
    if (!copied || !QDir().rename(staging, storageFolder)) {
        QDir(staging).removeRecursively();
        if (why)
            *why = QStringLiteral("browser storage could not be moved from %1 to %2; using it "
                                  "where it is for now")
                       .arg(tempFolder, storageFolder);
        return tempFolder;
    }
    bool removed = true;
    for (const QFileInfo &entry : qAsConst(moving))
        removed = removeEntry(entry) && removed;
    if (why)
        *why = removed ? QStringLiteral("browser storage moved from %1 to %2")
                             .arg(tempFolder, storageFolder)
                       : QStringLiteral("browser storage copied from %1 to %2; some of the old "
                                        "copy could not be removed")
                             .arg(tempFolder, storageFolder);
    return storageFolder;
}

} // namespace data_folders
} // namespace torvanix

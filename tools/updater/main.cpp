// torvanix-updater: the program starts it with --Upgrade right after it unpacked a client
// update into <program folder>/update, and quits. The updater waits for the program to end,
// installs exactly the files the unpacking listed in <program folder>/update.manifest (each
// only when its size and SHA-256 still match; anything else in the folder is ignored), removes
// the update folder and the list, and starts the program again. An installed file keeps the
// mode of the file it replaces; a new one gets 0755 when the list marks it executable, else
// 0644.
//
//   torvanix-updater --Upgrade [--program-dir DIR] [--program NAME] [--wait SECONDS]
//                    [--no-restart]
//
// Each file is copied beside its target, hashed as it is copied and checked, and only when
// every file checked out are they renamed over their targets, so a file is either the old or
// the new one, never half written, and a file swapped after the check is never installed.
// Links in the update folder are not followed.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

int usage() {
    err() << "usage: torvanix-updater --Upgrade [--program-dir DIR] [--program NAME] "
             "[--wait SECONDS] [--no-restart]\n";
    err().flush();
    return 2;
}

// True while a process runs the given program file.
bool programRunning(const QString &program) {
    const QString target = QFileInfo(program).canonicalFilePath();
    if (target.isEmpty())
        return false;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid.toLongLong() == QCoreApplication::applicationPid())
            continue;
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (exe == target)
            return true;
    }
    return false;
}

bool safeRelative(const QString &relative) {
    if (relative.isEmpty() || relative.startsWith(QLatin1Char('/')))
        return false;
    for (const QString &part : relative.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

struct Listed {
    QString path;
    qint64 size = 0;
    QByteArray sha256; // hexadecimal, lower case
    bool executable = false;
};

// The unpacking step's list; false when it is missing or malformed.
bool readManifest(const QString &file, QList<Listed> *out) {
    QFile in(file);
    if (QFileInfo(file).isSymLink() || !QFileInfo(file).isFile() || in.size() > (4 << 20) ||
        !in.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject list = QJsonDocument::fromJson(in.readAll()).object();
    if (!list.value(QStringLiteral("files")).isArray())
        return false;
    for (const QJsonValue &v : list.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = v.toObject();
        Listed l{entry.value(QStringLiteral("path")).toString(),
                 static_cast<qint64>(entry.value(QStringLiteral("size")).toDouble(-1)),
                 entry.value(QStringLiteral("sha256")).toString().toLatin1(),
                 entry.value(QStringLiteral("executable")).toBool()};
        out->append(l);
    }
    return true;
}

// Opens the listed file of the update folder for reading: a plain file reached without
// links. The type comes from the opened descriptor.
bool openListed(const QString &updateDir, const Listed &listed, QFile *file) {
    QString path = updateDir;
    for (const QString &part : listed.path.split(QLatin1Char('/'))) {
        path += QLatin1Char('/') + part;
        if (QFileInfo(path).isSymLink())
            return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The mode the installed file gets: a file it replaces keeps its own (a program file gains
// execute permission where it is readable); a new one is 0755 for a program file, else 0644.
mode_t installedMode(const QString &target, bool executable) {
    struct stat st {};
    if (::lstat(QFile::encodeName(target).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode_t mode = st.st_mode & 0777;
        if (executable)
            mode |= (mode & 0444) >> 2;
        return mode;
    }
    return executable ? 0755 : 0644;
}

// One file copied beside its target, complete and checked, waiting to be renamed over it.
struct Staged {
    QString temporary;
    QString target;
};

// Copies the listed file beside its target under a temporary name, hashing exactly the bytes
// it writes: what is installed is what was checked, whatever happens to the update folder
// meanwhile. False (and nothing left behind) when the copy is not the listed file.
bool stage(const QString &updateDir, const Listed &listed, const QString &target, Staged *staged,
           QString *why) {
    QFile in;
    if (!openListed(updateDir, listed, &in)) {
        *why = QStringLiteral("is not a plain file in the update folder");
        return false;
    }
    const QString folder = QFileInfo(target).absolutePath();
    struct stat st {};
    if (!QDir().mkpath(folder) ||
        (::lstat(QFile::encodeName(target).constData(), &st) == 0 && S_ISDIR(st.st_mode))) {
        *why = QStringLiteral("has no place in the program folder");
        return false;
    }
    QTemporaryFile out(folder + QStringLiteral("/.torvanix-update-XXXXXX"));
    out.setAutoRemove(true);
    if (!out.open()) {
        *why = QStringLiteral("cannot be written beside its target");
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 copied = 0;
    QByteArray chunk;
    // One byte past the listed size tells a file that grew.
    while (copied <= listed.size) {
        chunk = in.read(1 << 20);
        if (chunk.isEmpty())
            break;
        hash.addData(chunk);
        copied += chunk.size();
        if (out.write(chunk) != chunk.size()) {
            *why = QStringLiteral("could not be written completely");
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError || copied != listed.size ||
        hash.result().toHex() != listed.sha256) {
        *why = QStringLiteral("is not the file the package held");
        return false;
    }
    // A write that failed in the buffer shows at the flush; the file reaches the disk before
    // it replaces the old one.
    if (!out.flush() || out.error() != QFileDevice::NoError ||
        ::fchmod(out.handle(), installedMode(target, listed.executable)) != 0 ||
        ::fsync(out.handle()) != 0) {
        *why = QStringLiteral("could not be written completely");
        return false;
    }
    out.setAutoRemove(false);
    staged->temporary = out.fileName();
    staged->target = target;
    return true;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QString programDir = QCoreApplication::applicationDirPath();
    QString program = QStringLiteral("torvanix");
    int waitSeconds = 30;
    bool restart = true;
    bool upgrade = false;
    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--Upgrade")) {
            upgrade = true;
        } else if (option == QLatin1String("--no-restart")) {
            restart = false;
        } else if (args.isEmpty()) {
            return usage();
        } else if (option == QLatin1String("--program-dir")) {
            programDir = args.takeFirst();
        } else if (option == QLatin1String("--program")) {
            program = args.takeFirst();
        } else if (option == QLatin1String("--wait")) {
            waitSeconds = args.takeFirst().toInt();
        } else {
            return usage();
        }
    }
    if (!upgrade)
        return usage();

    const QDir programFolder(programDir);
    const QString updateDir = programFolder.absoluteFilePath(QStringLiteral("update"));
    const QString manifest = updateDir + QStringLiteral(".manifest");
    QList<Listed> listed;
    if (!QFileInfo(updateDir).isDir() || QFileInfo(updateDir).isSymLink() ||
        !readManifest(manifest, &listed)) {
        err() << "torvanix-updater: nothing to install in " << updateDir << '\n';
        return 1;
    }
    const QString programFile = programFolder.absoluteFilePath(program);

    QDeadlineTimer deadline(waitSeconds * 1000);
    while (programRunning(programFile)) {
        if (deadline.hasExpired()) {
            err() << "torvanix-updater: " << programFile << " is still running\n";
            return 1;
        }
        QThread::msleep(200);
    }

    // After an attempt, good or bad, nothing of it stays to be installed later.
    auto clear = [&] {
        QDir(updateDir).removeRecursively();
        QFile::remove(manifest);
    };
    // Every file is copied and checked first; only a complete set replaces the program's
    // files, each renamed over its target (a file is the old or the new one, never half).
    QList<Staged> staged;
    auto dropStaged = [&] {
        for (const Staged &s : qAsConst(staged))
            QFile::remove(s.temporary);
    };
    for (const Listed &l : qAsConst(listed)) {
        if (!safeRelative(l.path)) {
            err() << "torvanix-updater: refused " << l.path << '\n';
            dropStaged();
            clear();
            return 1;
        }
        Staged s;
        QString why;
        if (!stage(updateDir, l, programFolder.absoluteFilePath(l.path), &s, &why)) {
            err() << "torvanix-updater: " << l.path << ' ' << why << '\n';
            dropStaged();
            clear();
            return 1;
        }
        staged.append(s);
    }
    for (int i = 0; i < staged.size(); ++i) {
        const Staged &s = staged.at(i);
        // rename() replaces a link at the target itself instead of writing where it points.
        if (::rename(QFile::encodeName(s.temporary).constData(),
                     QFile::encodeName(s.target).constData()) != 0) {
            err() << "torvanix-updater: could not install " << listed.at(i).path << " (" << i
                  << " of " << staged.size() << " files installed)\n";
            staged = staged.mid(i);
            dropStaged();
            clear();
            return 1;
        }
    }
    clear();
    QTextStream(stdout) << "installed " << listed.size() << " files\n";

    if (restart && QFileInfo(programFile).isExecutable()) {
        if (!QProcess::startDetached(programFile, {}, programDir)) {
            err() << "torvanix-updater: could not start " << programFile << '\n';
            return 1;
        }
    }
    return 0;
}

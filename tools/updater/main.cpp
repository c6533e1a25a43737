// torvanix-updater: the program starts it with --Upgrade right after it unpacked a client
// update into <program folder>/update, and quits. The updater waits for the program to end,
// installs every file of the update folder over the program folder, removes the update folder
// and starts the program again.
//
//   torvanix-updater --Upgrade [--program-dir DIR] [--program NAME] [--wait SECONDS]
//                    [--no-restart]
//
// Each file is written beside its target and renamed over it, so a file is either the old or
// the new one, never half written. Links in the update folder are not followed.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTextStream>
#include <QThread>

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

bool install(const QString &source, const QString &target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return false;
    // A link at the target would carry the write elsewhere: it is replaced, not followed.
    if (QFileInfo(target).isSymLink() && !QFile::remove(target))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit())
        return false;
    QFile::setPermissions(target, in.permissions());
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
    if (!QFileInfo(updateDir).isDir() || QFileInfo(updateDir).isSymLink()) {
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

    const QDir update(updateDir);
    QStringList files;
    QDirIterator it(updateDir, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << update.relativeFilePath(it.next());
    files.sort();
    for (const QString &relative : qAsConst(files)) {
        if (!safeRelative(relative)) {
            err() << "torvanix-updater: refused " << relative << '\n';
            return 1;
        }
    }
    for (const QString &relative : qAsConst(files)) {
        if (!install(update.filePath(relative), programFolder.absoluteFilePath(relative))) {
            err() << "torvanix-updater: could not install " << relative << '\n';
            return 1;
        }
    }
    QDir(updateDir).removeRecursively();
    QTextStream(stdout) << "installed " << files.size() << " files\n";

    if (restart && QFileInfo(programFile).isExecutable()) {
        if (!QProcess::startDetached(programFile, {}, programDir)) {
            err() << "torvanix-updater: could not start " << programFile << '\n';
            return 1;
        }
    }
    return 0;
}

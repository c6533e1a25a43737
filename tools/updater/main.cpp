// torvanix-updater: the program starts it with --Upgrade right after it unpacked a client
// update into <program folder>/update, and quits. The updater waits for the program to end,
// installs exactly the files the unpacking listed in <program folder>/update.manifest (each
// only when its size and SHA-256 still match; anything else in the folder is ignored), removes
// the update folder and the list, and starts the program again.
//
//   torvanix-updater --Upgrade [--program-dir DIR] [--program NAME] [--wait SECONDS]
//                    [--no-restart]
//
// Each file is written beside its target and renamed over it, so a file is either the old or
// the new one, never half written. Links in the update folder are not followed.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

struct Listed {
    QString path;
    qint64 size = 0;
    QByteArray sha256; // hexadecimal, lower case
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
                 entry.value(QStringLiteral("sha256")).toString().toLatin1()};
        out->append(l);
    }
    return true;
}

// The listed file is still what the package held: a plain file reached without links, of
// the listed size and digest.
bool unchanged(const QString &updateDir, const Listed &listed) {
    QString path = updateDir;
    for (const QString &part : listed.path.split(QLatin1Char('/'))) {
        path += QLatin1Char('/') + part;
        if (QFileInfo(path).isSymLink())
            return false;
    }
    QFile file(path);
    if (!QFileInfo(path).isFile() || file.size() != listed.size || !file.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return false;
    return hash.result().toHex() == listed.sha256;
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
    // A write that failed in the buffer shows at the flush; the commit would not notice.
    if (!out.flush() || out.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return false;
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
    for (const Listed &l : qAsConst(listed)) {
        if (!safeRelative(l.path)) {
            err() << "torvanix-updater: refused " << l.path << '\n';
            clear();
            return 1;
        }
        if (!unchanged(updateDir, l)) {
            err() << "torvanix-updater: " << l.path << " is not the file the package held\n";
            clear();
            return 1;
        }
    }
    for (const Listed &l : qAsConst(listed)) {
        if (!install(QDir(updateDir).filePath(l.path), programFolder.absoluteFilePath(l.path))) {
            err() << "torvanix-updater: could not install " << l.path << '\n';
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

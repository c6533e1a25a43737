// torvanix-updatepack: builds a client update package from a folder.
//
//   torvanix-updatepack [--label TEXT] [--root NAME] FOLDER OUTPUT
//
// Every regular file below FOLDER becomes an entry "ROOT/<path below FOLDER>" (ROOT defaults
// to the folder's name); the client unpacks it to <program folder>/update/<path below FOLDER>
// and the updater installs that over the program. Links are not followed.
#include "device/client_update.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

using namespace torvanix::client_update;

namespace {
int usage() {
    QTextStream(stderr)
        << "usage: torvanix-updatepack [--label TEXT] [--root NAME] FOLDER OUTPUT\n";
    return 2;
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    Content content;
    QString root;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (args.isEmpty())
            return usage();
        if (option == QLatin1String("--label"))
            content.label = args.takeFirst();
        else if (option == QLatin1String("--root"))
            root = args.takeFirst();
        else
            return usage();
    }
    if (args.size() != 2)
        return usage();
    const QDir folder(args.at(0));
    if (!folder.exists()) {
        err << "torvanix-updatepack: no folder " << args.at(0) << '\n';
        return 1;
    }
    if (root.isEmpty())
        root = QFileInfo(folder.absolutePath()).fileName();
    if (root.isEmpty() || root.contains(QLatin1Char('/')))
        root = QStringLiteral("update");

    QStringList files;
    QDirIterator it(folder.absolutePath(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << folder.relativeFilePath(it.next());
    files.sort();
    qint64 total = 0;
    for (const QString &relative : qAsConst(files)) {
        QFile file(folder.filePath(relative));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "torvanix-updatepack: cannot read " << file.fileName() << '\n';
            return 1;
        }
        Entry entry{root + QLatin1Char('/') + relative, file.readAll()};
        if (safeRelativePath(entry.path).isEmpty()) {
            err << "torvanix-updatepack: unusable path " << relative << '\n';
            return 1;
        }
        total += entry.data.size();
        content.entries.append(entry);
    }
    const QByteArray stream = encodeContent(content);
    if (stream.size() > static_cast<qint64>(MaxContentSize) || total > MaxContentSize) {
        err << "torvanix-updatepack: content larger than a client accepts\n";
        return 1;
    }
    const QByteArray package = encodePackage(stream);
    QSaveFile out(args.at(1));
    if (package.isEmpty() || !out.open(QIODevice::WriteOnly) ||
        out.write(package) != package.size() || !out.commit()) {
        err << "torvanix-updatepack: cannot write " << args.at(1) << '\n';
        return 1;
    }
    QTextStream(stdout) << content.entries.size() << " entries, " << package.size() << " bytes\n";
    return 0;
}

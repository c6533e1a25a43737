// torvanix-updatepack: builds a signed client update package from a folder.
//
//   torvanix-updatepack --key SECRET [--label TEXT] [--root NAME] FOLDER OUTPUT
//   torvanix-updatepack --make-key SECRET PUBLIC
//
// Every regular file below FOLDER becomes an entry "ROOT/<path below FOLDER>" (ROOT defaults
// to the folder's name); the client unpacks it to <program folder>/update/<path below FOLDER>
// and the updater installs that over the program. Links are not followed. A file with any
// execute permission is marked a program file. The label is the release's version (default:
// the version this packer was built with); clients refuse a package older than themselves, so
// it must be a version number. SECRET is the
// signing key's 32-byte seed as hexadecimal text; the client accepts only packages signed with
// the key whose public half it was built with.
#include "device/client_update.h"
#include "device/whole_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <sodium.h>

using namespace torvanix::client_update;

namespace {
int usage() {
    QTextStream(stderr) << "usage: torvanix-updatepack --key SECRET [--label TEXT] [--root NAME] "
                           "FOLDER OUTPUT\n"
                           "       torvanix-updatepack --make-key SECRET PUBLIC\n";
    return 2;
}

bool writeText(const QString &path, const QByteArray &text, bool secret) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (secret)
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return torvanix::commitWhole(out, text);
}

// A new key pair: the secret seed and the public key, each as one line of hexadecimal text.
int makeKey(const QString &secretPath, const QString &publicPath) {
    QTextStream err(stderr);
    if (QFileInfo::exists(secretPath)) {
        err << "torvanix-updatepack: " << secretPath << " exists; not overwritten\n";
        return 1;
    }
    if (sodium_init() < 0)
        return 1;
    QByteArray seed(SecretSeedSize, '\0');
    randombytes_buf(seed.data(), static_cast<size_t>(seed.size()));
    const QByteArray publicKey = publicKeyForSeed(seed);
    if (publicKey.isEmpty() || !writeText(secretPath, seed.toHex() + '\n', true) ||
        !writeText(publicPath, publicKey.toHex() + '\n', false)) {
        err << "torvanix-updatepack: cannot write the key files\n";
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("--make-key")) {
        if (args.size() != 3)
            return usage();
        return makeKey(args.at(1), args.at(2));
    }
    Content content;
    QString root;
    QString keyFile;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (args.isEmpty())
            return usage();
        if (option == QLatin1String("--label"))
            content.label = args.takeFirst();
        else if (option == QLatin1String("--root"))
            root = args.takeFirst();
        else if (option == QLatin1String("--key"))
            keyFile = args.takeFirst();
        else
            return usage();
    }
    if (args.size() != 2 || keyFile.isEmpty())
        return usage();
    if (content.label.isNull())
        content.label = programVersion();
    if (!isVersion(content.label)) {
        err << "torvanix-updatepack: the label " << content.label
            << " is no version number (like 1.4.0); clients refuse such a package\n";
        return 2;
    }
    QByteArray seed;
    if (!readKeyFile(keyFile, SecretSeedSize, &seed)) {
        err << "torvanix-updatepack: " << keyFile
            << " holds no signing key (64 hexadecimal digits)\n";
        return 1;
    }
    if (publicKeyForSeed(seed) != releasePublicKey())
        err << "torvanix-updatepack: note: this key is not the release key this build trusts\n";
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
        Entry entry{root + QLatin1Char('/') + relative, file.readAll(),
                    (file.permissions() &
                     (QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther)) != 0};
        if (safeRelativePath(entry.path).isEmpty()) {
            err << "torvanix-updatepack: unusable path " << relative << '\n';
            return 1;
        }
        total += entry.data.size();
        if (total > MaxContentSize) {
            err << "torvanix-updatepack: content larger than the " << MaxContentSize
                << " bytes a client accepts\n";
            return 1;
        }
        content.entries.append(entry);
    }
    const QByteArray stream = encodeContent(content);
    if (stream.size() > static_cast<qint64>(MaxContentSize)) {
        err << "torvanix-updatepack: content larger than the " << MaxContentSize
            << " bytes a client accepts\n";
        return 1;
    }
    const QByteArray package = encodePackage(stream, seed);
    QSaveFile out(args.at(1));
    if (package.isEmpty() || !out.open(QIODevice::WriteOnly) ||
        !torvanix::commitWhole(out, package)) {
        err << "torvanix-updatepack: cannot write " << args.at(1) << '\n';
        return 1;
    }
    QTextStream(stdout) << content.entries.size() << " entries, " << package.size() << " bytes\n";
    return 0;
}

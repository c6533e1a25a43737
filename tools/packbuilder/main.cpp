// torvanix-packbuilder: packs a folder into a theme pack.
//   torvanix-packbuilder <folder> <output.pak> [--key N] [--add-on-read]
#include "pack_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    torvanix::pack::PackKey key;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--key") && i + 1 < args.size()) {
            bool ok = false;
            const int k = args[++i].toInt(&ok, 0);
            if (!ok || k < 0 || k > 255) {
                err << "--key wants a byte value\n";
                return 2;
            }
            key.key = static_cast<quint8>(k);
        } else if (args[i] == QLatin1String("--add-on-read")) {
            key.subtractOnRead = false;
        } else {
            positional << args[i];
        }
    }
    if (positional.size() != 2) {
        err << "usage: torvanix-packbuilder <folder> <output.pak> [--key N] [--add-on-read]\n";
        return 2;
    }
    const QString output = positional[1];
    // The reader names entries after the pack's own base name ("theme" for theme.pak).
    const QString baseName = QFileInfo(output).fileName().chopped(4);
    QString error;
    const auto entries = torvanix::pack::collectFolder(positional[0], baseName, &error);
    const QByteArray pack =
        entries.isEmpty() ? QByteArray() : torvanix::pack::buildPack(entries, key, &error);
    if (pack.isEmpty()) {
        err << "packbuilder: " << (error.isEmpty() ? QStringLiteral("nothing to pack") : error)
            << "\n";
        return 1;
    }
    QDir().mkpath(QFileInfo(output).absolutePath());
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly) || out.write(pack) != pack.size() || !out.commit()) {
        err << "packbuilder: cannot write " << output << "\n";
        return 1;
    }
    QTextStream(stdout) << "packed " << entries.size() << " files into " << output << "\n";
    return 0;
}

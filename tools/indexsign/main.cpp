// torvanix-indexsign: signs the update index (web/FIRMWARE-INDEX.md) for the update server.
//
//   torvanix-indexsign --key SECRET INDEX [SIGNATURE]
//
// Writes the Ed25519 signature of the index file's exact bytes, in base64 on one line, to
// SIGNATURE (default: INDEX + ".sig"; the server serves it beside the index). SECRET is the
// release key's 32-byte seed as hexadecimal text, the same file torvanix-updatepack signs
// packages with. The page reads the index as UTF-8 text and hands that text back for the
// check, so an index that is not UTF-8 or starts with a byte order mark is refused here: its
// signature could never hold.
#include "device/client_update.h"
#include "device/plain_file.h"
#include "device/signed_index.h"
#include "device/whole_file.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>
#include <QTextCodec>
#include <QTextStream>

using namespace torvanix;

namespace {

int usage() {
    QTextStream(stderr) << "usage: torvanix-indexsign --key SECRET INDEX [SIGNATURE]\n";
    return 2;
}

bool plainUtf8(const QByteArray &text) {
    if (text.startsWith("\xEF\xBB\xBF"))
        return false;
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(text.constData(), text.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 3 || args.size() > 4 || args.at(0) != QLatin1String("--key"))
        return usage();
    QTextStream err(stderr);
    const QString indexPath = args.at(2);
    const QString signaturePath = args.size() == 4 ? args.at(3) : indexPath + ".sig";

    QByteArray seed;
    if (!client_update::readKeyFile(args.at(1), signed_index::SecretSeedSize, &seed)) {
        err << "torvanix-indexsign: " << args.at(1) << " holds no 32-byte key\n";
        return 1;
    }
    QByteArray index;
    if (!readPlainFile(indexPath, 16 * 1024 * 1024, &index)) {
        err << "torvanix-indexsign: cannot read " << indexPath << "\n";
        return 1;
    }
    if (!plainUtf8(index)) {
        err << "torvanix-indexsign: " << indexPath << " is not UTF-8 without a byte order mark\n";
        return 1;
    }
    const QByteArray signature = signed_index::sign(index, seed);
    QSaveFile out(signaturePath);
    if (signature.isEmpty() || !out.open(QIODevice::WriteOnly) ||
        !commitWhole(out, signature.toBase64() + '\n')) {
        err << "torvanix-indexsign: cannot write " << signaturePath << "\n";
        return 1;
    }
    return 0;
}

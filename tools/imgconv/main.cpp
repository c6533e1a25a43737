// torvanix-imgconv: the picture converter the page's screen commands start.
//
//   torvanix-imgconv
//   "name=temp_abc&img=screen/a.png&format=bin_565_swap&cf=true_color&outdir=screen/"
//
// Fields may also come as separate arguments. Paths are relative to the working folder. The
// output is <outdir>/<name>.bin: a 4-byte header and the pixels as 16-bit 5-6-5 colours, two
// bytes each, high byte first for bin_565_swap and low byte first for bin_565.
// Exit codes: 0 written, 1 picture not loadable or output not writable, 2 bad parameters.
#include "device/whole_file.h"
#include "screen/screen_pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QTextStream>

namespace {

int fail(int code, const QString &message) {
    QTextStream(stderr) << "torvanix-imgconv: " << message << '\n';
    return code;
}

bool plainName(const QString &name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QMap<QString, QString> fields;
    for (const QString &argument : app.arguments().mid(1)) {
        for (const QString &field : argument.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
            const int eq = field.indexOf(QLatin1Char('='));
            if (eq <= 0)
                return fail(2, QStringLiteral("malformed field \"%1\"").arg(field));
            fields.insert(field.left(eq), field.mid(eq + 1));
        }
    }
    const QString name = fields.value(QStringLiteral("name"));
    const QString input = fields.value(QStringLiteral("img"));
    const QString format = fields.value(QStringLiteral("format"), QStringLiteral("bin_565_swap"));
    const QString colour = fields.value(QStringLiteral("cf"), QStringLiteral("true_color"));
    const QString outdir = fields.value(QStringLiteral("outdir"), QStringLiteral("."));
    if (!plainName(name) || input.isEmpty())
        return fail(2, QStringLiteral("needs name=<file name> and img=<picture>"));
    if (colour != QLatin1String("true_color"))
        return fail(2, QStringLiteral("colour format \"%1\" is not supported").arg(colour));
    if (format != QLatin1String("bin_565_swap") && format != QLatin1String("bin_565"))
        return fail(2, QStringLiteral("output format \"%1\" is not supported").arg(format));

    const QImage picture = torvanix::screen::loadPicture(input);
    if (picture.isNull())
        return fail(1, QStringLiteral("cannot load %1").arg(input));
    QByteArray bytes = torvanix::screen::toRgb565SwappedBin(picture);
    if (bytes.isEmpty())
        return fail(1, QStringLiteral("%1 is too large for the format").arg(input));
    if (format == QLatin1String("bin_565")) {
        char *pixels = bytes.data();
        for (int i = 4; i + 1 < bytes.size(); i += 2)
            std::swap(pixels[i], pixels[i + 1]);
    }

    QDir().mkpath(outdir);
    QSaveFile out(QDir(outdir).filePath(name + QStringLiteral(".bin")));
    if (!out.open(QIODevice::WriteOnly) || !torvanix::commitWhole(out, bytes))
        return fail(1, QStringLiteral("cannot write %1").arg(out.fileName()));
    return 0;
}

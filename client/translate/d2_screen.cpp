#include "d2_screen.h"

#include "command_string.h"
#include "d2_settings.h"
#include "device/data_folders.h"
#include "device/device_operations.h"
#include "device/pacer.h"
#include "translate_xml.h"
#include "translation_context.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace torvanix {

namespace {

// The converter's output "screen/..." lies in the folder the page commands write to.
QString baseDir(const TranslationContext &ctx) {
    const QString program =
        ctx.programDir.isEmpty() ? QCoreApplication::applicationDirPath() : ctx.programDir;
    const QString data = data_folders::writableFolder(program);
    return data.isEmpty() ? program : data;
}

QString md5Of(const QString &path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex().toUpper());
}

} // namespace

QString screenImagePath(const QString &base, const QString &name) {
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return QString();
    const QString root = QDir::cleanPath(base);
    const QString path = QDir::cleanPath(root + QLatin1Char('/') + name);
    if (!path.startsWith(root + QLatin1Char('/')))
        return QString();
    return path;
}

qint64 uploadScreenImage(TranslationContext &ctx, const QString &identity,
                         const pugi::xml_node &key) {
    const QString base = baseDir(ctx);
    const QString path = screenImagePath(base, xml::attr(key, "value"));
    const QString index = xml::attr(key, "index");
    if (path.isEmpty() || index.trimmed().isEmpty())
        return -1;
    const QString length = xml::attr(key, "length");
    const QString record =
        d2::screenSlotRecord(md5Of(path), cmd::toInt(xml::attr(key, "slot")), cmd::toInt(length));
    if (!ctx.ops.writeProperty(identity, index, record, length))
        return -1;
    ctx.ops.readProperty(identity, cmd::toInt(index), cmd::toInt(length));

    QFile converted(base + QStringLiteral("/screen/temp_abc.bin"));
    if (!converted.exists() || !converted.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray image = converted.readAll();
    converted.close();
    converted.remove();

    const int chunks = image.size() / 250 + 1;
    for (int c = 0; c < chunks; ++c) {
        const QByteArray part = image.mid(c * 250, 250);
        QString items = part.size() == 250 ? QStringLiteral("0x00") : QStringLiteral("0x01");
        for (char b : part)
            items += QLatin1Char(',') + cmd::hex(static_cast<uint8_t>(b));
        // The rest of a picture after a refused chunk would only draw a torn image.
        if (!ctx.ops.writeProperty(identity, index, items, QString::number(part.size() + 1)))
            return -1;
        ctx.pacer.pause(300);
    }
    return image.size();
}

void deleteScreenImage(TranslationContext &ctx, const QString &identity,
                       const pugi::xml_node &key) {
    if (xml::attr(key, "index").trimmed().isEmpty())
        return;
    const QString length = xml::attr(key, "length");
    const QString record =
        d2::screenSlotRecord(QStringLiteral("00000000000000000000000000000000"),
                             cmd::toInt(xml::attr(key, "slot")), cmd::toInt(length));
    ctx.ops.writeProperty(identity, xml::attr(key, "index"), record, length);
}

} // namespace torvanix

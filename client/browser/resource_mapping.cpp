#include "resource_mapping.h"

#include "theme_pack.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QUrl>

namespace torvanix {

namespace {

// Everything that falls to the page branch used to be labelled HTML. Pictures and fonts the
// page refers to are not rendered under that type (an SVG given as text/html shows nothing),
// so the few kinds a page ships get their own; everything else stays HTML.
QByteArray pageMimeType(const QString &path) {
    static const struct {
        const char *suffix;
        const char *type;
    } types[] = {
        {".svg", "image/svg+xml"},     {".ico", "image/x-icon"}, {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},       {".webp", "image/webp"},  {".woff2", "font/woff2"},
        {".woff", "font/woff"},        {".ttf", "font/ttf"},     {".txt", "text/plain"},
        {".wasm", "application/wasm"},
    };
    for (const auto &t : types)
        if (path.endsWith(QLatin1String(t.suffix), Qt::CaseInsensitive))
            return QByteArray(t.type);
    return QByteArrayLiteral("text/html");
}

} // namespace

ResourceMapper::ResourceMapper(ResourceSettings settings, const ThemePack *pack)
    : settings_(std::move(settings)), pack_(pack) {}

QString ResourceMapper::startUrl() const {
    return localPrefix() + settings_.edition + QStringLiteral("/client.html");
}

std::optional<ResourceAnswer> ResourceMapper::map(const QString &requestUrl) const {
    const QString &vendor = settings_.vendorBase;
    const QString bbs = QStringLiteral("/local/") + settings_.edition + QStringLiteral("/bbs/");
    QString url = requestUrl;
    if (url == vendor + QLatin1Char('/'))
        url = vendor + bbs + QStringLiteral("index.html");
    else if (url == vendor + QStringLiteral("/my/profile/"))
        url = vendor + bbs + QStringLiteral("my/profile/index.html");
    else if (url.contains(QLatin1String("/_nuxt/")))
        url.replace(QStringLiteral("/_nuxt/"), bbs + QStringLiteral("_nuxt/"));

    if (!url.contains(QLatin1String("local")))
        return std::nullopt;

    static const QRegularExpression query(QStringLiteral("\\?.*"));
    QString path = url.mid(localPrefix().size());
    path.remove(query);
    const QString themePath = settings_.themeRoot + QLatin1Char('/') + path;
    const QString decoded = QUrl::fromPercentEncoding(path.toUtf8());
    const QString tail = url.right(4);

    auto lookup = [this](const QString &name) -> QByteArray {
        return pack_ ? pack_->Get(name) : QByteArray();
    };

    ResourceAnswer answer;
    if (tail == QLatin1String(".png") || tail == QLatin1String(".gif")) {
        if (path.contains(QLatin1String("screen_")))
            return screenImage(path);
        answer.body = lookup(decoded);
        if (answer.body.isEmpty())
            return std::nullopt;
        answer.mimeType = "image/png";
        qDebug() << "resource image" << path;
        return answer;
    }
    if (tail == QLatin1String(".mp3")) {
        answer.body = lookup(decoded);
        if (answer.body.isEmpty())
            return std::nullopt;
        answer.mimeType = "audio/mpeg";
        answer.headers.append(qMakePair(QByteArray("accept-ranges"), QByteArray("bytes")));
        answer.headers.append(
            qMakePair(QByteArray("Content-Length"), QByteArray::number(answer.body.size())));
        return answer;
    }
    if (!url.contains(QLatin1String(".js")) && !url.contains(QLatin1String(".css"))) {
        answer.body = lookup(path);
        if (answer.body.isEmpty())
            return std::nullopt;
        answer.mimeType = pageMimeType(path);
        return answer;
    }
    answer.body = lookup(path);
    if (answer.body.isEmpty())
        return std::nullopt;
    answer.mimeType =
        themePath.contains(QLatin1String(".js")) ? "application/javascript" : "text/css";
    return answer;
}

std::optional<ResourceAnswer> ResourceMapper::screenImage(const QString &path) const {
    QString rel = path;
    rel.remove(QStringLiteral("devices/TR300X/"));
    rel = QUrl::fromPercentEncoding(rel.toUtf8());
    // Pictures the page stored or picked are written to the data folder, which is not the
    // program folder once the program is installed; pictures shipped beside the program are
    // still found there. The request names a file below one of the two; an encoded "../"
    // must not reach pictures anywhere else on the machine.
    QStringList roots;
    if (!settings_.dataFolder.isEmpty())
        roots << QDir(settings_.dataFolder).absolutePath();
    const QString program = QDir(settings_.appFolder).absolutePath();
    if (!roots.contains(program))
        roots << program;
    QImage image;
    for (const QString &root : qAsConst(roots)) {
        const QString file = QDir::cleanPath(root + QLatin1Char('/') + rel);
        if (file.startsWith(root + QLatin1Char('/')) && image.load(file))
            break;
    }
    if (image.isNull())
        return std::nullopt;
    ResourceAnswer answer;
    QBuffer buffer(&answer.body);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return std::nullopt;
    answer.mimeType = "image/png";
    qDebug() << "resource image" << path;
    return answer;
}

std::optional<QString> ResourceMapper::redirectFor(const QString &url) const {
    std::optional<QString> target;
    if (url.contains(QLatin1String(".ttf")) || url.contains(QLatin1String(".woff")))
        target = settings_.vendorBase + QStringLiteral("/frontend/web/css/element-icons.woff");
    if (url.contains(QLatin1String("live.html")) && !settings_.portalUrl.isEmpty())
        target = settings_.portalUrl;
    // The icon font itself ends in ".woff": redirecting it again would loop until the
    // engine gives up and the font never loads.
    if (target && *target == url)
        return std::nullopt;
    return target;
}

} // namespace torvanix

#include "browser_rules.h"

#include "loopback_server.h"

#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <cmath>
#include <sstream>

namespace torvanix {

bool isMoveWindowRequest(const QString &request) {
    return request.startsWith(QLatin1String("MoveWindow"));
}

std::optional<QPoint> parseMoveWindow(const QString &request) {
    if (!isMoveWindowRequest(request))
        return std::nullopt;
    std::istringstream in(request.mid(11).toStdString());
    int values[5] = {};
    int count = 0;
    while (count < 5) {
        int v = 0;
        if (!(in >> v))
            break;
        values[count++] = v;
        if (in.peek() == ',')
            in.get();
    }
    if (count != 4)
        return std::nullopt;
    return QPoint(values[0], values[1]);
}

bool isMinimiseRequest(const QString &request) {
    return request == QLatin1String("{\"FuncName\":\"MinisizeWindow\"}");
}

std::optional<double> zoomLevelFor(double heightRatio, double density, double currentLevel) {
    if (currentLevel != 0.0)
        return std::nullopt;
    if (heightRatio < 1.0)
        return -heightRatio;
    if (heightRatio == 1.0 && density > 1.0)
        return -density;
    return std::nullopt;
}

double zoomFactorForLevel(double level) {
    return std::pow(1.2, level);
}

double zoomLevelForFactor(double factor) {
    if (factor <= 0)
        return 0;
    const double level = std::log(factor) / std::log(1.2);
    return std::abs(level) < 1e-9 ? 0.0 : level;
}

QString downloadTarget(const QString &suggestedName, const QString &appFolder) {
    if (suggestedName.contains(QLatin1String("macro")) ||
        suggestedName.contains(QLatin1String("rar")) ||
        suggestedName.contains(QLatin1String("zip")))
        return QString();
    // The name comes from the server: keep only its last component so that "../" or an
    // absolute name cannot place the file outside the update folder.
    QString name =
        QFileInfo(QString(suggestedName).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("download");
    return QFileInfo(appFolder + QStringLiteral("/update")).absoluteFilePath() + QLatin1Char('/') +
           name;
}

bool fromVendorOrigin(const QUrl &url, const QString &vendorBase, const QUrl &initiator) {
    QUrl source = url;
    if (source.scheme() == QLatin1String("blob"))
        source = QUrl(source.path());
    else if (source.scheme() == QLatin1String("data"))
        source = initiator;
    const QUrl vendor(vendorBase);
    if (!source.isValid() || !vendor.isValid() || source.host().isEmpty())
        return false;
    const auto port = [](const QUrl &u) {
        return u.port(u.scheme() == QLatin1String("https") ? 443 : 80);
    };
    return source.scheme() == vendor.scheme() &&
           source.host().compare(vendor.host(), Qt::CaseInsensitive) == 0 &&
           port(source) == port(vendor);
}

QString upstreamEndpoint(const QString &vendorBase, const QString &configured) {
    if (configured.isEmpty())
        return vendorBase;
    const QUrl url(configured, QUrl::StrictMode);
    const QString path = url.path();
#ifdef TORVANIX_HTTPS_UPSTREAM
    const bool https = url.scheme() == QLatin1String("https");
#else
    const bool https = false;
#endif
    if (!url.isValid() || !(https || url.scheme() == QLatin1String("http")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !(path.isEmpty() || path == QLatin1String("/")))
        return vendorBase;
    return (https ? QStringLiteral("https://") : QStringLiteral("http://")) + url.host() +
           (url.port() > 0 ? QStringLiteral(":%1").arg(url.port()) : QString());
}

QString errorPageHtml(const QString &failedUrl, const QString &errorText, int errorCode) {
    return QStringLiteral("<html><body bgcolor=\"white\"><h2>Failed to load URL ") + failedUrl +
           QStringLiteral(" with error ") + errorText + QStringLiteral(" (") +
           QString::number(errorCode) + QStringLiteral(").</h2></body></html>");
}

QString dataUri(const QByteArray &data, const QString &mimeType) {
    return QStringLiteral("data:") + mimeType + QStringLiteral(";base64,") +
           QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(data.toBase64())));
}

int netErrorCode(const QString &shortName) {
    static const QHash<QString, int> codes = {
        {QStringLiteral("ERR_FAILED"), -2},
        {QStringLiteral("ERR_ABORTED"), -3},
        {QStringLiteral("ERR_INVALID_ARGUMENT"), -4},
        {QStringLiteral("ERR_FILE_NOT_FOUND"), -6},
        {QStringLiteral("ERR_TIMED_OUT"), -7},
        {QStringLiteral("ERR_ACCESS_DENIED"), -10},
        {QStringLiteral("ERR_BLOCKED_BY_CLIENT"), -20},
        {QStringLiteral("ERR_BLOCKED_BY_RESPONSE"), -27},
        {QStringLiteral("ERR_CONNECTION_CLOSED"), -100},
        {QStringLiteral("ERR_CONNECTION_RESET"), -101},
        {QStringLiteral("ERR_CONNECTION_REFUSED"), -102},
        {QStringLiteral("ERR_CONNECTION_ABORTED"), -103},
        {QStringLiteral("ERR_CONNECTION_FAILED"), -104},
        {QStringLiteral("ERR_NAME_NOT_RESOLVED"), -105},
        {QStringLiteral("ERR_INTERNET_DISCONNECTED"), -106},
        {QStringLiteral("ERR_SSL_PROTOCOL_ERROR"), -107},
        {QStringLiteral("ERR_ADDRESS_INVALID"), -108},
        {QStringLiteral("ERR_ADDRESS_UNREACHABLE"), -109},
        {QStringLiteral("ERR_CONNECTION_TIMED_OUT"), -118},
        {QStringLiteral("ERR_NAME_RESOLUTION_FAILED"), -137},
        {QStringLiteral("ERR_CERT_COMMON_NAME_INVALID"), -200},
        {QStringLiteral("ERR_CERT_DATE_INVALID"), -201},
        {QStringLiteral("ERR_CERT_AUTHORITY_INVALID"), -202},
        {QStringLiteral("ERR_INVALID_URL"), -300},
        {QStringLiteral("ERR_DISALLOWED_URL_SCHEME"), -301},
        {QStringLiteral("ERR_UNKNOWN_URL_SCHEME"), -302},
        {QStringLiteral("ERR_TOO_MANY_REDIRECTS"), -310},
        {QStringLiteral("ERR_UNSAFE_REDIRECT"), -311},
        {QStringLiteral("ERR_UNSAFE_PORT"), -312},
        {QStringLiteral("ERR_NETWORK_CHANGED"), -21},
        {QStringLiteral("ERR_BLOCKED_BY_ADMINISTRATOR"), -22},
        {QStringLiteral("ERR_SSL_VERSION_OR_CIPHER_MISMATCH"), -113},
        {QStringLiteral("ERR_PROXY_CONNECTION_FAILED"), -130},
        {QStringLiteral("ERR_NETWORK_ACCESS_DENIED"), -138},
        {QStringLiteral("ERR_CERT_INVALID"), -207},
        {QStringLiteral("ERR_EMPTY_RESPONSE"), -324},
        {QStringLiteral("ERR_INVALID_RESPONSE"), -320},
        {QStringLiteral("ERR_HTTP_RESPONSE_CODE_FAILURE"), -379},
    };
    return codes.value(shortName, -2);
}

bool isLocalPageUrl(const QUrl &url, const QString &vendorBase) {
    const QUrl base(vendorBase);
    if (!url.isValid() || url.scheme().compare(base.scheme(), Qt::CaseInsensitive) != 0 ||
        url.host().compare(base.host(), Qt::CaseInsensitive) != 0)
        return false;
    const int defaultPort = base.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port(defaultPort) != base.port(defaultPort))
        return false;
    const QString path = url.path(QUrl::FullyEncoded);
    if (path.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return false;
    return path.startsWith(QLatin1String("/local/")) ||
           path == QLatin1String(LoopbackServer::kRelayPath);
}

bool isInheritingUrl(const QUrl &url) {
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("data"))
        return true;
    return scheme == QLatin1String("about") &&
           (url.path() == QLatin1String("blank") || url.path() == QLatin1String("srcdoc"));
}

} // namespace torvanix

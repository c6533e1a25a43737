#include "request_interceptor.h"

#include "loopback_server.h"
#include "resource_mapping.h"

#include <QUrl>

namespace torvanix {

RequestInterceptor::RequestInterceptor(const ResourceMapper *mapper, QByteArray secret,
                                       QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent), mapper_(mapper), secret_(std::move(secret)),
      vendorHost_(QUrl(mapper->settings().vendorBase).host()) {}

void RequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info) {
    const QUrl url = info.requestUrl();
    const QString text = url.toString(QUrl::FullyEncoded);
    if (auto target = mapper_->redirectFor(text)) {
        info.redirect(QUrl(*target));
        return;
    }
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return;
    if (url.host().compare(vendorHost_, Qt::CaseInsensitive) == 0) {
        info.setHttpHeader(LoopbackServer::kSecretHeader, secret_);
        return;
    }
    if (text.contains(QLatin1String("local")) && mapper_->map(text)) {
        info.redirect(QUrl(mapper_->settings().vendorBase +
                           QLatin1String(LoopbackServer::kRelayPath) + QStringLiteral("?u=") +
                           QString::fromLatin1(QUrl::toPercentEncoding(text))));
    }
}

} // namespace torvanix

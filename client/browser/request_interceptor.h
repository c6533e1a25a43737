#pragma once

#include <QByteArray>
#include <QString>
#include <QWebEngineUrlRequestInterceptor>

namespace torvanix {

class ResourceMapper;

// Every request of every page passes here: the two response rewrites become redirects,
// requests to the vendor host get the loopback server's secret, and local pages asked for
// under another host are relayed to the loopback server.
class RequestInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    RequestInterceptor(const ResourceMapper *mapper, QByteArray secret, QObject *parent = nullptr);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

private:
    const ResourceMapper *mapper_;
    QByteArray secret_;
    QString vendorHost_;
};

} // namespace torvanix

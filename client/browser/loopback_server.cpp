#include "loopback_server.h"

#include "resource_mapping.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QUrl>

#include <httplib.h>

namespace torvanix {

namespace {

QByteArray makeSecret() {
    QByteArray bytes(24, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          bytes.size() / 4);
    return bytes.toHex();
}

bool isHopByHop(const std::string &name) {
    static const char *const names[] = {
        "connection", "keep-alive", "transfer-encoding",  "content-length",     "te",
        "trailer",    "upgrade",    "proxy-authenticate", "proxy-authorization"};
    const QByteArray lower = QByteArray::fromStdString(name).toLower();
    for (const char *n : names)
        if (lower == n)
            return true;
    return false;
}

} // namespace

LoopbackServer::LoopbackServer(const ResourceMapper *mapper)
    : mapper_(mapper), server_(std::make_unique<httplib::Server>()), secret_(makeSecret()) {}

LoopbackServer::~LoopbackServer() {
    stop();
}

bool LoopbackServer::start() {
    if (port_ > 0)
        return true;
    const std::string secret = secret_.toStdString();
    server_->set_pre_routing_handler([this, secret](const httplib::Request &req,
                                                    httplib::Response &res) {
        if (req.get_header_value(kSecretHeader) != secret) {
            res.status = 403;
            res.set_content("forbidden", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        QString url;
        if (req.path == kRelayPath) {
            // A local page asked for under another host; the interceptor sent it here.
            url = QString::fromStdString(req.get_param_value("u"));
        } else {
            url = mapper_->settings().vendorBase + QString::fromStdString(req.target);
        }
        if (req.method == "GET" || req.method == "HEAD") {
            if (auto answer = mapper_->map(url)) {
                for (const auto &h : qAsConst(answer->headers)) {
                    // The server writes the length itself (per range when one is asked for).
                    if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                        continue;
                    res.set_header(h.first.toStdString(), h.second.toStdString());
                }
                res.set_header("Cache-Control", "no-cache");
                res.set_content(std::string(answer->body.constData(), size_t(answer->body.size())),
                                answer->mimeType.toStdString());
                if (answer->status != 200)
                    res.status = answer->status;
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        if (upstream_.isEmpty() || req.path == kRelayPath) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Pass-through to the real endpoint.
        const QUrl up(upstream_);
        httplib::Client client(up.host().toStdString(), up.port(80));
        client.set_connection_timeout(10, 0);
        client.set_read_timeout(30, 0);
        httplib::Headers headers;
        for (const auto &h : req.headers) {
            if (h.first == kSecretHeader || isHopByHop(h.first) ||
                QByteArray::fromStdString(h.first).toLower() == "host")
                continue;
            headers.emplace(h.first, h.second);
        }
        auto fetch = [&]() -> httplib::Result {
            if (req.method == "HEAD")
                return client.Head(req.target.c_str(), headers);
            if (req.method == "POST")
                return client.Post(req.target.c_str(), headers, req.body,
                                   req.get_header_value("Content-Type").c_str());
            return client.Get(req.target.c_str(), headers);
        };
        httplib::Result result = fetch();
        if (!result) {
            res.status = 502;
            res.set_content("the vendor endpoint cannot be reached", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        res.status = result->status;
        for (const auto &h : result->headers)
            if (!isHopByHop(h.first))
                res.set_header(h.first.c_str(), h.second);
        res.body = result->body;
        return httplib::Server::HandlerResponse::Handled;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        port_ = 0;
        qWarning() << "loopback server: cannot bind 127.0.0.1";
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void LoopbackServer::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

} // namespace torvanix

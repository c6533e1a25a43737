#include "loopback_server.h"

#include "resource_mapping.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QUrl>

#include <httplib.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

// Ends the connection a request came in on without any answer, so the engine reports its own
// network error (its error page for a page, a failed fetch for a script) instead of showing
// a made-up answer as if the endpoint had sent it. The server keeps no handle to the
// connection, so it is found by its two ends among this process's sockets.
bool dropConnection(const httplib::Request &req) {
    DIR *fds = ::opendir("/proc/self/fd");
    if (!fds)
        return false;
    bool dropped = false;
    while (dirent *e = ::readdir(fds)) {
        char *end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || fd == ::dirfd(fds))
            continue;
        sockaddr_in local{}, peer{};
        socklen_t localLen = sizeof(local), peerLen = sizeof(peer);
        if (::getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &localLen) != 0 ||
            ::getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0 ||
            local.sin_family != AF_INET || peer.sin_family != AF_INET)
            continue;
        if (ntohs(local.sin_port) != req.local_port || ntohs(peer.sin_port) != req.remote_port)
            continue;
        // Reset rather than an orderly end once the server closes it.
        const linger abortive{1, 0};
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
        dropped = ::shutdown(int(fd), SHUT_RDWR) == 0;
        break;
    }
    ::closedir(fds);
    return dropped;
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
        // Fetched from the real endpoint by the handlers below, which run once the request's
        // body has been read (this hook runs before).
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto passThrough = [this](const httplib::Request &req, httplib::Response &res) {
        // "scheme://host[:port]": an https endpoint is reached over TLS with its certificate
        // checked against the system's authorities and its host name, never in plain text.
        httplib::Client client(upstream_.toStdString());
        client.enable_server_certificate_verification(true);
        client.set_connection_timeout(10, 0);
        client.set_read_timeout(30, 0);
        httplib::Headers headers;
        for (const auto &h : req.headers) {
            if (h.first == kSecretHeader || isHopByHop(h.first) ||
                QByteArray::fromStdString(h.first).toLower() == "host")
                continue;
            headers.emplace(h.first, h.second);
        }
        // Every method goes on as it came (PUT, DELETE, OPTIONS... included), with its body.
        httplib::Request forward;
        forward.method = req.method;
        forward.path = req.target;
        forward.headers = std::move(headers);
        forward.body = req.body;
        httplib::Result result = client.send(forward);
        if (!result) {
            qWarning() << "loopback server: the vendor endpoint cannot be reached for"
                       << QString::fromStdString(req.method) << QString::fromStdString(req.target);
            if (!dropConnection(req)) {
                res.status = 502;
                res.set_content("the vendor endpoint cannot be reached", "text/plain");
            }
            return;
        }
        res.status = result->status;
        for (const auto &h : result->headers)
            if (!isHopByHop(h.first))
                res.set_header(h.first.c_str(), h.second);
        res.body = result->body;
    };
    // GET also takes HEAD.
    server_->Get(".*", passThrough);
    server_->Post(".*", passThrough);
    server_->Put(".*", passThrough);
    server_->Patch(".*", passThrough);
    server_->Delete(".*", passThrough);
    server_->Options(".*", passThrough);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        port_ = 0;
        qWarning() << "loopback server: cannot bind 127.0.0.1";
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop before the thread is listening would be lost and the join in stop() would wait
    // for ever (a run that quits right after starting does that).
    for (int i = 0; i < 5000 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void LoopbackServer::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

} // namespace torvanix

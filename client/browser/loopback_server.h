#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace torvanix {

class ResourceMapper;

// Serves the vendor endpoint's local pages from memory. The engine resolves the vendor host
// to this loopback port; every request must carry the per-run secret header that the
// request interceptor adds, because any local process can reach a loopback port. What the
// pack cannot answer is fetched from the real endpoint.
class LoopbackServer {
public:
    static constexpr const char *kSecretHeader = "X-Torvanix-Key";
    static constexpr const char *kRelayPath = "/__torvanix_relay";

    explicit LoopbackServer(const ResourceMapper *mapper);
    ~LoopbackServer();

    // Binds 127.0.0.1 on a free port and serves on a thread of its own. False on failure.
    bool start();
    void stop();
    int port() const { return port_; }
    QByteArray secret() const { return secret_; }

    // The real endpoint for requests the pack cannot answer; empty disables fetching.
    void setUpstream(const QString &vendorBase) { upstream_ = vendorBase; }

private:
    const ResourceMapper *mapper_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    QByteArray secret_;
    QString upstream_;
};

} // namespace torvanix

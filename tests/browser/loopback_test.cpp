// The loopback server's pass-through to the vendor endpoint, apart from the engine.
#include "browser/loopback_server.h"
#include "browser/resource_mapping.h"

#include <QTcpServer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

using namespace torvanix;

namespace {

class LoopbackPassThrough : public ::testing::Test {
protected:
    void SetUp() override {
        ResourceSettings settings;
        settings.vendorBase = QStringLiteral("http://www.torvanix.invalid");
        settings.edition = QStringLiteral("Torvanix");
        mapper = std::make_unique<ResourceMapper>(settings, nullptr);
        server = std::make_unique<LoopbackServer>(mapper.get());
    }
    void TearDown() override {
        server.reset();
        if (upstream) {
            upstream->stop();
            upstreamThread.join();
        }
    }
    // An endpoint that answers every method with the method's name and the body it got.
    void startUpstream() {
        upstream = std::make_unique<httplib::Server>();
        const auto record = [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(seenMutex);
            seen.push_back(req.method + " " + req.target + " " + req.body);
            res.status = 201;
            res.set_content(req.method, "text/plain");
        };
        upstream->Get(".*", record);
        upstream->Post(".*", record);
        upstream->Put(".*", record);
        upstream->Patch(".*", record);
        upstream->Delete(".*", record);
        upstream->Options(".*", record);
        upstreamPort = upstream->bind_to_any_port("127.0.0.1");
        ASSERT_GT(upstreamPort, 0);
        upstreamThread = std::thread([this] { upstream->listen_after_bind(); });
    }
    httplib::Result ask(const std::string &method, const std::string &body = std::string()) {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(20, 0);
        httplib::Request req;
        req.method = method;
        req.path = "/frontend/api?x=1";
        req.headers.emplace(LoopbackServer::kSecretHeader, server->secret().toStdString());
        req.body = body;
        if (!body.empty())
            req.headers.emplace("Content-Type", "text/plain");
        return client.send(req);
    }

    std::unique_ptr<ResourceMapper> mapper;
    std::unique_ptr<LoopbackServer> server;
    std::unique_ptr<httplib::Server> upstream;
    std::thread upstreamThread;
    int upstreamPort = 0;
    std::mutex seenMutex;
    std::vector<std::string> seen;
};

} // namespace

TEST_F(LoopbackPassThrough, EveryMethodGoesOnUnchanged) {
    startUpstream();
    server->setUpstream(QStringLiteral("http://127.0.0.1:%1").arg(upstreamPort));
    ASSERT_TRUE(server->start());
    for (const char *method : {"GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
        auto result = ask(method, std::string(method) == "GET" ? "" : "payload");
        ASSERT_TRUE(result) << method;
        EXPECT_EQ(result->status, 201) << method;
        EXPECT_EQ(result->body, method);
    }
    std::lock_guard<std::mutex> lock(seenMutex);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.at(0), "GET /frontend/api?x=1 ");
    EXPECT_EQ(seen.at(1), "POST /frontend/api?x=1 payload");
    EXPECT_EQ(seen.at(2), "PUT /frontend/api?x=1 payload");
    EXPECT_EQ(seen.at(3), "DELETE /frontend/api?x=1 payload");
    EXPECT_EQ(seen.at(4), "PATCH /frontend/api?x=1 payload");
    EXPECT_EQ(seen.at(5).rfind("OPTIONS /frontend/api?x=1", 0), 0u);
}

// An endpoint out of reach is the engine's network error to report, not an answer of ours.
TEST_F(LoopbackPassThrough, AnUnreachableEndpointEndsTheConnectionWithoutAnswer) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    server->setUpstream(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
    ASSERT_TRUE(server->start());
    for (const char *method : {"GET", "POST"}) {
        auto result = ask(method);
        EXPECT_FALSE(result) << method << " answered " << (result ? result->status : 0);
    }
    // The server goes on answering after dropping connections.
    auto forbidden = httplib::Client("127.0.0.1", server->port()).Get("/local/x");
    ASSERT_TRUE(forbidden);
    EXPECT_EQ(forbidden->status, 403);
}

// An https endpoint is never spoken to in plain text: a server that does not answer in TLS
// gets no request through, and the page no answer.
TEST_F(LoopbackPassThrough, AnHttpsEndpointIsReachedOnlyOverTls) {
    startUpstream();
    server->setUpstream(QStringLiteral("https://127.0.0.1:%1").arg(upstreamPort));
    ASSERT_TRUE(server->start());
    auto result = ask("GET");
    EXPECT_FALSE(result && result->status == 201) << "answered in plain text";
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_TRUE(seen.empty());
}

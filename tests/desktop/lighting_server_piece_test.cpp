// The lighting server as the page switches it: the "sdk" settings section, GetSdkServer and
// SdkServerChanged, a port that another program holds.
#include "desktop/desktop_hub.h"
#include "desktop/lighting_server_piece.h"
#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

struct Answer : Reply {
    QString text;
    bool ok = false;
    void success(const QString &t) override { ok = true, text = t; }
    void failure(int, const QString &t) override { ok = false, text = t; }
};

struct Events : EventSink {
    QStringList changes;
    void sendEvent(const QString &name, const QVariantList &args) override {
        if (name == QLatin1String("SdkServerChanged"))
            changes << args.value(0).toString();
    }
};

struct Core {
    CommandDispatcher dispatcher;
    Events events;
    std::unique_ptr<DesktopHub> hub;
    std::unique_ptr<LightingServerPiece> piece;
    explicit Core(const QString &settingsPath) {
        DesktopHub::Services services;
        services.dispatcher = &dispatcher;
        services.pageEvents = &events;
        services.settingsPath = settingsPath;
        hub = std::make_unique<DesktopHub>(std::move(services));
        piece = std::make_unique<LightingServerPiece>(*hub);
    }
    std::shared_ptr<Answer> call(const QJsonObject &request) {
        auto a = std::make_shared<Answer>();
        dispatcher.onJsMessage(QString::fromUtf8(QJsonDocument(request).toJson()), a);
        return a;
    }
    QJsonObject server() {
        return QJsonDocument::fromJson(call({{"FuncName", "GetSdkServer"}})->text.toUtf8())
            .object();
    }
    std::shared_ptr<Answer> set(const QJsonObject &sdk) {
        return call({{"FuncName", "SetCoreSettings"},
                     {"Section", "sdk"},
                     {"Value", QString::fromUtf8(QJsonDocument(sdk).toJson())}});
    }
};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(LightingServerPiece, ThePageSwitchesItAndHearsWhatBecameOfIt) {
    QTemporaryDir dir;
    Core core(dir.filePath(QStringLiteral("settings.json")));
    QJsonObject s = core.server();
    EXPECT_FALSE(s[QStringLiteral("enabled")].toBool()) << "off by default";
    EXPECT_FALSE(s[QStringLiteral("listening")].toBool());
    EXPECT_EQ(s[QStringLiteral("port")].toInt(), 6742);
    EXPECT_EQ(s[QStringLiteral("address")].toString(), QStringLiteral("127.0.0.1"));

    EXPECT_FALSE(core.set({{"enabled", true}, {"port", 70000}})->ok);
    EXPECT_FALSE(core.server()[QStringLiteral("listening")].toBool());

    const quint16 port = freePort();
    const auto answer = core.set({{"enabled", true}, {"port", QString::number(port)}});
    ASSERT_TRUE(answer->ok) << qPrintable(answer->text);
    s = core.server();
    EXPECT_TRUE(s[QStringLiteral("listening")].toBool());
    EXPECT_EQ(s[QStringLiteral("port")].toInt(), port);
    ASSERT_FALSE(core.events.changes.isEmpty());
    EXPECT_EQ(core.events.changes.last(),
              QString::fromUtf8(QJsonDocument(s).toJson(QJsonDocument::Compact)));

    // Another core wanting the same port says why it does not listen, and runs on.
    QTemporaryDir otherDir;
    Core other(otherDir.filePath(QStringLiteral("settings.json")));
    ASSERT_TRUE(other.set({{"enabled", true}, {"port", port}})->ok);
    s = other.server();
    EXPECT_FALSE(s[QStringLiteral("listening")].toBool());
    EXPECT_EQ(s[QStringLiteral("error")].toString(),
              QStringLiteral("port %1 is in use by another program").arg(port));

    ASSERT_TRUE(core.set({{"enabled", false}, {"port", port}})->ok);
    EXPECT_FALSE(core.server()[QStringLiteral("listening")].toBool());
}

#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace torvanix {

class DesktopHub;
namespace sdk {
class LightServer;
}

// `--sdk-server[=PORT]` on the core's command line: the lighting server listens for this run
// (on PORT, else the stored port), whatever the settings say, until the user changes the
// server's settings. 0: not given. Call before the hub starts its pieces.
void setSdkServerForThisRun(int port);
// Reads the option from the command line; false (with `error` set) for a port that is none.
bool takeSdkServerOption(int argc, char **argv, QString *error);

// The lighting server in the core: settings section "sdk" ({"enabled", "port",
// "allowNetwork"}), the demo or real devices with lighting as its controllers, their frames
// written through the hub like the page's documents, and the page command GetSdkServer with the
// event SdkServerChanged. A lighting change the user makes in the page takes the device back
// from the client driving it.
class LightingServerPiece : public QObject {
    Q_OBJECT
public:
    static void start(DesktopHub &hub);

    explicit LightingServerPiece(DesktopHub &hub);
    ~LightingServerPiece() override;

    // The GetSdkServer answer.
    QJsonObject status() const;

private:
    void configure();
    void updateDevices();
    void noteDocument(const QString &identity, const QString &document, const QString &origin);
    void announce();

    DesktopHub &hub_;
    sdk::LightServer *server_ = nullptr;
    int runPort_ = 0; // the command line's port while it holds
    QJsonObject running_;
    QString announced_;
};

} // namespace torvanix

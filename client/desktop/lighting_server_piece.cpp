#include "lighting_server_piece.h"

#include "desktop_hub.h"
#include "device/event_sink.h"
#include "dispatch/command_dispatcher.h"
#include "dispatch/reply.h"
#include "lightserver/sdk_server.h"
#include "translate/sync_model_templates.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <pugixml.hpp>

namespace torvanix {

namespace {

const char *const kSection = "sdk";
int g_runPort = 0;

QString compact(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool normaliseSdk(QJsonObject &value, QString *why) {
    QJsonObject out;
    out.insert(QStringLiteral("enabled"), value.value(QStringLiteral("enabled")).toBool(false));
    int port = sdk::kDefaultPort;
    const QJsonValue given = value.value(QStringLiteral("port"));
    if (!given.isUndefined() && !given.isNull()) {
        // A number, or its digits as a text field gives them.
        bool ok = given.isDouble();
        const double p = ok ? given.toDouble() : given.toString().trimmed().toDouble(&ok);
        if (!ok || p != double(int(p)) || p < 1 || p > 65535) {
            if (why)
                *why = QStringLiteral("the port must be a whole number from 1 to 65535");
            return false;
        }
        port = int(p);
    }
    out.insert(QStringLiteral("port"), port);
    out.insert(QStringLiteral("allowNetwork"),
               value.value(QStringLiteral("allowNetwork")).toBool(false));
    value = out;
    return true;
}

enum class Lighting { None, Set, Reset };

// What a document does to a device's lighting. The page sends its whole document with every
// change, so only a zone's mode marked "set" (or a reset) says the lighting was written.
Lighting lightingOf(const QString &document) {
    if (!document.contains(QLatin1String("<light")) && !document.contains(QLatin1String("reset")))
        return Lighting::None;
    pugi::xml_document doc;
    const QByteArray utf8 = document.toUtf8();
    if (!doc.load_buffer(utf8.constData(), size_t(utf8.size())))
        return Lighting::None;
    if (doc.select_node("/configuration[@action='reset']"))
        return Lighting::Reset;
    if (doc.select_node("/configuration/light/mode[@action='set'] | "
                        "/configuration/lightLeft/mode[@action='set']"))
        return Lighting::Set;
    return Lighting::None;
}

} // namespace

void setSdkServerForThisRun(int port) {
    g_runPort = port;
}

bool takeSdkServerOption(int argc, char **argv, QString *error) {
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--sdk-server")) {
            setSdkServerForThisRun(-1);
            continue;
        }
        if (!arg.startsWith(QLatin1String("--sdk-server=")))
            continue;
        bool ok = false;
        const int port = arg.mid(13).toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            *error = QStringLiteral("--sdk-server: %1 is no port (1 to 65535)").arg(arg.mid(13));
            return false;
        }
        setSdkServerForThisRun(port);
    }
    return true;
}

void LightingServerPiece::start(DesktopHub &hub) {
    hub.adopt(new LightingServerPiece(hub));
}

LightingServerPiece::LightingServerPiece(DesktopHub &hub) : hub_(hub), runPort_(g_runPort) {
    initModelTemplates();
    hub_.settings().addSection(QString::fromLatin1(kSection), normaliseSdk);

    QPointer<DesktopHub> hubPtr(&hub_);
    server_ = new sdk::LightServer(
        [hubPtr](const QString &, const QString &document, const QString &origin,
                 std::function<void(bool)> done) {
            if (!hubPtr) {
                done(false);
                return;
            }
            hubPtr->apply(document, origin,
                          [done](const ApplyResult &r) { done(r.status == ApplyResult::Applied); });
        },
        this);
    connect(server_, &sdk::LightServer::statusChanged, this, &LightingServerPiece::announce);

    QPointer<LightingServerPiece> self(this);
    hub_.dispatcher().registerCommand(
        QStringLiteral("GetSdkServer"), [self](const QVariantMap &, const ReplyPtr &reply) {
            // Page queries arrive on the GUI thread.
            replySuccess(reply, self ? compact(self->status()) : QStringLiteral("{}"));
        });

    connect(&hub_.settings(), &CoreSettings::changed, this, [this](const QString &section) {
        if (section != QLatin1String(kSection))
            return;
        runPort_ = 0; // the user's own choice from now on
        configure();
    });
    connect(&hub_.book(), &DeviceBook::deviceAdded, this, &LightingServerPiece::updateDevices);
    connect(&hub_.book(), &DeviceBook::deviceRemoved, this, &LightingServerPiece::updateDevices);
    connect(&hub_.book(), &DeviceBook::deviceChanged, this,
            [this](const BookDevice &, const QStringList &fields) {
                if (fields.contains(QStringLiteral("record")))
                    updateDevices();
            });
    connect(&hub_, &DesktopHub::documentApplied, this,
            [this](const QString &identity, const QString &document, const QString &origin) {
                noteDocument(identity, document, origin);
            });
    updateDevices();
    configure();
}

LightingServerPiece::~LightingServerPiece() {
    server_->disconnect(this);
    delete server_;
    server_ = nullptr;
}

void LightingServerPiece::configure() {
    const QJsonObject stored = hub_.settings().section(QString::fromLatin1(kSection));
    const bool network = stored.value(QStringLiteral("allowNetwork")).toBool();
    int port = stored.value(QStringLiteral("port")).toInt(sdk::kDefaultPort);
    bool enabled = stored.value(QStringLiteral("enabled")).toBool();
    if (runPort_ != 0) {
        enabled = true;
        if (runPort_ > 0)
            port = runPort_;
    }
    const QJsonObject wanted{{QStringLiteral("enabled"), enabled},
                             {QStringLiteral("port"), port},
                             {QStringLiteral("allowNetwork"), network}};
    if (wanted == running_ && (!enabled || server_->isListening()))
        return;
    running_ = wanted;
    if (!enabled) {
        server_->stop();
        qInfo("lighting server: off");
    } else if (server_->listen(network ? QHostAddress::AnyIPv4 : QHostAddress::LocalHost,
                               quint16(port))) {
        qInfo("lighting server: listening on %s port %d", network ? "every address" : "127.0.0.1",
              port);
    } else {
        qWarning("lighting server: %s", qPrintable(server_->error()));
    }
    announce();
}

void LightingServerPiece::updateDevices() {
    QVector<std::shared_ptr<sdk::DeviceLighting>> list;
    for (const BookDevice &device : hub_.book().devices()) {
        const QString version = device.record.value(QStringLiteral("Version")).toString();
        if (version.isEmpty() ||
            device.record.value(QStringLiteral("BootLoader")).toString() == QLatin1String("1"))
            continue;
        QFile file(QStringLiteral(":/drive/") + version);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        sdk::DeviceFacts facts;
        facts.identity = device.identity;
        facts.devicePath = device.record.value(QStringLiteral("DevicePath")).toString();
        facts.version = version;
        facts.serial = device.record.value(QStringLiteral("Sn")).toString();
        if (auto lighting =
                sdk::DeviceLighting::fromTemplate(QString::fromUtf8(file.readAll()), facts))
            list.append(lighting);
    }
    server_->setDevices(list);
}

void LightingServerPiece::noteDocument(const QString &identity, const QString &document,
                                       const QString &origin) {
    if (origin.startsWith(QLatin1String("sdk:")))
        return;
    const Lighting what = lightingOf(document);
    if (what == Lighting::None)
        return;
    // The user's own change in the page takes the device back; anything else only means the
    // device no longer shows what the server last sent.
    if (origin == QLatin1String("page") && what == Lighting::Set)
        server_->takeBack(identity);
    else
        server_->forgetSent(identity);
}

QJsonObject LightingServerPiece::status() const {
    QJsonObject s = server_->status();
    const bool network = running_.value(QStringLiteral("allowNetwork")).toBool();
    s.insert(QStringLiteral("enabled"), running_.value(QStringLiteral("enabled")).toBool());
    s.insert(QStringLiteral("address"),
             network ? QStringLiteral("0.0.0.0") : QStringLiteral("127.0.0.1"));
    s.insert(QStringLiteral("port"), running_.value(QStringLiteral("port")).toInt());
    return s;
}

void LightingServerPiece::announce() {
    const QString text = compact(status());
    if (text == announced_)
        return;
    announced_ = text;
    hub_.pageEvents().sendEvent(QStringLiteral("SdkServerChanged"), {text});
}

} // namespace torvanix

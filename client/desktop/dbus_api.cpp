#include "dbus_api.h"

#include "desktop/desktop_hub.h"
#include "desktop/device_book.h"
#include "device/client_update.h"
#include "device/event_sink.h"
#include "translate/device_data_handler.h"
#include "translate/translate_xml.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QPointer>

#include <utility>

// a{sa{sv}} and a{oa{sa{sv}}}: what ObjectManager speaks.
using DbusInterfaceMap = QMap<QString, QVariantMap>;
using DbusManagedObjects = QMap<QDBusObjectPath, DbusInterfaceMap>;
Q_DECLARE_METATYPE(DbusInterfaceMap)
Q_DECLARE_METATYPE(DbusManagedObjects)

namespace torvanix {

namespace {

Q_LOGGING_CATEGORY(lcDbus, "torvanix.dbus")

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kPeer = QStringLiteral("org.freedesktop.DBus.Peer");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");

const QString kErrInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kErrUnknownObject = QStringLiteral("org.freedesktop.DBus.Error.UnknownObject");
const QString kErrUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
const QString kErrUnknownInterface = QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
const QString kErrUnknownProperty = QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty");
const QString kErrReadOnly = QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly");
const QString kErrRefused = QStringLiteral("org.torvanix.Torvanix.Error.Refused");
const QString kErrWriteFailed = QStringLiteral("org.torvanix.Torvanix.Error.WriteFailed");
const QString kErrUnavailable = QStringLiteral("org.torvanix.Torvanix.Error.Unavailable");
const QString kErrWrongDevice = QStringLiteral("org.torvanix.Torvanix.Error.WrongDevice");

// Every property a device object can have, in the order introspection lists them.
const char *const kDeviceIntrospection = R"(  <interface name="org.torvanix.Torvanix.Device">
    <property name="Model" type="s" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="Connection" type="s" access="read"/>
    <property name="Battery" type="u" access="read"/>
    <property name="Charging" type="b" access="read"/>
    <property name="Profile" type="u" access="read"/>
    <property name="ProfileCount" type="u" access="read"/>
    <property name="Dpi" type="u" access="read"/>
    <method name="SwitchProfile">
      <arg name="profile" type="u" direction="in"/>
    </method>
    <method name="Apply">
      <arg name="document" type="s" direction="in"/>
      <arg name="answer" type="s" direction="out"/>
    </method>
    <method name="Show"/>
  </interface>
)";

const char *const kRootIntrospection = R"(  <interface name="org.torvanix.Torvanix">
    <property name="Version" type="s" access="read"/>
    <method name="Show"/>
    <method name="SetActiveApplication">
      <arg name="app_id" type="s" direction="in"/>
    </method>
    <method name="Apply">
      <arg name="document" type="s" direction="in"/>
      <arg name="answer" type="s" direction="out"/>
    </method>
  </interface>
  <interface name="org.freedesktop.DBus.ObjectManager">
    <method name="GetManagedObjects">
      <arg name="objects" type="a{oa{sa{sv}}}" direction="out"/>
    </method>
    <signal name="InterfacesAdded">
      <arg name="object_path" type="o"/>
      <arg name="interfaces_and_properties" type="a{sa{sv}}"/>
    </signal>
    <signal name="InterfacesRemoved">
      <arg name="object_path" type="o"/>
      <arg name="interfaces" type="as"/>
    </signal>
  </interface>
)";

const char *const kStandardIntrospection = R"(  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="properties" type="a{sv}" direction="out"/>
    </method>
    <method name="Set">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="in"/>
    </method>
    <signal name="PropertiesChanged">
      <arg name="interface_name" type="s"/>
      <arg name="changed_properties" type="a{sv}"/>
      <arg name="invalidated_properties" type="as"/>
    </signal>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect">
      <arg name="xml_data" type="s" direction="out"/>
    </method>
  </interface>
  <interface name="org.freedesktop.DBus.Peer">
    <method name="Ping"/>
    <method name="GetMachineId">
      <arg name="machine_uuid" type="s" direction="out"/>
    </method>
  </interface>
)";

const QStringList &devicePropertyNames() {
    static const QStringList names{QStringLiteral("Model"),        QStringLiteral("Identity"),
                                   QStringLiteral("Connection"),   QStringLiteral("Battery"),
                                   QStringLiteral("Charging"),     QStringLiteral("Profile"),
                                   QStringLiteral("ProfileCount"), QStringLiteral("Dpi")};
    return names;
}

QString devicePath(quint32 number) {
    return QLatin1String(dbus_api::kDevicePathPrefix) + QString::number(number);
}

// The device number of a device object path; 0 for any other path.
quint32 numberOfPath(const QString &path) {
    const QString prefix = QLatin1String(dbus_api::kDevicePathPrefix);
    if (!path.startsWith(prefix))
        return 0;
    const QString digits = path.mid(prefix.size());
    // "01" would name the same object as "1": only the canonical spelling is the object.
    if (digits.isEmpty() || digits.startsWith(QLatin1Char('0')))
        return 0;
    for (const QChar c : digits)
        if (!c.isDigit() || c.unicode() > 0x7f)
            return 0;
    bool ok = false;
    const quint32 n = digits.toUInt(&ok);
    return ok ? n : 0;
}

QString describe(const BookDevice &device) {
    return QStringLiteral("device %1 (%2)").arg(device.number).arg(device.identity);
}

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<DbusInterfaceMap>();
        qDBusRegisterMetaType<DbusManagedObjects>();
        return true;
    }();
    Q_UNUSED(done);
}

QDBusMessage unknownMethod(const QDBusMessage &message) {
    return message.createErrorReply(
        kErrUnknownMethod, QStringLiteral("no method %1 (signature \"%2\") in %3 at %4")
                               .arg(message.member(), message.signature(),
                                    message.interface().isEmpty() ? QStringLiteral("any interface")
                                                                  : message.interface(),
                                    message.path()));
}

// The properties a device object shows: only those the device has (a battery, a known
// profile, a known DPI, a connection kind); the rest are left out, not given as zero.
QVariantMap deviceProperties(const BookDevice &device) {
    QVariantMap p;
    p.insert(QStringLiteral("Model"), device.model);
    p.insert(QStringLiteral("Identity"), device.identity);
    if (!device.connection.isEmpty())
        p.insert(QStringLiteral("Connection"), device.connection);
    if (device.battery >= 0) {
        p.insert(QStringLiteral("Battery"), uint(device.battery));
        p.insert(QStringLiteral("Charging"), device.charging);
    }
    if (device.profile > 0)
        p.insert(QStringLiteral("Profile"), uint(device.profile));
    if (device.hasProfileSlot)
        p.insert(QStringLiteral("ProfileCount"), uint(qMax(1, device.profileCount)));
    if (device.dpi > 0)
        p.insert(QStringLiteral("Dpi"), uint(device.dpi));
    return p;
}

// The UsbId a configuration document names (what the translator routes it by), or empty with
// *why set when the text is no document or names no device.
QString documentIdentity(const QString &document, QString *why) {
    // The translator's own parse and lookup, so a document is judged here as it is there.
    pugi::xml_document doc;
    if (!xml::load(doc, document)) {
        if (why)
            *why = QStringLiteral("the document does not parse as XML");
        return QString();
    }
    const QString identity = device_data_handler::normaliseIdentity(xml::identity(doc));
    if (identity.isEmpty() && why)
        *why = QStringLiteral("the document names no device (no <key name=\"UsbId\" value=...> "
                              "under <configuration>)");
    return identity;
}

// The D-Bus error for a document that did not reach the device; empty for Applied.
QString errorNameFor(const ApplyResult &result) {
    switch (result.status) {
    case ApplyResult::Applied:
        return QString();
    case ApplyResult::WriteFailed:
        return kErrWriteFailed;
    case ApplyResult::Dropped:
        return kErrRefused;
    case ApplyResult::Unavailable:
        return kErrUnavailable;
    }
    return kErrUnavailable;
}

// What the page would get back for a document: the answered documents (OnNotifySaveXml), in
// order, one after the other; empty when the document asked for nothing back.
QString answerText(const ApplyResult &result) {
    QString text;
    for (const auto &event : result.events) {
        if (event.first == QLatin1String(events::OnNotifySaveXml) && !event.second.isEmpty())
            text += event.second.first().toString();
    }
    return text;
}

} // namespace

DbusApi::DbusApi(DesktopHub &hub, QObject *parent)
    : QDBusVirtualObject(parent), hub_(hub), bus_(QString()) {
    registerTypes();
    DeviceBook &book = hub_.book();
    connect(&book, &DeviceBook::deviceAdded, this, &DbusApi::onDeviceAdded);
    connect(&book, &DeviceBook::deviceRemoved, this, &DbusApi::onDeviceRemoved);
    connect(&book, &DeviceBook::deviceChanged, this,
            [this](const BookDevice &device, const QStringList &) { onDeviceChanged(device); });
    for (const BookDevice &device : book.devices())
        publish(device, false);
}

DbusApi::~DbusApi() {
    // Callers still waiting for a device hear why no answer comes.
    const auto pending = std::exchange(pending_, {});
    for (const QDBusMessage &message : pending)
        bus_.send(
            message.createErrorReply(kErrUnavailable, QStringLiteral("the program is ending")));
    if (registered_) {
        bus_.unregisterObject(QLatin1String(dbus_api::kRootPath), QDBusConnection::UnregisterTree);
        bus_.unregisterService(QLatin1String(dbus_api::kService));
    }
}

bool DbusApi::start(QDBusConnection bus) {
    bus_ = bus;
    if (!bus_.isConnected()) {
        log(QStringLiteral("no session bus (%1): the D-Bus API is off")
                .arg(bus_.lastError().message().isEmpty() ? QStringLiteral("not connected")
                                                          : bus_.lastError().message()));
        return false;
    }
    if (!bus_.registerVirtualObject(QLatin1String(dbus_api::kRootPath), this,
                                    QDBusConnection::SubPath)) {
        log(QStringLiteral("cannot register the D-Bus objects at %1: the D-Bus API is off")
                .arg(QLatin1String(dbus_api::kRootPath)));
        return false;
    }
    registered_ = true;
    // Asked without waiting: the bus answers while the core goes on starting. Not queued, so
    // a name held by another program is reported now instead of arriving at some later time.
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    constexpr uint kDoNotQueue = 4;
    request << QLatin1String(dbus_api::kService) << kDoNotQueue;
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        const QString name = QLatin1String(dbus_api::kService);
        if (reply.isError()) {
            log(QStringLiteral("cannot own the session bus name %1: %2")
                    .arg(name, reply.error().message()));
        } else if (reply.value() == 1 || reply.value() == 4) {
            log(QStringLiteral("session bus name %1 owned").arg(name));
        } else {
            log(QStringLiteral("the session bus name %1 is held by another program; the D-Bus "
                               "API answers only at this program's own bus address")
                    .arg(name));
        }
    });
    return true;
}

void DbusApi::log(const QString &line) const {
    if (log_)
        log_(line);
    else
        qCInfo(lcDbus).noquote() << line;
}

void DbusApi::publish(const BookDevice &device, bool announce) {
    const QVariantMap properties = deviceProperties(device);
    shown_.insert(device.number, properties);
    if (announce) {
        DbusInterfaceMap interfaces;
        interfaces.insert(QLatin1String(dbus_api::kDeviceInterface), properties);
        sendSignal(QLatin1String(dbus_api::kRootPath), kObjectManager,
                   QStringLiteral("InterfacesAdded"),
                   {QVariant::fromValue(QDBusObjectPath(devicePath(device.number))),
                    QVariant::fromValue(interfaces)});
    }
}

void DbusApi::onDeviceAdded(const BookDevice &device) {
    if (shown_.contains(device.number)) {
        onDeviceChanged(device);
        return;
    }
    publish(device, true);
}

void DbusApi::onDeviceRemoved(const BookDevice &device) {
    if (shown_.remove(device.number) == 0)
        return;
    sendSignal(QLatin1String(dbus_api::kRootPath), kObjectManager,
               QStringLiteral("InterfacesRemoved"),
               {QVariant::fromValue(QDBusObjectPath(devicePath(device.number))),
                QStringList{QLatin1String(dbus_api::kDeviceInterface)}});
}

void DbusApi::onDeviceChanged(const BookDevice &device) {
    auto it = shown_.find(device.number);
    if (it == shown_.end()) {
        publish(device, true);
        return;
    }
    const QVariantMap now = deviceProperties(device);
    QVariantMap changed;
    QStringList gone;
    for (auto p = now.cbegin(); p != now.cend(); ++p) {
        if (it->value(p.key()) != p.value())
            changed.insert(p.key(), p.value());
    }
    for (auto p = it->cbegin(); p != it->cend(); ++p) {
        if (!now.contains(p.key()))
            gone << p.key();
    }
    *it = now;
    if (changed.isEmpty() && gone.isEmpty())
        return;
    sendSignal(devicePath(device.number), kProperties, QStringLiteral("PropertiesChanged"),
               {QLatin1String(dbus_api::kDeviceInterface), changed, gone});
}

void DbusApi::sendSignal(const QString &path, const QString &interface, const QString &name,
                         const QVariantList &arguments) {
    if (!registered_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    bus_.send(signal);
}

QVariantMap DbusApi::rootProperties() const {
    return {{QStringLiteral("Version"), client_update::programVersion()}};
}

QString DbusApi::introspect(const QString &path) const {
    const QString root = QLatin1String(dbus_api::kRootPath);
    QString xml;
    if (path == root) {
        xml = QLatin1String(kRootIntrospection) + QLatin1String(kStandardIntrospection) +
              QStringLiteral("  <node name=\"device\"/>\n");
    } else if (path == root + QStringLiteral("/device")) {
        for (auto it = shown_.cbegin(); it != shown_.cend(); ++it)
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(it.key());
    } else if (shown_.contains(numberOfPath(path))) {
        xml = QLatin1String(kDeviceIntrospection) + QLatin1String(kStandardIntrospection);
    }
    return xml;
}

bool DbusApi::handleMessage(const QDBusMessage &message, const QDBusConnection &connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString path = message.path();
    const QString root = QLatin1String(dbus_api::kRootPath);
    const quint32 number = numberOfPath(path);
    const bool known =
        path == root || path == root + QStringLiteral("/device") || shown_.contains(number);
    if (!known) {
        connection.send(message.createErrorReply(
            kErrUnknownObject, QStringLiteral("no object at %1 (a device that is gone has no "
                                              "object)")
                                   .arg(path)));
        return true;
    }
    if ((message.interface().isEmpty() || message.interface() == kIntrospectable) &&
        message.member() == QLatin1String("Introspect") && message.signature().isEmpty()) {
        connection.send(message.createReply(
            QStringLiteral("<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object "
                           "Introspection 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
                           "<node>\n") +
            introspect(path) + QStringLiteral("</node>\n")));
        return true;
    }
    if (path == root)
        return handleRoot(message, connection);
    if (number != 0)
        return handleDevice(number, message, connection);
    connection.send(message.createErrorReply(
        kErrUnknownMethod, QStringLiteral("%1 only lists the device objects below it").arg(path)));
    return true;
}

bool DbusApi::handleRoot(const QDBusMessage &message, const QDBusConnection &connection) {
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    if (interface == kProperties)
        return handleProperties(message.path(), QLatin1String(dbus_api::kRootInterface),
                                rootProperties(), message, connection);
    if ((interface.isEmpty() || interface == kObjectManager) &&
        member == QLatin1String("GetManagedObjects") && signature.isEmpty()) {
        DbusManagedObjects objects;
        for (auto it = shown_.cbegin(); it != shown_.cend(); ++it) {
            DbusInterfaceMap interfaces;
            interfaces.insert(QLatin1String(dbus_api::kDeviceInterface), it.value());
            objects.insert(QDBusObjectPath(devicePath(it.key())), interfaces);
        }
        connection.send(message.createReply(QVariant::fromValue(objects)));
        return true;
    }
    if (!interface.isEmpty() && interface != QLatin1String(dbus_api::kRootInterface)) {
        connection.send(unknownMethod(message));
        return true;
    }
    if (member == QLatin1String("Show") && signature.isEmpty()) {
        hub_.showWindow();
        connection.send(message.createReply());
    } else if (member == QLatin1String("SetActiveApplication") && signature == QLatin1String("s")) {
        const QString app = message.arguments().value(0).toString().trimmed();
        if (app.isEmpty()) {
            connection.send(
                message.createErrorReply(kErrInvalidArgs, QStringLiteral("the app id is empty")));
            return true;
        }
        hub_.reportActiveApplication(app, QStringLiteral("dbus"));
        connection.send(message.createReply());
    } else if (member == QLatin1String("Apply") && signature == QLatin1String("s")) {
        const QString document = message.arguments().value(0).toString();
        QString why;
        if (documentIdentity(document, &why).isEmpty()) {
            connection.send(message.createErrorReply(kErrInvalidArgs, why));
            return true;
        }
        applyDocument(document, message);
    } else {
        connection.send(unknownMethod(message));
    }
    return true;
}

bool DbusApi::handleDevice(quint32 number, const QDBusMessage &message,
                           const QDBusConnection &connection) {
    const std::optional<BookDevice> device = hub_.book().deviceByNumber(number);
    if (!device) {
        connection.send(message.createErrorReply(kErrUnknownObject,
                                                 QStringLiteral("device %1 is gone").arg(number)));
        return true;
    }
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    if (interface == kProperties)
        return handleProperties(message.path(), QLatin1String(dbus_api::kDeviceInterface),
                                shown_.value(number), message, connection);
    if (!interface.isEmpty() && interface != QLatin1String(dbus_api::kDeviceInterface)) {
        connection.send(unknownMethod(message));
        return true;
    }
    if (member == QLatin1String("Show") && signature.isEmpty()) {
        hub_.showDevice(device->identity);
        connection.send(message.createReply());
    } else if (member == QLatin1String("SwitchProfile") && signature == QLatin1String("u")) {
        switchProfile(*device, message.arguments().value(0).toUInt(), message, connection);
    } else if (member == QLatin1String("Apply") && signature == QLatin1String("s")) {
        const QString document = message.arguments().value(0).toString();
        QString why;
        const QString identity = documentIdentity(document, &why);
        if (identity.isEmpty()) {
            connection.send(message.createErrorReply(kErrInvalidArgs, why));
            return true;
        }
        // The object is the device: a document for another one would be written elsewhere.
        if (identity.compare(device_data_handler::normaliseIdentity(device->identity),
                             Qt::CaseInsensitive) != 0) {
            QString why = QStringLiteral("the document is for %1, this object is %2")
                              .arg(identity, describe(*device));
            if (identity == QLatin1String("SYNC"))
                why += QStringLiteral(" (a lighting sync document names several devices: apply "
                                      "it at %1)")
                           .arg(QLatin1String(dbus_api::kRootPath));
            connection.send(message.createErrorReply(kErrWrongDevice, why));
            return true;
        }
        applyDocument(document, message);
    } else {
        connection.send(unknownMethod(message));
    }
    return true;
}

bool DbusApi::handleProperties(const QString &path, const QString &ownInterface,
                               const QVariantMap &properties, const QDBusMessage &message,
                               const QDBusConnection &connection) {
    const QString member = message.member();
    const QString signature = message.signature();
    const QVariantList args = message.arguments();
    const QString interface = args.value(0).toString();
    const bool own = interface == ownInterface;
    const bool standard =
        interface == kProperties || interface == kIntrospectable || interface == kPeer ||
        (interface == kObjectManager && path == QLatin1String(dbus_api::kRootPath));
    if (member == QLatin1String("GetAll") && signature == QLatin1String("s")) {
        if (!own && !standard) {
            connection.send(message.createErrorReply(
                kErrUnknownInterface,
                QStringLiteral("no interface %1 at %2").arg(interface, path)));
            return true;
        }
        connection.send(message.createReply(own ? properties : QVariantMap()));
        return true;
    }
    const bool get = member == QLatin1String("Get") && signature == QLatin1String("ss");
    const bool set = member == QLatin1String("Set") && signature == QLatin1String("ssv");
    if (!get && !set) {
        connection.send(unknownMethod(message));
        return true;
    }
    const QString name = args.value(1).toString();
    if (!own) {
        connection.send(message.createErrorReply(
            standard ? kErrUnknownProperty : kErrUnknownInterface,
            standard ? QStringLiteral("%1 has no property %2").arg(interface, name)
                     : QStringLiteral("no interface %1 at %2").arg(interface, path)));
        return true;
    }
    if (!properties.contains(name)) {
        const bool lacks = ownInterface == QLatin1String(dbus_api::kDeviceInterface) &&
                           devicePropertyNames().contains(name);
        connection.send(message.createErrorReply(
            kErrUnknownProperty,
            lacks ? QStringLiteral("the device at %1 has no %2 (not known for this device)")
                        .arg(path, name)
                  : QStringLiteral("%1 has no property %2").arg(ownInterface, name)));
        return true;
    }
    if (set) {
        connection.send(
            message.createErrorReply(kErrReadOnly, QStringLiteral("%1 is read-only").arg(name)));
        return true;
    }
    connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
    return true;
}

quint64 DbusApi::hold(const QDBusMessage &message) {
    message.setDelayedReply(true);
    const quint64 id = nextPending_++;
    pending_.insert(id, message);
    return id;
}

void DbusApi::finish(quint64 id, const ApplyResult &result, bool answerWithText) {
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    const QDBusMessage message = *it;
    pending_.erase(it);
    const QString error = errorNameFor(result);
    if (!error.isEmpty()) {
        QString why = result.reason;
        if (why.isEmpty())
            why = result.status == ApplyResult::WriteFailed
                      ? QStringLiteral("the device did not take the document")
                      : QStringLiteral("the document was not sent to the device");
        bus_.send(message.createErrorReply(error, why));
        return;
    }
    bus_.send(answerWithText ? message.createReply(answerText(result)) : message.createReply());
}

void DbusApi::applyDocument(const QString &document, const QDBusMessage &message) {
    const quint64 id = hold(message);
    QPointer<DbusApi> self(this);
    hub_.apply(document, QStringLiteral("dbus"), [self, id](const ApplyResult &result) {
        if (self)
            self->finish(id, result, true);
    });
}

void DbusApi::switchProfile(const BookDevice &device, quint32 profile, const QDBusMessage &message,
                            const QDBusConnection &connection) {
    if (!device.hasProfileSlot) {
        connection.send(message.createErrorReply(
            kErrRefused, QStringLiteral("%1 takes no profile switches").arg(describe(device))));
        return;
    }
    const int count = qMax(1, device.profileCount);
    if (profile < 1 || profile > quint32(count)) {
        connection.send(message.createErrorReply(
            kErrInvalidArgs, QStringLiteral("profile %1 is out of range: %2 has profiles 1 to %3")
                                 .arg(profile)
                                 .arg(describe(device))
                                 .arg(count)));
        return;
    }
    const quint64 id = hold(message);
    QPointer<DbusApi> self(this);
    hub_.switchProfile(device.identity, int(profile), QStringLiteral("dbus"),
                       [self, id](const ApplyResult &result) {
                           if (self)
                               self->finish(id, result, false);
                       });
}

void startDbusApi(DesktopHub &hub) {
    auto *api = new DbusApi(hub);
    hub.adopt(api);
    api->start(QDBusConnection::sessionBus());
}

} // namespace torvanix

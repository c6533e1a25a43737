#include "battery_watch.h"

#include "desktop_hub.h"

#include <QFile>
#include <QHash>
#include <QPointer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace torvanix {

namespace {

constexpr int kPollMs = 5 * 60 * 1000;

// The power query of a model whose template has a Power key (the page builds the same one):
// its UsbId key and the Power key with action "set". Empty for models without one.
QString powerQueryDocument(const QString &version) {
    static QHash<QString, QString> cache;
    const auto cached = cache.constFind(version);
    if (cached != cache.constEnd())
        return *cached;
    QString out;
    QFile file(QStringLiteral(":/drive/") + version);
    if (!version.isEmpty() && !version.contains(QLatin1Char('/')) &&
        file.open(QIODevice::ReadOnly)) {
        QXmlStreamReader xml(&file);
        QXmlStreamAttributes usbId, power;
        int depth = 0;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::EndElement)
                --depth;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (depth == 1 && xml.name() == QLatin1String("key")) {
                const QStringRef name = xml.attributes().value(QLatin1String("name"));
                if (name == QLatin1String("UsbId"))
                    usbId = xml.attributes();
                else if (name == QLatin1String("Power"))
                    power = xml.attributes();
            }
            ++depth;
        }
        if (!xml.hasError() && !usbId.isEmpty() && !power.isEmpty()) {
            QXmlStreamWriter w(&out);
            w.writeStartElement(QStringLiteral("configuration"));
            w.writeStartElement(QStringLiteral("key"));
            w.writeAttributes(usbId);
            w.writeEndElement();
            w.writeStartElement(QStringLiteral("key"));
            for (const QXmlStreamAttribute &a : power)
                if (a.name() != QLatin1String("action") && a.name() != QLatin1String("value"))
                    w.writeAttribute(a);
            w.writeAttribute(QStringLiteral("action"), QStringLiteral("set"));
            w.writeEndElement();
            w.writeEndElement();
        }
    }
    cache.insert(version, out);
    return out;
}

// The level in an answered power query: the Power key's value; -1 when there is none.
int answeredLevel(const ApplyResult &result) {
    for (const auto &event : result.events) {
        if (event.first != QLatin1String("OnNotifySaveXml") || event.second.isEmpty())
            continue;
        QXmlStreamReader xml(event.second.first().toString());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement ||
                xml.name() != QLatin1String("key") ||
                xml.attributes().value(QLatin1String("name")) != QLatin1String("Power"))
                continue;
            bool ok = false;
            const int level = xml.attributes().value(QLatin1String("value")).toString().toInt(&ok);
            return ok && level >= 1 && level <= 100 ? level : -1;
        }
    }
    return -1;
}

} // namespace

void BatteryWatch::start(DesktopHub &hub) {
    hub.settings().addSection(QStringLiteral("battery"), battery::normaliseSettings);
    hub.adopt(new BatteryWatch(hub));
}

BatteryWatch::BatteryWatch(DesktopHub &hub, QObject *parent)
    : QObject(parent), hub_(hub), notifier_(this),
      thresholds_(battery::thresholdsFrom(hub.settings().section(QStringLiteral("battery")))) {
    poll_.setSingleShot(true);
    poll_.setInterval(pollInterval());
    connect(&poll_, &QTimer::timeout, this, &BatteryWatch::poll);
    connect(&hub.settings(), &CoreSettings::changed, this,
            [this](const QString &section, const QJsonObject &value) {
                if (section == QLatin1String("battery"))
                    thresholds_ = battery::thresholdsFrom(value);
            });
    DeviceBook &book = hub.book();
    connect(&book, &DeviceBook::deviceAdded, this,
            [this](const BookDevice &d) { seen(d, {QStringLiteral("record")}); });
    connect(&book, &DeviceBook::deviceChanged, this, &BatteryWatch::seen);
    connect(&book, &DeviceBook::deviceRemoved, this, &BatteryWatch::armPoll);
    for (const BookDevice &d : book.devices())
        seen(d, {QStringLiteral("record")});
}

int BatteryWatch::pollInterval() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("TORVANIX_BATTERY_POLL_MS", &ok);
    return ok && ms >= 50 ? ms : kPollMs;
}

bool BatteryWatch::chargingOf(const BookDevice &device) {
    return battery::hasLevel(device) && device.battery < 100 &&
           device.connection == QLatin1String("wired") &&
           device.record.value(QLatin1String("ConnectStatus")).toString() == QLatin1String("1");
}

void BatteryWatch::seen(const BookDevice &device, const QStringList &fields) {
    const bool fromRecord = DeviceBook::batteryOf(device.record) > 0;
    if (fromRecord) {
        const bool charging = chargingOf(device);
        // The book tells again with "charging", and this runs once more with the new value.
        if (charging != device.charging) {
            hub_.book().setBattery(device.identity, device.battery, charging);
            return;
        }
    } else if (fields.contains(QLatin1String("record"))) {
        readPower(device);
    }
    if (fields.contains(QLatin1String("battery")) || fields.contains(QLatin1String("charging")) ||
        fields.contains(QLatin1String("record"))) {
        const battery::Notice notice =
            policy_.reading(device.identity, device.battery, device.charging, thresholds_);
        if (notice == battery::Notice::Low)
            notifier_.notify(QStringLiteral("battery/") + device.identity.toLower(),
                             QStringLiteral("%1: battery low").arg(device.model),
                             QStringLiteral("%1 % left.").arg(device.battery),
                             QStringLiteral("battery-low"));
        else if (notice == battery::Notice::Critical)
            notifier_.notify(QStringLiteral("battery/") + device.identity.toLower(),
                             QStringLiteral("%1: battery almost empty").arg(device.model),
                             QStringLiteral("%1 % left. Charge it now.").arg(device.battery),
                             QStringLiteral("battery-caution"), Notifier::Urgency::Critical);
    }
    armPoll();
}

void BatteryWatch::armPoll() {
    bool wireless = false;
    for (const BookDevice &d : hub_.book().devices())
        wireless = wireless || (battery::isWireless(d) && battery::hasLevel(d));
    // Without a device that drains nothing is polled, so the hidden program stays asleep.
    if (!wireless)
        poll_.stop();
    else if (!poll_.isActive())
        poll_.start();
}

void BatteryWatch::poll() {
    hub_.refreshDevices();
    for (const BookDevice &d : hub_.book().devices())
        if (DeviceBook::batteryOf(d.record) <= 0)
            readPower(d);
    armPoll();
}

void BatteryWatch::readPower(const BookDevice &device) {
    const QString document =
        powerQueryDocument(device.record.value(QLatin1String("Version")).toString());
    const QString key = device.identity.toLower();
    if (document.isEmpty() || powerReads_.contains(key))
        return;
    powerReads_.insert(key);
    // Through the page's lane and translator, so it never runs inside another write.
    QPointer<BatteryWatch> self(this);
    const QString identity = device.identity;
    hub_.apply(document, QStringLiteral("battery"), [self, key, identity](const ApplyResult &r) {
        if (!self)
            return;
        self->powerReads_.remove(key);
        const int level = r.status == ApplyResult::Applied ? answeredLevel(r) : -1;
        if (level > 0)
            // The answer says nothing of a cable: not charging.
            self->hub_.book().setBattery(identity, level, false);
    });
}

} // namespace torvanix

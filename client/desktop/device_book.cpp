#include "device_book.h"

#include "translate/sync_model_templates.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace torvanix {

namespace {

QString templateText(const QString &version) {
    if (version.isEmpty() || version.contains(QLatin1Char('/')))
        return {};
    QFile file(QStringLiteral(":/drive/") + version);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The parts of a configuration document the book cares about, read with one pass.
struct DocumentFacts {
    QString rootModel;
    int countProfile = 0;
    bool light = false;
    bool lightLeft = false;
    // The zone whose mode is set ("light" or "lightLeft"): the translators write the first
    // of them only, so a document sets one zone.
    QString setsZone;
    bool reset = false; // the root carries action "reset"
    QXmlStreamAttributes usbId;
    QXmlStreamAttributes curProfile;
    bool hasCurProfile = false;
    bool switchesProfile = false; // CurProfile carries action "set"
    int profileValue = 0;
    int dpiCurrent = -1;
    QHash<int, int> dpiX; // level -> x
    bool setsDpi = false;
};

DocumentFacts readFacts(const QString &text) {
    DocumentFacts f;
    QXmlStreamReader xml(text);
    QStringList path;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (!path.isEmpty())
                path.removeLast();
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        const QXmlStreamAttributes a = xml.attributes();
        const int depth = path.size();
        if (depth == 0 && name == QLatin1String("configuration")) {
            f.rootModel = a.value(QLatin1String("model")).toString();
            f.reset = a.value(QLatin1String("action")) == QLatin1String("reset");
        }
        if (depth == 1 && name == QLatin1String("light"))
            f.light = true;
        if (depth == 1 && name == QLatin1String("lightLeft"))
            f.lightLeft = true;
        if (depth == 2 && name == QLatin1String("mode") &&
            (path.value(1) == QLatin1String("light") ||
             path.value(1) == QLatin1String("lightLeft")) &&
            a.value(QLatin1String("action")) == QLatin1String("set") &&
            (f.setsZone.isEmpty() || path.value(1) == QLatin1String("light")))
            f.setsZone = path.value(1);
        if (depth == 1 && name == QLatin1String("key")) {
            const QString keyName = a.value(QLatin1String("name")).toString();
            if (keyName == QLatin1String("UsbId"))
                f.usbId = a;
            if (keyName == QLatin1String("CurProfile")) {
                f.curProfile = a;
                f.hasCurProfile = true;
                f.profileValue = a.value(QLatin1String("value")).toInt();
                f.switchesProfile = a.value(QLatin1String("action")) == QLatin1String("set");
            }
            if (keyName == QLatin1String("CountProfile"))
                f.countProfile = a.value(QLatin1String("value")).toInt();
        }
        if (depth == 1 && name == QLatin1String("dpi")) {
            if (a.value(QLatin1String("action")) == QLatin1String("set")) {
                f.setsDpi = true;
                bool ok = false;
                const int current = a.value(QLatin1String("current")).toInt(&ok);
                if (ok)
                    f.dpiCurrent = current;
            }
        }
        if (depth == 2 && path.value(1) == QLatin1String("dpi") && name == QLatin1String("key")) {
            static const QRegularExpression level(QStringLiteral("^Dpi(\\d+)$"));
            const QRegularExpressionMatch m = level.match(a.value(QLatin1String("name")));
            if (m.hasMatch())
                f.dpiX.insert(m.captured(1).toInt(), a.value(QLatin1String("x")).toInt());
        }
        path.append(name);
    }
    return f;
}

} // namespace

DeviceBook::DeviceBook(QObject *parent) : QObject(parent) {
    qRegisterMetaType<BookDevice>();
    // The model templates live in a static library's resources.
    initModelTemplates();
}

int DeviceBook::batteryOf(const QJsonObject &record) {
    bool ok = false;
    const int level = record.value(QLatin1String("Battery")).toString().toInt(&ok);
    // Zero is what devices without a battery send; above 100 is no level at all.
    if (!ok || level <= 0 || level > 100)
        return -1;
    return level;
}

QString DeviceBook::connectionOf(const QJsonObject &record) {
    if (!record.value(QLatin1String("BluetoothVersion")).toString().isEmpty())
        return QStringLiteral("bluetooth");
    const QString status = record.value(QLatin1String("ConnectStatus")).toString();
    if (status == QLatin1String("2"))
        return QStringLiteral("wireless");
    if (!status.isEmpty())
        return QStringLiteral("wired");
    return {};
}

bool DeviceBook::writesProfileSlot(const QString &version) {
    static const QRegularExpression usbDigits(QStringLiteral("^[0-9a-fA-F]{8}$"));
    return !usbDigits.match(version.trimmed()).hasMatch();
}

QString DeviceBook::profileSwitchDocument(const QString &version, int profile) {
    if (!writesProfileSlot(version) || profile < 1 || profile > 16)
        return {};
    const DocumentFacts t = readFacts(templateText(version));
    if (!t.hasCurProfile || t.usbId.isEmpty())
        return {};
    QString out;
    QXmlStreamWriter xml(&out);
    xml.writeStartElement(QStringLiteral("configuration"));
    xml.writeStartElement(QStringLiteral("key"));
    xml.writeAttributes(t.usbId);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("key"));
    for (const QXmlStreamAttribute &a : t.curProfile) {
        const QString n = a.name().toString();
        if (n == QLatin1String("value") || n == QLatin1String("action"))
            continue;
        xml.writeAttribute(a);
    }
    xml.writeAttribute(QStringLiteral("value"), QString::number(profile));
    xml.writeAttribute(QStringLiteral("action"), QStringLiteral("set"));
    xml.writeEndElement();
    xml.writeEndElement();
    return out;
}

void DeviceBook::fillFromTemplate(BookDevice &device) {
    const QString version = device.record.value(QLatin1String("Version")).toString();
    const DocumentFacts t = readFacts(templateText(version));
    device.model = t.rootModel.isEmpty() ? version : t.rootModel;
    device.hasLighting = t.light || t.lightLeft;
    device.hasProfileSlot = writesProfileSlot(version) && t.hasCurProfile && !t.usbId.isEmpty();
    const int fromRecord = device.record.value(QLatin1String("ProfileCount")).toString().toInt();
    if (fromRecord > 0 && fromRecord <= 16)
        device.profileCount = fromRecord;
    else if (t.countProfile > 0 && t.countProfile <= 16)
        device.profileCount = t.countProfile;
    else
        device.profileCount = 1;
    // Notebooks have a left zone; their lighting is what they forget.
    notebookFlag_[device.identity.toUpper()] = t.lightLeft;
}

DeviceBook::Entry *DeviceBook::find(const QString &identity) {
    for (Entry &e : entries_)
        if (e.device.identity.compare(identity, Qt::CaseInsensitive) == 0)
            return &e;
    return nullptr;
}

const DeviceBook::Entry *DeviceBook::find(const QString &identity) const {
    return const_cast<DeviceBook *>(this)->find(identity);
}

QList<BookDevice> DeviceBook::devices() const {
    QList<BookDevice> out;
    for (const Entry &e : entries_)
        if (e.device.present())
            out.append(e.device);
    return out;
}

std::optional<BookDevice> DeviceBook::device(const QString &identity) const {
    const Entry *e = find(identity);
    if (!e || !e->device.present())
        return std::nullopt;
    return e->device;
}

std::optional<BookDevice> DeviceBook::deviceByNumber(quint32 number) const {
    for (const Entry &e : entries_)
        if (e.device.number == number && e.device.present())
            return e.device;
    return std::nullopt;
}

void DeviceBook::updateRecords(const DeviceRecordMap &records) {
    for (Entry &e : entries_) {
        if (!e.device.present())
            continue;
        bool still = false;
        for (auto it = records.cbegin(); it != records.cend(); ++it)
            if (it.key().compare(e.device.identity, Qt::CaseInsensitive) == 0)
                still = true;
        if (!still) {
            const BookDevice gone = e.device;
            e.device.record = QJsonObject();
            emit deviceRemoved(gone);
        }
    }
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        Entry *e = find(it.key());
        if (!e) {
            Entry fresh;
            fresh.device.identity = it.key();
            fresh.device.number = nextNumber_++;
            entries_.append(fresh);
            e = &entries_.last();
        }
        BookDevice &d = e->device;
        const bool arriving = !d.present();
        QStringList fields;
        if (d.record != it.value()) {
            d.record = it.value();
            fields << QStringLiteral("record");
            fillFromTemplate(d);
        }
        const QString connection = connectionOf(d.record);
        if (connection != d.connection) {
            d.connection = connection;
            fields << QStringLiteral("connection");
        }
        const int battery = batteryOf(d.record);
        if (battery != d.battery && (battery > 0 || arriving)) {
            d.battery = battery;
            fields << QStringLiteral("battery");
        }
        if (arriving)
            emit deviceAdded(d);
        else if (!fields.isEmpty())
            emit deviceChanged(d, fields);
    }
    emit recordsRead();
}

void DeviceBook::setBattery(const QString &identity, int level, bool charging) {
    Entry *e = find(identity);
    if (!e || !e->device.present())
        return;
    QStringList fields;
    if (level != e->device.battery && (level == -1 || (level > 0 && level <= 100))) {
        e->device.battery = level;
        fields << QStringLiteral("battery");
    }
    if (charging != e->device.charging) {
        e->device.charging = charging;
        fields << QStringLiteral("charging");
    }
    if (!fields.isEmpty())
        emit deviceChanged(e->device, fields);
}

void DeviceBook::noteApplied(const QString &identity, const QString &document) {
    Entry *e = find(identity);
    if (!e)
        return;
    const DocumentFacts f = readFacts(document);
    QStringList fields;
    BookDevice &d = e->device;
    if (f.switchesProfile && f.profileValue >= 1 && f.profileValue <= 16) {
        e->profileSetThisRun = true;
        if (d.profile != f.profileValue) {
            d.profile = f.profileValue;
            fields << QStringLiteral("profile");
        }
    }
    if (f.setsDpi && f.dpiCurrent >= 0) {
        const int x = f.dpiX.value(f.dpiCurrent, 0);
        if (x > 0 && x != d.dpi) {
            d.dpi = x;
            fields << QStringLiteral("dpi");
        }
    }
    // A reset brings the device back to its own defaults: nothing set before it is put back.
    if (f.reset) {
        e->zoneLighting.clear();
        e->profileSetThisRun = false;
        if (d.profile != 0) {
            d.profile = 0;
            fields << QStringLiteral("profile");
        }
    }
    // Each zone keeps its own last document: the user sets them one at a time.
    if (!f.setsZone.isEmpty() && notebookFlag_.value(d.identity.toUpper()))
        e->zoneLighting.insert(f.setsZone, document);
    if (!fields.isEmpty() && d.present())
        emit deviceChanged(d, fields);
}

QStringList DeviceBook::restoreDocuments(const QString &identity) const {
    const Entry *e = find(identity);
    if (!e)
        return {};
    QStringList out;
    const QString version = e->device.record.value(QLatin1String("Version")).toString();
    if (e->profileSetThisRun && e->device.profile > 0) {
        const QString doc = profileSwitchDocument(version, e->device.profile);
        if (!doc.isEmpty())
            out << doc;
    }
    for (const QString &zone : e->zoneLighting)
        out << zone;
    return out;
}

} // namespace torvanix

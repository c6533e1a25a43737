#include "device_catalogue.h"

#include "device_log.h"

#include <torvanix/devlib.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <atomic>

// Q_INIT_RESOURCE has to be used outside any namespace.
static void initCatalogueResource() {
    Q_INIT_RESOURCE(catalogue);
}

namespace torvanix {

static_assert(kDescriptionSize == TVX_DESCRIPTION_SIZE, "description size");

namespace {

std::atomic<int> g_flaggedDeviceSeen{0};

// ASCII field: up to the first NUL or the field's end.
QString textField(const uint8_t *field, int width) {
    int n = 0;
    while (n < width && field[n] != 0)
        ++n;
    return QString::fromLatin1(reinterpret_cast<const char *>(field), n);
}

bool isLowerHex(const QString &text, int digits) {
    if (text.size() != digits)
        return false;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

QRegularExpression compile(const QString &pattern, const QString &where, QStringList *problems) {
    QRegularExpression re(pattern);
    if (!re.isValid() && problems)
        *problems << QStringLiteral("%1: invalid pattern \"%2\"").arg(where, pattern);
    return re;
}

void note(QStringList *problems, const QString &text) {
    if (problems)
        *problems << text;
}

} // namespace

DeviceDescription parseDeviceDescription(const uint8_t *entry) {
    DeviceDescription d;
    d.bluetoothVersion = textField(entry + TVX_DESC_BLUETOOTH, 5);
    const uint8_t *firmware = entry + TVX_DESC_FIRMWARE;
    d.firmwareIdentity = textField(firmware, 14);
    d.lastVersionNum = textField(firmware + 15, 2);
    d.serialNumber = textField(entry + TVX_DESC_SERIAL, 14);
    d.battery = entry[TVX_DESC_BATTERY];
    d.connectStatus = entry[TVX_DESC_STATUS];
    // Little-endian code units at an odd offset: assembled byte by byte.
    const uint8_t *path = entry + TVX_DESC_PATH;
    QString text;
    for (int i = 0; i < TVX_DESC_PATH_UNITS; ++i) {
        const ushort unit = ushort(path[2 * i] | (path[2 * i + 1] << 8));
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    d.path = text;
    return d;
}

DeviceCatalogue parseDeviceCatalogue(const QByteArray &json, QStringList *problems) {
    DeviceCatalogue c;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        note(problems, QStringLiteral("catalogue does not parse: %1").arg(error.errorString()));
        return c;
    }
    const QJsonObject root = doc.object();

    QSet<QString> vendorProducts;
    for (const QJsonValue &v : root.value(QLatin1String("fullRecord")).toArray()) {
        const QJsonObject row = v.toObject();
        DeviceCatalogue::FullRecordRow r;
        r.vendor = row.value(QLatin1String("vendor")).toString();
        r.product = row.value(QLatin1String("product")).toString();
        r.collection = row.value(QLatin1String("collection")).toString();
        r.interface = row.value(QLatin1String("interface")).toString();
        const QString where = QStringLiteral("full-record row %1:%2").arg(r.vendor, r.product);
        if (!isLowerHex(r.vendor, 4) || !isLowerHex(r.product, 4) || !isLowerHex(r.collection, 2)) {
            note(problems, where + QStringLiteral(": malformed vendor, product or collection"));
            continue;
        }
        static const QRegularExpression twoDigits(QStringLiteral("^[0-9]{2}$"));
        if (!r.interface.isEmpty() && !twoDigits.match(r.interface).hasMatch()) {
            note(problems, where + QStringLiteral(": malformed interface"));
            continue;
        }
        // One collection per product: a second row is a duplicate or contradicts the first.
        const QString key = r.vendor + QLatin1Char(':') + r.product;
        if (vendorProducts.contains(key)) {
            note(problems, where + QStringLiteral(": listed twice"));
            continue;
        }
        vendorProducts.insert(key);
        r.pattern =
            compile(QStringLiteral("vid_%1&pid_%2.*&col%3").arg(r.vendor, r.product, r.collection),
                    where, problems);
        c.fullRecord << r;
    }

    QSet<QString> specialPatterns, specialIdentities;
    for (const QJsonValue &v : root.value(QLatin1String("special")).toArray()) {
        const QJsonObject row = v.toObject();
        DeviceCatalogue::SpecialRow r;
        r.pattern = row.value(QLatin1String("pattern")).toString();
        r.identity = row.value(QLatin1String("identity")).toString();
        const QString confirmation = row.value(QLatin1String("confirmation")).toString();
        const QString where = QStringLiteral("special row \"%1\"").arg(r.pattern);
        if (confirmation == QLatin1String("keyboardLibrary"))
            r.confirmation = DeviceCatalogue::Confirmation::KeyboardLibrary;
        else if (confirmation == QLatin1String("mouseLibrary"))
            r.confirmation = DeviceCatalogue::Confirmation::MouseLibrary;
        else if (confirmation == QLatin1String("none"))
            r.confirmation = DeviceCatalogue::Confirmation::None;
        else {
            note(problems,
                 where + QStringLiteral(": unknown confirmation \"%1\"").arg(confirmation));
            continue;
        }
        if (r.pattern.isEmpty() || r.identity.isEmpty()) {
            note(problems, where + QStringLiteral(": pattern or identity missing"));
            continue;
        }
        if (specialPatterns.contains(r.pattern) ||
            specialIdentities.contains(r.identity.toUpper())) {
            note(problems, where + QStringLiteral(": pattern or identity used twice"));
            continue;
        }
        specialPatterns.insert(r.pattern);
        specialIdentities.insert(r.identity.toUpper());
        r.re = compile(r.pattern, where, problems);
        c.special << r;
    }

    QSet<QString> auxiliaryPatterns;
    for (const QJsonValue &v : root.value(QLatin1String("auxiliary")).toArray()) {
        const QJsonObject row = v.toObject();
        DeviceCatalogue::AuxiliaryRow r;
        r.pattern = row.value(QLatin1String("pattern")).toString();
        const QString condition = row.value(QLatin1String("condition")).toString();
        const QString where = QStringLiteral("auxiliary row \"%1\"").arg(r.pattern);
        if (condition == QLatin1String("always"))
            r.condition = DeviceCatalogue::Condition::Always;
        else if (condition == QLatin1String("flaggedDeviceSeen"))
            r.condition = DeviceCatalogue::Condition::FlaggedDeviceSeen;
        else {
            note(problems, where + QStringLiteral(": unknown condition \"%1\"").arg(condition));
            continue;
        }
        if (r.pattern.isEmpty() || auxiliaryPatterns.contains(r.pattern)) {
            note(problems, where + QStringLiteral(": empty or listed twice"));
            continue;
        }
        auxiliaryPatterns.insert(r.pattern);
        r.re = compile(r.pattern, where, problems);
        c.auxiliary << r;
    }

    c.flaggedIdentity = root.value(QLatin1String("flaggedIdentity")).toString();
    if (c.flaggedIdentity.isEmpty())
        note(problems, QStringLiteral("flaggedIdentity missing"));

    for (const QJsonValue &v : root.value(QLatin1String("exclusions")).toArray()) {
        const QString text = v.toString();
        // Compared with the upper-case path, so a lower-case letter could never match.
        if (text.isEmpty() || text != text.toUpper() || c.exclusions.contains(text)) {
            note(problems, QStringLiteral("exclusion \"%1\": empty, not upper case or listed twice")
                               .arg(text));
            continue;
        }
        c.exclusions << text;
    }

    const QString generic = root.value(QLatin1String("generic")).toString();
    c.generic = compile(generic, QStringLiteral("generic rule"), problems);
    if (c.generic.isValid() && c.generic.captureCount() != 3)
        note(problems, QStringLiteral("generic rule needs three captures"));
    return c;
}

void initCatalogueResources() {
    static const bool done = [] {
        initCatalogueResource();
        return true;
    }();
    Q_UNUSED(done);
}

const DeviceCatalogue &builtInCatalogue() {
    static const DeviceCatalogue catalogue = [] {
        initCatalogueResources();
        QFile file(QStringLiteral(":/catalogue/devices.json"));
        if (!file.open(QIODevice::ReadOnly)) {
            qCWarning(lcDevices) << "device catalogue resource missing";
            return DeviceCatalogue{};
        }
        QStringList problems;
        DeviceCatalogue c = parseDeviceCatalogue(file.readAll(), &problems);
        for (const QString &p : problems)
            qCWarning(lcDevices).noquote() << "device catalogue:" << p;
        return c;
    }();
    return catalogue;
}

int flaggedDeviceSeen() {
    return g_flaggedDeviceSeen.load();
}

void setFlaggedDeviceSeen(int value) {
    g_flaggedDeviceSeen.store(value);
}

namespace {

QJsonObject fullRecord(const DeviceDescription &d) {
    // The Bluetooth text is shown only when it is a real version number.
    bool ok = false;
    const double bluetooth = d.bluetoothVersion.toDouble(&ok);
    QJsonObject record;
    record.insert(QStringLiteral("BluetoothVersion"),
                  ok && bluetooth != 0.0 ? d.bluetoothVersion : QString());
    record.insert(QStringLiteral("DevicePath"), d.path);
    record.insert(QStringLiteral("Sn"), d.serialNumber);
    record.insert(QStringLiteral("Version"), d.firmwareIdentity);
    record.insert(QStringLiteral("ProfileCount"), QStringLiteral("4"));
    record.insert(QStringLiteral("Battery"), QString::number(d.battery));
    record.insert(QStringLiteral("ConnectStatus"), QString::number(d.connectStatus));
    record.insert(QStringLiteral("LastVersionNum"), d.lastVersionNum);
    return record;
}

bool confirmed(DeviceCatalogue::Confirmation confirmation, const SpecialInterfaceProbes &probes) {
    switch (confirmation) {
    case DeviceCatalogue::Confirmation::None:
        return true;
    case DeviceCatalogue::Confirmation::KeyboardLibrary:
        return probes.keyboard && probes.keyboard();
    case DeviceCatalogue::Confirmation::MouseLibrary:
        return probes.mouse && probes.mouse();
    }
    return false;
}

} // namespace

std::optional<ClassifiedDevice> classifyDeviceDescription(const DeviceDescription &description,
                                                          const SpecialInterfaceProbes &probes,
                                                          const DeviceCatalogue &catalogue) {
    const QString &path = description.path;

    // Special interfaces first, in catalogue order; an unconfirmed one falls through.
    for (const auto &row : catalogue.special) {
        if (row.re.match(path).hasMatch() && confirmed(row.confirmation, probes)) {
            QJsonObject record;
            record.insert(QStringLiteral("DevicePath"), path);
            record.insert(QStringLiteral("Version"), row.identity);
            return ClassifiedDevice{row.identity, record};
        }
    }

    for (const auto &row : catalogue.fullRecord) {
        if (row.pattern.match(path).hasMatch()) {
            ClassifiedDevice device{description.firmwareIdentity, fullRecord(description)};
            if (!catalogue.flaggedIdentity.isEmpty() &&
                description.firmwareIdentity == catalogue.flaggedIdentity)
                setFlaggedDeviceSeen(1);
            return device;
        }
    }

    for (const auto &row : catalogue.auxiliary) {
        const bool applies =
            row.condition == DeviceCatalogue::Condition::Always || flaggedDeviceSeen() == 1;
        if (applies && row.re.match(path).hasMatch())
            return std::nullopt;
    }

    const QString upper = path.toUpper();
    for (const QString &excluded : catalogue.exclusions) {
        if (upper.contains(excluded))
            return std::nullopt;
    }
    if (!catalogue.generic.isValid() || catalogue.generic.captureCount() < 3)
        return std::nullopt;
    // Each search starts where the previous match ended; the last match decides.
    QString id, collection;
    bool found = false;
    auto matches = catalogue.generic.globalMatch(path);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        id = (m.captured(1) + m.captured(2)).toUpper();
        collection = m.captured(3);
        found = true;
    }
    if (!found || collection.isEmpty())
        return std::nullopt;
    QJsonObject record;
    record.insert(QStringLiteral("Version"), id);
    return ClassifiedDevice{id, record};
}

std::optional<ClassifiedDevice> classifyDeviceDescription(const DeviceDescription &description,
                                                          const SpecialInterfaceProbes &probes) {
    return classifyDeviceDescription(description, probes, builtInCatalogue());
}

} // namespace torvanix

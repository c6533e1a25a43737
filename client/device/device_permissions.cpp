#include "device_permissions.h"

#include "device_log.h"
#include "update_firmware.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace torvanix {

namespace {

const QString kPermission = QStringLiteral("Permission");
const QString kPermissionRule = QStringLiteral("PermissionRule");
const QString kRulesFileName = QStringLiteral("70-torvanix.rules");

// (vendor, product) from a text holding vid_XXXX&pid_YYYY, any case.
bool idsIn(const QString &text, quint16 *vendor, quint16 *product) {
    static const QRegularExpression re(QStringLiteral("vid_([0-9a-f]{4})&pid_([0-9a-f]{4})"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    *vendor = quint16(m.captured(1).toUInt(nullptr, 16));
    *product = quint16(m.captured(2).toUInt(nullptr, 16));
    return true;
}

QString idDigits(quint16 vendor, quint16 product) {
    return QStringLiteral("%1%2")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'))
        .toUpper();
}

bool deniedIds(const QVector<HidrawNode> &nodes, quint16 vendor, quint16 product) {
    return std::any_of(nodes.begin(), nodes.end(), [&](const HidrawNode &n) {
        return n.denied && n.vendor == vendor && n.product == product;
    });
}

// EACCES and EPERM are what a node without the user's access gives; anything else (the node
// went away, the device is busy) is no question of permission.
bool openIsDenied(const QString &devnode) {
    const QByteArray path = QFile::encodeName(devnode);
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

QMutex &logMutex() {
    static QMutex mutex;
    return mutex;
}

std::function<void(const QString &)> &logSink() {
    static std::function<void(const QString &)> sink;
    return sink;
}

} // namespace

std::set<std::pair<quint16, quint16>> supportedUsbIds() {
    const DeviceCatalogue &catalogue = builtInCatalogue();
    std::set<std::pair<quint16, quint16>> ids;
    for (const auto &row : catalogue.fullRecord)
        ids.emplace(quint16(row.vendor.toUInt(nullptr, 16)),
                    quint16(row.product.toUInt(nullptr, 16)));
    quint16 vendor = 0, product = 0;
    for (const auto &row : catalogue.special)
        if (idsIn(row.pattern, &vendor, &product))
            ids.emplace(vendor, product);
    if (idsIn(QString::fromLatin1(update_firmware::BootLoaderId), &vendor, &product))
        ids.emplace(vendor, product);
    return ids;
}

std::map<std::pair<quint16, quint16>, std::set<int>> supportedInterfaces() {
    const DeviceCatalogue &catalogue = builtInCatalogue();
    std::map<std::pair<quint16, quint16>, std::set<int>> used;
    for (const auto &row : catalogue.fullRecord)
        used[{quint16(row.vendor.toUInt(nullptr, 16)), quint16(row.product.toUInt(nullptr, 16))}]
            .insert(row.interface.isEmpty() ? kAnyInterface : row.interface.toInt());
    static const QRegularExpression mi(QStringLiteral("&mi_([0-9]{2})"));
    quint16 vendor = 0, product = 0;
    for (const auto &row : catalogue.special) {
        if (!idsIn(row.pattern, &vendor, &product))
            continue;
        const QRegularExpressionMatch m = mi.match(row.pattern);
        used[{vendor, product}].insert(m.hasMatch() ? m.captured(1).toInt() : kAnyInterface);
    }
    if (idsIn(QString::fromLatin1(update_firmware::BootLoaderId), &vendor, &product))
        used[{vendor, product}].insert(kAnyInterface);
    return used;
}

bool usesInterface(quint16 vendor, quint16 product, int interfaceNumber) {
    static const auto used = supportedInterfaces();
    const auto it = used.find({vendor, product});
    if (it == used.end())
        return false;
    // A node without interfaces is the device's only one: the one its rows name.
    return interfaceNumber < 0 || it->second.count(kAnyInterface) ||
           it->second.count(interfaceNumber);
}

int interfaceFromPhysicalPath(const QString &phys) {
    static const QRegularExpression input(QStringLiteral("/input([0-9]+)$"));
    const QRegularExpressionMatch m = input.match(phys);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QVector<HidrawNode> scanHidrawNodes(const QString &classDir, const QString &devDir) {
    QVector<HidrawNode> nodes;
    const QDir dir(classDir);
    if (!dir.exists())
        return nodes;
    QStringList names = dir.entryList({QStringLiteral("hidraw*")},
                                      QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    // hidraw10 after hidraw9.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    static const QRegularExpression hidId(
        QStringLiteral("^HID_ID=[0-9A-Fa-f]+:([0-9A-Fa-f]+):([0-9A-Fa-f]+)$"),
        QRegularExpression::MultilineOption);
    for (const QString &name : names) {
        QFile uevent(dir.filePath(name + QStringLiteral("/device/uevent")));
        if (!uevent.open(QIODevice::ReadOnly))
            continue;
        static const QRegularExpression hidPhys(QStringLiteral("^HID_PHYS=(.*)$"),
                                                QRegularExpression::MultilineOption);
        const QString text = QString::fromLatin1(uevent.read(4096));
        const QRegularExpressionMatch m = hidId.match(text);
        if (!m.hasMatch())
            continue;
        const int interfaceNumber = interfaceFromPhysicalPath(hidPhys.match(text).captured(1));
        bool vendorOk = false, productOk = false;
        const uint vendor = m.captured(1).toUInt(&vendorOk, 16);
        const uint product = m.captured(2).toUInt(&productOk, 16);
        if (!vendorOk || !productOk || vendor > 0xFFFF || product > 0xFFFF ||
            !usesInterface(quint16(vendor), quint16(product), interfaceNumber))
            continue;
        HidrawNode node;
        node.devnode = QDir(devDir).filePath(name);
        node.vendor = quint16(vendor);
        node.product = quint16(product);
        if (!QFileInfo::exists(node.devnode))
            continue;
        node.denied = openIsDenied(node.devnode);
        nodes.push_back(node);
    }
    return nodes;
}

QString udevRulesFile() {
    // The installed program lives in <prefix>/lib/torvanix and its package puts the rules in
    // <prefix>/lib/udev/rules.d; udev reads that folder only for the prefix /usr (or /).
    if (QCoreApplication::instance()) {
        const QString packaged =
            QDir::cleanPath(QCoreApplication::applicationDirPath() +
                            QStringLiteral("/../udev/rules.d/") + kRulesFileName);
        const QString folder = QFileInfo(packaged).absolutePath();
        if ((folder == QLatin1String("/usr/lib/udev/rules.d") ||
             folder == QLatin1String("/lib/udev/rules.d")) &&
            QFileInfo::exists(packaged))
            return packaged;
    }
    return QStringLiteral("/etc/udev/rules.d/") + kRulesFileName;
}

bool markDeniedDevice(ClassifiedDevice &device, const QVector<HidrawNode> &nodes,
                      const QString &rulesFile) {
    quint16 vendor = 0, product = 0;
    if (device.record.contains(QLatin1String("DevicePath"))) {
        if (!idsIn(device.record.value(QLatin1String("DevicePath")).toString(), &vendor,
                   &product) ||
            !deniedIds(nodes, vendor, product))
            return false;
    } else {
        // A generic record has no path; its identity is the vendor and product digits, which
        // the unidentified full record of the same device may take as well: both must say it.
        const auto denied = std::find_if(nodes.begin(), nodes.end(), [&](const HidrawNode &n) {
            return n.denied &&
                   device.identity.compare(idDigits(n.vendor, n.product), Qt::CaseInsensitive) == 0;
        });
        if (denied == nodes.end())
            return false;
    }
    device.record.insert(kPermission, QStringLiteral("denied"));
    device.record.insert(kPermissionRule, rulesFile);
    if (device.identity.isEmpty()) {
        device.identity = idDigits(vendor, product);
        device.record.insert(QStringLiteral("Version"), device.identity);
    }
    return true;
}

void addUnlistedDeniedDevices(DeviceRecordMap &records, const QVector<HidrawNode> &nodes,
                              const QString &rulesFile) {
    for (const HidrawNode &node : nodes) {
        if (!node.denied)
            continue;
        bool named = false;
        for (const QJsonObject &record : records) {
            quint16 vendor = 0, product = 0;
            if (idsIn(record.value(QLatin1String("DevicePath")).toString(), &vendor, &product) &&
                vendor == node.vendor && product == node.product) {
                named = true;
                break;
            }
        }
        const QString id = idDigits(node.vendor, node.product);
        if (named || records.contains(id))
            continue;
        records.insert(id, QJsonObject{{QStringLiteral("Version"), id},
                                       {kPermission, QStringLiteral("denied")},
                                       {kPermissionRule, rulesFile}});
    }
}

QString permissionLogLine(const HidrawNode &node, const QString &rulesFile) {
    const QString device = QStringLiteral("no permission to open %1 (device %2:%3); ")
                               .arg(node.devnode)
                               .arg(node.vendor, 4, 16, QLatin1Char('0'))
                               .arg(node.product, 4, 16, QLatin1Char('0'));
    if (QFileInfo::exists(rulesFile))
        return device + QStringLiteral("the udev rules %1 are installed: plug the device in "
                                       "again, and use the program from the local seat")
                            .arg(rulesFile);
    return device + QStringLiteral("install the udev rules %1 (torvanix-ctl udev-rules prints "
                                   "them), then plug the device in again")
                        .arg(rulesFile);
}

void setPermissionLog(std::function<void(const QString &)> sink) {
    QMutexLocker locker(&logMutex());
    logSink() = std::move(sink);
}

void logPermissionProblem(const QString &line) {
    QMutexLocker locker(&logMutex());
    if (logSink())
        logSink()(line);
    else
        qCWarning(lcDevices).noquote() << line;
}

} // namespace torvanix

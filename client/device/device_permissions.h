#pragma once

#include "device_catalogue.h"
#include "device_registry.h"

#include <QString>
#include <QVector>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace torvanix {

// (vendor, product) of every device the catalogue supports, and of the boot loader the
// firmware update talks to: the devices the udev rules open to the logged-in user.
std::set<std::pair<quint16, quint16>> supportedUsbIds();

// The USB interfaces of each supported device that the program opens: the interface named by
// its catalogue rows (a keyboard's typing interface is none of them, and stays closed to
// other programs), or kAnyInterface where no row names one (the boot loader).
constexpr int kAnyInterface = -1;
std::map<std::pair<quint16, quint16>, std::set<int>> supportedInterfaces();

// Whether the program opens the hidraw node of this device's interface `interfaceNumber`
// (-1: a node without interfaces, such as a Bluetooth device's only one).
bool usesInterface(quint16 vendor, quint16 product, int interfaceNumber);

// The interface number at the end of a HID physical path ("usb-0000:00:14.0-1/input1" -> 1),
// -1 when it has none.
int interfaceFromPhysicalPath(const QString &phys);

// One hidraw node of a supported device.
struct HidrawNode {
    QString devnode; // /dev/hidraw3
    quint16 vendor = 0;
    quint16 product = 0;
    bool denied = false; // this process may not open it for reading and writing
};

// The hidraw nodes of supported devices' used interfaces, in node order: reads
// <classDir>/<node>/device/uevent (HID_ID=bus:vendor:product, HID_PHYS) and tries to open
// <devDir>/<node>. Opening a hidraw node sends nothing to the device. Nodes that vanish while
// scanning are left out.
QVector<HidrawNode> scanHidrawNodes(const QString &classDir = QStringLiteral("/sys/class/hidraw"),
                                    const QString &devDir = QStringLiteral("/dev"));

// The udev rules file that gives the logged-in user the supported devices: the one the
// package installed beside the program's folder when it is there and udev reads it
// (/usr/lib/udev/rules.d), else the place an administrator puts it (/etc/udev/rules.d).
QString udevRulesFile();

// When `device`'s DevicePath (or, for a record without one, its identity) names the vendor
// and product of a denied node, its record gets
// "Permission": "denied" and "PermissionRule": `rulesFile`; a device the library listed
// without an identity (it could not ask the device) takes the vendor and product digits as
// identity and Version, so that such devices neither collapse into one empty identity nor
// vanish from the page. True when marked.
bool markDeniedDevice(ClassifiedDevice &device, const QVector<HidrawNode> &nodes,
                      const QString &rulesFile);

// Adds a record {Version, Permission, PermissionRule} under the vendor and product digits for
// every denied device that no record names (the keyboard and mouse libraries could not
// confirm it, so it was not listed at all).
void addUnlistedDeniedDevices(DeviceRecordMap &records, const QVector<HidrawNode> &nodes,
                              const QString &rulesFile);

// The line the log gets for one denied node.
QString permissionLogLine(const HidrawNode &node, const QString &rulesFile);

// Where those lines go: the program's log once the application sets it, the debug output
// before (and in the command-line tool).
void setPermissionLog(std::function<void(const QString &)> sink);
void logPermissionProblem(const QString &line);

} // namespace torvanix

// Supported devices this process may not open: found through a stand-in for sysfs, marked in
// the device records, and never confused with devices that are fine.
#include "device/device_functions.h"
#include "device/device_permissions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace torvanix;

namespace {

void writeFile(const QString &path, const QByteArray &text, QFile::Permissions mode) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    ASSERT_TRUE(file.setPermissions(mode));
}

// A class folder and a dev folder: hidraw0 a supported keyboard whose node nobody but its
// owner (root) may open, hidraw1 a device outside the catalogue, hidraw2 a supported mouse
// anybody may open, hidraw3 the keyboard's typing interface, closed as it should be.
struct FakeMachine {
    FakeMachine() : dir(QDir::tempPath() + "/torvanix-nodes-XXXXXX") {
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                        QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        const QFile::Permissions readable =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        writeFile(classDir() + "/hidraw0/device/uevent",
                  "DRIVER=hid-generic\nHID_ID=0003:0000258A:00000013\nHID_NAME=kb\n"
                  "HID_PHYS=usb-0000:00:14.0-1/input1\n",
                  readable);
        writeFile(classDir() + "/hidraw3/device/uevent",
                  "HID_ID=0003:0000258A:00000013\nHID_PHYS=usb-0000:00:14.0-1/input0\n", readable);
        writeFile(devDir() + "/hidraw3", {}, QFile::ReadOwner | QFile::WriteOwner);
        writeFile(classDir() + "/hidraw1/device/uevent", "HID_ID=0003:0000046D:0000C077\n",
                  readable);
        writeFile(classDir() + "/hidraw2/device/uevent", "HID_ID=0003:0000258A:0000002E\n",
                  readable);
        writeFile(devDir() + "/hidraw0", {}, QFile::ReadOwner | QFile::WriteOwner);
        writeFile(devDir() + "/hidraw1", {}, QFile::ReadOwner | QFile::WriteOwner);
        writeFile(devDir() + "/hidraw2", {}, open);
        // The unprivileged scan below must get through the folders.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    }
    QString classDir() const { return dir.path() + "/class"; }
    QString devDir() const { return dir.path() + "/dev"; }
    QTemporaryDir dir;
};

HidrawNode node(const char *devnode, quint16 vendor, quint16 product, bool denied) {
    HidrawNode n;
    n.devnode = devnode;
    n.vendor = vendor;
    n.product = product;
    n.denied = denied;
    return n;
}

void putEntry(uint8_t *list, int index, const char *path, const char *firmware) {
    uint8_t *d = list + 2 + size_t(index) * TVX_DESCRIPTION_SIZE;
    std::memcpy(d + TVX_DESC_FIRMWARE, firmware, std::strlen(firmware));
    for (size_t i = 0; path[i]; ++i)
        d[TVX_DESC_PATH + 2 * i] = uint8_t(path[i]);
    list[0] = uint8_t(index + 1);
}

const char *kKeyboardPath = "\\\\?\\hid#vid_258a&pid_0013&mi_01&col02#7&1#{4d1e55b2}";
const char *kOtherKeyboardPath = "\\\\?\\hid#vid_1956&pid_3010&mi_01&col02#7&2#{4d1e55b2}";

} // namespace

TEST(DevicePermissions, ScanFindsSupportedNodesAndWhichAreDenied) {
    FakeMachine machine;
    ASSERT_TRUE(machine.dir.isValid());
    // Root opens any file, so the scan runs in a child that gave its privileges up.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                _exit(90);
            const QVector<HidrawNode> nodes = scanHidrawNodes(machine.classDir(), machine.devDir());
            int code = 0;
            if (nodes.size() == 2 && nodes[0].devnode == machine.devDir() + "/hidraw0" &&
                nodes[0].vendor == 0x258a && nodes[0].product == 0x0013 && nodes[0].denied &&
                nodes[1].devnode == machine.devDir() + "/hidraw2" && !nodes[1].denied)
                code = 7;
            _exit(code);
        },
        ::testing::ExitedWithCode(7), "");

    // A machine without hidraw at all has nothing to say.
    EXPECT_TRUE(scanHidrawNodes(machine.dir.path() + "/none", machine.devDir()).isEmpty());
}

// The udev rules and the scan open the interfaces the catalogue names, not the typing one.
TEST(DevicePermissions, OnlyTheInterfacesTheCatalogueNamesAreUsed) {
    EXPECT_TRUE(usesInterface(0x258a, 0x0013, 1));
    EXPECT_FALSE(usesInterface(0x258a, 0x0013, 0));
    EXPECT_TRUE(usesInterface(0x258a, 0x0013, -1)); // a node of a bus without interfaces
    EXPECT_TRUE(usesInterface(0x0c45, 0x8075, 0));  // named by its special row
    EXPECT_FALSE(usesInterface(0x0c45, 0x8075, 1));
    EXPECT_TRUE(usesInterface(0x258a, 0xff12, 3)); // the boot loader has no typing interface
    EXPECT_FALSE(usesInterface(0x1234, 0x5678, -1));
    EXPECT_EQ(interfaceFromPhysicalPath("usb-0000:00:14.0-1/input10"), 10);
    EXPECT_EQ(interfaceFromPhysicalPath("usb-0000:00:14.0-1/input1x"), -1);
    EXPECT_EQ(interfaceFromPhysicalPath("aa:bb:cc:dd:ee:ff"), -1);
}

TEST(DevicePermissions, RecordsSayWhatCannotBeOpened) {
    const QVector<HidrawNode> nodes{
        node("/dev/hidraw0", 0x258a, 0x0013, true), node("/dev/hidraw1", 0x1956, 0x3010, true),
        node("/dev/hidraw2", 0x258a, 0x002e, true), node("/dev/hidraw3", 0x248a, 0x2002, false)};
    // The library could not ask two keyboards: both used to land under the empty identity,
    // one hiding the other, and the page drops a record without Version.
    std::vector<uint8_t> list(TVX_LIST_BLOCK_SIZE, 0);
    putEntry(list.data(), 0, kKeyboardPath, "");
    putEntry(list.data(), 1, kOtherKeyboardPath, "");
    putEntry(list.data(), 2, "\\\\?\\hid#vid_248a&pid_2002&mi_01&col02#7&3#{4d1e55b2}",
             "WSU-DFO-V1.1.0");
    // The same keyboard's other collection, listed by the generic rule after it (no path).
    putEntry(list.data(), 3, "\\\\?\\hid#vid_1956&pid_3010&mi_00&col01#7&2#{4d1e55b2}", "");
    UsbInterfaceTable table;
    table.dcDevices = [&](uint8_t *out, const uint16_t *) {
        std::memcpy(out, list.data(), list.size());
        return int(list[0]);
    };
    DeviceFunctions devices(table, nullptr, nullptr);
    devices.setNodeScanner([&] { return nodes; });
    const DeviceRecordMap found = devices.enumerateDevices();

    EXPECT_EQ(found.keys(), (QStringList{"19563010", "258A0013", "258A002E", "WSU-DFO-V1.1.0"}));
    const QJsonObject keyboard = found.value("258A0013");
    EXPECT_EQ(keyboard.value("Version").toString(), "258A0013");
    EXPECT_EQ(keyboard.value("DevicePath").toString(), QString::fromLatin1(kKeyboardPath));
    EXPECT_EQ(keyboard.value("Permission").toString(), "denied");
    EXPECT_EQ(keyboard.value("PermissionRule").toString(), udevRulesFile());
    EXPECT_EQ(keyboard.value("ProfileCount").toString(), "4") << "the record's fields stay";
    EXPECT_EQ(found.value("19563010").value("Permission").toString(), "denied");
    // The mouse was not listed at all (its library could not confirm it): a record of its own.
    EXPECT_EQ(found.value("258A002E"), (QJsonObject{{"Version", "258A002E"},
                                                    {"Permission", "denied"},
                                                    {"PermissionRule", udevRulesFile()}}));
    // A device that opens keeps exactly its record.
    EXPECT_FALSE(found.value("WSU-DFO-V1.1.0").contains("Permission"));
    EXPECT_EQ(found.value("WSU-DFO-V1.1.0").size(), 8);

    // Nothing denied: the list is what it always was, the empty identity included.
    devices.setNodeScanner(
        [] { return QVector<HidrawNode>{node("/dev/hidraw0", 0x258a, 0x0013, false)}; });
    const DeviceRecordMap fine = devices.enumerateDevices();
    EXPECT_EQ(fine.keys(), (QStringList{"", "19563010", "WSU-DFO-V1.1.0"}));
    EXPECT_FALSE(fine.value("19563010").contains("Permission"));
    EXPECT_FALSE(fine.value("").contains("Permission"));
}

TEST(DevicePermissions, LogLineNamesTheRulesFile) {
    const HidrawNode denied = node("/dev/hidraw4", 0x258a, 0x0013, true);
    const QString line = permissionLogLine(denied, "/etc/udev/rules.d/70-torvanix.rules");
    EXPECT_TRUE(line.contains("/dev/hidraw4 (device 258a:0013)")) << line.toStdString();
    EXPECT_TRUE(line.contains("install the udev rules /etc/udev/rules.d/70-torvanix.rules"))
        << line.toStdString();
}

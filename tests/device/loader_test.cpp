#include "device/device_functions.h"
#include "device/library_loader.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {
struct ScopedDevicesDirectory {
    explicit ScopedDevicesDirectory(const QString &dir) { setDevicesDirectory(dir); }
    ~ScopedDevicesDirectory() { setDevicesDirectory(QString()); }
};
} // namespace

TEST(LibraryLoading, FileNamesInTheDevicesDirectory) {
    EXPECT_EQ(devicesDirectory(), QCoreApplication::applicationDirPath());
    ScopedDevicesDirectory dir("/opt/somewhere");
    EXPECT_EQ(deviceLibraryFile("UsbInterface"), "/opt/somewhere/libUsbInterface.so");
}

TEST(LibraryLoading, MissingEntriesFailWithoutCrashing) {
    ScopedDevicesDirectory dir(QStringLiteral(PARTIAL_DEVICES_DIR));
    DeviceFunctions devices;
    ASSERT_TRUE(devices.libraryLoaded());
    EXPECT_TRUE(devices.usb().dcDevices);
    EXPECT_FALSE(devices.usb().dcReadProperty);

    const DeviceRecordMap found = devices.enumerateDevices();
    EXPECT_EQ(found.keys(), QStringList{"12345678"});

    DeviceRecordMap published;
    published.insert("ABC-DEF-V1.0.0", QJsonObject{{"DevicePath", "p"}});
    PublishedDevices::instance().publish(published);
    EXPECT_TRUE(devices.writeProperty("ABC-DEF-V1.0.0", "1", "ab,cd", "2"));
    EXPECT_FALSE(devices.writeProperty("ABC-DEF-V1.0.0", "1", "ab,ce", "2"));
    EXPECT_FALSE(devices.writePacket("ABC-DEF-V1.0.0", "1", "ab,cd", "2"));
    EXPECT_FALSE(devices.writeSingleValue("ABC-DEF-V1.0.0", "1", "ab", "2"));
    EXPECT_EQ(devices.readProperty("ABC-DEF-V1.0.0", 1, 1), "0x00");
    EXPECT_FALSE(devices.resetDevice("ABC-DEF-V1.0.0"));
    PublishedDevices::instance().publish({});

    // The keyboard library lacks an entry and is not used; the mouse library lacks only its
    // configuration entry.
    EXPECT_FALSE(devices.keyboard().probeDevice());
    EXPECT_FALSE(devices.keyboard().setKey("KEYBOARD", 1, "0,17,4"));
    EXPECT_TRUE(devices.mouse().probeDevice());
    EXPECT_TRUE(devices.mouse().setKey("MACRO", 0, "1"));
    EXPECT_FALSE(devices.mouse().setLightValue(1, 2));
}

TEST(LibraryLoading, AbsentLibrariesMakeTheFamiliesAbsent) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    ScopedDevicesDirectory dir(empty.path());
    DeviceFunctions devices;
    EXPECT_FALSE(devices.libraryLoaded());
    EXPECT_TRUE(devices.enumerateDevices().isEmpty());
    EXPECT_FALSE(devices.keyboard().probeDevice());
    EXPECT_FALSE(devices.mouse().probeDevice());
    EXPECT_EQ(devices.requestPacket("ANY", 1, 4), "");
}

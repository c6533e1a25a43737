#include "device/device_functions.h"
#include "device/library_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

TEST(LibraryLoading, WhichFolderTheLibrariesComeFrom) {
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    // The build tree: the program's own folder (the simulator beside it).
    DevicesChoice choice = chooseDevicesDirectory({}, {}, program.path());
    EXPECT_EQ(choice.directory, program.path());
    EXPECT_EQ(choice.source, DevicesSource::ProgramFolder);

    // An empty hidraw folder is no installed layout; one with the USB library is.
    const QString hardware = program.path() + "/hidraw";
    ASSERT_TRUE(QDir().mkpath(hardware));
    EXPECT_EQ(chooseDevicesDirectory({}, {}, program.path()).source, DevicesSource::ProgramFolder);
    QFile library(hardware + "/libUsbInterface.so");
    ASSERT_TRUE(library.open(QIODevice::WriteOnly));
    library.close();
    choice = chooseDevicesDirectory({}, {}, program.path());
    EXPECT_EQ(choice.directory, hardware);
    EXPECT_EQ(choice.source, DevicesSource::Installed);
    EXPECT_EQ(describeDevicesChoice(choice), hardware + " (installed program: the real devices)");

    // The variable beats the layout, the option beats both.
    EXPECT_EQ(chooseDevicesDirectory({}, "/env", program.path()).directory, "/env");
    choice = chooseDevicesDirectory("/opt", "/env", program.path());
    EXPECT_EQ(choice.directory, "/opt");
    EXPECT_EQ(choice.source, DevicesSource::Option);
}

namespace {
// argv as main gets it: argc entries and a final null.
struct Args {
    explicit Args(std::vector<std::string> list) : text(std::move(list)) {
        for (auto &t : text)
            ptrs.push_back(t.data());
        ptrs.push_back(nullptr);
        argc = int(text.size());
    }
    std::vector<std::string> rest() const { return {ptrs.begin(), ptrs.begin() + argc}; }
    std::vector<std::string> text;
    std::vector<char *> ptrs;
    int argc = 0;
};
} // namespace

TEST(LibraryLoading, DevicesOptionOfTheProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();

    Args separate({"torvanix", "--lang=zh", "--devices", folder, "--x"});
    DevicesOption option = takeDevicesOption(separate.argc, separate.ptrs.data());
    EXPECT_TRUE(option.given);
    EXPECT_TRUE(option.error.isEmpty());
    EXPECT_EQ(option.directory.toStdString(), folder);
    EXPECT_EQ(separate.rest(), (std::vector<std::string>{"torvanix", "--lang=zh", "--x"}));
    EXPECT_EQ(separate.ptrs[size_t(separate.argc)], nullptr);

    Args joined({"torvanix", "--devices=" + folder});
    option = takeDevicesOption(joined.argc, joined.ptrs.data());
    EXPECT_EQ(option.directory.toStdString(), folder);
    EXPECT_EQ(joined.argc, 1);

    // Not ours, missing value, no folder.
    Args other({"torvanix", "--devicesx", "a"});
    EXPECT_FALSE(takeDevicesOption(other.argc, other.ptrs.data()).given);
    EXPECT_EQ(other.argc, 3);
    Args missing({"torvanix", "--devices"});
    EXPECT_FALSE(takeDevicesOption(missing.argc, missing.ptrs.data()).error.isEmpty());
    Args noFolder({"torvanix", "--devices", folder + "/nothing"});
    EXPECT_FALSE(takeDevicesOption(noFolder.argc, noFolder.ptrs.data()).error.isEmpty());
    Args empty({"torvanix", "--devices="});
    EXPECT_FALSE(takeDevicesOption(empty.argc, empty.ptrs.data()).error.isEmpty());
}

// torvanix-ctl list: enumerates the devices as GetDevicesList does, publishes the result and
// prints the JSON array the page would receive.
#include "ctl_command.h"

#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/library_loader.h"

#include <QFileInfo>

namespace {

int runList(const torvanix::ctl::Options &options, const QStringList &args,
            torvanix::ctl::Streams &io) {
    if (!args.isEmpty()) {
        io.err << "torvanix-ctl: list takes no arguments\n";
        return 2;
    }
    if (!options.devicesDir.isEmpty()) {
        if (!QFileInfo(options.devicesDir).isDir()) {
            io.err << "torvanix-ctl: --devices " << options.devicesDir << " is not a folder\n";
            return 2;
        }
        torvanix::setDevicesDirectory(options.devicesDir);
    }
    torvanix::DeviceFunctions devices;
    if (!devices.libraryLoaded())
        io.err << "torvanix-ctl: no USB device access library in " << torvanix::devicesDirectory()
               << "; listing nothing\n";
    const torvanix::DeviceRecordMap records = devices.enumerateDevices();
    torvanix::PublishedDevices::instance().publish(records);
    io.out << QString::fromUtf8(torvanix::deviceListJson(records)) << "\n";
    return 0;
}

const torvanix::ctl::Registration reg("list", "list", runList);

} // namespace

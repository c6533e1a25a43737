// torvanix-ctl list: enumerates the devices as GetDevicesList does, publishes the result and
// prints the JSON array the page would receive.
#include "ctl_support.h"

#include "device/device_functions.h"

namespace {

int runList(const torvanix::ctl::Options &options, const QStringList &args,
            torvanix::ctl::Streams &io) {
    if (!args.isEmpty()) {
        io.err << "torvanix-ctl: list takes no arguments\n";
        return 2;
    }
    if (!torvanix::ctl::applyDevicesDirectory(options, io))
        return 2;
    torvanix::DeviceFunctions devices;
    const torvanix::DeviceRecordMap records = torvanix::ctl::listAndPublish(devices, io);
    io.out << QString::fromUtf8(torvanix::deviceListJson(records)) << "\n";
    return 0;
}

const torvanix::ctl::Registration reg("list", "list", runList);

} // namespace

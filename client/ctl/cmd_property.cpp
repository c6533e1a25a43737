// torvanix-ctl read-property / write-property: one property register of a listed device,
// through the same device operations the translators use.
#include "ctl_support.h"

#include "device/command_bytes.h"
#include "device/device_functions.h"
#include "device/device_registry.h"
#include <memory>

namespace {

using torvanix::ctl::Options;
using torvanix::ctl::Streams;

bool readNumber(const QString &text, const char *what, int low, int high, int *value, Streams &io) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok) {
        io.err << "torvanix-ctl: " << what << " must be a decimal number, not \"" << text << "\"\n";
        return false;
    }
    if (v < low || v > high) {
        io.err << "torvanix-ctl: " << what << " " << v << " is out of range " << low << ".." << high
               << "\n";
        return false;
    }
    *value = v;
    return true;
}

// Enumerates and publishes as GetDevicesList does, then checks that `identity` is listed.
// Returns 0 when it is, otherwise the exit code.
int prepare(const Options &options, const QString &identity,
            std::unique_ptr<torvanix::DeviceFunctions> &devices, Streams &io) {
    if (!torvanix::ctl::applyDevicesDirectory(options, io))
        return 2;
    devices = std::make_unique<torvanix::DeviceFunctions>();
    torvanix::ctl::listAndPublish(*devices, io);
    if (!torvanix::PublishedDevices::instance().contains(identity)) {
        io.err << "torvanix-ctl: no listed device with identity " << identity << "\n";
        return 1;
    }
    return 0;
}

// The arguments both commands share: the identity, the register address and the count
// (at position countAt, at most maxCount). False (after saying why) on any bad argument.
bool readRegisterArguments(const QStringList &args, int expected, const char *usage, int countAt,
                           int maxCount, int *address, int *count, Streams &io) {
    if (args.size() != expected) {
        io.err << "usage: torvanix-ctl " << usage << "\n";
        return false;
    }
    if (args.at(0).isEmpty()) {
        io.err << "torvanix-ctl: ID must not be empty\n";
        return false;
    }
    return readNumber(args.at(1), "ADDRESS", 0, 255, address, io) &&
           readNumber(args.at(countAt), "COUNT", 1, maxCount, count, io);
}

const char *const kReadUsage = "read-property ID ADDRESS COUNT";
const char *const kWriteUsage = "write-property ID ADDRESS COMMANDSTRING COUNT";

int runRead(const Options &options, const QStringList &args, Streams &io) {
    int address = 0, count = 0;
    if (!readRegisterArguments(args, 3, kReadUsage, 2,
                               torvanix::kTransferBlockSize - torvanix::kPropertyReadOffset,
                               &address, &count, io))
        return 2;
    std::unique_ptr<torvanix::DeviceFunctions> devices;
    if (const int rc = prepare(options, args.at(0), devices, io))
        return rc;
    io.out << devices->readProperty(args.at(0), address, count) << "\n";
    return 0;
}

int runWrite(const Options &options, const QStringList &args, Streams &io) {
    int address = 0, count = 0;
    if (!readRegisterArguments(args, 4, kWriteUsage, 3, torvanix::kTransferBlockSize, &address,
                               &count, io))
        return 2;
    const int items = torvanix::commandItems(args.at(2)).size();
    if (items != count) {
        io.err << "torvanix-ctl: COMMANDSTRING has " << items << " items but COUNT is " << count
               << "\n";
        return 2;
    }
    std::unique_ptr<torvanix::DeviceFunctions> devices;
    if (const int rc = prepare(options, args.at(0), devices, io))
        return rc;
    if (!devices->writeProperty(args.at(0), args.at(1), args.at(2), args.at(3))) {
        io.err << "torvanix-ctl: the device refused the write\n";
        return 1;
    }
    return 0;
}

const torvanix::ctl::Registration readReg("read-property", kReadUsage, runRead);
const torvanix::ctl::Registration writeReg("write-property", kWriteUsage, runWrite);

} // namespace

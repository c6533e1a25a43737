// torvanix-ctl hidraw-nodes: the kernel's hidraw nodes of supported devices on this machine,
// one line each, with whether this user may open them. Nothing is sent to the devices, so it
// is safe to run before choosing the device libraries (./run does) and when a device does
// not show up.
#include "ctl_support.h"

#include "device/device_permissions.h"

namespace {

int runHidrawNodes(const torvanix::ctl::Options &, const QStringList &args,
                   torvanix::ctl::Streams &io) {
    if (!args.isEmpty()) {
        io.err << "torvanix-ctl: hidraw-nodes takes no arguments\n";
        return 2;
    }
    const QVector<torvanix::HidrawNode> nodes = torvanix::scanHidrawNodes();
    bool anyDenied = false;
    for (const torvanix::HidrawNode &node : nodes) {
        io.out << QStringLiteral("%1 %2:%3 %4\n")
                      .arg(node.devnode)
                      .arg(node.vendor, 4, 16, QLatin1Char('0'))
                      .arg(node.product, 4, 16, QLatin1Char('0'))
                      .arg(node.denied ? QStringLiteral("no-permission") : QStringLiteral("ok"));
        anyDenied = anyDenied || node.denied;
    }
    if (anyDenied)
        io.err << "torvanix-ctl: install the udev rules " << torvanix::udevRulesFile()
               << " (torvanix-ctl udev-rules prints them), then plug the devices in again\n";
    return 0;
}

const torvanix::ctl::Registration reg("hidraw-nodes", "hidraw-nodes", runHidrawNodes);

} // namespace

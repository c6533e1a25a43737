// torvanix-ctl apply FILE|-: enumerates and publishes the devices as GetDevicesList does, runs
// one configuration document through the translator exactly as the page's NoticeModify does,
// waits until its translation has finished and prints every page event it raised, one JSON
// line each: {"event":"OnNotifySaveXml","args":["..."]}.
#include "ctl_support.h"

#include "device/device_functions.h"
#include "translate/device_data_handler.h"

namespace {

int runApply(const torvanix::ctl::Options &options, const QStringList &args,
             torvanix::ctl::Streams &io) {
    if (args.size() != 1) {
        io.err << "torvanix-ctl: apply takes one document file (or - for standard input)\n";
        return 2;
    }
    QString document;
    if (!torvanix::ctl::readTextInput(args.first(), document, io.err) ||
        !torvanix::ctl::applyDevicesDirectory(options, io))
        return 2;

    torvanix::DeviceFunctions devices;
    torvanix::ctl::listAndPublish(devices, io);

    torvanix::ctl::PrintingEventSink events(io.out);
    torvanix::device_data_handler translator(devices, events);
    torvanix::ctl::loadDriveTables(translator, io);
    torvanix::ctl::WriteFailures failures(translator);

    using Dispatch = torvanix::device_data_handler::Dispatch;
    switch (translator.writeDevice(document)) {
    case Dispatch::Started:
        break;
    case Dispatch::ParseFailure:
        io.err << "torvanix-ctl: document dropped: it does not parse as XML\n";
        break;
    case Dispatch::NoIdentity:
        io.err << "torvanix-ctl: document dropped: no UsbId value\n";
        break;
    case Dispatch::UnknownDevice:
        io.err << "torvanix-ctl: document dropped: no listed device has its UsbId\n";
        break;
    }
    io.err.flush();
    translator.waitForDone();
    return failures.report(io);
}

const torvanix::ctl::Registration reg("apply", "apply FILE|-", runApply);

} // namespace

// torvanix-ctl macro VER MACROARR|-: enumerates and publishes the devices as GetDevicesList
// does, then writes the macro table of the packet keyboard exactly as the page's
// NoticeMacoModify does (VER: the device identity, MACROARR: the page's JSON array of macros,
// "-" reads it from standard input), waits until the transfer has finished and prints every
// page event it raised, one JSON line each, as `apply` does.
#include "ctl_support.h"

#include "device/device_functions.h"
#include "translate/device_data_handler.h"
#include "translate/macro_array.h"

#include <QJsonDocument>

namespace {

int runMacro(const torvanix::ctl::Options &options, const QStringList &args,
             torvanix::ctl::Streams &io) {
    if (args.size() != 2 || args.at(0).trimmed().isEmpty()) {
        io.err << "torvanix-ctl: macro takes the device identity and the macro list (JSON "
                  "array, or - for standard input)\n";
        return 2;
    }
    QString macroArr = args.at(1);
    if (macroArr == QLatin1String("-") && !torvanix::ctl::readTextInput(macroArr, macroArr, io.err))
        return 2;
    // The page's list is passed on as it is (a malformed list still clears the table), but
    // a person at a terminal deserves to know.
    // Read as the translator reads it: only as far as the entries that are used.
    if (torvanix::macroTexts(macroArr).isEmpty() &&
        macroArr.simplified().remove(QLatin1Char(' ')) != QLatin1String("[]"))
        io.err << "torvanix-ctl: the macro list is not a JSON array; an empty table is written\n";

    if (!torvanix::ctl::applyDevicesDirectory(options, io))
        return 2;
    torvanix::DeviceFunctions devices;
    torvanix::ctl::listAndPublish(devices, io);
    const QString ver = args.at(0);
    if (!torvanix::PublishedDevices::instance().contains(ver))
        io.err << "torvanix-ctl: no listed device has the identity " << ver << "\n";

    torvanix::ctl::PrintingEventSink events(io.out);
    torvanix::device_data_handler translator(devices, events);
    torvanix::ctl::WriteFailures failures(translator);
    if (!translator.loadDriverTemplate(QStringLiteral(":/drive/D4.0")))
        io.err << "torvanix-ctl: the D4.0 drive table failed to load\n";
    io.err.flush();
    translator.noticeMacoModify(ver, macroArr);
    // Bounded waits in a loop: the transfer must finish before `devices` goes out of scope.
    while (!translator.waitForDone(60000))
        io.err << "torvanix-ctl: still writing the macro table\n";
    return failures.report(io);
}

const torvanix::ctl::Registration reg("macro", "macro VER MACROARR|-", runMacro);

} // namespace

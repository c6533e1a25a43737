// The program's device monitor without its window, for the VM tests: prints one line
// "DevicesChanged N" each time the monitor would make the page ask for the device list again
// (N counts them), until SIGTERM/SIGINT or the given number of seconds.
//   torvanix-vm-watch [--devices DIR] [SECONDS]
#include "device/library_loader.h"
#include "ui/device_monitor.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    (void)!::write(g_signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args.first() == QLatin1String("--devices")) {
        torvanix::setDevicesDirectory(args.at(1));
        args = args.mid(2);
    }
    bool ok = true;
    const int seconds = args.isEmpty() ? 0 : args.first().toInt(&ok);
    if (!ok || args.size() > 1 || seconds < 0) {
        std::fprintf(stderr, "usage: torvanix-vm-watch [--devices DIR] [SECONDS]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // A signal ends the loop through a pipe, so the monitor is torn down on the main thread.
    if (::pipe(g_signalPipe) != 0)
        return 1;
    QSocketNotifier stop(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);

    torvanix::DeviceMonitor monitor;
    int changes = 0;
    QObject::connect(&monitor, &torvanix::DeviceMonitor::devicesChanged, &app,
                     [&changes] { std::printf("DevicesChanged %d\n", ++changes); });
    std::printf("watching: udev %s, library %s\n", monitor.isActive() ? "yes" : "no",
                monitor.isWatchingLibrary() ? "yes" : "no");
    app.exec();
    return 0;
}

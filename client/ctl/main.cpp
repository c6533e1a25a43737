// torvanix-ctl: drives the devices and page commands headless, for tests and for people
// debugging a device.
#include "ctl_command.h"

#include "device/pacer.h"

#include <QCoreApplication>
#include <QMap>
#include <cstdio>

namespace torvanix::ctl {

namespace {
struct Entry {
    QString usage;
    Handler handler;
};

QMap<QString, Entry> &table() {
    static QMap<QString, Entry> commands;
    return commands;
}

void printUsage(QTextStream &err) {
    err << "usage: torvanix-ctl [--devices DIR] [--no-pause] [--choose FILE]... COMMAND ...\n"
        << "commands:\n";
    for (auto it = table().constBegin(); it != table().constEnd(); ++it)
        err << "  " << it.value().usage << "\n";
    err.flush();
}
} // namespace

Registration::Registration(const char *name, const char *usage, Handler handler) {
    table().insert(QString::fromUtf8(name), Entry{QString::fromUtf8(usage), handler});
}

} // namespace torvanix::ctl

int main(int argc, char **argv) {
    using namespace torvanix::ctl;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Streams io{out, err};

    Options options;
    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--no-pause")) {
            options.noPause = true;
        } else if (opt == QLatin1String("--devices") || opt == QLatin1String("--choose")) {
            if (args.isEmpty()) {
                err << "torvanix-ctl: " << opt << " needs a value\n";
                return 2;
            }
            if (opt == QLatin1String("--devices"))
                options.devicesDir = args.takeFirst();
            else
                options.choose << args.takeFirst();
        } else if (opt == QLatin1String("--help")) {
            printUsage(err);
            return 0;
        } else {
            err << "torvanix-ctl: unknown option " << opt << "\n";
            printUsage(err);
            return 2;
        }
    }
    if (options.noPause)
        torvanix::setPausesEnabled(false);

    if (args.isEmpty()) {
        printUsage(err);
        return 2;
    }
    const QString command = args.takeFirst();
    auto it = table().constFind(command);
    if (it == table().constEnd()) {
        err << "torvanix-ctl: unknown command " << command << "\n";
        printUsage(err);
        return 2;
    }
    const int rc = it.value().handler(options, args, io);
    out.flush();
    err.flush();
    return rc;
}

#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace torvanix::ctl {

struct Options {
    bool noPause = false;
    QString devicesDir; // --devices DIR: where the device access libraries are loaded from
    QStringList choose; // --choose FILE (repeatable): answers to file dialogs, in order
};

struct Streams {
    QTextStream &out;
    QTextStream &err;
};

// A sub-command: gets the global options and its own arguments, returns the exit code.
using Handler = int (*)(const Options &options, const QStringList &args, Streams &io);

// Sub-commands register themselves from their own source file:
//   static const torvanix::ctl::Registration reg("list", "list", runList);
struct Registration {
    Registration(const char *name, const char *usage, Handler handler);
};

} // namespace torvanix::ctl

#include "window_commands.h"

#include "command_dispatcher.h"
#include "window_actions.h"

#include <algorithm>

namespace torvanix {

namespace {

// The largest side a window may have.
constexpr double kMaxSide = 16777215.0;

// A pop-up side from the page, kept in the window range as a number before anything turns it
// into an int: 1e308, -1e308 or NaN would make that conversion undefined.
double clampedSide(double v) {
    if (!(v > 0.0)) // also NaN
        return 0.0;
    return std::min(v, kMaxSide);
}

double argDouble(const QVariantMap &args, const QString &key) {
    bool ok = false;
    const double v = CommandDispatcher::arg(args, key).toDouble(&ok);
    return ok ? clampedSide(v) : 0.0;
}

} // namespace

QSize popupSize(double width, double height, int desktopHeight) {
    width = clampedSide(width);
    height = clampedSide(height);
    const double scale = desktopHeight / 1080.0;
    if (scale >= 1.0) {
        height = clampedSide(height * scale);
        width = clampedSide(width * scale + 50);
    }
    return QSize(static_cast<int>(width), static_cast<int>(height));
}

void registerWindowCommands(CommandDispatcher &dispatcher, WindowActions &actions,
                            ShellState &state) {
    WindowActions *a = &actions;
    ShellState *s = &state;

    dispatcher.registerCommand(QStringLiteral("ShowClient"),
                               [a](const QVariantMap &, const ReplyPtr &) { a->showClient(); });

    dispatcher.registerCommand(
        QStringLiteral("OpenUrl"), [a](const QVariantMap &args, const ReplyPtr &reply) {
            if (!args.contains(QStringLiteral("Url")))
                return;
            a->openExternal(CommandDispatcher::arg(args, QStringLiteral("Url")));
            replySuccess(reply, QStringLiteral("open successed"));
        });

    dispatcher.registerCommand(
        QStringLiteral("OpenView"), [a](const QVariantMap &args, const ReplyPtr &) {
            if (!args.contains(QStringLiteral("Url")) || !args.contains(QStringLiteral("Width")) ||
                !args.contains(QStringLiteral("Height")))
                return;
            a->openView(CommandDispatcher::arg(args, QStringLiteral("Url")),
                        argDouble(args, QStringLiteral("Width")),
                        argDouble(args, QStringLiteral("Height")));
        });

    dispatcher.registerCommand(QStringLiteral("CloseView"),
                               [a](const QVariantMap &, const ReplyPtr &) { a->closeView(); });

    dispatcher.registerCommand(
        QStringLiteral("CloseX"),
        [a](const QVariantMap &, const ReplyPtr &) { a->closeMainWindow(); });

    dispatcher.registerCommand(
        QStringLiteral("SetAutoRun"), [a](const QVariantMap &args, const ReplyPtr &) {
            a->setAutoRun(CommandDispatcher::argInt(args, QStringLiteral("boolAutonRun")) != 0);
        });

    dispatcher.registerCommand(
        QStringLiteral("IsFirstStart"), [s](const QVariantMap &, const ReplyPtr &reply) {
            replySuccess(reply, s->firstStartFlag ? QStringLiteral("1") : QStringLiteral("0"));
        });

    dispatcher.registerCommand(QStringLiteral("FirstStart"),
                               [a, s](const QVariantMap &, const ReplyPtr &reply) {
                                   if (s->firstStartFlag) {
                                       a->quitApplication();
                                       return;
                                   }
                                   replySuccess(reply, QString());
                               });

    // Where a restart gains nothing (no elevation on Linux), the page ends the first run by
    // itself: no relaunch follows and the page is not welcomed again. The marker stays written.
    dispatcher.registerCommand(QStringLiteral("FinishFirstStart"),
                               [s](const QVariantMap &, const ReplyPtr &reply) {
                                   s->firstStartFlag = false;
                                   replySuccess(reply, QString());
                               });
}

} // namespace torvanix

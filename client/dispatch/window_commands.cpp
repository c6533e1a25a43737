#include "window_commands.h"

#include "command_dispatcher.h"
#include "window_actions.h"

namespace torvanix {

namespace {

double argDouble(const QVariantMap &args, const QString &key) {
    bool ok = false;
    const double v = CommandDispatcher::arg(args, key).toDouble(&ok);
    return ok ? v : 0.0;
}

} // namespace

QSize popupSize(double width, double height, int desktopHeight) {
    const double scale = desktopHeight / 1080.0;
    if (scale >= 1.0) {
        height = height * scale;
        width = width * scale + 50;
    }
    return QSize(static_cast<int>(width), static_cast<int>(height));
}

void registerWindowCommands(CommandDispatcher &dispatcher, WindowActions &actions,
                            const ShellState &state) {
    WindowActions *a = &actions;
    const ShellState *s = &state;

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
}

} // namespace torvanix

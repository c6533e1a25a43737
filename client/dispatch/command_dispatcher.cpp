#include "command_dispatcher.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace torvanix {

void CommandDispatcher::registerCommand(const QString &funcName, Handler handler) {
    handlers_.insert(funcName, std::move(handler));
}

bool CommandDispatcher::hasCommand(const QString &funcName) const {
    return handlers_.contains(funcName);
}

void CommandDispatcher::onJsMessage(const QString &request, const ReplyPtr &reply) const {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(request.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    const QVariantMap args = doc.object().toVariantMap();
    if (!args.contains(QStringLiteral("FuncName")))
        return;
    dofunc(arg(args, QStringLiteral("FuncName")), args, reply);
}

void CommandDispatcher::dofunc(const QString &funcName, const QVariantMap &args,
                               const ReplyPtr &reply) const {
    auto it = handlers_.constFind(funcName);
    if (it == handlers_.constEnd())
        return;
    it.value()(args, reply);
}

QString CommandDispatcher::arg(const QVariantMap &args, const QString &key) {
    const QVariant v = args.value(key);
    if (!v.isValid() || v.isNull())
        return QString();
    if (v.userType() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    // Whole JSON numbers arrive as integers and the rest as doubles, whose text is the
    // shortest one that reads back the same (0.1 stays "0.1", 1e20 is "1e+20").
    return v.toString();
}

int CommandDispatcher::argInt(const QVariantMap &args, const QString &key) {
    bool ok = false;
    const int n = arg(args, key).toInt(&ok, 10);
    return ok ? n : 0;
}

} // namespace torvanix

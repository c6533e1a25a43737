#pragma once

#include "reply.h"

#include <QHash>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace torvanix {

// Page commands by name. The window, the command-line tool and the tests all run the same
// table; command groups register themselves into it (see the register* functions of each
// group). Names compare case-sensitively; an unknown name is ignored without an answer.
class CommandDispatcher {
public:
    using Handler = std::function<void(const QVariantMap &args, const ReplyPtr &reply)>;

    void registerCommand(const QString &funcName, Handler handler);
    bool hasCommand(const QString &funcName) const;

    // Parses one query text: a JSON object with FuncName and the arguments beside it.
    // Anything else (bad JSON, an array, no FuncName) is dropped without an answer.
    void onJsMessage(const QString &request, const ReplyPtr &reply) const;
    void dofunc(const QString &funcName, const QVariantMap &args, const ReplyPtr &reply) const;

    // The string form of an argument: missing -> "", numbers -> decimal text,
    // booleans -> "true"/"false".
    static QString arg(const QVariantMap &args, const QString &key);
    // Base-10 integer of the argument's text; 0 when it does not read as one.
    static int argInt(const QVariantMap &args, const QString &key);

private:
    QHash<QString, Handler> handlers_;
};

} // namespace torvanix

#pragma once

#include <QString>
#include <memory>

namespace torvanix {

// The answer channel of one page query. A query is answered at most once; implementations
// ignore every answer after the first and accept answers from any thread.
class Reply {
public:
    virtual ~Reply() = default;
    virtual void success(const QString &text) = 0;
    virtual void failure(int code, const QString &text) = 0;
};

using ReplyPtr = std::shared_ptr<Reply>;

inline void replySuccess(const ReplyPtr &reply, const QString &text) {
    if (reply)
        reply->success(text);
}

inline void replyFailure(const ReplyPtr &reply, int code, const QString &text) {
    if (reply)
        reply->failure(code, text);
}

} // namespace torvanix

#include "dispatch/command_dispatcher.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace torvanix;

namespace {
struct RecordingReply : Reply {
    QStringList answers;
    void success(const QString &text) override { answers << "ok:" + text; }
    void failure(int code, const QString &text) override {
        answers << QString("fail:%1:%2").arg(code).arg(text);
    }
};

struct Fixture {
    CommandDispatcher dispatcher;
    QVariantMap lastArgs;
    int calls = 0;
    Fixture() {
        dispatcher.registerCommand("Echo", [this](const QVariantMap &args, const ReplyPtr &r) {
            ++calls;
            lastArgs = args;
            replySuccess(r, CommandDispatcher::arg(args, "Value"));
        });
    }
};
} // namespace

TEST(CommandDispatcher, DropsMalformedRequestsWithoutAnswer) {
    Fixture f;
    auto reply = std::make_shared<RecordingReply>();
    for (const char *text : {"not json", "[1,2]", "{\"Value\":1}", "\"Echo\"", "",
                             "{\"FuncName\":\"echo\"}", "{\"FuncName\":\"Echo \"}"}) {
        f.dispatcher.onJsMessage(QString::fromUtf8(text), reply);
    }
    EXPECT_EQ(f.calls, 0);
    EXPECT_TRUE(reply->answers.isEmpty());
}

TEST(CommandDispatcher, ArgumentsReadAsText) {
    Fixture f;
    auto reply = std::make_shared<RecordingReply>();
    f.dispatcher.onJsMessage(R"({"FuncName":"Echo","Value":12})", reply);
    f.dispatcher.onJsMessage(R"({"FuncName":"Echo","Value":true})", reply);
    f.dispatcher.onJsMessage(R"({"FuncName":"Echo","Value":"x y"})", reply);
    f.dispatcher.onJsMessage(R"({"FuncName":"Echo"})", reply);
    f.dispatcher.onJsMessage(R"({"FuncName":"Echo","Value":1.5})", reply);
    EXPECT_EQ(reply->answers, (QStringList{"ok:12", "ok:true", "ok:x y", "ok:", "ok:1.5"}));
    EXPECT_EQ(CommandDispatcher::arg(f.lastArgs, "FuncName"), "Echo");
}

TEST(CommandDispatcher, NumericFlagsFromText) {
    QVariantMap args{{"a", "1"}, {"b", 1.0}, {"c", true}, {"d", "x"}, {"e", "-7"}};
    EXPECT_EQ(CommandDispatcher::argInt(args, "a"), 1);
    EXPECT_EQ(CommandDispatcher::argInt(args, "b"), 1);
    EXPECT_EQ(CommandDispatcher::argInt(args, "c"), 0); // "true" is not a number
    EXPECT_EQ(CommandDispatcher::argInt(args, "d"), 0);
    EXPECT_EQ(CommandDispatcher::argInt(args, "e"), -7);
    EXPECT_EQ(CommandDispatcher::argInt(args, "missing"), 0);
}

// The window, URL, pop-up and first-start commands against a recording window.
#include "dispatch/command_dispatcher.h"
#include "dispatch/window_actions.h"
#include "dispatch/window_commands.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace torvanix;

namespace {

struct RecordingActions : WindowActions {
    QStringList calls;
    void showClient() override { calls << "showClient"; }
    void openView(const QString &url, double w, double h) override {
        calls << QString("openView %1 %2 %3").arg(url).arg(w).arg(h);
    }
    void closeView() override { calls << "closeView"; }
    void closeMainWindow() override { calls << "closeMainWindow"; }
    bool openExternal(const QString &url) override {
        calls << "open " + url;
        return true;
    }
    void setAutoRun(bool enabled) override { calls << QString("autorun %1").arg(enabled); }
    void quitApplication() override { calls << "quit"; }
    QStringList getOpenFileNames(const QString &, const QString &, const QString &) override {
        return {};
    }
    QString getOpenFileName(const QString &, const QString &, const QString &) override {
        return {};
    }
    QString getSaveFileName(const QString &, const QString &, const QString &) override {
        return {};
    }
    QString lastVisitedDirectory() const override { return {}; }
};

struct Answers : Reply {
    QStringList got;
    void success(const QString &text) override { got << "ok:" + text; }
    void failure(int code, const QString &text) override {
        got << QString("fail:%1:%2").arg(code).arg(text);
    }
};

class WindowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { registerWindowCommands(dispatcher, actions, state); }
    QStringList send(const QString &json) {
        auto reply = std::make_shared<Answers>();
        dispatcher.onJsMessage(json, reply);
        return reply->got;
    }
    CommandDispatcher dispatcher;
    RecordingActions actions;
    ShellState state;
};

} // namespace

TEST_F(WindowCommandsTest, FirstStartFlagDecidesBothFirstStartCommands) {
    EXPECT_EQ(send(R"({"FuncName":"IsFirstStart"})"), QStringList({"ok:0"}));
    EXPECT_EQ(send(R"({"FuncName":"FirstStart"})"), QStringList({"ok:"}));
    EXPECT_TRUE(actions.calls.isEmpty());

    state.firstStartFlag = true;
    EXPECT_EQ(send(R"({"FuncName":"IsFirstStart"})"), QStringList({"ok:1"}));
    EXPECT_TRUE(send(R"({"FuncName":"FirstStart"})").isEmpty());
    EXPECT_EQ(actions.calls, QStringList({"quit"}));
}

TEST_F(WindowCommandsTest, FinishingTheFirstStartClearsItWithoutQuitting) {
    state.firstStartFlag = true;
    EXPECT_EQ(send(R"({"FuncName":"FinishFirstStart"})"), QStringList({"ok:"}));
    EXPECT_FALSE(state.firstStartFlag);
    EXPECT_EQ(send(R"({"FuncName":"IsFirstStart"})"), QStringList({"ok:0"}));
    EXPECT_EQ(send(R"({"FuncName":"FirstStart"})"), QStringList({"ok:"}));
    EXPECT_TRUE(actions.calls.isEmpty());
}

TEST_F(WindowCommandsTest, UrlAndPopUpCommandsNeedTheirKeys) {
    EXPECT_EQ(send(R"({"FuncName":"OpenUrl","Url":"https://example.com/x"})"),
              QStringList({"ok:open successed"}));
    EXPECT_TRUE(send(R"({"FuncName":"OpenUrl"})").isEmpty());
    EXPECT_TRUE(send(R"({"FuncName":"OpenView","Url":"http://h/p.html","Width":400})").isEmpty());
    EXPECT_TRUE(
        send(R"({"FuncName":"OpenView","Url":"http://h/p.html","Width":"400","Height":300.5})")
            .isEmpty());
    EXPECT_TRUE(send(R"({"FuncName":"CloseView"})").isEmpty());
    EXPECT_TRUE(send(R"({"FuncName":"CloseX"})").isEmpty());
    EXPECT_TRUE(send(R"({"FuncName":"ShowClient"})").isEmpty());
    EXPECT_EQ(actions.calls,
              QStringList({"open https://example.com/x", "openView http://h/p.html 400 300.5",
                           "closeView", "closeMainWindow", "showClient"}));
}

TEST_F(WindowCommandsTest, AutoRunFlagIsReadAsAnInteger) {
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":"1"})");
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":1})");
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":true})");
    send(R"({"FuncName":"SetAutoRun","boolAutonRun":"0"})");
    send(R"({"FuncName":"SetAutoRun"})");
    // Names are case-sensitive.
    send(R"({"FuncName":"setautorun","boolAutonRun":1})");
    EXPECT_EQ(actions.calls,
              QStringList({"autorun 1", "autorun 1", "autorun 0", "autorun 0", "autorun 0"}));
}

TEST(PopupSize, ScalesOnLargeDesktopsOnly) {
    EXPECT_EQ(popupSize(400, 300, 1080), QSize(450, 300));
    EXPECT_EQ(popupSize(400, 300, 1440), QSize(583, 400));
    EXPECT_EQ(popupSize(400, 300, 768), QSize(400, 300));
    EXPECT_EQ(popupSize(400.9, 300.9, 768), QSize(400, 300));
    // Out-of-range sizes are clamped as numbers before they become ints.
    EXPECT_EQ(popupSize(1e308, -1e308, 1080), QSize(16777215, 0));
    EXPECT_EQ(popupSize(std::nan(""), 1e308, 2160), QSize(50, 16777215));
}

TEST_F(WindowCommandsTest, PopUpSizesFromThePageAreClampedAsNumbers) {
    send(R"({"FuncName":"OpenView","Url":"u","Width":"1e308","Height":"-1e308"})");
    send(R"({"FuncName":"OpenView","Url":"u","Width":"NaN","Height":1e308})");
    EXPECT_EQ(actions.calls, QStringList({"openView u 1.67772e+07 0", "openView u 0 1.67772e+07"}));
}

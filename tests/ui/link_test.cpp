// The link between the core and the window program: frames carry page texts unchanged, and
// the core's side answers, forgets, forwards and refuses as the window program relies on.
#include "app/face_link.h"
#include "device/update_firmware.h"
#include "dispatch/command_dispatcher.h"
#include "link/link_frames.h"
#include "ui/desktop_services.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace torvanix;
using link::Frame;
using link::Kind;

namespace {

template <typename F> bool waitFor(F done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(LinkFrames, PageTextsSurviveAnySplitAndGarbageIsRefused) {
    const QString text = QString::fromUtf8("{\"FuncName\":\"SaveCommand\",\"CommandString\":"
                                           "\"\\u0000 tab\t ü 选择 😀 \\\\ \"}") +
                         QChar(0xD800); // a lone surrogate, as a page may send one
    const QList<Frame> sent = {
        {Kind::Query, {qint64(7), text}},
        {Kind::Answer, {qint64(7), false, 0, QString()}},
        {Kind::Event,
         {QStringLiteral("RefreshDownState"), QVariantList{qint32(-1), 100, QStringLiteral("/x")}}},
        {Kind::Query, {qint64(8), QString(300000, QChar('a'))}}};
    QByteArray stream;
    for (const Frame &f : sent)
        stream += link::encode(f);
    // Fed in pieces of every size from 1 byte up, the same frames come out.
    for (int piece : {1, 3, 4, 5, 1000, int(stream.size())}) {
        QByteArray buffer;
        QList<Frame> got;
        for (int pos = 0; pos < stream.size(); pos += piece) {
            buffer += stream.mid(pos, piece);
            ASSERT_TRUE(link::takeFrames(buffer, got));
        }
        EXPECT_TRUE(buffer.isEmpty());
        ASSERT_EQ(got.size(), sent.size()) << piece;
        for (int i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(got[i].kind, sent[i].kind);
            EXPECT_EQ(got[i].fields, sent[i].fields);
        }
        EXPECT_EQ(got[0].fields[1].toString(), text); // the very same UTF-16 units
    }

    QByteArray bad = QByteArray::fromHex("00000000");
    QList<Frame> none;
    EXPECT_FALSE(link::takeFrames(bad, none)); // empty frame
    bad = QByteArray::fromHex("7fffffff");
    EXPECT_FALSE(link::takeFrames(bad, none)); // far too long: never waited for
    bad = QByteArray::fromHex("00000003") + "CMD";
    EXPECT_FALSE(link::takeFrames(bad, none)); // no fields behind the kind
    // The hello cannot be mistaken for a later start's text, nor text for the hello.
    EXPECT_FALSE(QByteArray("CMD:show;").startsWith(link::kHello.left(1)));
}

// The core's side against a stand-in window program on a real local socket.
class FaceLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(server.listen(dir.filePath("core")));
        face.setProgram(dir.filePath("no-such-program"));
        face.setQueryHandler([this](const QString &request, const ReplyPtr &reply) {
            dispatcher.onJsMessage(request, reply);
        });
        dispatcher.registerCommand("Echo", [](const QVariantMap &args, const ReplyPtr &reply) {
            replySuccess(reply, CommandDispatcher::arg(args, "Text"));
        });
        dispatcher.registerCommand("Silent", [](const QVariantMap &, const ReplyPtr &) {});
        dispatcher.registerCommand("Open", [this](const QVariantMap &, const ReplyPtr &reply) {
            replySuccess(reply, face.getOpenFileName("t", "/start", "*.x"));
        });
        QObject::connect(&peer, &QLocalSocket::readyRead, [this] {
            buffer += peer.readAll();
            QList<Frame> got;
            EXPECT_TRUE(link::takeFrames(buffer, got));
            for (const Frame &f : got)
                if (!(responder && responder(f)))
                    later << f;
        });
        peer.connectToServer(server.fullServerName());
        ASSERT_TRUE(peer.waitForConnected(2000));
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        face.attach(server.nextPendingConnection(), QByteArray());
        ASSERT_TRUE(face.connected());
    }
    void send(Kind kind, const QVariantList &fields) {
        peer.write(link::encode({kind, fields}));
        peer.flush();
    }
    // The next frame from the core.
    Frame next(int timeoutMs = 5000) {
        waitFor([&] { return !later.isEmpty(); }, timeoutMs);
        if (later.isEmpty())
            return Frame{Kind::Query, {QStringLiteral("nothing came")}};
        return later.takeFirst();
    }

    QTemporaryDir dir;
    QLocalServer server;
    CommandDispatcher dispatcher;
    FaceLink face{QStringLiteral("core")};
    QLocalSocket peer;
    QByteArray buffer;
    QList<Frame> later;
    // Answers window actions as the window program would; true when it took the frame.
    std::function<bool(const Frame &)> responder;
};

TEST_F(FaceLinkTest, QueriesAreAnsweredOrForgottenAndEventsPassUnchanged) {
    const QString text = QString::fromUtf8("ä \"q\" 😀");
    send(Kind::Query, {qint64(5), QString("{\"FuncName\":\"Echo\",\"Text\":\"%1\"}")
                                      .arg(QString(text).replace("\"", "\\\""))});
    Frame f = next();
    EXPECT_EQ(f.kind, Kind::Answer);
    EXPECT_EQ(f.fields, (QVariantList{qint64(5), true, 0, text}));

    // A command that gives no answer, and a query that is no command, let the query go.
    send(Kind::Query, {qint64(6), QStringLiteral("{\"FuncName\":\"Silent\"}")});
    EXPECT_EQ(next().fields, QVariantList{qint64(6)});
    send(Kind::Query, {qint64(7), QStringLiteral("[1,2]")});
    EXPECT_EQ(next().fields, QVariantList{qint64(7)});

    face.sendEvent("DevicesChanged", {0});
    f = next();
    EXPECT_EQ(f.kind, Kind::Event);
    EXPECT_EQ(f.fields, (QVariantList{QStringLiteral("DevicesChanged"), QVariantList{0}}));
}

TEST_F(FaceLinkTest, ADialogGetsTheEmptyAnswerAtOnceWhenTheWindowProgramGoes) {
    // The dialog's wait keeps the core's event loop running: the answer comes in through it.
    responder = [this](const Frame &f) {
        if (f.kind != Kind::Action || f.fields.value(1).toString() != "getOpenFileName")
            return false;
        send(Kind::ActionDone, {f.fields.value(0), QStringLiteral("/start/sub/a.x")});
        return true;
    };
    send(Kind::Query, {qint64(1), QStringLiteral("{\"FuncName\":\"Open\"}")});
    Frame f = next();
    EXPECT_EQ(f.fields, (QVariantList{qint64(1), true, 0, QStringLiteral("/start/sub/a.x")}));
    EXPECT_EQ(face.lastVisitedDirectory(), "/start/sub");

    // While the next dialog waits, the window program dies: the wait ends with no file.
    responder = [](const Frame &f) { return f.kind == Kind::Action; };
    bool gone = false;
    QObject::connect(&face, &FaceLink::faceGone, [&] { gone = true; });
    QTimer::singleShot(200, &peer, [&] { peer.abort(); });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(face.getOpenFileName("t", "/start", "*.x"), QString());
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_TRUE(gone);
    EXPECT_FALSE(face.connected());
}

TEST_F(FaceLinkTest, TheWindowProgramMayEndOnlyWhenIdleAndUpToDate) {
    bool busy = true;
    face.setIdleCheck([&] { return !busy; });
    send(Kind::MayEnd, {quint64(0)});
    EXPECT_EQ(next().fields, QVariantList{false}); // a page task runs
    busy = false;
    face.showWindow(); // on its way when the window program asks
    EXPECT_EQ(next().fields.value(1).toString(), "show");
    send(Kind::MayEnd, {quint64(0)});
    EXPECT_EQ(next().fields, QVariantList{false});
    send(Kind::MayEnd, {quint64(1)});
    EXPECT_EQ(next().fields, QVariantList{true});
    // Right after a page query (a task of several steps may go on) it stays.
    send(Kind::Query, {qint64(3), QStringLiteral("{\"FuncName\":\"Echo\"}")});
    EXPECT_EQ(next().kind, Kind::Answer);
    send(Kind::MayEnd, {quint64(1)});
    EXPECT_EQ(next().fields, QVariantList{false});
}

// Closing the window hides it where a tray can bring it back, ends the program where none can,
// and does neither while a firmware update is written.
TEST_F(FaceLinkTest, ClosingHidesQuitsWithoutATrayAndWaitsForAFirmwareUpdate) {
    resetQuitRequest();
    bool tray = true;
    face.setTrayAvailableCheck([&] { return tray; });
    send(Kind::CloseRequest, {});
    EXPECT_EQ(next().fields.value(1).toString(), "hide");
    EXPECT_FALSE(quitRequested());
    {
        FirmwareRunSlot run;
        ASSERT_TRUE(run.owned());
        tray = false;
        send(Kind::CloseRequest, {});
        send(Kind::Query, {qint64(9), QStringLiteral("{\"FuncName\":\"Echo\"}")});
        EXPECT_EQ(next().kind, Kind::Answer); // handled after the close, and no hide before it
        EXPECT_FALSE(quitRequested());
    }
    send(Kind::CloseRequest, {});
    EXPECT_EQ(next().fields.value(1).toString(), "hide");
    EXPECT_TRUE(quitRequested());
    resetQuitRequest();
}

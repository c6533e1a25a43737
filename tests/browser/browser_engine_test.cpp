// The page bridge, the events and the local pages through real pages in the real engine.
#include "engine_harness.h"

#include "browser/browser_rules.h"
#include "browser/page_bridge.h"
#include "dispatch/command_dispatcher.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>

#include <thread>

using namespace torvanix;
using namespace torvanix::testing;

namespace {

// A page in a shown window whose queries run through a small command table.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        harness = &EngineHarness::get();
        view = std::make_unique<BrowserView>(nullptr, &harness->handler());
        view->resize(640, 480);
        view->move(100, 100);
        view->show();
        dispatcher.registerCommand("Echo", [](const QVariantMap &args, const ReplyPtr &r) {
            replySuccess(r, CommandDispatcher::arg(args, "v"));
        });
        dispatcher.registerCommand(
            "Fail", [](const QVariantMap &, const ReplyPtr &r) { replyFailure(r, 0, "failed"); });
        dispatcher.registerCommand("Twice", [](const QVariantMap &, const ReplyPtr &r) {
            replySuccess(r, "one");
            replySuccess(r, "two");
        });
        dispatcher.registerCommand("Never", [](const QVariantMap &, const ReplyPtr &) {});
        dispatcher.registerCommand("Later", [](const QVariantMap &args, const ReplyPtr &r) {
            const QString v = CommandDispatcher::arg(args, "v");
            std::thread([r, v] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                replySuccess(r, v);
            }).detach();
        });
        QObject::connect(view.get(), &BrowserView::jsMessage,
                         [this](const QString &request, const ReplyPtr &reply) {
                             received << request;
                             dispatcher.onJsMessage(request, reply);
                         });
    }
    void TearDown() override { view.reset(); }

    QWebEnginePage *page() { return view->page(); }
    QVariant js(const QString &script) { return runJs(page(), script); }
    QString log() { return js("JSON.stringify(window.__log)").toString(); }
    QString events() { return js("JSON.stringify(window.__events)").toString(); }
    bool logHas(const QString &text) {
        return waitFor([&] { return log().contains(text); }, 8000);
    }
    // Every query sent before this one has been handled once its answer is in.
    void flush(const QString &tag) {
        js(QString("q('{\"FuncName\":\"Echo\",\"v\":\"%1\"}')").arg(tag));
        ASSERT_TRUE(logHas(tag)) << log().toStdString();
    }

    EngineHarness *harness = nullptr;
    std::unique_ptr<BrowserView> view;
    CommandDispatcher dispatcher;
    QStringList received;
};

} // namespace

TEST_F(EngineTest, QueriesAreAnsweredOnceWithSuccessOrFailure) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    EXPECT_EQ(js("typeof q('{\"FuncName\":\"Echo\",\"v\":\"hello\"}')").toString(), "number");
    EXPECT_TRUE(logHas(R"(["ok","{\"FuncName\":\"Echo\",\"v\":\"hello\"}","hello"])"));

    js("q('{\"FuncName\":\"Fail\"}')");
    EXPECT_TRUE(logHas(R"(["fail","{\"FuncName\":\"Fail\"}",0,"failed"])"));

    // Answers from another thread arrive; a second answer to one query is dropped.
    js("q('{\"FuncName\":\"Later\",\"v\":\"from-thread\"}'); q('{\"FuncName\":\"Twice\"}')");
    EXPECT_TRUE(logHas("from-thread"));
    flush("after-twice");
    EXPECT_TRUE(log().contains("\"one\""));
    EXPECT_FALSE(log().contains("\"two\""));

    // Unknown commands, other letter case, arrays and objects without FuncName: no answer.
    js("q('{\"FuncName\":\"NoSuchCommand\"}'); q('{\"FuncName\":\"echo\",\"v\":\"lower\"}');"
       "q('[1,2]'); q('{\"v\":\"x\"}'); q('{\"FuncName\":\"Never\"}')");
    flush("after-unknown");
    EXPECT_FALSE(log().contains("NoSuchCommand"));
    EXPECT_FALSE(log().contains("lower"));
    EXPECT_FALSE(log().contains("[1,2]"));
    EXPECT_FALSE(log().contains("Never"));

    // A cancelled query is never answered.
    js("var id = q('{\"FuncName\":\"Later\",\"v\":\"cancelled\"}'); cefQueryCancel(id);");
    js("q('{\"FuncName\":\"Later\",\"v\":\"not-cancelled\"}')");
    EXPECT_TRUE(logHas("not-cancelled"));
    EXPECT_FALSE(log().contains("\"cancelled\""));

    // The engine's own argument checks.
    EXPECT_EQ(js("try { ClientRequest({}); 'no' } catch (e) { 'threw' }").toString(), "threw");
    EXPECT_EQ(js("try { ClientRequest({request: 1}); 'no' } catch (e) { 'threw' }").toString(),
              "threw");
}

TEST_F(EngineTest, WindowRequestsAreHandledByTheBridge) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    const QPoint start = view->pos();
    js("q('MoveWindow:10,-5,0,0')");
    EXPECT_TRUE(logHas(R"(["ok","MoveWindow:10,-5,0,0",""])"));
    EXPECT_EQ(view->pos(), start + QPoint(10, -5));

    // Two integers or none: no move and no answer; a later query still works.
    js("q('MoveWindow:10,-5'); q('MoveWindow')");
    flush("after-move");
    EXPECT_EQ(view->pos(), start + QPoint(10, -5));
    EXPECT_FALSE(log().contains("MoveWindow:10,-5\""));

    // "MoveWindow" after the first character is an ordinary request.
    js("q(' MoveWindow:1,1,1,1')");
    flush("after-space");
    EXPECT_TRUE(received.contains(" MoveWindow:1,1,1,1"));
    EXPECT_FALSE(received.contains("MoveWindow:10,-5,0,0"));

    // The exact minimise text minimises without an answer and restores the second time;
    // any other spelling goes to the command table.
    js("q('{\"FuncName\":\"MinisizeWindow\"}')");
    EXPECT_TRUE(waitFor([&] { return view->isMinimized(); }, 5000));
    js("q('{\"FuncName\":\"MinisizeWindow\"}')");
    EXPECT_TRUE(waitFor([&] { return !view->isMinimized(); }, 5000));

    // Minimised by the page, restored by the user, then minimised by the system: the next
    // request minimises (it was not the page's minimising), the one after restores.
    js("q('{\"FuncName\":\"MinisizeWindow\"}')");
    EXPECT_TRUE(waitFor([&] { return view->isMinimized(); }, 5000));
    view->showNormal();
    ASSERT_TRUE(waitFor([&] { return !view->isMinimized(); }, 5000));
    view->showMinimized();
    ASSERT_TRUE(waitFor([&] { return view->isMinimized(); }, 5000));
    js("q('{\"FuncName\":\"MinisizeWindow\"}')");
    flush("after-system-minimise");
    EXPECT_TRUE(view->isMinimized());
    js("q('{\"FuncName\":\"MinisizeWindow\"}')");
    EXPECT_TRUE(waitFor([&] { return !view->isMinimized(); }, 5000));

    js("q('{\"FuncName\": \"MinisizeWindow\"}')");
    flush("after-minimise");
    EXPECT_FALSE(received.contains("{\"FuncName\":\"MinisizeWindow\"}"));
    EXPECT_TRUE(received.contains("{\"FuncName\": \"MinisizeWindow\"}"));
    EXPECT_FALSE(log().contains("MinisizeWindow"));
}

TEST_F(EngineTest, SubFramesRelayQueriesAndForeignFramesCannot) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("main.html")));
    ASSERT_TRUE(waitFor([&] { return js("!!(frames[0] && frames[0].q)").toBool(); }));
    js("frames[0].q('{\"FuncName\":\"Echo\",\"v\":\"from-sub-frame\"}')");
    EXPECT_TRUE(waitFor([&] {
        return js("JSON.stringify(frames[0].__log)").toString().contains("from-sub-frame");
    }));
    EXPECT_FALSE(log().contains("from-sub-frame"));

    ASSERT_TRUE(loadAndWait(view.get(), harness->page("sandboxed.html")));
    flush("after-sandbox");
    EXPECT_FALSE(received.join("\n").contains("forged"));
}

TEST_F(EngineTest, EventsReachEveryLoadedFrameThroughTheFirstRegistration) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("main.html")));
    // Both frames have reported their load end once the sub-frame's callback is in place.
    ASSERT_TRUE(waitFor([&] {
        return harness->handler()
                   .registry()
                   .targets()
                   .value(view->browserPage()->pageId())
                   .size() == 2;
    }));
    js("setMessageCallback('DevicesChanged', rec('f')); setMessageCallback('DevicesChanged', "
       "rec('g'));"
       "setMessageCallback('OnNotifySaveXml'); setMessageCallback(5, rec('bad'));"
       "setMessageCallback('Custom', rec('custom')); setMessageCallback('RefreshDownState', "
       "rec('down'));");
    harness->handler().SendDevicesChanged();
    harness->handler().sendEvent("Custom", {1});
    harness->handler().SendOnNotifySaveXml("<configuration/>");
    harness->handler().SendRefreshDownState(0x100000005LL, 250, "/opt/tvx/update/fw.bin");
    ASSERT_TRUE(waitFor([&] { return events().count("down") == 2; })) << events().toStdString();
    const QString e = events();
    EXPECT_EQ(e.count(R"(["f",[0]])"), 2) << e.toStdString(); // main frame and sub-frame
    EXPECT_FALSE(e.contains("\"g\""));
    EXPECT_FALSE(e.contains("custom"));
    EXPECT_FALSE(e.contains("bad"));
    EXPECT_TRUE(e.contains(R"(["down",[5,250,"/opt/tvx/update/fw.bin"]])"));

    // The sub-frame registered OnDeviceData itself: it receives it, once per frame entry.
    harness->handler().SendOnDeviceData("{\"DeviceStatus\":1}");
    EXPECT_TRUE(waitFor([&] {
        return js("JSON.stringify(frames[0].__events)").toString().count("DeviceStatus") == 2;
    }));

    // Events raised on other threads arrive as well.
    std::thread([&] { harness->handler().SendDevicesChanged(); }).join();
    EXPECT_TRUE(waitFor([&] { return events().count(R"(["f",[0]])") == 4; }));

    // After a reload the old registration is gone and a new one takes effect.
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("main.html")));
    js("setMessageCallback('DevicesChanged', rec('h'))");
    harness->handler().SendDevicesChanged();
    EXPECT_TRUE(waitFor([&] { return events().contains("\"h\""); }));
    EXPECT_FALSE(events().contains("\"f\""));
}

TEST_F(EngineTest, HotKeysReachOnlyTheQuickSettingsPage) {
    BrowserView quick(nullptr, &harness->handler());
    quick.resize(300, 200);
    quick.show();
    ASSERT_TRUE(loadAndWait(&quick, harness->page("quick_set.html")));
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    ASSERT_TRUE(waitFor([&] {
        return harness->handler()
                   .registry()
                   .targets("quick_set.html")
                   .contains(quick.browserPage()->pageId()) &&
               harness->handler().registry().targets().contains(view->browserPage()->pageId());
    }));
    runJs(quick.page(), "setMessageCallback('HotKeyMsg', rec('quick'))");
    js("setMessageCallback('HotKeyMsg', rec('main')); setMessageCallback('DevicesChanged', "
       "rec('dc'))");
    harness->handler().SendHotKeyMsg("F11");
    harness->handler().SendDevicesChanged();
    ASSERT_TRUE(waitFor([&] { return events().contains("dc"); }));
    EXPECT_TRUE(waitFor([&] {
        return runJs(quick.page(), "JSON.stringify(__events)").toString() ==
               R"([["quick",["F11"]]])";
    }));
    EXPECT_FALSE(events().contains("F11"));
}

TEST_F(EngineTest, LocalPagesScriptsImagesAndAudioComeFromThePack) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    EXPECT_EQ(js("document.contentType").toString(), "text/html");
    js(R"(window.__r = undefined;
      Promise.all([
        fetch('app.js').then(r => [r.status, r.headers.get('content-type')]),
        fetch('song.mp3').then(r => [r.status, r.headers.get('accept-ranges'), r.headers.get('content-length'), r.headers.get('content-type')]),
        fetch('song.mp3', {headers: {Range: 'bytes=100-199'}}).then(r => r.arrayBuffer().then(b => [r.status, b.byteLength])),
        fetch('fonts/icons.woff').then(r => [r.redirected, r.url], e => ['failed', e.name]),
        new Promise(res => { var i = new Image(); i.onload = () => res([i.naturalWidth, i.naturalHeight]); i.onerror = () => res(['error']); i.src = 'logo.png'; }),
        fetch('missing.html').then(r => r.status, e => e.name)
      ]).then(v => window.__r = JSON.stringify(v), e => window.__r = 'error ' + e);)");
    ASSERT_TRUE(waitFor([&] { return js("window.__r !== undefined").toBool(); }, 20000));
    const QJsonArray r = QJsonDocument::fromJson(js("window.__r").toString().toUtf8()).array();
    ASSERT_EQ(r.size(), 6) << js("window.__r").toString().toStdString();
    EXPECT_EQ(r[0].toArray()[0].toInt(), 200);
    EXPECT_EQ(r[0].toArray()[1].toString(), "application/javascript");
    EXPECT_EQ(r[1].toArray()[1].toString(), "bytes");
    EXPECT_EQ(r[1].toArray()[2].toString(), "5000");
    EXPECT_EQ(r[1].toArray()[3].toString(), "audio/mpeg");
    EXPECT_EQ(r[2].toArray()[0].toInt(), 206);
    EXPECT_EQ(r[2].toArray()[1].toInt(), 100);
    // Sent on to the vendor's icon font, which is out of reach here: a network error (the
    // target itself is checked with the mapping rules).
    EXPECT_EQ(r[3].toArray()[0].toString(), "failed");
    EXPECT_EQ(r[3].toArray()[1].toString(), "TypeError");
    EXPECT_EQ(r[4].toArray()[0].toInt(), 8);
    EXPECT_EQ(r[4].toArray()[1].toInt(), 6);
    // Not in the pack: passed on to the real endpoint, which cannot be reached from here, so
    // the fetch fails as a network error.
    EXPECT_EQ(r[5].toString(), "TypeError");
    EXPECT_EQ(js("navigator.userAgent").toString(), "Torvanix");
}

TEST_F(EngineTest, TheLoopbackServerAnswersOnlyRequestsCarryingTheSecret) {
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/local/Torvanix/plain.html")
                                     .arg(harness->handler().serverPort())));
    QNetworkReply *reply = nam.get(request);
    ASSERT_TRUE(waitFor([&] { return reply->isFinished(); }));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);
    EXPECT_FALSE(reply->readAll().contains("plain"));
    reply->deleteLater();
}

TEST_F(EngineTest, AFailedLoadShowsTheErrorPage) {
    // A port nobody listens on: the connection is refused.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const QString url = QString("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();
    view->load(QUrl(url));
    ASSERT_TRUE(waitFor([&] { return page()->url().scheme() == "data"; }, 20000));
    ASSERT_TRUE(waitFor([&] {
        return js("document.body ? document.body.innerText : ''").toString().contains("Failed");
    }));
    EXPECT_EQ(js("document.body.innerText").toString().trimmed(),
              "Failed to load URL " + url + " with error ERR_CONNECTION_REFUSED (-102).");
    EXPECT_TRUE(page()->url().toString().startsWith("data:text/html;base64,"));
}

TEST_F(EngineTest, DownloadsLandInTheUpdateFolderOrAskAndReportProgress) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    js("setMessageCallback('RefreshDownState', rec('down'))");
    QString asked;
    QTemporaryDir chosen;
    harness->handler().setSaveDialog([&](const QString &proposal) {
        asked = proposal;
        return chosen.filePath("picked.zip");
    });
    auto click = [&](const QString &name) {
        js(QString("var a = document.createElement('a'); a.href = "
                   "'data:application/octet-stream;base64,"
                   "AAECAwQFBgcICQ=='; a.download = '%1'; document.body.appendChild(a); a.click();")
               .arg(name));
    };
    const QString firmware = harness->programDir() + "/update/fw.bin";
    click("fw.bin");
    ASSERT_TRUE(waitFor([&] { return QFileInfo(firmware).size() == 10; }));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(waitFor([&] {
        return events().contains(QString(R"(["down",[100,100,"%1"]])").arg(firmware));
    })) << events().toStdString();

    click("profile.zip");
    ASSERT_TRUE(waitFor([&] { return QFileInfo(chosen.filePath("picked.zip")).size() == 10; }));
    EXPECT_TRUE(asked.endsWith("profile.zip")) << asked.toStdString();
    harness->handler().setSaveDialog({});
}

TEST_F(EngineTest, SmallScreensZoomOutAndLinkDragsAreRefused) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double ratio = screen->size().height() / 1080.0;
    const auto level = zoomLevelFor(ratio, dpiScaleFor(screen->logicalDotsPerInch()), 0);
    EXPECT_NEAR(page()->zoomFactor(), level ? zoomFactorForLevel(*level) : 1.0, 1e-6);

    QMimeData data;
    data.setUrls({QUrl("http://example.com/")});
    QDragEnterEvent withLink(QPoint(10, 10), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton,
                             Qt::NoModifier);
    withLink.acceptProposedAction();
    QCoreApplication::sendEvent(view.get(), &withLink);
    EXPECT_FALSE(withLink.isAccepted());
    QDragEnterEvent copyOnly(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    copyOnly.ignore();
    QCoreApplication::sendEvent(view.get(), &copyOnly);
    EXPECT_TRUE(copyOnly.isAccepted());
}

// Pages that are not ours reach no command: a page of another origin (here from a loopback
// port), a data: page it could not have been given by us, and a page opened from it.
TEST_F(EngineTest, OnlyLocalPagesMayQuery) {
    QTcpServer foreign;
    ASSERT_TRUE(foreign.listen(QHostAddress::LocalHost));
    const QByteArray body = QByteArray(kPageScript) + "<p>foreign</p>";
    QObject::connect(&foreign, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = foreign.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, body] {
                socket->readAll();
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
    const QUrl foreignUrl(QString("http://127.0.0.1:%1/page.html").arg(foreign.serverPort()));
    ASSERT_TRUE(loadAndWait(view.get(), foreignUrl));
    ASSERT_EQ(js("typeof q").toString(), "function");
    js("q('{\"FuncName\":\"Echo\",\"v\":\"from-foreign\"}'); q('MoveWindow:5,5,0,0')");
    const QPoint start = view->pos();
    waitFor([] { return false; }, 1500);
    EXPECT_TRUE(received.isEmpty()) << received.join(" ").toStdString();
    EXPECT_EQ(log(), "[]");
    EXPECT_EQ(view->pos(), start);

    const QString dataPage = ClientHandler::GetDataURI(QByteArray(kPageScript) + "<p>data</p>",
                                                       QStringLiteral("text/html"));
    ASSERT_TRUE(loadAndWait(view.get(), QUrl(dataPage)));
    js("q('{\"FuncName\":\"Echo\",\"v\":\"from-data\"}')");
    waitFor([] { return false; }, 1000);
    EXPECT_TRUE(received.isEmpty()) << received.join(" ").toStdString();

    // The same view showing a local page again is answered.
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    flush("local-again");
}

// A page the pack lacks, from an endpoint that cannot be reached: the engine's own network
// error, that is the error page for the page and a failed fetch for a script.
TEST_F(EngineTest, AnUnreachableEndpointGivesTheEnginesNetworkError) {
    ASSERT_TRUE(loadAndWait(view.get(), harness->page("plain.html")));
    js("window.__fetch = 'pending'; fetch('/frontend/web/api/list', {method: 'PUT', body: 'x'})"
       ".then(function (r) { __fetch = 'answered ' + r.status; })"
       ".catch(function (e) { __fetch = 'failed ' + e.name; })");
    ASSERT_TRUE(waitFor([&] { return js("__fetch").toString() != "pending"; }, 30000));
    EXPECT_EQ(js("__fetch").toString(), "failed TypeError");

    const QString missing = harness->base() + "/frontend/web/missing.html";
    view->load(QUrl(missing));
    ASSERT_TRUE(waitFor([&] { return page()->url().scheme() == "data"; }, 30000));
    ASSERT_TRUE(waitFor([&] {
        return js("document.body ? document.body.innerText : ''").toString().contains("Failed");
    }));
    EXPECT_TRUE(
        js("document.body.innerText").toString().startsWith("Failed to load URL " + missing))
        << js("document.body.innerText").toString().toStdString();
}

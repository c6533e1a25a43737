#pragma once
// Shared set-up of the tests that drive real pages in the real engine: a program folder with
// a theme pack of test pages, one client handler per process (it sets the engine's switches
// before the engine starts), and helpers to wait for the page.

#include "browser/browser_view.h"
#include "browser/client_handler.h"
#include "pack_writer.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace torvanix::testing {

// Must be set before the application object exists.
inline const bool kShareContexts = [] {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();

inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 15000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // Deferred deletions otherwise wait for an event loop that tests never enter.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

inline QVariant runJs(QWebEnginePage *page, const QString &script, int timeoutMs = 10000) {
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &v) {
        result = v;
        done = true;
    });
    waitFor([&] { return done; }, timeoutMs);
    return result;
}

inline bool loadAndWait(BrowserView *view, const QUrl &url, int timeoutMs = 20000) {
    bool finished = false;
    bool ok = false;
    auto c = QObject::connect(view, &QWebEngineView::loadFinished, [&](bool good) {
        finished = true;
        ok = good;
    });
    view->load(url);
    waitFor([&] { return finished; }, timeoutMs);
    QObject::disconnect(c);
    return ok;
}

inline QByteArray testPng() {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Records every answer of a query in window.__log: ["ok", request, text] or
// ["fail", request, code, message].
inline const char *const kPageScript = R"(<script>
window.__log = [];
window.q = function (r, persistent) {
  return ClientRequest({request: r, persistent: !!persistent,
    onSuccess: function (t) { __log.push(['ok', r, t]); },
    onFailure: function (c, m) { __log.push(['fail', r, c, m]); }});
};
window.__events = [];
window.rec = function (tag) { return function (args) { __events.push([tag, args]); }; };
</script>)";

class EngineHarness {
public:
    static EngineHarness &get() {
        static EngineHarness *instance = nullptr;
        if (!instance) {
            instance = new EngineHarness;
            ::testing::AddGlobalTestEnvironment(new Cleanup);
        }
        return *instance;
    }

    ClientHandler &handler() { return *handler_; }
    QString base() const { return ClientHandler::vendorBase(); }
    QUrl page(const QString &name) const {
        return QUrl(base() + QStringLiteral("/local/Torvanix/") + name);
    }
    QString programDir() const { return programDir_.path(); }

private:
    struct Cleanup : ::testing::Environment {
        void TearDown() override { get().handler_.reset(); }
    };

    EngineHarness() {
        const QString script = QString::fromLatin1(kPageScript);
        auto page = [&](const QString &body) { return (script + body).toUtf8(); };
        QVector<pack::PackEntry> entries = {
            {"theme/Torvanix/main.html", page("<p>main</p><iframe src=\"frame.html\"></iframe>")},
            {"theme/Torvanix/frame.html",
             page("<p>frame</p><script>setMessageCallback('OnDeviceData', "
                  "rec('frame'));</script>")},
            {"theme/Torvanix/plain.html", page("<p>plain</p>")},
            {"theme/Torvanix/quick_set.html", page("<p>quick settings</p>")},
            {"theme/Torvanix/sandboxed.html",
             page("<iframe sandbox=\"allow-scripts\" srcdoc=\"<script>"
                  "var m={__torvanixBridgeMsg:'up',kind:'query',id:1,token:'t',"
                  "request:'{&quot;FuncName&quot;:&quot;Echo&quot;,&quot;v&quot;:&quot;forged&quot;"
                  "}'};"
                  "parent.postMessage(m,'*');</script>\"></iframe>")},
            {"theme/Torvanix/app.js", "window.appScript = 42;"},
            {"theme/Torvanix/logo.png", testPng()},
            {"theme/Torvanix/song.mp3", QByteArray(5000, 'a')},
        };
        QDir(programDir_.path()).mkpath("theme");
        QFile pak(programDir_.filePath("theme/theme.pak"));
        if (pak.open(QIODevice::WriteOnly))
            pak.write(pack::buildPack(entries));
        pak.close();
        handler_ = std::make_unique<ClientHandler>(ClientHandler::Settings{
            ClientHandler::defaultSettings(programDir_.path(), "Torvanix").resources, QString(),
            storage_.path()});
    }

    QTemporaryDir programDir_;
    QTemporaryDir storage_;
    std::unique_ptr<ClientHandler> handler_;
};

} // namespace torvanix::testing

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

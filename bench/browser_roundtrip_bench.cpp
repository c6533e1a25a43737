// Round trip of page queries through the whole path: page JavaScript -> bridge -> main
// window's command table -> answer -> page callback. 1000 sequential IsFirstStart queries per
// run, timed in the page; prints median and 99th percentile.
#include "browser/browser_view.h"
#include "browser/client_handler.h"
#include "ui/window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QWebEnginePage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

torvanix::Window *g_window = nullptr;

QVariant runJs(QWebEnginePage *page, const QString &script) {
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &v) {
        result = v;
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return result;
}

// Runs `count` queries one after the other in the page; answers the per-query times in ms.
std::vector<double> roundTrips(int count) {
    QWebEnginePage *page = g_window->view()->page();
    runJs(page, QStringLiteral(R"(window.__times = null; (function () {
        var times = [], n = %1;
        function next() {
          var t0 = performance.now();
          ClientRequest({request: '{"FuncName":"IsFirstStart"}', onSuccess: function () {
            times.push(performance.now() - t0);
            if (times.length < n) next(); else window.__times = JSON.stringify(times);
          }});
        }
        next();
      })();)")
                    .arg(count));
    QVariant times;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 120000) {
        times = runJs(page, QStringLiteral("window.__times"));
        if (times.isValid() && !times.isNull() && !times.toString().isEmpty())
            break;
    }
    std::vector<double> out;
    for (const auto &v : QJsonDocument::fromJson(times.toString().toUtf8()).array())
        out.push_back(v.toDouble());
    return out;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5));
    return v[i];
}

void BM_IsFirstStartRoundTrip1000(benchmark::State &state) {
    std::vector<double> all;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const std::vector<double> times = roundTrips(1000);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        all.insert(all.end(), times.begin(), times.end());
    }
    state.counters["median_ms"] = percentile(all, 0.5);
    state.counters["p99_ms"] = percentile(all, 0.99);
    state.counters["queries"] = double(all.size());
    std::printf("IsFirstStart round trip over %zu queries: median %.3f ms, p99 %.3f ms\n",
                all.size(), percentile(all, 0.5), percentile(all, 0.99));
}

} // namespace

BENCHMARK(BM_IsFirstStartRoundTrip1000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("TORVANIX_NO_PAUSE", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QTemporaryDir storage;
    auto settings = torvanix::ClientHandler::defaultSettings(QStringLiteral(TORVANIX_PROGRAM_DIR),
                                                             QStringLiteral("Torvanix"));
    settings.storagePath = storage.path();
    {
        torvanix::ClientHandler handler(settings);
        torvanix::Window window;
        window.show();
        bool loaded = false;
        QObject::connect(window.view(), &QWebEngineView::loadFinished,
                         [&](bool) { loaded = true; });
        while (!loaded)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        g_window = &window;
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_window = nullptr;
    }
    return 0;
}

// Start of the browser host to the start page's loadFinished: once cold (engine start, profile,
// first page) and repeatedly warm (a new view on the running engine). Runs offscreen when no
// display is set.
#include "browser/browser_view.h"
#include "browser/client_handler.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>

namespace {

QElapsedTimer g_sinceMain;
double g_coldMs = -1;

double loadStartPage(torvanix::ClientHandler &handler) {
    QElapsedTimer timer;
    timer.start();
    torvanix::BrowserView view(nullptr, &handler);
    view.resize(1200, 800);
    view.show();
    bool done = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { done = true; });
    view.load(QUrl(handler.startUrl()));
    while (!done && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return timer.nsecsElapsed() / 1e6;
}

void prepareEnvironment() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

torvanix::ClientHandler *g_handler = nullptr;

void BM_ColdStartToStartPageLoaded(benchmark::State &state) {
    for (auto _ : state)
        state.SetIterationTime(g_coldMs / 1000.0);
    state.counters["cold_ms"] = g_coldMs;
}

void BM_WarmStartPageLoad(benchmark::State &state) {
    for (auto _ : state)
        state.SetIterationTime(loadStartPage(*g_handler) / 1000.0);
}

} // namespace

BENCHMARK(BM_ColdStartToStartPageLoaded)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmStartPageLoad)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    g_sinceMain.start();
    prepareEnvironment();
    QApplication app(argc, argv);
    QTemporaryDir storage;
    auto settings = torvanix::ClientHandler::defaultSettings(QStringLiteral(TORVANIX_PROGRAM_DIR),
                                                             QStringLiteral("Torvanix"));
    settings.storagePath = storage.path();
    {
        torvanix::ClientHandler handler(settings);
        g_handler = &handler;
        const double pageMs = loadStartPage(handler);
        g_coldMs = g_sinceMain.nsecsElapsed() / 1e6;
        std::printf("cold start (process entry to start page loadFinished): %.1f ms "
                    "(first page alone %.1f ms)\n",
                    g_coldMs, pageMs);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_handler = nullptr;
    }
    return 0;
}

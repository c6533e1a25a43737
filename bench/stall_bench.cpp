// How long the GUI thread stalls while the page drives a session of commands: a 1 ms heartbeat
// timer runs on the GUI thread while the session's commands are dispatched from it, and the
// longest gap between two beats is the stall. The page commands do their slow work (device
// listing with its settle pause, performance samples, an update package, macro files, the
// picture converter, translations) off the GUI thread, so the figure stays below one frame.
#include "device/client_update.h"
#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/library_loader.h"
#include "dispatch/command_dispatcher.h"
#include "dispatch/headless_window_actions.h"
#include "dispatch/page_commands.h"
#include "translate/device_data_handler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

using namespace torvanix;

namespace {

class CountingReply : public Reply {
public:
    explicit CountingReply(std::atomic<int> &answered) : answered_(answered) {}
    void success(const QString &) override { ++answered_; }
    void failure(int, const QString &) override { ++answered_; }

private:
    std::atomic<int> &answered_;
};

QString query(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

struct Session {
    QStringList queries;
    int answering = 0; // how many of them answer
};

Session makeSession(const QTemporaryDir &dir) {
    // A sizeable client update: eight mebibytes of mixed content.
    client_update::Content content;
    content.label = client_update::programVersion();
    QByteArray blob(8 * 1024 * 1024, '\0');
    quint32 x = 12345;
    for (int i = 0; i < blob.size(); ++i) {
        x = x * 1103515245u + 12345u;
        blob[i] = static_cast<char>((i % 3 == 0) ? (x >> 24) : (i & 0x3F));
    }
    content.entries.append({QStringLiteral("pkg/lib/libbig.so"), blob});
    QFile package(dir.path() + "/client.pkg");
    package.open(QIODevice::WriteOnly);
    package.write(
        client_update::encodePackage(client_update::encodeContent(content), QByteArray(32, 'b')));
    package.close();

    Session s;
    const QString list = query({{"FuncName", "GetDevicesList"}});
    const QString perf = query({{"FuncName", "GetPerformance"}});
    s.queries << list << list << perf << perf;
    s.queries << query({{"FuncName", "GetLocalConf"}, {"Name", "D2.0"}});
    s.queries << query({{"FuncName", "SaveCommand"},
                        {"CommandString", QStringLiteral("{\"name\":\"m1\",\"data\":\"%1\"}")
                                              .arg(QString(20000, QLatin1Char('k')))}});
    s.queries << query({{"FuncName", "LoadCommand"}});
    s.queries << query(
        {{"FuncName", "NoticeModify"},
         {"XmlConfigStr", "<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" "
                          "value=\"HJE-XAV-V1.2.0\"/><key name=\"Dpi1\" index=\"10\" length=\"2\" "
                          "value=\"800\" action=\"get\"/></configuration>"}});
    s.queries << query({{"FuncName", "ExecuteUpdateClient"}, {"FilePath", package.fileName()}});
    s.queries << query({{"FuncName", "ImageConvBin"}, {"ImageName", "a.png"}});
    s.queries << perf << list << perf;
    s.answering = 2 + 2 + 1 + 1 + 1 + 1 + 3; // lists, samples, conf, save, load, conv, last three
    return s;
}

void BM_GuiStallDuringCommandSession(benchmark::State &state) {
    setDevicesDirectory(QStringLiteral(TORVANIX_PROGRAM_DIR));
    QTemporaryDir dir;
    const Session session = makeSession(dir);
    NullEventSink events;
    DeviceFunctions deviceList;
    DeviceFunctions translatorDevices;
    device_data_handler translator(translatorDevices, events);
    for (const char *table : {":/drive/D2.0", ":/drive/D3.0", ":/drive/D4.0"})
        translator.loadDriverTemplate(QString::fromLatin1(table));

    double longest = 0;
    for (auto _ : state) {
        HeadlessWindowActions actions({dir.path() + "/m1", dir.path() + "/m1.macro"});
        PageServices services;
        services.programDir = dir.path();
        services.desktopDir = dir.path();
        services.enumerateDevices = [&] { return deviceList.enumerateDevices(); };
        services.writeDevice = [&](const QString &doc) { translator.slot_writeDevice(doc); };
        services.startDetached = [](const QString &, const QStringList &) { return true; };
        services.updatePublicKey = client_update::publicKeyForSeed(QByteArray(32, 'b'));
        CommandDispatcher dispatcher;
        std::shared_ptr<PageCommands> page =
            registerPageCommands(dispatcher, actions, events, services);

        std::atomic<int> answered{0};
        QElapsedTimer clock;
        qint64 lastBeat = 0;
        qint64 stall = 0;
        qint64 longestDispatch = 0;
        std::vector<qint64> gaps;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        heartbeat.setInterval(1);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stall = qMax(stall, now - lastBeat);
            gaps.push_back(now - lastBeat);
            lastBeat = now;
        });
        clock.start();
        heartbeat.start();

        // The page sends its queries a few milliseconds apart, from the GUI thread.
        int next = 0;
        QTimer sender;
        sender.setInterval(5);
        QObject::connect(&sender, &QTimer::timeout, [&] {
            if (next < session.queries.size()) {
                QElapsedTimer inDispatch;
                inDispatch.start();
                dispatcher.onJsMessage(session.queries.at(next++),
                                       std::make_shared<CountingReply>(answered));
                longestDispatch = qMax(longestDispatch, inDispatch.nsecsElapsed());
            }
        });
        sender.start();

        QEventLoop loop;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (next == session.queries.size() && answered.load() >= session.answering &&
                page->waitForIdle(0) && translator.pendingTranslations() == 0)
                loop.quit();
        });
        poll.start();
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        loop.exec();
        heartbeat.stop();
        page->shutdown();

        longest = qMax(longest, stall / 1e6);
        std::sort(gaps.begin(), gaps.end());
        state.counters["max_stall_ms"] = stall / 1e6;
        state.counters["p99_gap_ms"] = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100] / 1e6;
        // The time the GUI thread itself spent in the dispatcher for one query.
        state.counters["max_dispatch_ms"] = longestDispatch / 1e6;
        state.counters["answers"] = answered.load();
    }
    std::printf("longest GUI-thread stall during the command session: %.2f ms\n", longest);
}

// The same heartbeat with no commands: what the machine's scheduling alone costs.
void BM_GuiStallIdle(benchmark::State &state) {
    for (auto _ : state) {
        QElapsedTimer clock;
        qint64 lastBeat = 0;
        qint64 stall = 0;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        heartbeat.setInterval(1);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stall = qMax(stall, now - lastBeat);
            lastBeat = now;
        });
        QEventLoop loop;
        QTimer::singleShot(2500, &loop, &QEventLoop::quit);
        clock.start();
        heartbeat.start();
        loop.exec();
        state.counters["max_stall_ms"] = stall / 1e6;
    }
}

BENCHMARK(BM_GuiStallIdle)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GuiStallDuringCommandSession)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // The commands' developer traces would only slow the terminal down.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

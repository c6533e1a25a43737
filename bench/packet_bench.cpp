// The packet keyboard's two biggest transfers with pauses off and the device operations
// recording in memory: the macro table (10 macros of 20 steps) and the per-key colour table.
// The encoding and transfer bookkeeping must stay far below the pauses the device needs
// between packets; each benchmark prints the pauses' sum next to its own time and the share.

#include "device/device_operations.h"
#include "device/event_sink.h"
#include "device/pacer.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include <QCoreApplication>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <chrono>

using namespace torvanix;

namespace {

// Keeps every written item list, as a recording test double would.
class RecordingOps : public DeviceOperations {
public:
    bool write(const QString &commandString) {
        written << commandString;
        return true;
    }
    bool writeProperty(const QString &, const QString &, const QString &c,
                       const QString &) override {
        return write(c);
    }
    bool writePropertyForQpa(const QString &, const QString &, const QString &c,
                             const QString &) override {
        return write(c);
    }
    bool writePacket(const QString &, const QString &, const QString &c, const QString &) override {
        return write(c);
    }
    bool writeSingleValue(const QString &, const QString &, const QString &c,
                          const QString &) override {
        return write(c);
    }
    QString readProperty(const QString &, int, int) override { return QStringLiteral("0x00"); }
    QString requestPacket(const QString &, int, int) override {
        return QStringLiteral("0x01,0x00,0x00,0x00,0x00");
    }
    bool isAreaBlank(const QString &, int, int) override { return true; }
    bool clearArea(const QString &, int, int) override { return true; }
    bool resetDevice(const QString &) override { return true; }
    void notifyDevice(const QString &, const QByteArray &) override {}
    int readInputReport(const QString &, uint8_t *, int, int) override { return 0; }
    KeyboardLibrary &keyboard() override { std::abort(); }
    MouseLibrary &mouse() override { std::abort(); }
    QStringList written;
};

// Adds up the pauses instead of sleeping.
class SummingPacer : public Pacer {
public:
    void pause(int ms) override { total += ms; }
    long long total = 0;
};

DriverTemplates &tables() {
    static DriverTemplates t;
    static const bool loaded = t.loadBuiltIn();
    (void)loaded;
    return t;
}

QString macroList() {
    const char *const keys[] = {"A", "S", "D", "F", "Ctrl", "Space", "1", "2", "Enter", "Tab"};
    QString list = QStringLiteral("[");
    for (int m = 0; m < 10; ++m) {
        list += m ? QStringLiteral(",{\"content\":\"") : QStringLiteral("{\"content\":\"");
        for (int s = 0; s < 20; s += 4) {
            const QString key = QLatin1String(keys[(m + s) % 10]);
            list += QStringLiteral("键盘按下(%1)延迟(%2)键盘弹起(%1)延迟(%3)")
                        .arg(key)
                        .arg(20 + s)
                        .arg(300 + 50 * m);
        }
        list += QStringLiteral(":1|0|1\"}");
    }
    return list + QStringLiteral("]");
}

QString keyColourDocument() {
    QString keys;
    for (int rc = 0; rc < 144; ++rc)
        keys +=
            QStringLiteral("<key name=\"Button%1\" rc=\"%1\" rgb=\"%2\"/>")
                .arg(rc)
                .arg(QString::number(0x102030 * (rc + 1) & 0xFFFFFF, 16).rightJustified(6, '0'));
    return QStringLiteral("<?xml version=\"1.0\"?><configuration><key name=\"UsbId\" "
                          "value=\"0c458075\"/><key name=\"CurProfile\" value=\"1\"/><light "
                          "index=\"19\" length=\"1\"><mode name=\"LightUp\" index=\"20\" "
                          "length=\"576\" action=\"set\">%1</mode></light></configuration>")
        .arg(keys);
}

template <typename Run> void measure(benchmark::State &state, Run run) {
    NullEventSink events;
    long long pauses = 0;
    long long packets = 0;
    double seconds = 0;
    for (auto _ : state) {
        RecordingOps ops;
        SummingPacer pacer;
        TranslationContext ctx{ops, tables(), events, pacer, nullptr};
        const auto start = std::chrono::steady_clock::now();
        run(ctx);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        pauses = pacer.total;
        packets = ops.written.size();
        benchmark::DoNotOptimize(ops.written);
    }
    const double perRunMs = seconds * 1000.0 / double(state.iterations());
    state.counters["pauses_ms"] = double(pauses);
    state.counters["work_ms"] = perRunMs;
    state.counters["work_share_%"] = 100.0 * perRunMs / double(pauses);
    state.counters["device_writes"] = double(packets);
}

void BM_MacroTableTransfer(benchmark::State &state) {
    const QString list = macroList();
    measure(state, [&](TranslationContext &ctx) {
        writeMacroArray(ctx, QStringLiteral("0c458075"), list);
    });
}

void BM_KeyColourTransfer(benchmark::State &state) {
    const QString document = keyColourDocument();
    measure(state, [&](TranslationContext &ctx) { translateHfdKeyboard(ctx, document); });
}

} // namespace

BENCHMARK(BM_MacroTableTransfer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyColourTransfer)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    tables();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

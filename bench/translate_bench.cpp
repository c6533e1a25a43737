// Documents per second through the D2.0 translator on one core: a key assignment, a lighting
// preset and a DPI level, with pauses off and the device operations counting in memory.
// Also the dispatch path (parse, identity, registry lookup, pool task, device lock).

#include "device/device_operations.h"
#include "device/device_registry.h"
#include "device/event_sink.h"
#include "device/pacer.h"
#include "translate/device_data_handler.h"
#include "translate/driver_templates.h"
#include "translate/translation_context.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QThreadPool>
#include <benchmark/benchmark.h>

using namespace torvanix;

namespace {

class CountingOps : public DeviceOperations {
public:
    bool writeProperty(const QString &, const QString &, const QString &cs,
                       const QString &) override {
        bytes += cs.size();
        ++writes;
        return true;
    }
    bool writePropertyForQpa(const QString &i, const QString &a, const QString &c,
                             const QString &n) override {
        return writeProperty(i, a, c, n);
    }
    bool writePacket(const QString &i, const QString &a, const QString &c,
                     const QString &n) override {
        return writeProperty(i, a, c, n);
    }
    bool writeSingleValue(const QString &i, const QString &a, const QString &c,
                          const QString &n) override {
        return writeProperty(i, a, c, n);
    }
    QString readProperty(const QString &, int, int) override { return QStringLiteral("0x00"); }
    QString requestPacket(const QString &, int, int) override { return QString(); }
    bool isAreaBlank(const QString &, int, int) override { return true; }
    bool clearArea(const QString &, int, int) override { return true; }
    bool resetDevice(const QString &) override { return true; }
    void notifyDevice(const QString &, const QByteArray &) override {}
    int readInputReport(const QString &, uint8_t *, int, int) override { return 0; }
    KeyboardLibrary &keyboard() override { std::abort(); }
    MouseLibrary &mouse() override { std::abort(); }
    long long bytes = 0;
    long long writes = 0;
};

class NoPause : public Pacer {
public:
    void pause(int) override {}
};

const char *KeySet =
    "<?xml version=\"1.0\"?>\n<configuration Ver=\"K2.0\" name=\"local\">\n"
    "\t<key name=\"UsbId\" index=\"1\" length=\"4\" value=\"WSU-DFO-V1.1.0\" />\n"
    "\t<key name=\"FirmwareVersion\" index=\"2\" length=\"17\" value=\"WSU-DFO-V1.1.0.6\" />\n"
    "\t<key name=\"CurProfile\" index=\"5\" length=\"1\" value=\"1\" />\n"
    "\t<key name=\"Button12\" index=\"22\" length=\"15\" value=\"A\" rc=\"12\" nc=\"12\" "
    "type=\"HotKey\" task=\"Ctrl+Alt+Delete\" playtype=\"1\" playcount=\"1\" playdelay=\"300\" "
    "burttonroute=\"1\" dynamicroutedown=\"2\" dynamicrouteup=\"3\" action=\"set\" />\n"
    "</configuration>\n";

const char *LightSet =
    "<?xml version=\"1.0\"?>\n<configuration Ver=\"K2.0\" name=\"local\">\n"
    "\t<key name=\"UsbId\" index=\"1\" length=\"4\" value=\"WSU-DFO-V1.1.0\" />\n"
    "\t<light index=\"20\" length=\"1\" value=\"1\">\n"
    "\t\t<mode name=\"Default\" index=\"3\" length=\"1\" action=\"set\">\n"
    "\t\t\t<key name=\"LightMode\" index=\"24\" length=\"1\" value=\"3\" />\n"
    "\t\t\t<key name=\"LightRGB\" index=\"21\" length=\"3\" value=\"ff8000\" action=\"set\" />\n"
    "\t\t\t<key name=\"LightBrightness\" index=\"23\" length=\"1\" value=\"4\" />\n"
    "\t\t</mode>\n\t</light>\n</configuration>\n";

const char *DpiSet =
    "<?xml version=\"1.0\"?>\n<configuration Ver=\"M1.0\" name=\"local\">\n"
    "\t<key name=\"UsbId\" index=\"1\" length=\"4\" value=\"WSU-DFO-V1.1.0\" />\n"
    "\t<dpi index=\"180\" count=\"4\" current=\"2\" action=\"set\">\n"
    "\t\t<key name=\"Dpi1\" index=\"181\" sync=\"1\" state=\"1\" x=\"800\" y=\"800\" />\n"
    "\t\t<key name=\"Dpi2\" index=\"182\" sync=\"1\" state=\"1\" x=\"1600\" y=\"1600\" />\n"
    "\t\t<key name=\"Dpi3\" index=\"183\" sync=\"2\" state=\"1\" x=\"3200\" y=\"1600\" />\n"
    "\t</dpi>\n</configuration>\n";

DriverTemplates &tables() {
    static DriverTemplates t;
    static const bool loaded = t.loadBuiltIn();
    (void)loaded;
    return t;
}

void translateDocuments(benchmark::State &state, const char *text) {
    CountingOps ops;
    NullEventSink events;
    NoPause pacer;
    TranslationContext ctx{ops, tables(), events, pacer, {}};
    const QString document = QString::fromUtf8(text);
    for (auto _ : state)
        translateGenericD2(ctx, document);
    state.SetItemsProcessed(state.iterations());
    state.counters["documents/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (ops.writes == 0)
        state.SkipWithError("nothing was written");
}

void BM_KeySetD2(benchmark::State &state) {
    translateDocuments(state, KeySet);
}
void BM_LightingSetD2(benchmark::State &state) {
    translateDocuments(state, LightSet);
}
void BM_DpiSetD2(benchmark::State &state) {
    translateDocuments(state, DpiSet);
}

// The whole page path: dispatch, a pool task under the device lock, the translation.
void BM_KeySetThroughDispatch(benchmark::State &state) {
    PublishedDevices::instance().publish(
        {{QStringLiteral("WSU-DFO-V1.1.0"), QJsonObject{{"DevicePath", "/bench"}}}});
    CountingOps ops;
    NullEventSink events;
    NoPause pacer;
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    device_data_handler handler(ops, events);
    handler.setPacer(&pacer);
    handler.setThreadPool(&pool);
    handler.loadDriverTemplate(QStringLiteral(":/drive/D2.0"));
    const QString document = QString::fromUtf8(KeySet);
    for (auto _ : state) {
        handler.writeDevice(document);
        handler.waitForDone();
    }
    state.counters["documents/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TemplateLookup(benchmark::State &state) {
    const DriverTemplate &d2 = tables().generation(QStringLiteral("D2.0"));
    const QString task = QStringLiteral("DELETE");
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupTaskCode(d2, task));
}

void BM_TemplateLookupByDocumentScan(benchmark::State &state) {
    const DriverTemplate &d2 = tables().generation(QStringLiteral("D2.0"));
    const QString task = QStringLiteral("DELETE");
    for (auto _ : state)
        benchmark::DoNotOptimize(lookupTaskCode(d2.document(), task));
}

BENCHMARK(BM_KeySetD2);
BENCHMARK(BM_LightingSetD2);
BENCHMARK(BM_DpiSetD2);
BENCHMARK(BM_KeySetThroughDispatch)->UseRealTime();
BENCHMARK(BM_TemplateLookup);
BENCHMARK(BM_TemplateLookupByDocumentScan);

} // namespace

int main(int argc, char **argv) {
    qputenv("TORVANIX_NO_PAUSE", "1");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

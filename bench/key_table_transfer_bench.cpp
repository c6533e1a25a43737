// A 640-item key table sent to the packet keyboard through the device access libraries of a
// folder (the hidraw ones against the emulator in the test VM, or the simulator's), with the
// program's real pauses between the packets. Each pause is timed as it is slept, so the
// report splits the transfer's time into the pauses the device needs and everything else
// (encoding, library calls, the kernel and the device's answers).
//   key_table_transfer_bench DIR [ROUNDS]
// Prints one line per round and a summary; never judges the figures.
#include "device/device_functions.h"
#include "device/device_registry.h"
#include "device/library_loader.h"
#include "device/pacer.h"
#include "translate/packet_transfer.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace torvanix;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kIdentity = "0c458075";
constexpr int kItems = 640;

// Sleeps like the program's pacer and adds up the time the sleeps really took.
class TimingPacer : public Pacer {
public:
    void pause(int milliseconds) override {
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        slept += Clock::now() - start;
        nominalMs += milliseconds;
    }
    Clock::duration slept{};
    long nominalMs = 0;
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: key_table_transfer_bench DIR [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    setDevicesDirectory(QString::fromLocal8Bit(argv[1]));
    // The listing's settle pause is not part of the figure.
    setPausesEnabled(false);
    DeviceFunctions devices;
    PublishedDevices::instance().publish(devices.enumerateDevices());
    if (!PublishedDevices::instance().contains(QString::fromLatin1(kIdentity))) {
        std::fprintf(stderr, "no packet keyboard %s listed from %s\n", kIdentity, argv[1]);
        return 1;
    }
    setPausesEnabled(true);

    QStringList items;
    for (int i = 0; i < kItems; ++i)
        items << QStringLiteral("0x%1").arg((i * 29 + 7) & 0xFF, 2, 16, QLatin1Char('0'));
    const PacketTransferPlan plan = keyTableTransfer(1);
    double total = 0, paused = 0;
    for (int r = 0; r < rounds; ++r) {
        TimingPacer pacer;
        const auto start = Clock::now();
        const PacketTransferResult result =
            runPacketTransfer(devices, pacer, QString::fromLatin1(kIdentity), plan, items);
        const double all = ms(Clock::now() - start);
        if (!result.ok) {
            std::fprintf(stderr, "round %d failed at %s\n", r + 1, qPrintable(result.failedStep));
            return 1;
        }
        const double p = ms(pacer.slept);
        std::printf("round %d: %.1f ms, pauses %.1f ms (nominal %ld), rest %.2f ms (%.2f%%)\n",
                    r + 1, all, p, pacer.nominalMs, all - p, 100.0 * (all - p) / all);
        total += all;
        paused += p;
    }
    std::printf("key table of %d items, %d rounds: %.1f ms each, outside the pauses %.2f ms "
                "(%.2f%% of the total)\n",
                kItems, rounds, total / rounds, (total - paused) / rounds,
                100.0 * (total - paused) / total);
    return 0;
}

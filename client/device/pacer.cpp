#include "pacer.h"

#include <QtGlobal>
#include <chrono>
#include <thread>

namespace torvanix {

namespace {
std::atomic<Pacer *> g_override{nullptr};

std::atomic<int> &enabledState() {
    // -1: not decided yet, 0: off, 1: on
    static std::atomic<int> state{-1};
    return state;
}
} // namespace

bool pausesEnabled() {
    int s = enabledState().load();
    if (s < 0) {
        const bool off = qEnvironmentVariableIntValue("TORVANIX_NO_PAUSE") != 0;
        int expected = -1;
        enabledState().compare_exchange_strong(expected, off ? 0 : 1);
        s = enabledState().load();
    }
    return s == 1;
}

void setPausesEnabled(bool enabled) {
    enabledState().store(enabled ? 1 : 0);
}

void SleepingPacer::pause(int milliseconds) {
    if (milliseconds <= 0 || !pausesEnabled())
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Pacer &pacer() {
    static SleepingPacer sleeping;
    Pacer *p = g_override.load();
    return p ? *p : sleeping;
}

void setPacer(Pacer *p) {
    g_override.store(p);
}

} // namespace torvanix

#pragma once

#include <QString>
#include <functional>

namespace torvanix {

// How often the page asks for the figures: query count over windows of more than two
// seconds; the window that closes counts towards the next one. The figure is 0 until the
// first window has closed.
class QueryRateCounter {
public:
    // nowUs: a monotonic time stamp in microseconds. Returns the rate figure (per second x 500).
    double sample(qint64 nowUs);

private:
    bool started_ = false;
    qint64 windowStart_ = 0;
    int queryCount_ = 0;
    double lastRate_ = 0.0;
};

// The five figures GetPerformance answers: processor clock (units of 1024 MHz), two figures
// this system leaves at 0, the query rate and used physical memory (thousands of MiB).
class PerformanceFigures {
public:
    struct Memory {
        double totalBytes = 0;
        double availableBytes = 0;
    };
    // Where the samples come from; tests substitute them.
    struct Sources {
        // Processor clock in MHz, or a negative value when it cannot be measured.
        std::function<double()> clockMHz;
        std::function<bool(Memory *)> memory;
        std::function<qint64()> nowUs;
    };

    PerformanceFigures();
    explicit PerformanceFigures(Sources sources);

    // One sample of clock and memory, then of the query rate; the compact JSON array of the
    // five figures as texts with two decimals.
    QString sampleJson();

    float cpuClock = 0;
    float figure2 = 0;
    float figure3 = 0;
    float queryRate = 0;
    float usedMemory = 0;

    // The real sources: the time-stamp counter over a 50 ms pause, /proc/meminfo, the
    // monotonic clock.
    static double measureClockMHz();
    static bool readMemory(Memory *memory);
    // MemTotal / MemAvailable of a /proc/meminfo text.
    static bool parseMeminfo(const QByteArray &text, Memory *memory);

private:
    Sources sources_;
    QueryRateCounter rate_;
};

} // namespace torvanix

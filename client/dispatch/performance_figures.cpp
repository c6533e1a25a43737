#include "performance_figures.h"

#include "device/pacer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define TORVANIX_HAVE_TSC 1
#endif

namespace torvanix {

double QueryRateCounter::sample(qint64 nowUs) {
    if (!started_) {
        started_ = true;
        windowStart_ = nowUs;
    }
    const double elapsed = static_cast<double>(nowUs - windowStart_) / 1000000.0;
    if (elapsed > 2.0) {
        lastRate_ = queryCount_ / elapsed;
        queryCount_ = 0;
        windowStart_ = nowUs;
    }
    ++queryCount_;
    return lastRate_ * 1000.0 / 2.0;
}

PerformanceFigures::PerformanceFigures()
    : PerformanceFigures(
          Sources{&PerformanceFigures::measureClockMHz, &PerformanceFigures::readMemory, [] {
                      static QElapsedTimer clock = [] {
                          QElapsedTimer t;
                          t.start();
                          return t;
                      }();
                      return clock.nsecsElapsed() / 1000;
                  }}) {}

PerformanceFigures::PerformanceFigures(Sources sources) : sources_(std::move(sources)) {}

QString PerformanceFigures::sampleJson() {
    const double mhz = sources_.clockMHz ? sources_.clockMHz() : -1.0;
    if (mhz >= 0) {
        cpuClock = static_cast<float>(mhz / 1024.0);
        qDebug().noquote() << QString::asprintf("cpu:%.02f GHz", cpuClock);
    }
    Memory memory;
    if (sources_.memory && sources_.memory(&memory)) {
        const double total = memory.totalBytes / 1048576.0;
        const double available = memory.availableBytes / 1048576.0;
        usedMemory = static_cast<float>((total - available) / 1000.0);
        qDebug().noquote() << QString::asprintf("use mem:%.02f GB", usedMemory);
    }
    if (sources_.nowUs)
        queryRate = static_cast<float>(rate_.sample(sources_.nowUs()));

    QJsonArray figures;
    for (float value : {cpuClock, figure2, figure3, queryRate, usedMemory})
        figures.append(QString::number(static_cast<double>(value), 'f', 2));
    return QString::fromUtf8(QJsonDocument(figures).toJson(QJsonDocument::Compact));
}

double PerformanceFigures::measureClockMHz() {
#ifdef TORVANIX_HAVE_TSC
    QElapsedTimer timer;
    timer.start();
    const quint32 before = static_cast<quint32>(__rdtsc());
    pacer().pause(50);
    const quint32 after = static_cast<quint32>(__rdtsc());
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    if (elapsedUs <= 0)
        return -1.0;
    // The counter ticks at the nominal clock; the real pause length is used rather than the
    // nominal 50 ms, so a late wake-up does not inflate the figure.
    const qint32 ticks = static_cast<qint32>(after - before);
    return static_cast<double>(static_cast<qint64>(ticks) / elapsedUs);
#else
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (!cpuinfo.open(QIODevice::ReadOnly))
        return -1.0;
    const QList<QByteArray> lines = cpuinfo.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("cpu MHz")) {
            bool ok = false;
            const double mhz = line.mid(line.indexOf(':') + 1).trimmed().toDouble(&ok);
            if (ok)
                return static_cast<double>(static_cast<qint64>(mhz));
        }
    }
    return -1.0;
#endif
}

bool PerformanceFigures::parseMeminfo(const QByteArray &text, Memory *memory) {
    double total = -1;
    double available = -1;
    for (const QByteArray &line : text.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon);
        if (key != "MemTotal" && key != "MemAvailable")
            continue;
        QByteArray value = line.mid(colon + 1).trimmed();
        if (value.endsWith(" kB"))
            value.chop(3);
        bool ok = false;
        const double kib = value.trimmed().toDouble(&ok);
        if (!ok)
            return false;
        (key == "MemTotal" ? total : available) = kib * 1024.0;
    }
    if (total < 0 || available < 0)
        return false;
    memory->totalBytes = total;
    memory->availableBytes = available;
    return true;
}

bool PerformanceFigures::readMemory(Memory *memory) {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return false;
    return parseMeminfo(meminfo.readAll(), memory);
}

} // namespace torvanix

#include "page_test_support.h"

#include "dispatch/performance_figures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace torvanix;
using namespace torvanix::test;

TEST(QueryRate, ZeroUntilTheFirstWindowClosesThenQueriesPerSecondTimes500) {
    QueryRateCounter counter;
    qint64 now = 1000000;
    EXPECT_EQ(counter.sample(now), 0.0);
    // Every 500 ms: the window closes at the query after 2 s with 5 queries counted.
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(counter.sample(now += 500000), 0.0) << i;
    const double first = counter.sample(now += 500000);
    EXPECT_NEAR(first, 5 / 2.5 * 500, 1e-9);
    // The closing query counts towards the next window: 1 + 4 more in the next 2.5 s.
    double later = 0;
    for (int i = 0; i < 5; ++i)
        later = counter.sample(now += 500000);
    EXPECT_NEAR(later, 1000.0, 1e-9);
    // Exactly 2 s is not more than 2 s: the window stays open.
    QueryRateCounter edge;
    edge.sample(0);
    EXPECT_EQ(edge.sample(2000000), 0.0);
    EXPECT_GT(edge.sample(2000001), 0.0);
}

TEST(Performance, MeminfoAndFiguresAreAnsweredAsFiveFixedTexts) {
    PerformanceFigures::Memory memory;
    ASSERT_TRUE(PerformanceFigures::parseMeminfo("MemTotal:       16777216 kB\n"
                                                 "MemFree:         1000000 kB\n"
                                                 "MemAvailable:    8388608 kB\n",
                                                 &memory));
    EXPECT_EQ(memory.totalBytes, 16.0 * 1024 * 1024 * 1024);
    EXPECT_FALSE(PerformanceFigures::parseMeminfo("MemTotal: 5 kB\n", &memory));

    qint64 now = 0;
    bool memoryOk = true;
    PerformanceFigures::Sources sources;
    sources.clockMHz = [] { return 3600.0; };
    sources.memory = [&](PerformanceFigures::Memory *m) {
        if (!memoryOk)
            return false;
        return PerformanceFigures::parseMeminfo("MemTotal: 16777216 kB\nMemAvailable: 8388608 kB\n",
                                                m);
    };
    sources.nowUs = [&] { return now; };
    PageServices services;
    services.performance = std::make_shared<PerformanceFigures>(sources);
    PageFixture f(services);
    const Answer a = f.call(R"({"FuncName":"GetPerformance"})");
    EXPECT_EQ(a.text, R"(["3.52","0.00","0.00","0.00","8.19"])");
    // A failing memory query keeps the last figure.
    memoryOk = false;
    now = 2500000;
    const QJsonArray b =
        QJsonDocument::fromJson(f.call(R"({"FuncName":"GetPerformance"})").text.toUtf8()).array();
    ASSERT_EQ(b.size(), 5);
    EXPECT_EQ(b.at(3).toString(), "200.00");
    EXPECT_EQ(b.at(4).toString(), "8.19");
}

TEST(Performance, RealSourcesGiveSensibleFigures) {
    PerformanceFigures::Memory memory;
    ASSERT_TRUE(PerformanceFigures::readMemory(&memory));
    EXPECT_GT(memory.totalBytes, memory.availableBytes);
    PerformanceFigures figures;
    const QJsonArray a = QJsonDocument::fromJson(figures.sampleJson().toUtf8()).array();
    ASSERT_EQ(a.size(), 5);
    EXPECT_GT(a.at(4).toString().toDouble(), 0.0);
}

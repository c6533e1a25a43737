#include "device/pacer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace torvanix;

namespace {
struct RecordingPacer : Pacer {
    std::vector<int> pauses;
    void pause(int ms) override { pauses.push_back(ms); }
};
} // namespace

TEST(Pacer, OverrideReceivesEveryPauseAndCanBeRemoved) {
    RecordingPacer recording;
    setPacer(&recording);
    pacer().pause(100);
    pacer().pause(0);
    setPacer(nullptr);
    pacer().pause(5); // back on the real pacer, which does not record
    EXPECT_EQ(recording.pauses, (std::vector<int>{100, 0}));
}

TEST(Pacer, SwitchCanBeFlippedBothWays) {
    setPausesEnabled(true);
    EXPECT_TRUE(pausesEnabled());
    setPausesEnabled(false);
    EXPECT_FALSE(pausesEnabled());
}

#include "tracking/frames_unseen.h"

#include <gtest/gtest.h>

#include "tracking/tracker_states.h"

namespace {

TEST(UnseenFrames, CountsOnlyWhatAStallOfTheTrackerExplains) {
    const struct {
        const char* name;
        uint32_t state;
        bool chained;
        uint32_t previous, now;
        double seconds;
        uint32_t unseen;
    } cases[] = {
        {"the next frame", kStateLevelActive, true, 1000, 1001, 0.006, 0},
        {"the same frame again", kStateLevelActive, true, 1000, 1000, 0.006, 0},
        {"six frames on in 100 ms", kStateLevelActive, true, 1000, 1006, 0.1, 5},
        {"paused: the counter runs on", kStatePaused, true, 1000, 1003, 0.05, 2},
        {"back (a reset, rewind)", kStateLevelActive, true, 1000, 400, 0.1, 0},
        {"further than 100 ms allow (fast-forward)", kStateLevelActive, true, 1000, 1012, 0.1, 0},
        {"no game tracked (options menu)", kStateOptionsMenu, true, 1000, 1006, 0.1, 0},
        {"the first window after a reconnection", kStateLevelActive, false, 1000, 1006, 0.1, 0},
    };
    for (const auto& c : cases) {
        RamMirror ram{};
        ram.globalFrame = c.now;
        EXPECT_EQ(UnseenFrames(ram, c.state, c.chained, c.previous, c.seconds), c.unseen) << c.name;
    }
}

}  // namespace

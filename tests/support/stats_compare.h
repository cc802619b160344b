// Field-by-field comparison of tracker statistics, for tests that run the same
// play twice and expect the same outcome. Floats compare bit for bit.
#pragma once

#include <string>

#include "tracking/game_snapshot.h"

struct StatsCompareOptions {
    // Compare the state and the level-end latch too.
    bool state = true;
};

// Empty when equal, else one line per differing field ("recordCount: 3 != 4");
// counts are named by their place in LevelCounts ("totals[3]: 1 != 2").
std::string StatsDifferences(const TrackerStats& a, const TrackerStats& b,
                             StatsCompareOptions options = {});

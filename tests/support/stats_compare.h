// Field-by-field comparison of tracker statistics, for tests that run the same
// play twice and expect the same outcome. Floats compare bit for bit.
#pragma once

#include <string>

#include "tracking/game_snapshot.h"

struct StatsCompareOptions {
    // Compare the state and the level-end latch too. Both may trail by one pass
    // in game modes 32 and 140, where a close is followed by the next step only
    // on the pass after it.
    bool state = true;
    // Compare the record at recordCount, which an opening may not have filled yet.
    bool openRecord = true;
};

// Empty when equal, else one line per differing field ("deaths: 3 != 4").
std::string StatsDifferences(const TrackerStats& a, const TrackerStats& b,
                             StatsCompareOptions options = {});

// Comparison of tracker statistics, for tests that run the same play twice and
// expect the same outcome: the records compare whole, and the parts that
// differ are printed field by field.
#pragma once

#include <ostream>
#include <string>

#include "tracking/game_snapshot.h"

struct StatsCompareOptions {
    // Compare the state and the level-end latch too.
    bool state = true;
};

// Empty when equal, else one line per differing part ("run: {...} != {...}",
// "records[3]: {...} != {...}").
std::string StatsDifferences(const TrackerStats& a, const TrackerStats& b,
                             StatsCompareOptions options = {});

std::ostream& operator<<(std::ostream& out, TrackerState state);
std::ostream& operator<<(std::ostream& out, const LevelCounts& counts);
std::ostream& operator<<(std::ostream& out, const LevelRecord& record);
std::ostream& operator<<(std::ostream& out, const ClassifierLatches& latches);
std::ostream& operator<<(std::ostream& out, const LastSpindash& spindash);

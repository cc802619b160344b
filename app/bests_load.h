// The history's bests read once at start-up on a thread of their own, for the
// comparison lines (report/level_bests.h).
#pragma once

#include <atomic>

#include "report/level_bests.h"

// The bests on their way from the reading thread: `bests` is written before
// `done` is set, and read only after.
struct BestsLoad {
    HistoryBests bests;
    std::atomic<int> done;   // 0 while reading; 1 once `bests` holds what the file gave
};

// The reading thread's work: the history file where Ringwatch keeps it; what
// can't be found or read gives no bests. Sets `load.done`.
void LoadHistoryBests(BestsLoad& load);

// The main thread's step after every collect: the history's bests taken once
// they are read, then the comparison lines.
void BestsLoadFrame(BestsState& state, BestsLoad* load, const TrackerStats& stats, LogBuffer& log, uint64_t now);

// Each level against the player's best as it closes, and the run against the
// best complete run and the sum of best: one log line each. The bests come
// from the play-through history as the report reads it (attempts with a state
// load or a rewind are practice and never a best), and are kept up to date
// with every attempt taken since. Without a history the lines have no
// comparison.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/report_data.h"
#include "log/log_buffer.h"
#include "tracking/tracker_stats.h"

inline constexpr size_t kBestsLineSize = 160;   // bytes of one comparison line, NUL included

// The bests, in hundredths; -1 where there is none.
struct HistoryBests {
    int64_t level[kHistoryLevelCount];   // by level index, the game's order
    int64_t run;                        // the best complete run
};

// The bests of a history file's bytes, as the report reads them.
HistoryBests ReadHistoryBests(const char* bytes, size_t length);

// The bests of the history file at `path`; none where it can't be found or
// read, or without a path.
HistoryBests ReadHistoryFileBests(const char* path);

// The sum of the levels' bests, and how many levels have one.
int64_t SumOfBest(const HistoryBests& bests, int* levels);

// "EH1 00:28.93, best 00:27.50 (+01.43)", "EH1 00:27.10, new best (-00.40)",
// "EH1 00:28.93" without a best. `records` > 1: the level's time joins that
// many records, a special stage between each two ("EH2 01:48.23 (00:45.73
// before the special stage), ..."), `first` the time of the first.
// A practice attempt (a state load in it) is compared and never a new best.
void FormatLevelComparison(uint32_t levelIndex, int64_t hundredths, int64_t first, int records, bool practice,
                           int64_t best, char* out, size_t size);

// "Run 18:40.00, best run 18:37.18 (+02.82), sum of best 18:18.49 (+21.51)";
// the sum names its levels when fewer than all of them have a best.
void FormatRunComparison(int64_t hundredths, bool practice, int64_t bestRun, int64_t sumOfBest, int sumLevels,
                         char* out, size_t size);

// The main thread's record; zero-filled, then BestsInit.
struct BestsState {
    HistoryBests bests;          // the history's once loaded, merged with the attempts since
    HistoryBests sinceStart;     // the attempts taken since start-up
    uint8_t loaded;              // the history's bests are in
    TakenRecords taken;          // closed records of the run being taken already compared
    uint8_t runTaken;            // its end has been compared
    int64_t partTime;            // a level left for a special stage: its time so far
    int64_t partFirst;           // the time up to its first special stage
    int32_t partCount;           // records joined so far; 0: none open
    uint32_t partLevel;
    uint32_t partRun;            // the play-through it belongs to
    uint32_t partLoads;          // state loads in the joined records
    char lastLevelLine[kBestsLineSize];   // the run's latest level against its best, as logged; "" before one
};

void BestsInit(BestsState& state);

// The history's bests, once they are read: what was played meanwhile counts
// too.
void BestsTakeHistory(BestsState& state, const HistoryBests& history);

// The step after every collect: one line per record closed since the last
// frame ("EH2 00:45.73 up to the special stage" for a level left for one) and
// one at the run's end; the bests kept up to date.
void BestsFrame(BestsState& state, const TrackerStats& stats, LogBuffer& log, uint64_t now);

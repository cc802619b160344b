// The tracker's own half of the GameSnapshot: the classifier's state, the
// run's statistics and the level records. Plain data only.
//
// [SECTION] LevelCounts
// [SECTION] LevelRecord
// [SECTION] ClassifierLatches
// [SECTION] RunStats         (counters, run totals, level records)
// [SECTION] LastSpindash
// [SECTION] TrackerStats     (state, level, play-through, and the three above)
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "emulator/game_values.h"
#include "tracking/tracker_states.h"

inline constexpr int kLevelRecordCapacity = 21;   // records shown on the screen at most


// [SECTION] LevelCounts: what a level adds to the run.
// The counts kept for each level and for the whole run: the run's totals as
// they stand, the record of an open level those totals at its opening, and a
// closed record the level's share (LevelShare). Every field is a uint32_t
// count, in the order of the history file's columns; a new statistic is one
// more field here.
struct LevelCounts {
    uint32_t perfectSpindashes = 0;  // P1 releases at top speed (3072)
    uint32_t p1Hits = 0;             // times P1 was hit
    uint32_t pauses = 0;             // pauses counted
    uint32_t deaths = 0;             // deaths counted
    uint32_t lagFrames = 0;          // lag frames counted
    uint32_t rings = 0;              // run: rings summed over closed levels; closed level: its ring count at the close
    uint32_t collected = 0;          // collected count summed at closes, deaths, special stages
    uint32_t framesUnseen = 0;       // game frames that went by between two reads while a game was tracked
    uint32_t stateLoads = 0;         // jumps of the game's timeline from outside: a state loaded, a rewind

    bool operator==(const LevelCounts&) const = default;
};

inline constexpr int kLevelCountFields = static_cast<int>(sizeof(LevelCounts) / sizeof(uint32_t));
static_assert(alignof(LevelCounts) == alignof(uint32_t) && sizeof(LevelCounts) == kLevelCountFields * sizeof(uint32_t),
              "every field of LevelCounts is a uint32_t count");

// The counts in field order, for the code that treats them all alike.
using LevelCountArray = std::array<uint32_t, kLevelCountFields>;
constexpr LevelCountArray CountArray(const LevelCounts& counts) { return std::bit_cast<LevelCountArray>(counts); }

// A level's share of the run's counts: the totals at its close less the
// totals at its opening. Its rings are the exception: the ring count at the
// close, where the run sums them.
constexpr LevelCounts LevelShare(const LevelCounts& atClose, const LevelCounts& atOpening, uint32_t ringsAtClose) {
    LevelCountArray share = CountArray(atClose);
    const LevelCountArray opening = CountArray(atOpening);
    for (int i = 0; i < kLevelCountFields; ++i) share[i] -= opening[i];
    LevelCounts counts = std::bit_cast<LevelCounts>(share);
    counts.rings = ringsAtClose;
    return counts;
}

// [SECTION] LevelRecord: one level of the run.
struct LevelRecord {
    uint32_t levelIndex;         // row of the level name table, taken at the close
    int32_t minutes;             // level time, minutes (may end negative after odd restarts)
    int32_t seconds;             // level time, seconds; 0..59 once closed
    float centiseconds;          // level time, hundredths; below 100 once closed
    LevelCounts counts;          // open: the run's totals at the opening; closed: this level's share
    uint8_t closed;              // 1 once the record is complete
    uint8_t specialStage = 0;    // 1: closed on the way back from a special stage; the level goes on in the next record

    bool operator==(const LevelRecord&) const = default;
};

// [SECTION] ClassifierLatches: what the classifier remembers from one pass to
// the next about the level being played. A new game leaves them as they are.
struct ClassifierLatches {
    uint8_t levelClosed;         // the current level's record has been closed
    uint32_t specialPauseStamp;  // globalFrame when a special-stage pause was counted
    uint8_t pauseLatch;          // a counted pause is still held
    int32_t levelEndTicks;       // ticks since the last active tick with one level counter moving
    uint8_t levelEndSeen;        // the level end was recognised for the current level
    uint8_t specialStageSeen;    // the current special-stage entry has been accounted

    bool operator==(const ClassifierLatches&) const = default;
};

// [SECTION] RunStats: the run's statistics, all of what a new game resets (by
// assigning a fresh record).
struct RunStats {
    float chargeFractionSum;     // sum of charge fractions over counted P1 releases
    float speedFractionSum;      // sum of speed fractions over counted P1 releases
    uint32_t sixTapAttempts;     // counted P1 releases
    uint32_t p2Hits;             // times P2 was hit
    LevelCounts totals;          // the run's counts
    int32_t totalMinutes;        // timer minutes summed
    int32_t totalSeconds;        // timer seconds summed, not normalised (may be <0 or >59)
    int32_t totalTimerFrames;    // timer sixtieths summed
    int32_t recordCount;         // closed records; the current record is records[recordCount]
    LevelRecord records[kLevelRecordCapacity];

    bool operator==(const RunStats&) const = default;
};

// [SECTION] LastSpindash: each player's last spindash, as the screen shows it.
// A new game leaves it as it is.
struct LastSpindash {
    int32_t p1TapCount;          // taps seen in P1's current spindash
    uint32_t p1ReleaseSpeed;     // table speed of P1's last release
    float p1ChargeFraction;      // P1 charge count / 2048
    float p1SpeedFraction;       // (P1 release speed - 2048) / 1024
    uint32_t p2ReleaseSpeed;     // table speed of P2's last release
    float p2ChargeFraction;      // P2 charge count / 2048
    float p2SpeedFraction;       // (P2 release speed - 2048) / 1024

    bool operator==(const LastSpindash&) const = default;
};

// [SECTION] TrackerStats: the classifier's state and the run's statistics.
struct TrackerStats {
    TrackerState trackerState;   // tracking/tracker_states.h
    uint32_t levelIndex;         // row of the level name table, kLevelIndexBlank for none
    uint32_t runNumber;          // the play-through the statistics belong to; raised when a new game resets them
    ClassifierLatches latches;
    RunStats run;
    LastSpindash spindash;

    bool operator==(const TrackerStats&) const = default;
};

// The closed records the table holds: recordCount, kept within 0 and
// kLevelRecordCapacity.
constexpr int32_t StoredRecordCount(const TrackerStats& stats) {
    return stats.run.recordCount < 0                      ? 0
           : stats.run.recordCount > kLevelRecordCapacity ? kLevelRecordCapacity
                                                          : stats.run.recordCount;
}

// What a reader of the snapshots on the main thread (the history, the bests)
// has taken of a run's closed records, so that each is taken once.
struct TakenRecords {
    uint32_t run;                // the tracker's runNumber of the run being taken
    int32_t count;               // closed records of that run already taken
};

// Starts `taken` over when `stats` hold another run than it: a new runNumber,
// or fewer closed records than were taken. True when it did.
constexpr bool StartsAnotherRun(TakenRecords& taken, const TrackerStats& stats) {
    if (stats.runNumber == taken.run && StoredRecordCount(stats) >= taken.count) return false;
    taken = TakenRecords{stats.runNumber, 0};
    return true;
}

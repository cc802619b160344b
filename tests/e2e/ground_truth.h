// The ground truth that the scenarios of the stand-in (tools/standin/scenarios)
// write by hand in their comments, as the tracker's statistics must show it
// once the scenario has been played, by the stand-in or by the test cartridge
// in the real emulator.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "tracking/tracker_stats.h"
#include "tracking/tracker_states.h"

// The counts in field order, for the failure messages.
inline void PrintTo(const LevelCounts& counts, std::ostream* out) {
    const char* separator = "{";
    for (uint32_t count : CountArray(counts)) {
        *out << separator << count;
        separator = ", ";
    }
    *out << "}";
}

struct ExpectedRecord {
    uint32_t levelIndex;
    int32_t minutes;
    int32_t seconds;
    float centiseconds;
    LevelCounts counts;   // framesUnseen is not compared: it depends on the machine's load, not on the play
};

inline void ExpectRecord(const LevelRecord& record, const ExpectedRecord& expected) {
    EXPECT_EQ(record.closed, 1);
    EXPECT_EQ(record.levelIndex, expected.levelIndex);
    EXPECT_EQ(record.minutes, expected.minutes);
    EXPECT_EQ(record.seconds, expected.seconds);
    EXPECT_NEAR(record.centiseconds, expected.centiseconds, 0.001);
    LevelCounts counts = record.counts;
    counts.framesUnseen = expected.counts.framesUnseen;
    EXPECT_EQ(counts, expected.counts);
}

// playthrough.txt, played to its end.
inline void ExpectPlayThroughGroundTruth(const TrackerStats& stats) {
    EXPECT_EQ(stats.trackerState, TrackerState::Ending);
    ASSERT_EQ(stats.run.recordCount, 3);
    {
        SCOPED_TRACE("EH1");
        ExpectRecord(stats.run.records[0], {.levelIndex = 0, .minutes = 0, .seconds = 45, .centiseconds = 50.000004f,
            .counts = {.perfectSpindashes = 1, .p1Hits = 1, .pauses = 1, .lagFrames = 3, .rings = 37,
                       .collected = 25}});
    }
    {
        SCOPED_TRACE("EH2 up to the special stage");
        ExpectRecord(stats.run.records[1], {.levelIndex = 1, .minutes = 0, .seconds = 45, .centiseconds = 73.333336f,
            .counts = {.pauses = 1, .deaths = 1, .lagFrames = 2, .rings = 12, .collected = 30}});
    }
    {
        SCOPED_TRACE("EH2 after the special stage");
        ExpectRecord(stats.run.records[2], {.levelIndex = 1, .minutes = 1, .seconds = 2, .centiseconds = 50.000004f,
            .counts = {.p1Hits = 1, .lagFrames = 1, .rings = 64, .collected = 32}});
    }
    EXPECT_EQ(stats.run.totals.pauses, 2u);
    EXPECT_EQ(stats.run.totals.deaths, 1u);
    EXPECT_EQ(stats.run.totals.lagFrames, 6u);
    EXPECT_EQ(stats.run.totals.p1Hits, 2u);
    EXPECT_EQ(stats.run.p2Hits, 1u);
    EXPECT_EQ(stats.run.totals.perfectSpindashes, 1u);
    EXPECT_EQ(stats.run.sixTapAttempts, 1u);
    EXPECT_FLOAT_EQ(stats.run.chargeFractionSum, 1.0f);
    EXPECT_FLOAT_EQ(stats.run.speedFractionSum, 1.0f);
    EXPECT_EQ(stats.run.totals.rings, 113u);
    EXPECT_EQ(stats.run.totals.collected, 87u);
    EXPECT_EQ(stats.run.totalMinutes, 1);
    EXPECT_EQ(stats.run.totalSeconds, 92);
    EXPECT_EQ(stats.run.totalTimerFrames, 104);
}

// playthrough.txt's end on the whole program's screen: the statistics and one
// line per level record.
inline const char* const kPlayThroughFinalScreen[] = {
    "Game End",
    "Statistics:",   // tmux drops the trailing blank
    " - P1 times hit: 2 - P2 times hit 1",
    " - Average spindash speed 100.00% - Average actual speed: 100.00%",
    " - Spindash 6-tap attempts: 1 - Perfect spindashes: 1",
    " Total IGT: 02:32, Adjusted: 02:33.73 - Pauses  2, Deaths 1, Lag  6, Rings  113 (87)",
    " EH1 - IGT: 00:45.50 - PerfectS  1, P1 Hurt  1, Pauses  1, Deaths  0, Lag   3 - Rings  37 (25)",
    " EH2 - IGT: 00:45.73 - PerfectS  0, P1 Hurt  0, Pauses  1, Deaths  1, Lag   2 - Rings  12 (30)",
    " EH2 - IGT: 01:02.50 - PerfectS  0, P1 Hurt  1, Pauses  0, Deaths  0, Lag   1 - Rings  64 (32)",
};

// restart_before.txt up to its say line, then restart_after.txt to its end.
inline void ExpectRestartGroundTruth(const TrackerStats& stats) {
    EXPECT_EQ(stats.run.totals.pauses, 2u);
    ASSERT_EQ(stats.run.recordCount, 1);
    ExpectRecord(stats.run.records[0], {.levelIndex = 0, .minutes = 0, .seconds = 30, .centiseconds = 50.000004f,
        .counts = {.pauses = 2, .rings = 20}});
    EXPECT_EQ(stats.trackerState, TrackerState::LevelEnd);
}

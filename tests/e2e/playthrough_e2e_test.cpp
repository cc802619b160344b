// A whole play-through against the stand-in, and the emulator killed and
// started again in the middle of a level. The expected figures are the ground
// truth written by hand at the bottom of the scenario files.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/standin_test.h"
#include "tracking/classifier.h"

namespace {

using namespace std::chrono_literals;

class PlayThrough : public StandinTest {};

struct ExpectedRecord {
    uint32_t levelIndex;
    int32_t minutes;
    int32_t seconds;
    float centiseconds;
    uint32_t perfectSpindashes;
    uint32_t p1Hits;
    uint32_t pauses;
    uint32_t deaths;
    uint32_t lagFrames;
    uint32_t rings;
    uint32_t collected;
};

void ExpectRecord(const LevelRecord& record, const ExpectedRecord& expected) {
    EXPECT_EQ(record.closed, 1);
    EXPECT_EQ(record.levelIndex, expected.levelIndex);
    EXPECT_EQ(record.minutes, expected.minutes);
    EXPECT_EQ(record.seconds, expected.seconds);
    EXPECT_NEAR(record.centiseconds, expected.centiseconds, 0.001);
    EXPECT_EQ(record.perfectSpindashes, expected.perfectSpindashes);
    EXPECT_EQ(record.p1Hits, expected.p1Hits);
    EXPECT_EQ(record.pauses, expected.pauses);
    EXPECT_EQ(record.deaths, expected.deaths);
    EXPECT_EQ(record.lagFrames, expected.lagFrames);
    EXPECT_EQ(record.rings, expected.rings);
    EXPECT_EQ(record.collected, expected.collected);
}

TEST_F(PlayThrough, StatisticsEqualTheScriptsGroundTruth) {
    ASSERT_TRUE(standin.Start({ScenarioPath("playthrough.txt")}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 3s)) << "connected during the Sega logo";
    ASSERT_TRUE(standin.WaitForLine("done", 30s));
    // A few passes more, so the last frame is surely decoded and published.
    std::this_thread::sleep_for(200ms);
    tracker.Poll();
    ASSERT_TRUE(tracker.ready());

    const TrackerStats& stats = tracker.snapshot().stats;
    EXPECT_EQ(stats.trackerState, kStateEnding);
    ASSERT_EQ(stats.recordCount, 3);
    {
        SCOPED_TRACE("EH1");
        ExpectRecord(stats.records[0], {0, 0, 45, 50.000004f, 1, 1, 1, 0, 3, 37, 25});
    }
    {
        SCOPED_TRACE("EH2 up to the special stage");
        ExpectRecord(stats.records[1], {1, 0, 45, 73.333336f, 0, 0, 1, 1, 2, 12, 30});
    }
    {
        SCOPED_TRACE("EH2 after the special stage");
        ExpectRecord(stats.records[2], {1, 1, 2, 50.000004f, 0, 1, 0, 0, 1, 64, 32});
    }
    EXPECT_EQ(stats.pauses, 2u);
    EXPECT_EQ(stats.deaths, 1u);
    EXPECT_EQ(stats.lagFrames, 6u);
    EXPECT_EQ(stats.p1Hits, 2u);
    EXPECT_EQ(stats.p2Hits, 1u);
    EXPECT_EQ(stats.perfectSpindashes, 1u);
    EXPECT_EQ(stats.sixTapAttempts, 1u);
    EXPECT_FLOAT_EQ(stats.chargeFractionSum, 1.0f);
    EXPECT_FLOAT_EQ(stats.speedFractionSum, 1.0f);
    EXPECT_EQ(stats.totalRings, 113u);
    EXPECT_EQ(stats.totalCollected, 87u);
    EXPECT_EQ(stats.totalMinutes, 1);
    EXPECT_EQ(stats.totalSeconds, 92);
    EXPECT_EQ(stats.totalTimerFrames, 104);

    // The connection held all the way: the only messages are the first pass's.
    ASSERT_EQ(tracker.messages().size(), 2u);
    EXPECT_EQ(tracker.messages()[1].text, "Game found: Sonic 2");
}

// Killed while connected: the next read fails and the tracker lets go; started
// again, it attaches without scanning for the header (this emulator has none
// in memory, so a scan would report "Unknown game") and the run's statistics
// carry on.
TEST_F(PlayThrough, EmulatorKilledAndStartedAgain) {
    ASSERT_TRUE(standin.Start({ScenarioPath("restart_before.txt")}));
    tracker.Start();
    ASSERT_TRUE(standin.WaitForLine("paused-once", 10s));
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.snapshot().stats.pauses == 1 && tracker.ready(); }, 2s));
    EXPECT_EQ(tracker.snapshot().stats.trackerState, kStateLevelActive);
    const size_t before = tracker.messages().size();
    ASSERT_EQ(before, 2u);

    standin.Kill();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() > before; }, 2s));
    const std::regex failed("ReadProcessMemory failed with error code '-?[0-9]+' -- Disconnecting from retroarch.exe");
    EXPECT_TRUE(std::regex_match(tracker.messages()[before].text, failed)) << tracker.messages()[before].text;
    EXPECT_FALSE(tracker.ready());
    EXPECT_EQ(tracker.snapshot().stats.pauses, 1u) << "statistics kept";

    ASSERT_TRUE(standin.Start({"--no-header", ScenarioPath("restart_after.txt")}));
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 4s));
    ASSERT_EQ(tracker.messages().size(), before + 3);
    EXPECT_EQ(tracker.messages()[before + 1].text,
              "SUCCESS: Loaded " + StandinPath("genesis_plus_gx_libretro.dll") + " in retroarch.exe.");
    EXPECT_EQ(tracker.messages()[before + 2].text, "Game found: Sonic 2");

    ASSERT_TRUE(standin.WaitForLine("done", 10s));
    std::this_thread::sleep_for(200ms);
    tracker.Poll();
    const TrackerStats& stats = tracker.snapshot().stats;
    EXPECT_EQ(stats.pauses, 2u);
    ASSERT_EQ(stats.recordCount, 1);
    ExpectRecord(stats.records[0], {0, 0, 30, 50.000004f, 0, 0, 2, 0, 0, 20, 0});
    EXPECT_EQ(stats.trackerState, kStateLevelEnd);
}

}  // namespace

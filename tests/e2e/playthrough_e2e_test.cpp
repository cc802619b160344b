// A whole play-through against the stand-in, and the emulator killed and
// started again in the middle of a level. The expected figures are the ground
// truth written by hand at the bottom of the scenario files.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/ground_truth.h"
#include "e2e/standin_test.h"
#include "tracking/classifier.h"

namespace {

using namespace std::chrono_literals;

class PlayThrough : public StandinTest {};

TEST_F(PlayThrough, StatisticsEqualTheScriptsGroundTruth) {
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, ScenarioPath("playthrough.txt")}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 3s)) << "connected during the Sega logo";
    ASSERT_TRUE(tracker.WaitForFrame(standin.WaitForDone(60s), 2s)) << "the last frame read";

    SCOPED_TRACE(std::to_string(tracker.snapshot().stats.run.totals.framesUnseen) + " game frames went unseen");
    ExpectPlayThroughGroundTruth(tracker.snapshot().stats);

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
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.snapshot().stats.run.totals.pauses == 1 && tracker.ready(); }, 2s));
    EXPECT_EQ(tracker.snapshot().stats.trackerState, TrackerState::LevelActive);
    const size_t before = tracker.messages().size();
    ASSERT_EQ(before, 2u);

    standin.Kill();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() > before; }, 2s));
    const std::regex failed("ReadProcessMemory failed with error code '-?[0-9]+' -- Disconnecting from retroarch.exe");
    EXPECT_TRUE(std::regex_match(tracker.messages()[before].text, failed)) << tracker.messages()[before].text;
    EXPECT_FALSE(tracker.ready());
    EXPECT_EQ(tracker.snapshot().stats.run.totals.pauses, 1u) << "statistics kept";

    ASSERT_TRUE(standin.Start({"--no-header", ScenarioPath("restart_after.txt")}));
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 4s));
    ASSERT_EQ(tracker.messages().size(), before + 3);
    EXPECT_EQ(tracker.messages()[before + 1].text,
              "SUCCESS: Loaded " + StandinPath("genesis_plus_gx_libretro.dll") + " in retroarch.exe.");
    EXPECT_EQ(tracker.messages()[before + 2].text, "Game found: Sonic 2");

    ASSERT_TRUE(tracker.WaitForFrame(standin.WaitForDone(10s), 2s)) << "the last frame read";
    ExpectRestartGroundTruth(tracker.snapshot().stats);
}

}  // namespace

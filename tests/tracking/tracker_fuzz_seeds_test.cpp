// The tracker fuzz target starts from its seed corpus; the fuzzer only finds
// what lies near the seeds. Played through the target's own input language,
// the seeds must reach the game's interesting states.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tracking/game_snapshot.h"
#include "support/tracker_fuzz_input.h"
#include "tracking/classifier.h"

namespace {

bool ModeSeen(const TrackerFuzzReach& reach, uint32_t mode) {
    return (reach.gameModesSeen[mode / 32] >> (mode % 32) & 1u) != 0;
}

#ifdef RINGWATCH_FUZZ_CORPUS_DIR
TEST(TrackerFuzzSeeds, ReachTheGamesInterestingStates) {
    const std::filesystem::path directory = std::filesystem::path(RINGWATCH_FUZZ_CORPUS_DIR) / "tracker";
    std::vector<std::filesystem::path> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) seeds.push_back(entry.path());
    std::sort(seeds.begin(), seeds.end());
    ASSERT_GE(seeds.size(), 3u) << directory;

    TrackerFuzzReach reach{};
    for (const auto& seed : seeds) {
        std::ifstream file(seed, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(PlayTrackerInput(bytes.data(), bytes.size(), &reach)) << seed;
    }

    for (uint32_t mode : {0u, 4u, 12u, 16u, 20u, 32u, 36u, 40u, 140u, 1u, 255u}) {
        EXPECT_TRUE(ModeSeen(reach, mode)) << "game mode " << mode;
    }
    for (uint32_t state = 0; state < static_cast<uint32_t>(kTrackerStateCount); ++state) {
        if (state == static_cast<uint32_t>(TrackerState::TitleScreen)) continue;   // nothing leads to it
        EXPECT_TRUE((reach.statesSeen >> state & 1u) != 0) << "tracker state " << state;
    }
    EXPECT_GE(reach.levelEnds, 21u) << "results object (id 58) recognised";
    EXPECT_GE(reach.mostDeaths, 2u);
    EXPECT_EQ(reach.mostRecords, kLevelRecordCapacity);
    EXPECT_GE(reach.closesPastCapacity, 2u) << "levels closed once all records are filled";
    EXPECT_GE(reach.specialStageEntries, 2u);
    EXPECT_GT(reach.screens, 10u);
    std::printf("level ends %u, most deaths %u, most records %d, closes past capacity %u, special stages %u, "
                "screens %u\n",
                reach.levelEnds, reach.mostDeaths, reach.mostRecords, reach.closesPastCapacity,
                reach.specialStageEntries, reach.screens);
}
#endif

// The language itself: frames move the clocks the way the game does, so a few
// commands make an active level pass, a level end and a death.
TEST(TrackerFuzzSeeds, FramesAndWritesDriveTheClassifier) {
    const uint8_t input[] = {
        kFuzzOpWrite, 10, 3, 0,      // lives 3
        kFuzzOpWrite, 12, 140, 0,    // game mode 140
        kFuzzOpFrames, kFuzzFrameHold, 2, 0,
        kFuzzOpWrite, 12, 12, 0,     // the level
        kFuzzOpFrames, kFuzzFrameRun, 9, 1,
        kFuzzOpWrite, 33, 58, 5,     // the results object in record 5
        kFuzzOpFrames, kFuzzFrameHold, 13, 0,
        kFuzzOpWrite, 10, 2, 0,      // a life lost
        kFuzzOpFrames, kFuzzFrameRun, 0, 0,
        kFuzzOpSignatureLost, 0, 0, 0,
    };
    TrackerFuzzReach reach{};
    ASSERT_TRUE(PlayTrackerInput(input, sizeof input, &reach));
    EXPECT_TRUE(ModeSeen(reach, 12));
    EXPECT_TRUE((reach.statesSeen >> static_cast<uint32_t>(TrackerState::LevelActive) & 1u) != 0);
    EXPECT_EQ(reach.levelEnds, 1u);
    EXPECT_EQ(reach.mostRecords, 1);
    EXPECT_EQ(reach.mostDeaths, 1u) << "counted once, not again on the pass that lost the signature";
}

}  // namespace

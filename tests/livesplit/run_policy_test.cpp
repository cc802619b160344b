#include "livesplit/run_policy.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tracking/tracker_states.h"

namespace {

// One collected snapshot: the tracker's state, the timer's seconds, a record closed in it (1: a level's
// end, 2: on the way to a special stage; 10 s more in the totals), the run's state loads.
struct Frame {
    TrackerState state;
    uint32_t timerSeconds = 0, close = 0, stateLoads = 0;
};

TEST(LiveSplitStep, CommandsFollowTheRun) {
    const struct {
        const char* name;
        std::vector<Frame> frames;
        std::string commands;   // each ended by '|'
        int practiceNotes;
    } cases[] = {
        {"a run with a special stage: one split, at the total",
         {{TrackerState::SegaLogo}, {TrackerState::GameStarting}, {TrackerState::LevelActive, 5}, {TrackerState::LevelEnd, 5, 2},
          {TrackerState::LevelActive, 3}, {TrackerState::LevelEnd, 3, 1}, {TrackerState::Ending}, {TrackerState::SegaLogo}},
         "reset|starttimer|setgametime 0:00:00.00|setgametime 0:00:05.00|setgametime 0:00:10.00|"
         "setgametime 0:00:13.00|setgametime 0:00:20.00|split|reset|",
         0},
        {"a loaded state: no split, LiveSplit left alone until the next new game",
         {{TrackerState::SegaLogo}, {TrackerState::GameStarting}, {TrackerState::LevelActive, 5}, {TrackerState::LevelActive, 6, 0, 1},
          {TrackerState::LevelEnd, 6, 1, 1}, {TrackerState::SegaLogo}, {TrackerState::GameStarting}},
         "reset|starttimer|setgametime 0:00:00.00|setgametime 0:00:05.00|reset|reset|starttimer|"
         "setgametime 0:00:00.00|",
         1},
        {"picked up in the middle of a run: nothing until a new game",
         {{TrackerState::LevelActive, 5}, {TrackerState::LevelActive, 6}, {TrackerState::LevelEnd, 6, 1}, {TrackerState::Ending}}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto snapshot = std::make_unique<GameSnapshot>();
        TrackerStats& stats = snapshot->stats;
        LiveSplitRun run{};
        std::string sent;
        int notes = 0;
        for (const Frame& frame : c.frames) {
            stats.trackerState = frame.state;
            stats.run.totals.stateLoads = frame.stateLoads;
            snapshot->ram.timerSeconds = frame.timerSeconds;
            stats.latches.levelClosed = frame.close != 0 || frame.state == TrackerState::Ending;
            if (frame.close != 0) {
                stats.run.records[stats.run.recordCount].closed = 1;
                stats.run.records[stats.run.recordCount++].specialStage = frame.close == 2;
                stats.run.totalSeconds += 10;
            }
            if (frame.state == TrackerState::SegaLogo) stats = TrackerStats{};
            LiveSplitCommand commands[kLiveSplitStepCommands];
            LiveSplitNote note;
            const int count = LiveSplitStep(run, *snapshot, commands, &note);
            notes += note == LiveSplitNote::Practice;
            for (int i = 0; i < count; ++i) {
                char line[kLiveSplitLineSize];
                const size_t length = FormatLiveSplitCommand(commands[i], line, sizeof line);
                sent += std::string(line, length - 2) + (std::string(line + length - 2) == "\r\n" ? "|" : "?");
            }
        }
        EXPECT_EQ(sent, c.commands);
        EXPECT_EQ(notes, c.practiceNotes);
    }
}

TEST(LiveSplitQueuePush, AFullQueueDropsTheOldestGameTimeNeverASplit) {
    auto queue = std::make_unique<LiveSplitQueue>();
    for (int i = 0; i < kLiveSplitQueueCapacity; ++i)
        LiveSplitQueuePush(*queue, {i < 2 ? LiveSplitCommandKind::SetGameTime : LiveSplitCommandKind::Split, i});
    EXPECT_TRUE(LiveSplitQueuePush(*queue, {LiveSplitCommandKind::Reset, 0}));
    EXPECT_EQ(queue->commands[queue->start].hundredths, 1) << "the oldest game time went";
    EXPECT_TRUE(LiveSplitQueuePush(*queue, {LiveSplitCommandKind::SetGameTime, 99}));   // in the place of 1
    EXPECT_TRUE(LiveSplitQueuePush(*queue, {LiveSplitCommandKind::Split, 0}));          // in the place of 99
    EXPECT_FALSE(LiveSplitQueuePush(*queue, {LiveSplitCommandKind::Split, 0})) << "nothing left to drop";
    EXPECT_TRUE(LiveSplitQueuePush(*queue, {LiveSplitCommandKind::SetGameTime, 7})) << "dropped itself";
    EXPECT_EQ(queue->count, kLiveSplitQueueCapacity);
    EXPECT_EQ(queue->gameTimesDropped, 4u);
}

}  // namespace

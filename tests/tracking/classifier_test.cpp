#include "tracking/classifier.h"

#include <gtest/gtest.h>

#include "support/stats_compare.h"
#include "support/tick_builder.h"

namespace {

constexpr int kSlot = 37;  // any sampled object slot

TEST(ClassifyFrame, GameModesWithoutABranchSetTheirStateAndTouchNoStatistic) {
    for (uint32_t mode = 0; mode < 256; ++mode) {
        if (mode == 0 || mode == 4 || mode == 12 || mode == 16 || mode == 32 || mode == 140) continue;
        TickBuilder play;
        play.StartGame().Pause(true).Sample().Pause(false).Active().LagFrame().Sample();
        const TrackerStats before = play.stats();

        play.Mode(mode).Lives(1).Active();  // nothing in these modes counts, not even a lives drop

        const uint32_t expected = mode == 20 ? 6u : mode == 36 ? 9u : mode == 40 ? 10u : 14u;
        EXPECT_EQ(play.state(), expected) << "mode " << mode;
        EXPECT_EQ(StatsDifferences(before, play.stats(), {.state = false}), "") << "mode " << mode;
    }
}

TEST(ClassifyFrame, LogoAndTitleResetTheRunOnEveryPass) {
    for (uint32_t mode : {0u, 4u}) {
        TickBuilder play;
        play.StartGame().Pause(true).Sample().Pause(false).Lag(2);
        ASSERT_EQ(play.stats().run.totals.pauses, 1u);
        play.Mode(mode).Sample();
        EXPECT_EQ(play.state(), 0u);
        EXPECT_EQ(play.stats().run.totals.pauses, 0u);
        EXPECT_EQ(play.stats().run.totals.lagFrames, 0u);
    }
}

// Lag: a new game frame (global counter advanced) on which neither the level
// frame counter nor the timer moved.
TEST(ClassifyFrame, LagCountsOnlyNewFramesOnWhichBothLevelCountersStoodStill) {
    TickBuilder play;
    play.StartGame();
    play.Sample(3);  // repeated passes over the same frame
    EXPECT_EQ(play.stats().run.totals.lagFrames, 0u);
    play.Lag();
    EXPECT_EQ(play.stats().run.totals.lagFrames, 1u);
    play.Sample(2).Still().Active();
    EXPECT_EQ(play.stats().run.totals.lagFrames, 1u);
    EXPECT_EQ(play.state(), 4u);

    // Also after a death (state 12) ...
    play.Lives(2).Active();
    ASSERT_EQ(play.state(), 12u);
    play.Lag(2);
    EXPECT_EQ(play.stats().run.totals.lagFrames, 3u);
    EXPECT_EQ(play.state(), 12u);

    // ... and before the first active frame of a game (state 7).
    TickBuilder start;
    start.Lives(3).Mode(0).Lag().Mode(140).Lag(2);
    ASSERT_EQ(start.state(), 7u);
    start.Mode(12).Lag(2);
    EXPECT_EQ(start.stats().run.totals.lagFrames, 2u);
    EXPECT_EQ(start.state(), 7u);

    // The game leaves a pause in its main loop after the vertical blank has
    // counted the frame: the first frame seen without the flag is no lag.
    TickBuilder resume;
    resume.StartGame().Pause(true).Lag(2).Pause(false).Lag();
    EXPECT_EQ(resume.stats().run.totals.lagFrames, 0u);
    resume.Lag();
    EXPECT_EQ(resume.stats().run.totals.lagFrames, 1u);

    // The game sets its pause flag once the frame before the pause has run: a
    // frame first seen with the flag is that frame while the Start press that
    // paused is pending (from either controller), and may be the first paused
    // frame once the paused vertical blank has read the controller again.
    struct Onset { uint32_t p1, p2; bool active; uint32_t lag, perfect; } onsets[] = {
        {0x80, 0, false, 1, 0}, {0, 0x80, false, 1, 0}, {0x40, 0, false, 0, 0}, {0, 0, true, 0, 1}};
    for (const Onset& o : onsets) {
        TickBuilder onset;
        onset.StartGame().P1Spindash(1, 0x800).Active().P1Spindash(0, 0x800).Pause(true).Pressed(o.p1, o.p2);
        o.active ? onset.ActiveFrame() : onset.LagFrame();
        onset.Sample(2).Pressed(0).Lag(3).Pause(false).Lag().Active();
        EXPECT_EQ(onset.stats().run.totals.lagFrames, o.lag) << o.p1 << " " << o.p2;
        EXPECT_EQ(onset.stats().run.totals.pauses, 1u);
        EXPECT_EQ(onset.stats().run.totals.perfectSpindashes, o.perfect) << "a release before the pause counts";
    }
}

TEST(ClassifyFrame, OnlyALivesDropIsADeath) {
    TickBuilder play;
    play.StartGame().Lives(4).Active().Lives(5).Sample().Active();
    EXPECT_EQ(play.stats().run.totals.deaths, 0u) << "lives gained";
    EXPECT_EQ(play.state(), 4u);
}

TEST(ClassifyFrame, APassWithoutANewFrameStillSetsTheLevelAndSeesADeath) {
    TickBuilder play;
    play.StartGame(13, 1);
    EXPECT_EQ(play.stats().levelIndex, 3u);
    play.Level(7, 0).Lives(2).Sample();
    EXPECT_EQ(play.stats().levelIndex, 8u);
    EXPECT_EQ(play.state(), 12u);
    EXPECT_EQ(play.stats().run.totals.deaths, 1u);
}

// A pause held for many passes counts once. In a level it is released on the
// first pass with the flag clear; in the special stage only once the global
// frame counter has moved past the frame on which it was counted.
TEST(ClassifyFrame, PauseHeldCountsOnceAndIsReleasedByMode) {
    struct Case {
        uint32_t mode;
        uint32_t pausesAfterQuickRepause;  // flag cleared and set again on the counting frame
    };
    for (Case c : {Case{12, 3}, Case{16, 2}}) {
        TickBuilder play;
        play.StartGame().Mode(c.mode).Active(2);
        play.Pause(true).Lag(20).Sample(3);
        EXPECT_EQ(play.stats().run.totals.pauses, 1u) << "mode " << c.mode;
        if (c.mode == 12) {
            EXPECT_EQ(play.state(), 11u);
        }
        play.Pause(false).Lag();

        play.Pause(true).Lag().Pause(false).Sample().Pause(true).Sample();
        EXPECT_EQ(play.stats().run.totals.pauses, c.pausesAfterQuickRepause) << "mode " << c.mode;

        play.Pause(false).Lag().Pause(true).Lag();
        EXPECT_EQ(play.stats().run.totals.pauses, c.pausesAfterQuickRepause + 1) << "mode " << c.mode;
    }
}

// A special stage is accounted on its first pass after the level last ran;
// coming back through the pre-level passes closes the level's record and
// opens the next.
TEST(ClassifyFrame, SpecialStageIsAccountedOncePerVisitFromARunningLevel) {
    TickBuilder play;
    play.StartGame().Timer(0, 20, 10).Active().Mode(16).Lag(3);
    EXPECT_EQ(play.state(), 5u);
    EXPECT_EQ(play.stats().run.totalTimerFrames, 11);
    play.Mode(140).Lag();
    EXPECT_EQ(play.state(), 2u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
    EXPECT_EQ(play.stats().run.totalTimerFrames, 22);

    play.Lag().Mode(16).Lag(2);  // no level frame ran in between
    EXPECT_EQ(play.state(), 2u);
    EXPECT_EQ(play.stats().run.totalTimerFrames, 22);

    play.Mode(140).Lag().Mode(12).Active().Mode(16).Lag();
    EXPECT_EQ(play.state(), 5u);
    EXPECT_EQ(play.stats().run.totalTimerFrames, 22 + 12);
}

TEST(ClassifyFrame, SpecialStagePauseStampIsTheGlobalFrameAndClearsOnRelease) {
    TickBuilder play;
    play.StartGame().Mode(16).Active();
    EXPECT_EQ(play.state(), 5u);
    play.Pause(true).Lag();
    EXPECT_EQ(play.stats().latches.specialPauseStamp, play.game.globalFrame);
    play.Pause(false).Lag();
    EXPECT_EQ(play.stats().latches.specialPauseStamp, 0u);
    EXPECT_EQ(play.stats().latches.pauseLatch, 0);
}

// The level end: the results object among the sampled ids, looked for from the
// eleventh pass since the last active one on which exactly one level counter
// moved. Repeated passes, lag frames and paused frames neither count nor reset.
TEST(ClassifyFrame, LevelEndIsFoundOnTheEleventhSingleCounterFrame) {
    TickBuilder play;
    play.StartGame().ObjectId(kSlot, kResultsObjectId).Active();
    play.Still(4).Sample(2).Lag(3).Pause(true).Lag(2).Pause(false).Still(6);
    EXPECT_EQ(play.stats().latches.levelEndTicks, 10);
    EXPECT_EQ(play.state(), 11u) << "only an active frame shows the level running again";
    EXPECT_EQ(play.stats().run.recordCount, 0);

    play.Still();
    EXPECT_EQ(play.state(), 13u);
    EXPECT_EQ(play.stats().latches.levelEndSeen, 1);
    EXPECT_EQ(play.stats().run.recordCount, 1) << "the record is closed on the same pass";
    EXPECT_EQ(play.stats().latches.levelClosed, 1);

    // An active frame starts the count again; the search itself is spent for
    // this record.
    play.Active();
    EXPECT_EQ(play.state(), 4u);
    EXPECT_EQ(play.stats().latches.levelEndTicks, 0);
    play.Still(20);
    EXPECT_EQ(play.state(), 4u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
}

TEST(ClassifyFrame, LevelEndNeedsTheResultsObject) {
    TickBuilder play;
    play.StartGame().ObjectId(kSlot, kResultsObjectId - 1).Still(30);
    EXPECT_EQ(play.state(), 4u);
    play.ObjectId(kObjectIdsSampled - 1, kResultsObjectId).Still();
    EXPECT_EQ(play.state(), 13u);

    // Ids past the sampled ones are never looked at: the mirror has no room for them.
    static_assert(sizeof(RamMirror::objectIds) / sizeof(RamMirror::objectIds[0]) == kObjectIdsSampled);
}

TEST(ClassifyFrame, DeathCheckRunsAfterPauseHandlingAndLevelEnd) {
    // Lives drop on a paused frame: death and pause both count.
    TickBuilder paused;
    paused.StartGame().Pause(true).Lives(2).Lag();
    EXPECT_EQ(paused.state(), 12u);
    EXPECT_EQ(paused.stats().run.totals.deaths, 1u);
    EXPECT_EQ(paused.stats().run.totals.pauses, 1u);

    // Lives drop on the frame the level end is found: the record stays open
    // and the search does not run again until the next record is opened.
    TickBuilder play;
    play.StartGame().ObjectId(kSlot, kResultsObjectId).Still(10).Lives(2).Still();
    EXPECT_EQ(play.state(), 12u);
    EXPECT_EQ(play.stats().latches.levelEndSeen, 1);
    EXPECT_EQ(play.stats().run.recordCount, 0);
    EXPECT_EQ(play.stats().latches.levelClosed, 0);

    play.Mode(140).Lag(2);
    EXPECT_EQ(play.state(), 3u);
    play.Mode(12).Active().Still(20);
    EXPECT_EQ(play.state(), 4u);
    EXPECT_EQ(play.stats().run.recordCount, 0);

    // Through the pre-level passes the next record opens and the search is back.
    play.Mode(140).Lag(2);
    EXPECT_EQ(play.state(), 2u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
    play.Mode(12).Active().Still(11);
    EXPECT_EQ(play.state(), 13u);
    EXPECT_EQ(play.stats().run.recordCount, 2);
}

// A pause during a death keeps the death: the pre-level passes then account
// the death time instead of closing the level. Repeated passes over a paused
// frame with the lives drop must not lose it either.
TEST(ClassifyFrame, PauseDuringADeathKeepsTheDeath) {
    TickBuilder droppedWhilePaused;
    droppedWhilePaused.StartGame().Pause(true).Lives(2).Lag().Sample(2);
    TickBuilder pausedAfter;
    pausedAfter.StartGame().Lives(2).Active().Pause(true).Lag(3);

    for (TickBuilder* play : {&droppedWhilePaused, &pausedAfter}) {
        EXPECT_EQ(play->state(), 12u);
        play->Pause(false).Timer(0, 30, 0).Active(5).Still(15);
        EXPECT_EQ(play->state(), 12u);
        play->Mode(140).Lag(2);
        EXPECT_EQ(play->state(), 3u);
        EXPECT_EQ(play->stats().run.recordCount, 0);
        EXPECT_EQ(play->stats().run.totalSeconds, 30);
        EXPECT_EQ(play->stats().run.totals.deaths, 1u);
        EXPECT_EQ(play->stats().run.totals.pauses, 1u);
    }
}

TEST(ClassifyFrame, EndingClosesTheOpenRecordThenShowsTheEnding) {
    TickBuilder play;
    play.StartGame(14, 0).Mode(32).Lag();  // both steps on the frame's one pass
    EXPECT_EQ(play.state(), 8u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
    EXPECT_EQ(play.record(0).levelIndex, 19u);
    play.Lag(3);
    EXPECT_EQ(play.state(), 8u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
}

TEST(ClassifyFrame, PreLevelAfterAnOpenLevelClosesItThenOpensTheNext) {
    TickBuilder play;
    play.StartGame().Pause(true).Lag().Pause(false).Active().Mode(140).Lag();  // both steps on one pass
    EXPECT_EQ(play.state(), 2u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
    EXPECT_EQ(play.record(0).counts.pauses, 1u);
    EXPECT_EQ(play.record(1).counts.pauses, 1u) << "the next record starts from the running totals";
    EXPECT_EQ(play.stats().run.recordCount, 1);
    play.Lag(5);
    EXPECT_EQ(play.state(), 2u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
}

TEST(ClassifyFrame, PreLevelFromContinueDeathTransitionOrGameStartChangesNothing) {
    TickBuilder continueScreen;
    continueScreen.StartGame().Mode(20).Lag();
    TickBuilder afterDeath;
    afterDeath.StartGame().Lives(2).Active().Mode(140).Lag();
    TickBuilder gameStart;
    gameStart.Lives(3).Mode(40).Lag().Mode(140).Lag();

    for (TickBuilder* play : {&continueScreen, &afterDeath, &gameStart}) {
        const TrackerStats before = play->stats();
        play->Mode(140).Timer(0, 30, 15).Collected(4, 4).Lag(3);
        EXPECT_EQ(StatsDifferences(before, play->stats()), "") << "state " << before.trackerState;
    }
}

// The hold counters step with the level frame counter over the frames taken.
struct Holds {
    GameSnapshot snapshot{};
    RamMirror frame{};
    void Take(uint16_t levelFrame, uint8_t p1, uint8_t p2 = 0) {
        frame.levelFrame = levelFrame;
        frame.p1Buttons = p1;
        frame.p2Buttons = p2;
        const RamMirror last = snapshot.ram;
        TakeFrame(snapshot, TimelineFrame{.ram = &frame, .last = &last});
    }
};

TEST(HoldCounters, RunWithTheLevelFrameWhileHeldAndResetOnRelease) {
    Holds h;
    h.Take(100, 0);
    struct Step { uint16_t levelFrame; uint8_t buttons; uint32_t up; };
    const Step steps[] = {{100, 0x01, 0}, {100, 0x01, 0}, {101, 0x01, 1}, {103, 0x01, 3}, {104, 0x00, 0}};
    for (const Step& s : steps) {
        h.Take(s.levelFrame, 0, s.buttons);  // P2 holds Up
        EXPECT_EQ(h.snapshot.holds.p2Frames[0], s.up) << "level frame " << s.levelFrame;
        EXPECT_EQ(h.snapshot.holds.p1Frames[0], 0u);
    }
}

TEST(HoldCounters, WrapOfTheLevelFrameStepsBackButStaysHeld) {
    Holds h;
    h.Take(65534, 0);
    h.Take(65535, 0x08);
    ASSERT_EQ(h.snapshot.holds.p1Frames[3], 1u);
    h.Take(0, 0x08);
    EXPECT_EQ(h.snapshot.holds.p1Frames[3], 1u + (0u - 65535u));
    EXPECT_NE(h.snapshot.holds.p1Frames[3], 0u) << "a held button stays shown as held";
}

TEST(HoldCounters, EachBitDrivesItsOwnCounter) {
    uint32_t counters[kButtonCount] = {10, 20, 30, 40, 50, 60, 70, 80};
    UpdateHoldCounters(0xA5, 5, counters);  // bits 0, 2, 5, 7
    const uint32_t expected[kButtonCount] = {15, 0, 35, 0, 0, 65, 0, 85};
    for (int k = 0; k < kButtonCount; ++k) EXPECT_EQ(counters[k], expected[k]) << "bit " << k;
    UpdateHoldCounters(0x80, 0xFFFFFFFFu, counters);  // a step of -1
    EXPECT_EQ(counters[7], 84u);
    EXPECT_EQ(counters[0], 0u);
}

TEST(LevelIndexFor, FollowsTheZoneTableAndNeverPassesTheBlankName) {
    struct Case {
        uint32_t zone, act, index;
    };
    const Case cases[] = {
        {0, 0, 0},   {0, 1, 1},   {13, 0, 2},  {13, 1, 3},  {15, 0, 4},   {15, 1, 5},  {12, 0, 6},
        {12, 1, 7},  {7, 0, 8},   {7, 1, 9},   {11, 0, 10}, {11, 1, 11},  {10, 0, 12}, {10, 1, 13},
        {4, 0, 14},  {4, 1, 15},  {5, 0, 16},  {16, 0, 17}, {6, 0, 18},   {14, 0, 19},
        // one-level zones ignore the act
        {5, 1, 16},  {6, 1, 18},  {14, 1, 19}, {16, 1, 17}, {5, 255, 16}, {16, 200, 17},
        // unknown zones
        {1, 0, 20},  {2, 0, 20},  {3, 1, 20},  {8, 0, 20},  {9, 0, 20},   {17, 0, 20}, {255, 0, 20},
        // acts above 1: the sum while it stays in the table, else the blank name
        {0, 2, 2},   {13, 5, 7},  {0, 20, 20}, {0, 21, 20}, {13, 17, 19}, {13, 18, 20}, {4, 6, 20},
        {4, 7, 20},  {4, 255, 20}, {15, 255, 20}, {0, 0xFFFFFFFFu, 20}, {12, 0xFFFFFFFAu, 20},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LevelIndexFor(c.zone, c.act), c.index) << "zone " << c.zone << " act " << c.act;
    }
}


}  // namespace

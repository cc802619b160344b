#include "tracking/classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_buffer.h"
#include "tracking/timeline.h"

#include "support/stats_compare.h"
#include "support/tick_builder.h"

namespace {

constexpr int kSlot = 37;  // any sampled object slot

TEST(ClassifyTick, GameModesWithoutABranchSetTheirStateAndTouchNoStatistic) {
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

TEST(ClassifyTick, LogoAndTitleResetTheRunOnEveryPass) {
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
TEST(ClassifyTick, LagCountsOnlyNewFramesOnWhichBothLevelCountersStoodStill) {
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

// Reads racing the game's writes of a frame: the vertical blank steps the timer
// (in a level with water the water line does, later), then the global frame
// counter; the main loop steps the level frame counter and moves the
// players. Whatever part each read sees, the frame is one active frame with
// its spindash release, and a lag frame read three times is one.
TEST(TrackRead, ReadsRacingTheGamesWritesOfAFrameSeeOneActiveFrame) {
    for (const bool water : {false, true}) {
        TickBuilder play;
        play.StartGame(water ? 15 : 0, 0).Read().P1Spindash(1, 0x800).ActiveFrame().Read();
        if (!water) ++play.game.timerFrame, play.Read();
        play.LagFrame().Read();
        ++play.game.levelFrame, play.P1Spindash(0, 0x800).Read();
        if (water) ++play.game.timerFrame, play.Read();
        play.Read().LagFrame().Read(3);
        if (!water) ++play.game.timerFrame, play.Read();   // the next frame begun on a lag frame
        play.ActiveFrame().Read();
        EXPECT_EQ(play.stats().run.totals.lagFrames, 1u) << water;
        EXPECT_EQ(play.stats().run.totals.perfectSpindashes, 1u) << water;
        EXPECT_EQ(play.state(), 4u) << water;
    }
}

// The emulator stops on a frame held as possibly unfinished (paused, its menu
// open): read unchanged every 4 ms, it counts once, within kStoppedFrameSeconds
// of its first read. Before the water line, the frame's timer step is to come.
TEST(TrackRead, TheFrameTheEmulatorStopsOnIsCountedAsItStands) {
    const struct { uint32_t zone, levelStep, charging, hitTimer; uint32_t LevelCounts::*count; } cases[] = {
        {0, 0, 1, 0, &LevelCounts::lagFrames}, {15, 0, 1, 0, &LevelCounts::lagFrames},
        {15, 1, 0, 0, &LevelCounts::perfectSpindashes}, {15, 1, 1, 120, &LevelCounts::p1Hits}};
    for (const auto& c : cases) {
        TickBuilder t;
        t.StartGame(c.zone, 0).Read().P1Spindash(1, 0x800).ActiveFrame().Read();
        const uint32_t before = t.stats().run.totals.*c.count;
        t.LagFrame().P1Spindash(c.charging, 0x800).P1HitTimer(c.hitTimer).game.levelFrame += c.levelStep;
        const uint64_t bound = t.now + static_cast<uint64_t>(kStoppedFrameSeconds * 1e6) + 4000;
        for (; t.now <= bound; t.now += 4000) t.Read();
        EXPECT_EQ(t.stats().run.totals.*c.count, before + 1) << c.zone << " " << c.levelStep << " " << c.hitTimer;
        t.now += 100000;
        EXPECT_EQ(t.Read(3).stats().run.totals.*c.count, before + 1) << "counted once only";
    }
}

// An emulator that writes a frame across its time (BlastEm): a frame is taken
// from its last read, so a hit written late in it counts; a frame read once
// before its main loop ran and then passed over is an unseen frame, no lag.
TEST(TrackRead, AFrameWrittenAcrossItsTimeIsTakenFromItsLastRead) {
    TickBuilder t;
    t.watch.lastRead = 1;
    t.StartGame().Read().ActiveFrame().Read().ActiveFrame().Read();
    t.P1HitTimer(120).Read().P1HitTimer(119).ActiveFrame().Read().ActiveFrame().Read();
    EXPECT_EQ(t.stats().run.totals.p1Hits, 1u);
    t.LagFrame().Read();   // the vertical blank only
    ++t.game.levelFrame, ++t.game.timerFrame;
    t.ActiveFrame().Read().ActiveFrame().Read().Read();
    EXPECT_EQ(t.stats().run.totals.lagFrames, 0u);
    EXPECT_EQ(t.stats().run.totals.framesUnseen, 1u);
}

TEST(ClassifyTick, OnlyALivesDropIsADeath) {
    TickBuilder play;
    play.StartGame().Lives(4).Active().Lives(5).Sample().Active();
    EXPECT_EQ(play.stats().run.totals.deaths, 0u) << "lives gained";
    EXPECT_EQ(play.state(), 4u);
}

TEST(ClassifyTick, APassWithoutANewFrameStillSetsTheLevelAndSeesADeath) {
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
TEST(ClassifyTick, PauseHeldCountsOnceAndIsReleasedByMode) {
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
TEST(ClassifyTick, SpecialStageIsAccountedOncePerVisitFromARunningLevel) {
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

TEST(ClassifyTick, SpecialStagePauseStampIsTheGlobalFrameAndClearsOnRelease) {
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
TEST(ClassifyTick, LevelEndIsFoundOnTheEleventhSingleCounterFrame) {
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

TEST(ClassifyTick, LevelEndNeedsTheResultsObject) {
    TickBuilder play;
    play.StartGame().ObjectId(kSlot, kResultsObjectId - 1).Still(30);
    EXPECT_EQ(play.state(), 4u);
    play.ObjectId(kObjectIdsSampled - 1, kResultsObjectId).Still();
    EXPECT_EQ(play.state(), 13u);

    // Ids past the sampled ones are never looked at: the mirror has no room for them.
    static_assert(sizeof(RamMirror::objectIds) / sizeof(RamMirror::objectIds[0]) == kObjectIdsSampled);
}

TEST(ClassifyTick, DeathCheckRunsAfterPauseHandlingAndLevelEnd) {
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
TEST(ClassifyTick, PauseDuringADeathKeepsTheDeath) {
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

TEST(ClassifyTick, EndingClosesTheOpenRecordThenShowsTheEnding) {
    TickBuilder play;
    play.StartGame(14, 0).Mode(32).Lag();  // both steps on the frame's one pass
    EXPECT_EQ(play.state(), 8u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
    EXPECT_EQ(play.record(0).levelIndex, 19u);
    play.Lag(3);
    EXPECT_EQ(play.state(), 8u);
    EXPECT_EQ(play.stats().run.recordCount, 1);
}

TEST(ClassifyTick, PreLevelAfterAnOpenLevelClosesItThenOpensTheNext) {
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

TEST(ClassifyTick, PreLevelFromContinueDeathTransitionOrGameStartChangesNothing) {
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


// Jumps of the game's timeline made from outside the game (a state loaded, a
// rewind, a reset), and what is not one (fast-forward, a torn read), each read
// as the tracker thread reads: a kind of jump x where it lands. One read a
// frame unless a row says otherwise. Run-ahead's look backs: the repeated-read
// property (repeated_sample_test.cpp).
namespace timeline {

void Play(TickBuilder& t, int frames, std::vector<RamMirror>* seen = nullptr) {
    for (int i = 0; i < frames; ++i) {
        t.ActiveFrame().Read();
        if (seen != nullptr) seen->push_back(t.game);
    }
}
// The results: the timer stands, the results object shows, the record closes.
void Finish(TickBuilder& t) {
    t.ObjectId(kSlot, 58);
    for (int i = 0; i < 12; ++i) t.StillFrame().Read();
    t.ObjectId(kSlot, 0);
}
// The emulator puts `state` into the RAM and runs on from it.
void Load(TickBuilder& t, const RamMirror& state) {
    t.game = state;
    t.Read();
    t.ActiveFrame().Read();
}
// A read racing a load: the global frame counter loaded, the rest not yet.
void ReadTornLoad(TickBuilder& t) {
    const RamMirror whole = t.game;
    t.game.globalFrame -= 40;
    t.Read();
    t.game = whole;
}
void NextLevel(TickBuilder& t) {
    t.Mode(140).Timer(0, 0, 0).StillFrame().Read().StillFrame().Read();
    t.Mode(12).Level(0, 1);
    Play(t, 30);
    Finish(t);
}

struct Closed {
    uint32_t level, deaths, pauses, lagFrames, stateLoads;
};
struct JumpCase {
    const char* name;
    void (*play)(TickBuilder&);
    std::vector<Closed> records;
    uint32_t runDeaths, runStateLoads, framesUnseen;
    const char* line;   // the one line the log says, "" for none
};

const JumpCase kJumpCases[] = {
    {"state loaded after a death, into the same level",
     [](TickBuilder& t) {
         Play(t, 60);
         const RamMirror saved = t.game;
         Play(t, 60);
         t.Lives(2).ActiveFrame().Read();
         Play(t, 30);
         Load(t, saved);
         Play(t, 30);
         Finish(t);
         NextLevel(t);
     },
     {{0, 1, 0, 0, 1}, {1, 0, 0, 0, 0}}, 1, 1, 0, "State loaded: EH1 00:02.53 -> EH1 00:01.05"},
    {"state loaded before the goal, after the level's end",
     [](TickBuilder& t) {
         Play(t, 60);
         const RamMirror saved = t.game;
         Play(t, 30);
         Finish(t);
         Load(t, saved);
         Play(t, 30);
         Finish(t);
     },
     {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 1}}, 0, 1, 0, "State loaded: EH1 00:01.52 -> EH1 00:01.05"},
    {"state loaded from another level, ahead: the open record is left",
     [](TickBuilder& t) {
         Play(t, 30);
         t.Lives(2).ActiveFrame().Read();
         RamMirror chemical = t.game;
         chemical.zone = 13;
         chemical.act = 1;
         chemical.lives = 5;
         chemical.globalFrame += 5000;
         chemical.timerSeconds = 30;
         Load(t, chemical);
         Play(t, 30);
         Finish(t);
     },
     {{3, 0, 0, 0, 1}}, 1, 1, 0, "State loaded: EH1 00:00.53 -> CP2 00:30.57"},
    {"state loaded from the title into a level",
     [](TickBuilder& t) {
         Play(t, 60);
         const RamMirror saved = t.game;
         t.Mode(4);
         for (int i = 0; i < 60; ++i) t.LagFrame().Read();
         Load(t, saved);
         Play(t, 30);
         Finish(t);
     },
     {{0, 0, 0, 0, 1}}, 0, 1, 0, "State loaded: title screen -> EH1 00:01.05"},
    {"rewound over a death",
     [](TickBuilder& t) {
         std::vector<RamMirror> seen;
         Play(t, 60, &seen);
         t.Lives(2).ActiveFrame().Read();
         seen.push_back(t.game);
         Play(t, 20, &seen);
         for (size_t i = seen.size() - 1; i-- > 20;) {
             t.game = seen[i];
             t.now += t.framePeriod;
             t.Read(3);
         }
         Play(t, 40);
         Finish(t);
     },
     {{0, 1, 0, 0, 1}}, 1, 1, 0, "Rewound: EH1 00:01.37 -> EH1 00:00.40"},
    {"fast-forward: ten frames a read",
     [](TickBuilder& t) {
         Play(t, 30);
         t.framePeriod /= 10;
         for (int i = 0; i < 60; ++i) {
             for (int f = 0; f < 10; ++f) t.ActiveFrame();
             t.Read();
         }
         t.framePeriod *= 10;
         Finish(t);
     },
     {{0, 0, 0, 0, 0}}, 0, 0, 540,
     "Fast-forward: 540 game frames went by unseen in the last 10 s; a lag frame, pause or spindash release in "
     "them may be missing."},
    {"a stall of the tracker: not a jump",
     [](TickBuilder& t) {
         Play(t, 30);
         for (int f = 0; f < 6; ++f) t.ActiveFrame();
         t.Read();
         Play(t, 10);
         Finish(t);
     },
     {{0, 0, 0, 0, 0}}, 0, 0, 5,
     "WARNING: 5 game frames went unseen in the last 10 s (the machine was busy); a lag frame, pause or spindash "
     "release in them may be missing."},
    {"a read racing a load: its counter loaded, the rest not",
     [](TickBuilder& t) {
         Play(t, 60);
         ReadTornLoad(t);
         Play(t, 30);
         Finish(t);
     },
     {{0, 0, 0, 0, 0}}, 0, 0, 0, ""},
    {"a read racing a load, the game read again five frames on",
     [](TickBuilder& t) {
         Play(t, 60);
         ReadTornLoad(t);
         for (int f = 0; f < 5; ++f) t.ActiveFrame();
         t.Read();
         Play(t, 30);
         Finish(t);
     },
     {{0, 0, 0, 0, 0}}, 0, 0, 4,
     "WARNING: 4 game frames went unseen in the last 10 s (the machine was busy); a lag frame, pause or spindash "
     "release in them may be missing."},
    {"reset: the game's own, from the logo",
     [](TickBuilder& t) {
         Play(t, 60);
         t.game.globalFrame = 0;
         t.Mode(0);
         for (int i = 0; i < 30; ++i) t.LagFrame().Read();
     },
     {}, 0, 0, 0, ""},
};

TEST(TrackRead, JumpsTakeTheTrackersStateFromTheRamAndMarkTheRecords) {
    for (const JumpCase& c : kJumpCases) {
        SCOPED_TRACE(c.name);
        TickBuilder t;
        t.StartGame();
        c.play(t);
        LogBuffer log{};
        SayTimeline(t.watch, log, t.now);

        const TrackerStats& stats = t.stats();
        ASSERT_EQ(stats.run.recordCount, static_cast<int32_t>(c.records.size()));
        for (size_t i = 0; i < c.records.size(); ++i) {
            const LevelCounts& counts = stats.run.records[i].counts;
            const Closed& expected = c.records[i];
            EXPECT_EQ(stats.run.records[i].levelIndex, expected.level) << "record " << i;
            EXPECT_EQ(counts.deaths, expected.deaths) << "record " << i;
            EXPECT_EQ(counts.pauses, expected.pauses) << "record " << i;
            EXPECT_EQ(counts.lagFrames, expected.lagFrames) << "record " << i;
            EXPECT_EQ(counts.stateLoads, expected.stateLoads) << "record " << i;
        }
        EXPECT_EQ(stats.run.totals.deaths, c.runDeaths);
        EXPECT_EQ(stats.run.totals.stateLoads, c.runStateLoads);
        EXPECT_EQ(stats.run.totals.framesUnseen, c.framesUnseen);
        ASSERT_EQ(log.count, c.line[0] == 0 ? 0 : 1);
        if (log.count == 1) {
            EXPECT_STREQ(log.entries[0].text, c.line);
        }
    }
}

}  // namespace timeline

}  // namespace

#include "tracking/timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/game_values.h"
#include "log/log_buffer.h"
#include "tracking/classifier.h"

#include "support/tick_builder.h"

namespace {

constexpr int kSlot = 37;  // any sampled object slot

// Read sequences and what the timeline yields for each, the tracker's facts
// given. Each read moves the game on from the read before (global frame
// counter, level frame counter, timer sixtieths) and comes `ms` after it.
// A read's yield: the kind of each step, with the global frame of the frame
// taken, ~ and the frames unseen before it, ! for a landing, * for a timer
// step due; steps of one read joined by ", ", reads by " | ".
struct Step {
    int32_t global, level, timer;
    double ms;
};
struct SequenceRow {
    const char* name;
    TrackerFacts facts;
    bool lastRead;
    uint32_t zone;
    std::vector<Step> reads;
    const char* yields;
};

constexpr Step kActive{1, 1, 1, 16.7};
constexpr Step kAgain{0, 0, 0, 4};
constexpr TrackerFacts kRunning{.trackingActive = true, .levelRuns = true};

const char* KindName(ReadKind kind) {
    constexpr const char* kNames[] = {"First", "Play", "FastForward", "LookBack", "Held", "Unfinished", "Jump", "Landed"};
    return kNames[static_cast<int>(kind)];
}

const SequenceRow kSequences[] = {
    {"at the game's pace, read again, looked back on", kRunning, false, 0,
     {kActive, kActive, kAgain, {-3, -3, -3, 4}, {4, 4, 4, 4}},
     "First 1000 | Play 1001 | Play 1001 | LookBack | Play 1002"},
    {"two frames ahead: held, then taken before the read after it", kRunning, false, 0,
     {kActive, {2, 2, 2, 20}, kActive},
     "First 1000 | Held | Play 1002~1, Play 1003"},
    {"a run-ahead burst: the frames ahead dropped", kRunning, false, 0,
     {kActive, {3, 3, 3, 8}, {-2, -2, -2, 4}, kActive},
     "First 1000 | Held | Play 1001 | Play 1002"},
    {"a lag frame read before its main loop: held, dropped when read further written", kRunning, false, 0,
     {kActive, {1, 0, 0, 16}, {0, 1, 1, 3}, kActive},
     "First 1000 | Held | Play 1001 | Play 1002"},
    {"a lag frame: held, taken once the next frame shows", kRunning, false, 0,
     {kActive, {1, 0, 0, 16}, kActive},
     "First 1000 | Held | Play 1001, Play 1002"},
    {"the next frame's vertical blank before its counter step: ignored", kRunning, false, 0,
     {kActive, {0, 0, 1, 8}, {1, 1, 0, 8}},
     "First 1000 | Unfinished | Play 1001"},
    {"one level counter moved, the level not running: taken at once", {true, false}, false, 0,
     {kActive, {1, 1, 0, 16.7}},
     "First 1000 | Play 1001"},
    {"the emulator stopped before the water line: taken with its timer step due", kRunning, false, 15,
     {kActive, {1, 1, 0, 16}, kAgain, {0, 0, 0, 260}},
     "First 1000 | Held | Held | Play 1001*, Play 1001"},
    {"written across its time, read only as it began and passed over: unseen", kRunning, true, 0,
     {kActive, {1, 0, 0, 16}, kAgain, {1, 2, 2, 16}, kActive},
     "First 1000 | Held | Held | Held | Play 1002~1, Held"},
    {"fast-forward, the frames by not counted outside tracking", {false, false}, false, 0,
     {kActive, {60, 60, 60, 50}, {5, 5, 5, 33}},
     "First 1000 | Held | FastForward 1060, Held"},
    {"a jump back: taken once the game runs on from where it landed", kRunning, false, 0,
     {kActive, {-500, -500, -500, 16}, kActive, kActive},
     "First 1000 | Jump | Jump | Landed 502!"},
    {"a read racing a load: back where the game was, no jump", kRunning, false, 0,
     {kActive, {-40, 0, 0, 4}, {41, 1, 1, 13}},
     "First 1000 | Jump | Play 1001"},
};

TEST(StepTimeline, YieldsTheFramesToTakeOfEachReadSequence) {
    for (const SequenceRow& row : kSequences) {
        FrameWatch watch{};
        watch.counterFrequency = 1e6;
        watch.lastRead = row.lastRead;
        RamMirror game{};
        game.gameMode = kModeLevel;
        game.zone = row.zone;
        game.globalFrame = 999;
        double now = 0;
        std::string yields;
        for (const Step& read : row.reads) {
            game.globalFrame += read.global;
            game.levelFrame += read.level;
            game.timerFrame += read.timer;
            now += read.ms * 1000;
            yields += yields.empty() ? "" : " | ";
            TimelineStep step;
            do {
                step = StepTimeline(watch, game, static_cast<uint64_t>(now), row.facts);
                yields += KindName(step.kind);
                if (step.take) {
                    const TimelineFrame& f = step.frame;
                    yields += " " + std::to_string(static_cast<int32_t>(f.ram->globalFrame));
                    if (f.unseen) yields += "~" + std::to_string(f.unseen);
                    if (f.landed) yields += "!";
                    if (f.timerStepDue) yields += "*";
                }
                if (step.again) yields += ", ";
            } while (step.again);
        }
        EXPECT_EQ(yields, row.yields) << row.name;
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

    // A frame run whole between two reads, read once with the next vertical
    // blank's timer step in it; that next frame read only before its main
    // loop, over more than kFrameReadSpanSeconds: it ran, no lag.
    t.ActiveFrame(), ++t.game.timerFrame, t.Read().LagFrame().Read();
    t.now += 6000, t.Read(), ++t.game.levelFrame;
    t.ActiveFrame().Read().ActiveFrame().Read();
    EXPECT_EQ(t.stats().run.totals.lagFrames, 0u);
    EXPECT_EQ(t.stats().run.totals.framesUnseen, 2u);
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

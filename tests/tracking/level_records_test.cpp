#include "tracking/level_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/stats_compare.h"
#include "support/tick_builder.h"
#include "tracking/classifier.h"
#include "tracking/frames_unseen.h"

namespace {

struct TimerStep {
    enum Kind { kDeath, kRestart, kSpecialStage, kClose } kind;
    uint32_t minutes, seconds, sixtieths;
};

struct TimeCase {
    const char* name;
    std::vector<TimerStep> steps;
    int32_t minutes, seconds;
    float centiseconds;
    float tolerance;  // 0: bit for bit
};

// The level time of one record through its deaths, restarts and special-stage
// entries up to its close, in the single precision that the screen shows.
TEST(LevelRecordTime, AccumulatesAndNormalisesAtTheClose) {
    using S = TimerStep;
    const TimeCase cases[] = {
        {"fresh record", {{S::kClose, 1, 2, 30}}, 1, 2, 50.000004f, 0},
        {"two additions of 30 sixtieths carry one second",
         {{S::kDeath, 0, 10, 30}, {S::kRestart, 0, 0, 0}, {S::kClose, 0, 20, 30}}, 0, 31, 7.62939453125e-06f, 0},
        {"two additions of 59 sixtieths",
         {{S::kDeath, 0, 0, 59}, {S::kRestart, 0, 0, 0}, {S::kClose, 0, 0, 59}}, 0, 1, 96.66667f, 0.0001f},
        {"carry into a whole minute",
         {{S::kDeath, 0, 59, 30}, {S::kRestart, 0, 0, 0}, {S::kClose, 0, 0, 30}}, 1, 0, 7.62939453125e-06f, 0},
        {"special-stage entry adds only sixtieths",
         {{S::kSpecialStage, 0, 30, 30}, {S::kClose, 0, 40, 30}}, 0, 41, 7.62939453125e-06f, 0},
        {"restart from a later checkpoint time",
         {{S::kDeath, 1, 10, 0}, {S::kRestart, 0, 50, 0}, {S::kClose, 2, 5, 0}}, 2, 25, 0.0f, 0},
        {"seconds -5 borrow a minute",
         {{S::kDeath, 0, 10, 0}, {S::kRestart, 0, 15, 0}, {S::kClose, 3, 0, 0}}, 2, 55, 0.0f, 0},
        {"seconds -60 borrow one minute", {{S::kRestart, 0, 60, 0}, {S::kClose, 0, 0, 0}}, -1, 0, 0.0f, 0},
        {"seconds -61 borrow two", {{S::kRestart, 0, 61, 0}, {S::kClose, 0, 0, 0}}, -2, 59, 0.0f, 0},
        {"seconds -120 borrow two", {{S::kRestart, 0, 120, 0}, {S::kClose, 0, 0, 0}}, -2, 0, 0.0f, 0},
        {"seconds -121 borrow three", {{S::kRestart, 0, 121, 0}, {S::kClose, 0, 0, 0}}, -3, 59, 0.0f, 0},
    };
    for (const TimeCase& c : cases) {
        TickBuilder play;
        GameSnapshot& snap = play.snapshot;
        for (const TimerStep& step : c.steps) {
            snap.ram.timerMinutes = step.minutes;
            snap.ram.timerSeconds = step.seconds;
            snap.ram.timerFrame = step.sixtieths;
            switch (step.kind) {
                case S::kDeath: AccountDeathTime(snap); break;
                case S::kRestart: AccountRestart(snap); break;
                case S::kSpecialStage: AccountSpecialStageEntry(snap); break;
                case S::kClose: CloseLevelRecord(snap); break;
            }
        }
        const LevelRecord& record = play.record(0);
        EXPECT_EQ(record.minutes, c.minutes) << c.name;
        EXPECT_EQ(record.seconds, c.seconds) << c.name;
        if (c.tolerance == 0) {
            EXPECT_EQ(record.centiseconds, c.centiseconds) << c.name;
        } else {
            EXPECT_NEAR(record.centiseconds, c.centiseconds, c.tolerance) << c.name;
        }
        EXPECT_EQ(record.closed, 1) << c.name;
        EXPECT_EQ(play.stats().run.recordCount, 1) << c.name;
    }
}

// What each operation adds to or takes from the run's totals, with the timer
// at 1:30 and 30 sixtieths, 40 rings and a collected figure of 2 + 3.
TEST(LevelRecordTotals, EachOperationMovesItsOwnTotals) {
    struct Case {
        const char* name;
        void (*operation)(GameSnapshot&);
        uint32_t collected;
        int32_t minutes, seconds, timerFrames;
        uint32_t rings;
    };
    const Case cases[] = {
        {"death", AccountDeathTime, 5, 1, 30, 30, 0},
        {"restart", AccountRestart, 0, -1, -30, 0, 0},
        {"special-stage entry", AccountSpecialStageEntry, 5, 0, 0, 30, 0},
        {"close", CloseLevelRecord, 5, 1, 30, 30, 40},
    };
    for (const Case& c : cases) {
        TickBuilder play;
        GameSnapshot& snap = play.snapshot;
        snap.ram.timerMinutes = 1;
        snap.ram.timerSeconds = 30;
        snap.ram.timerFrame = 30;
        snap.ram.rings = 40;
        snap.ram.collectedA = 2;
        snap.ram.collectedB = 3;
        c.operation(snap);
        EXPECT_EQ(snap.stats.run.totals.collected, c.collected) << c.name;
        EXPECT_EQ(snap.stats.run.totalMinutes, c.minutes) << c.name;
        EXPECT_EQ(snap.stats.run.totalSeconds, c.seconds) << c.name;
        EXPECT_EQ(snap.stats.run.totalTimerFrames, c.timerFrames) << c.name;
        EXPECT_EQ(snap.stats.run.totals.rings, c.rings) << c.name;
    }
}

// The same death and restart as played: the record holds unnormalised time in
// between, and the totals are never normalised.
TEST(LevelRecordTime, DeathAndRestartAsPlayed) {
    TickBuilder play;
    play.StartGame().Timer(1, 10, 0).Lives(2).Active();
    play.Mode(140).Timer(1, 10, 1).Lag(2);  // the timer as the death left it
    play.Mode(12).Timer(0, 50, 0).Active();
    EXPECT_EQ(play.record(0).minutes, 1);
    EXPECT_EQ(play.record(0).seconds, -40);

    play.Timer(2, 5, 0).Mode(140).Lag();
    EXPECT_EQ(play.record(0).minutes, 2);
    EXPECT_EQ(play.record(0).seconds, 25);
    EXPECT_EQ(play.record(0).counts.deaths, 1u);
    EXPECT_EQ(play.stats().run.totalMinutes, 3);
    EXPECT_EQ(play.stats().run.totalSeconds, -35);
    EXPECT_EQ(play.stats().run.totalTimerFrames, 1);
}

TEST(LevelRecords, EachRecordTakesItsLevelsShareOfTheRunningTotals) {
    TickBuilder play;
    play.StartGame(13, 0).Rings(20).Collected(3, 4);
    play.Pause(true).Lag().Pause(false).Active().Lag(3).Active();
    play.snapshot.stats.run.totals.framesUnseen += 4;
    play.Lives(2).Active().Mode(140).Lag(2).Mode(12).Active();  // death: collected 7 into the total
    play.Mode(140).Rings(42).Collected(5, 0).Lag(2);             // close, then open the next
    ASSERT_EQ(play.stats().run.recordCount, 1);

    play.Mode(12).Level(13, 1).Active().Pause(true).Lag().Pause(false).Active().Lag().Active();
    play.snapshot.stats.run.totals.framesUnseen += 1;
    play.Mode(140).Rings(7).Collected(2, 1).Lag();
    ASSERT_EQ(play.stats().run.recordCount, 2);

    struct Expect {
        uint32_t levelIndex, pauses, lagFrames, deaths, rings, collected, framesUnseen;
    };
    const Expect expected[] = {{2, 1, 3, 1, 42, 12, 4}, {3, 1, 1, 0, 7, 3, 1}};
    for (int i = 0; i < 2; ++i) {
        const LevelRecord& r = play.record(i);
        EXPECT_EQ(r.levelIndex, expected[i].levelIndex) << "record " << i;
        EXPECT_EQ(r.counts.pauses, expected[i].pauses) << "record " << i;
        EXPECT_EQ(r.counts.lagFrames, expected[i].lagFrames) << "record " << i;
        EXPECT_EQ(r.counts.deaths, expected[i].deaths) << "record " << i;
        EXPECT_EQ(r.counts.rings, expected[i].rings) << "record " << i;
        EXPECT_EQ(r.counts.collected, expected[i].collected) << "record " << i;
        EXPECT_EQ(r.counts.framesUnseen, expected[i].framesUnseen) << "record " << i;
    }
    EXPECT_EQ(play.stats().run.totals.rings, 49u);
    EXPECT_EQ(play.stats().run.totals.collected, 15u);
    EXPECT_EQ(play.stats().run.totals.pauses, 2u);
    EXPECT_EQ(play.stats().run.totals.lagFrames, 4u);
}

TEST(LevelRecords, CloseOfAnAlreadyClosedRecordChangesOnlyTheTotals) {
    TickBuilder play;
    GameSnapshot& snap = play.snapshot;
    snap.stats.run.records[0].closed = 1;
    snap.stats.run.records[0].seconds = 9;
    snap.ram.timerSeconds = 30;
    snap.ram.rings = 5;
    const TrackerStats before = snap.stats;

    CloseLevelRecord(snap);

    EXPECT_EQ(snap.stats.run.totalSeconds, 30);
    EXPECT_EQ(snap.stats.run.totals.rings, 5u);
    EXPECT_EQ(snap.stats.latches.levelClosed, 1);
    TrackerStats onlyTotals = snap.stats;
    onlyTotals.run.totalSeconds = before.run.totalSeconds;
    onlyTotals.run.totals.rings = before.run.totals.rings;
    onlyTotals.latches.levelClosed = before.latches.levelClosed;
    EXPECT_EQ(StatsDifferences(before, onlyTotals), "");
}

TEST(LevelRecords, NewGameEmptiesRecordsAndTotalsButKeepsTheLastSpindash) {
    TickBuilder play;
    play.StartGame().P1Spindash(1, 0).Active().P1Spindash(1, 1800).Active().P1Spindash(0, 1800).Active();
    play.Timer(0, 40, 20).Rings(10).Lives(2).Active().Mode(140).Lag(2).Mode(12).Active();
    play.Mode(140).Lag(2);
    play.snapshot.stats.run.totals.framesUnseen += 3;
    ASSERT_EQ(play.stats().run.recordCount, 1);
    const TrackerStats before = play.stats();

    for (uint32_t mode : {0u, 4u}) {
        TickBuilder again = play;
        again.Mode(mode).Lag();
        const TrackerStats& s = again.stats();
        EXPECT_EQ(s.run.recordCount, 0);
        EXPECT_EQ(s.run.totals.rings, 0u);
        EXPECT_EQ(s.run.totalSeconds, 0);
        EXPECT_EQ(s.run.totalTimerFrames, 0);
        EXPECT_EQ(s.run.totals.deaths, 0u);
        EXPECT_EQ(s.run.totals.framesUnseen, 0u);
        LevelRecord zero{};
        EXPECT_EQ(std::memcmp(&s.run.records[0], &zero, sizeof(zero)), 0);
        EXPECT_EQ(s.spindash.p1ReleaseSpeed, before.spindash.p1ReleaseSpeed);
        EXPECT_EQ(s.spindash.p1ReleaseSpeed, 2944u);
        EXPECT_EQ(s.spindash.p1SpeedFraction, before.spindash.p1SpeedFraction);
        EXPECT_EQ(s.spindash.p1ChargeFraction, before.spindash.p1ChargeFraction);
        EXPECT_EQ(s.spindash, before.spindash) << "the last spindash survives a new game whole";
        EXPECT_EQ(s.levelIndex, before.levelIndex);
    }
}

// A long run closes more levels than the 21 records hold: the extra levels
// count in the totals only, and nothing is written past the last record.
TEST(LevelRecords, PastTheLastRecordOnlyTheTotalsMove) {
    TickBuilder play;
    play.StartGame();
    for (int level = 0; level < 21; ++level) {
        play.Mode(12).Rings(1).Active().Mode(140).Lag(2);
    }
    ASSERT_EQ(play.stats().run.recordCount, 21);
    const LevelRecord last = play.record(20);
    const TrackerStats before = play.stats();

    // A whole level more: death, restart, special stage, close, next opening.
    play.Mode(12).Rings(3).Timer(0, 20, 10).Active().Lives(2).Active().Mode(140).Lag(2);
    play.Mode(12).Timer(0, 5, 0).Active().Mode(16).Lag(2).Mode(140).Lag(3).Mode(12).Active();
    play.Mode(32).Lag(2);

    const TrackerStats& after = play.stats();
    EXPECT_EQ(after.run.recordCount, 21);
    EXPECT_EQ(std::memcmp(&after.run.records[20], &last, sizeof(last)), 0);
    EXPECT_EQ(StatsDifferences(before, after, {.state = false}).find("records["), std::string::npos);
    EXPECT_EQ(after.run.totals.rings, before.run.totals.rings + 3 + 3);
    EXPECT_GT(after.run.totalTimerFrames, before.run.totalTimerFrames);
    EXPECT_EQ(play.state(), 8u);
}

}  // namespace

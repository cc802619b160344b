#include "app/layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tracking/level_records.h"

namespace {

// Cells are pre-filled with a mark that no line contains, so a row shows
// exactly the characters written into it (trailing blanks included) and a
// blank row shows as "".
constexpr char kUnwritten = '~';

struct Composed {
    std::vector<std::string> rows;  // every row of the grid, unwritten cells cut off
    int32_t logRow;                 // where the log lines would start
};

Composed Compose(const GameSnapshot& snapshot, int width = 160, int height = 60) {
    ScreenBuffer screen{};
    EXPECT_TRUE(ScreenResize(screen, width, height));
    std::memset(screen.cells, kUnwritten, static_cast<size_t>(screen.size));
    Composed result{{}, 0};
    const GameSnapshot before = snapshot;
    ComposeScreenLayout(screen, snapshot);
    EXPECT_EQ(std::memcmp(&before, &snapshot, sizeof(GameSnapshot)), 0) << "drawing only reads the snapshot";
    for (int row = 0; row < height; ++row) {
        std::string text(screen.cells + row * width, static_cast<size_t>(width));
        result.rows.push_back(text.substr(0, text.find(kUnwritten)));
    }
    result.logRow = screen.row;
    delete[] screen.cells;
    return result;
}

// The rows from the top must be `expected`, the log must start right after
// them, and nothing below may have been written.
void ExpectScreen(const Composed& composed, const std::vector<std::string>& expected) {
    for (size_t row = 0; row < composed.rows.size(); ++row) {
        EXPECT_EQ(composed.rows[row], row < expected.size() ? expected[row] : "") << "row " << row;
    }
    EXPECT_EQ(composed.logRow, static_cast<int32_t>(expected.size()));
}

GameSnapshot Snapshot(uint32_t trackerState, uint32_t levelIndex = 0) {
    GameSnapshot snapshot{};
    snapshot.stats.trackerState = static_cast<TrackerState>(trackerState);
    snapshot.stats.levelIndex = levelIndex;
    return snapshot;
}

const std::string kReleased = ". . . . . . . . ";

TEST(ComposeScreenLayout, NotTrackingWithoutDebugShowsStatusAndInputsOnly) {
    ExpectScreen(Compose(Snapshot(0)), {"Ready to track", "", kReleased, kReleased, "", "", ""});
}

TEST(ComposeScreenLayout, StatusLineAndStatisticsFollowTheTrackerState) {
    struct Case {
        uint32_t state;
        uint32_t levelIndex;
        const char* status;
        int32_t logRow;  // 7 without statistics, 12 with the short variant, 14 with the long one
    };
    const Case cases[] = {
        {0, 0, "Ready to track", 7},
        {1, 0, "Ready to track", 7},
        {2, 0, "Tracking active: EH1 - Game state: level transition", 12},
        {3, 1, "Tracking active: EH2 - Game state: post-death transition", 12},
        {4, 14, "Tracking active: MZ1 - Game state: level active", 12},
        {5, 16, "Tracking active: MZ3 - Game state: special stage", 12},
        {6, 18, "Tracking active: WF  - Game state: continue screen", 12},
        {7, 19, "Tracking active: DE  - Game state: game starting", 12},
        {8, 0, "Game End", 14},
        {9, 0, "Ready to track", 7},
        {10, 0, "Ready to track", 7},
        {11, 4, "Tracking active: AR1 - Game state: paused", 12},
        {12, 20, "Tracking active:    - Game state: death", 12},
        {13, 21, "Tracking active:    - Game state: level end", 12},
        {13, 0xFFFFFFFFu, "Tracking active:    - Game state: level end", 12},
        {14, 0, "Ready to track", 7},
        {15, 0, "Ready to track", 7},
        {0xFFFFFFFFu, 0, "Ready to track", 7},
    };
    for (const Case& c : cases) {
        const Composed composed = Compose(Snapshot(c.state, c.levelIndex));
        EXPECT_EQ(composed.rows[0], c.status) << "state " << c.state;
        EXPECT_EQ(composed.logRow, c.logRow) << "state " << c.state;
        EXPECT_EQ(composed.rows[5], c.logRow > 7 ? "Statistics: " : "") << "state " << c.state;
    }
}

TEST(ComposeScreenLayout, TrackingWithoutDebugOrRecords) {
    GameSnapshot snapshot = Snapshot(4, 17);
    TrackerStats& stats = snapshot.stats;
    stats.run.sixTapAttempts = 3;
    stats.run.totalMinutes = 1;
    stats.run.totalSeconds = 75;
    stats.run.totalTimerFrames = 150;
    stats.run.totals.pauses = 2;
    stats.run.totals.deaths = 1;
    stats.run.totals.lagFrames = 7;
    stats.run.totals.rings = 123;
    stats.run.totals.collected = 45;
    stats.run.totals.p1Hits = 9;  // only on the long statistics variant
    ExpectScreen(Compose(snapshot),
                 {"Tracking active: SC  - Game state: level active", "", kReleased, kReleased, "", "Statistics: ",
                  " - Spindash 6-tap attempts: 3", "",
                  " Total IGT: 02:15, Adjusted: 02:17.50 - Pauses  2, Deaths 1, Lag  7, Rings  123 (45)", "", "", ""});
}

TEST(ComposeScreenLayout, GameEndShowsTheLongStatisticsWithoutDebug) {
    GameSnapshot snapshot = Snapshot(8);
    snapshot.stats.run.chargeFractionSum = 0.75f;  // no counted attempt: the sums are shown as they are
    snapshot.stats.run.speedFractionSum = 0.25f;
    ExpectScreen(Compose(snapshot),
                 {"Game End", "", kReleased, kReleased, "", "Statistics: ", " - P1 times hit: 0 - P2 times hit 0",
                  " - Average spindash speed  75.00% - Average actual speed:  25.00%",
                  " - Spindash 6-tap attempts: 0 - Perfect spindashes: 0", "",
                  " Total IGT: 00:00, Adjusted: 00:00.00 - Pauses  0, Deaths 0, Lag  0, Rings    0 (0)", "", "", ""});
}

GameSnapshot DebugSnapshot() {
    GameSnapshot snapshot = Snapshot(13, 3);
    TrackerStats& stats = snapshot.stats;
    RamMirror& ram = snapshot.ram;
    stats.run.totals.p1Hits = 4;
    stats.run.p2Hits = 11;
    stats.run.chargeFractionSum = 1.5f;
    stats.run.speedFractionSum = 1.0f;
    stats.run.sixTapAttempts = 2;
    stats.run.totals.perfectSpindashes = 1;
    stats.run.totalMinutes = 3;
    stats.run.totalSeconds = -5;
    stats.run.totalTimerFrames = 59;
    stats.run.totals.pauses = 12;
    stats.run.totals.deaths = 3;
    stats.run.totals.lagFrames = 100;
    stats.run.totals.rings = 1234;
    stats.run.totals.collected = 56;
    stats.run.recordCount = 2;
    stats.run.records[0] = {2, 1, 5, 33.4f, {1, 2, 0, 1, 12, 57, 3, 0, 0}, 1};
    stats.run.records[1] = {99, 0, 59, 0.0f, {0, 10, 3, 0, 1234, 0, 0, 0, 0}, 1};
    stats.spindash.p1ReleaseSpeed = 2944;
    stats.spindash.p1ChargeFraction = 0.5f;
    stats.spindash.p1SpeedFraction = 0.875f;
    ram.debugFlag = 1;
    snapshot.holds.p1Frames[0] = 3;  // up
    snapshot.holds.p1Frames[6] = 1;  // A
    ram.timerMinutes = 1;
    ram.timerSeconds = 7;
    ram.timerFrame = 30;
    ram.levelFrame = 42;
    ram.globalFrame = 4000000000u;
    ram.rings = 7;
    ram.collectedA = 200;
    ram.collectedB = 100;
    ram.lives = 3;
    ram.p1HitTimer = 120;
    ram.p1PosX = 1234;
    ram.p1PosXSub = 7;
    ram.p1PosY = 300;
    ram.p1PosYSub = 128;
    ram.p1VelX = -1536;
    ram.p1Inertia = -20;
    ram.p1SpindashCount = 1024;
    ram.p2PosX = 12345;
    ram.p2PosY = 54321;
    ram.p2PosYSub = 255;
    ram.p2VelX = 24;
    ram.p2VelY = -3;
    ram.p2Inertia = 5;
    return snapshot;
}

TEST(ComposeScreenLayout, TrackingWithDebugAndClosedRecords) {
    const Composed composed = Compose(DebugSnapshot());
    ExpectScreen(composed,
                 {
                     "Tracking active: CP2 - Game state: level end",
                     "",
                     "^ . . . A . . . ",
                     kReleased,
                     "",
                     "Statistics: ",
                     " - P1 times hit: 4 - P2 times hit 11",
                     " - Average spindash speed  75.00% - Average actual speed:  50.00%",
                     " - Spindash 6-tap attempts: 2 - Perfect spindashes: 1",
                     "",
                     " Total IGT: 02:55, Adjusted: 02:55.98 - Pauses 12, Deaths 3, Lag 100, Rings 1234 (56)",
                     " CP1 - IGT: 01:05.33 - PerfectS  1, P1 Hurt  2, Pauses  0, Deaths  1, Lag  12 - Rings  57 (3)",
                     "    - IGT: 00:59.00 - PerfectS  0, P1 Hurt 10, Pauses  3, Deaths  0, Lag 1234 - Rings   0 (0)",
                     "",
                     "Debug Enabled",
                     "Time 01:07.50 - Lag  100 - Level frame 00042 - Global frame 4000000000",
                     "Rings   7, Collected   300 - Lives:  3, Continues:  0",
                     "",
                     "Hit timer: 120",
                     "P1 Pos X:  1234:007 - Pos Y:   300:128 - Vel X:  -1536 - Vel Y:      0 - Inertia: -20",
                     "P2 Pos X:  12345:000 - Pos Y: 54321:255 - Vel X:     24 - Vel Y:     -3 - Inertia:   5",
                     "",
                     "P1 Spindash Count  1024 - Speed 2944  50.00% - Actual  87.50%",
                     "P2 Spindash Count     0 - Speed    0   0.00% - Actual   0.00%",
                     "",
                     "",
                 });
    // The line shows the total with a minute borrowed.
    const TotalTime total = NormalisedTotalTime(DebugSnapshot().stats);
    EXPECT_EQ(total.minutes, 2);
    EXPECT_EQ(total.seconds, 55);
}

TEST(ComposeScreenLayout, DebugWithoutTrackingHasNoStatistics) {
    GameSnapshot snapshot = DebugSnapshot();
    snapshot.stats.trackerState = TrackerState::SegaLogo;
    snapshot.ram.globalFrame = 5;
    const Composed composed = Compose(snapshot);
    EXPECT_EQ(composed.rows[5], "Debug Enabled");
    EXPECT_EQ(composed.rows[6], "Time 01:07.50 - Lag  100 - Level frame 00042 - Global frame 00000005");
    EXPECT_EQ(composed.logRow, 17);
}

TEST(ComposeScreenLayout, RecordCountIsBoundedByTheRecordTable) {
    GameSnapshot snapshot = DebugSnapshot();
    for (int i = 0; i < kLevelRecordCapacity; ++i) {
        snapshot.stats.run.records[i] = {static_cast<uint32_t>(i), 0, i, 0.0f, {}, 1};
    }
    struct Case {
        int32_t recordCount;
        int32_t logRow;
    };
    for (const Case c : {Case{21, 45}, Case{40, 45}, Case{-3, 24}, Case{0, 24}}) {
        snapshot.stats.run.recordCount = c.recordCount;
        const Composed composed = Compose(snapshot);
        EXPECT_EQ(composed.logRow, c.logRow) << "recordCount " << c.recordCount;
        EXPECT_EQ(composed.rows[10 + 1 + (c.logRow - 24)], "") << "recordCount " << c.recordCount;
    }

    snapshot.stats.run.recordCount = 21;
    const Composed full = Compose(snapshot);
    EXPECT_EQ(full.rows[30],
              " DE  - IGT: 00:19.00 - PerfectS  0, P1 Hurt  0, Pauses  0, Deaths  0, Lag   0 - Rings   0 (0)");
    EXPECT_EQ(full.rows[31],
              "    - IGT: 00:20.00 - PerfectS  0, P1 Hurt  0, Pauses  0, Deaths  0, Lag   0 - Rings   0 (0)");
    EXPECT_EQ(full.rows[33], "Debug Enabled");

    // On a window of 30 rows the layout simply stops at its last row.
    const Composed small = Compose(snapshot, 160, 30);
    ASSERT_EQ(small.rows.size(), 30u);
    EXPECT_EQ(small.rows[11],
              " EH1 - IGT: 00:00.00 - PerfectS  0, P1 Hurt  0, Pauses  0, Deaths  0, Lag   0 - Rings   0 (0)");
    EXPECT_EQ(small.rows[29],
              " WF  - IGT: 00:18.00 - PerfectS  0, P1 Hurt  0, Pauses  0, Deaths  0, Lag   0 - Rings   0 (0)");
    EXPECT_GE(small.logRow, 30);
}

TEST(ComposeScreenLayout, InputCellsShowHeldButtonsInScreenOrder) {
    struct Case {
        std::vector<int> heldBits;  // bits of the controller byte with a non-zero hold counter
        const char* line;
    };
    const Case cases[] = {
        {{}, ". . . . . . . . "},          {{0, 6}, "^ . . . A . . . "},     {{0}, "^ . . . . . . . "},
        {{1}, ". v . . . . . . "},         {{2}, ". . < . . . . . "},        {{3}, ". . . > . . . . "},
        {{4}, ". . . . . B . . "},         {{5}, ". . . . . . C . "},        {{6}, ". . . . A . . . "},
        {{7}, ". . . . . . . S "},         {{0, 1, 2, 3, 4, 5, 6, 7}, "^ v < > A B C S "},
    };
    for (const Case& c : cases) {
        GameSnapshot snapshot = Snapshot(0);
        for (int bit : c.heldBits) snapshot.holds.p2Frames[bit] = 0xFFFFFFFFu;  // any non-zero count is held
        const Composed composed = Compose(snapshot);
        EXPECT_EQ(composed.rows[2], kReleased);
        EXPECT_EQ(composed.rows[3], c.line);
    }
}

TEST(ComposeScreenLayout, TotalLineBorrowsMinutesAndAddsLeftoverSixtieths) {
    struct Case {
        int32_t minutes, seconds, frames;
        const char* times;  // the line up to " - Pauses"
        int32_t minutesAfter, secondsAfter;
    };
    const Case cases[] = {
        {3, -5, 0, " Total IGT: 02:55, Adjusted: 02:55.00", 2, 55},
        {5, -61, 0, " Total IGT: 03:59, Adjusted: 03:59.00", 3, 59},
        {2, -60, 0, " Total IGT: 01:00, Adjusted: 01:00.00", 1, 0},
        {0, 0, 150, " Total IGT: 00:00, Adjusted: 00:02.50", 0, 0},
        {0, 0, 59, " Total IGT: 00:00, Adjusted: 00:00.98", 0, 0},
        {1, 119, 61, " Total IGT: 02:59, Adjusted: 03:00.02", 1, 119},
    };
    for (const Case& c : cases) {
        GameSnapshot snapshot = Snapshot(4);
        snapshot.stats.run.totalMinutes = c.minutes;
        snapshot.stats.run.totalSeconds = c.seconds;
        snapshot.stats.run.totalTimerFrames = c.frames;
        const Composed composed = Compose(snapshot);
        EXPECT_EQ(composed.rows[8], std::string(c.times) + " - Pauses  0, Deaths 0, Lag  0, Rings    0 (0)");
        const TotalTime total = NormalisedTotalTime(snapshot.stats);
        EXPECT_EQ(total.minutes, c.minutesAfter);
        EXPECT_EQ(total.seconds, c.secondsAfter);
    }
}

TEST(ComposeScreenLayout, AveragesInSinglePrecisionPercentagesInDouble) {
    // Values on either side of a rounding edge: 1.69575f * 100 / 3 is 56.52499...
    // in double but 56.525002 in float; 0.32895f * 100 is 32.894999 in double
    // but 32.895000 in float.
    GameSnapshot snapshot = Snapshot(8);
    snapshot.stats.run.chargeFractionSum = 0x1.b21cacp+0f;
    snapshot.stats.run.speedFractionSum = 0x1.b21cacp+0f;
    snapshot.stats.run.sixTapAttempts = 3;
    snapshot.stats.spindash.p2ChargeFraction = 0x1.50d844p-2f;
    snapshot.ram.debugFlag = 1;
    const Composed composed = Compose(snapshot);
    EXPECT_EQ(composed.rows[7], " - Average spindash speed  56.53% - Average actual speed:  56.53%");
    EXPECT_EQ(composed.rows[21], "P2 Spindash Count     0 - Speed    0  32.89% - Actual   0.00%");
}

TEST(ComposeLogLines, NewestFirstWhileRowsRemainAndCutAtWidth) {
    auto log = std::make_unique<LogBuffer>();
    LogAppend(*log, 0, "first");
    LogAppend(*log, 0, "second");
    LogAppend(*log, 0, "third");
    char cells[2 * 24];
    ScreenBuffer screen{};
    screen.width = 24;
    screen.height = 2;
    screen.size = 48;
    screen.cells = cells;
    ScreenFillBlank(screen);
    ComposeLogLines(screen, *log, 0, 1000.0);  // one tick per millisecond
    EXPECT_EQ(std::string(cells, 24), "[003 - 00:00:00.000] thi");
    EXPECT_EQ(std::string(cells + 24, 24), "[002 - 00:00:00.000] sec");
    EXPECT_EQ(screen.row, 2);
    EXPECT_EQ(log->count, 3) << "entries not shown stay in the log";
}

}  // namespace

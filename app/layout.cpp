#include "app/layout.h"

#include <cstdio>

#include "tracking/game_time.h"
#include "tracking/level_names.h"

namespace {

// The screen shows the buttons as up, down, left, right, A, B, C, start; the
// controller byte has them as up, down, left, right, B, C, A, start.
struct InputCell {
    int bit;           // bit of the button byte, index of the hold counter
    const char* held;  // symbol and its trailing blank
};
constexpr InputCell kInputCells[kButtonCount] = {
    {0, "^ "}, {1, "v "}, {2, "< "}, {3, "> "}, {6, "A "}, {4, "B "}, {5, "C "}, {7, "S "},
};
constexpr const char* kReleasedCell = ". ";

// Unsigned counters go to %d formats; a value above INT32_MAX shows negative.
int AsInt(uint32_t value) { return static_cast<int>(static_cast<int32_t>(value)); }

void BlankRows(ScreenBuffer& screen, int count) { screen.row += count; }

void PrintStatusLine(ScreenBuffer& screen, const TrackerStats& stats) {
    const TrackerState state = stats.trackerState;
    if (TrackingActive(state)) {
        ScreenPrintLine(screen, "Tracking active: %s - Game state: %s", LevelScreenName(stats.levelIndex),
                        TrackerStateName(state));
    } else if (state == TrackerState::Ending) {
        ScreenPrintLine(screen, "Game End");
    } else {
        ScreenPrintLine(screen, "Ready to track");
    }
}

void PrintInputLine(ScreenBuffer& screen, const uint32_t (&holdFrames)[kButtonCount]) {
    const char* cells[kButtonCount];
    for (int i = 0; i < kButtonCount; ++i) {
        cells[i] = holdFrames[kInputCells[i].bit] != 0 ? kInputCells[i].held : kReleasedCell;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%s%s%s%s%s%s%s%s", cells[0], cells[1], cells[2], cells[3], cells[4], cells[5],
                  cells[6], cells[7]);
    ScreenPrintLine(screen, "%s", text);
}

void PrintTotalLine(ScreenBuffer& screen, const TrackerStats& stats) {
    const ShownTotalTime time = ShowTotalTime(stats);
    const LevelCounts& totals = stats.run.totals;
    ScreenPrintLine(screen,
                    " Total IGT: %02d:%02d, Adjusted: %02d:%02d.%02.0f - Pauses %2d, Deaths %d, Lag %2d, Rings %4d (%d)",
                    time.minutes, time.seconds, time.adjustedMinutes, time.adjustedSeconds, time.adjustedHundredths,
                    AsInt(totals.pauses), AsInt(totals.deaths), AsInt(totals.lagFrames), AsInt(totals.rings),
                    AsInt(totals.collected));
}

void PrintLevelRecord(ScreenBuffer& screen, const LevelRecord& record) {
    const LevelCounts& counts = record.counts;
    ScreenPrintLine(screen,
                    " %s - IGT: %02d:%02d.%02.0f - PerfectS %2d, P1 Hurt %2d, Pauses %2d, Deaths %2d, Lag %3d - "
                    "Rings %3d (%d)",
                    LevelScreenName(record.levelIndex), record.minutes, record.seconds,
                    static_cast<double>(record.centiseconds), AsInt(counts.perfectSpindashes), AsInt(counts.p1Hits),
                    AsInt(counts.pauses), AsInt(counts.deaths), AsInt(counts.lagFrames), AsInt(counts.rings),
                    AsInt(counts.collected));
}

void PrintStatistics(ScreenBuffer& screen, const TrackerStats& stats, uint8_t debugFlag) {
    ScreenPrintLine(screen, "Statistics: ");
    if (stats.trackerState != TrackerState::Ending && debugFlag == 0) {
        ScreenPrintLine(screen, " - Spindash 6-tap attempts: %d", AsInt(stats.run.sixTapAttempts));
    } else {
        ScreenPrintLine(screen, " - P1 times hit: %d - P2 times hit %d", AsInt(stats.run.totals.p1Hits),
                        AsInt(stats.run.p2Hits));
        // In single precision, like the sums themselves.
        const float attempts = stats.run.sixTapAttempts != 0 ? static_cast<float>(stats.run.sixTapAttempts) : 1.0f;
        const float averageCharge = stats.run.chargeFractionSum * 100.0f * (1.0f / attempts);
        const float averageSpeed = stats.run.speedFractionSum * 100.0f * (1.0f / attempts);
        ScreenPrintLine(screen, " - Average spindash speed %6.2f%% - Average actual speed: %6.2f%%",
                        static_cast<double>(averageCharge), static_cast<double>(averageSpeed));
        ScreenPrintLine(screen, " - Spindash 6-tap attempts: %d - Perfect spindashes: %d",
                        AsInt(stats.run.sixTapAttempts), AsInt(stats.run.totals.perfectSpindashes));
    }
    BlankRows(screen, 1);
    PrintTotalLine(screen, stats);
    const int32_t records = StoredRecordCount(stats);
    for (int32_t i = 0; i < records; ++i) PrintLevelRecord(screen, stats.run.records[i]);
    BlankRows(screen, 1);
}

void PrintDebugBlock(ScreenBuffer& screen, const GameSnapshot& snapshot) {
    const TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    ScreenPrintLine(screen, "Debug Enabled");
    // "%.05d" and "%.08u" are precisions: at least 5 and 8 digits, zero-padded.
    ScreenPrintLine(screen, "Time %02d:%02d.%02.0f - Lag %4d - Level frame %.05d - Global frame %.08u",
                    AsInt(ram.timerMinutes), AsInt(ram.timerSeconds), TimerHundredths(ram.timerFrame),
                    AsInt(stats.run.totals.lagFrames), AsInt(ram.levelFrame), static_cast<unsigned>(ram.globalFrame));
    ScreenPrintLine(screen, "Rings % 3d, Collected %5d - Lives: %2d, Continues: %2d", AsInt(ram.rings),
                    AsInt(ram.collectedA + ram.collectedB), AsInt(ram.lives), AsInt(ram.continues));
    BlankRows(screen, 1);
    ScreenPrintLine(screen, "Hit timer: %d", AsInt(ram.p1HitTimer));
    ScreenPrintLine(screen, "P1 Pos X: % 5d:%.03d - Pos Y: % 5d:%.03d - Vel X: %6d - Vel Y: %6d - Inertia: %3d",
                    AsInt(ram.p1PosX), AsInt(ram.p1PosXSub), AsInt(ram.p1PosY), AsInt(ram.p1PosYSub), ram.p1VelX,
                    ram.p1VelY, ram.p1Inertia);
    ScreenPrintLine(screen, "P2 Pos X: % 5d:%.03d - Pos Y: %5d:%.03d - Vel X: %6d - Vel Y: %6d - Inertia: %3d",
                    AsInt(ram.p2PosX), AsInt(ram.p2PosXSub), AsInt(ram.p2PosY), AsInt(ram.p2PosYSub), ram.p2VelX,
                    ram.p2VelY, ram.p2Inertia);
    BlankRows(screen, 1);
    ScreenPrintLine(screen, "P1 Spindash Count %5d - Speed %4d %6.2f%% - Actual %6.2f%%", AsInt(ram.p1SpindashCount),
                    AsInt(stats.spindash.p1ReleaseSpeed), static_cast<double>(stats.spindash.p1ChargeFraction) * 100.0,
                    static_cast<double>(stats.spindash.p1SpeedFraction) * 100.0);
    ScreenPrintLine(screen, "P2 Spindash Count %5d - Speed %4d %6.2f%% - Actual %6.2f%%", AsInt(ram.p2SpindashCount),
                    AsInt(stats.spindash.p2ReleaseSpeed), static_cast<double>(stats.spindash.p2ChargeFraction) * 100.0,
                    static_cast<double>(stats.spindash.p2SpeedFraction) * 100.0);
}

}  // namespace

void ComposeScreenLayout(ScreenBuffer& screen, const GameSnapshot& snapshot) {
    const TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    PrintStatusLine(screen, stats);
    BlankRows(screen, 1);
    PrintInputLine(screen, snapshot.holds.p1Frames);
    PrintInputLine(screen, snapshot.holds.p2Frames);
    BlankRows(screen, 1);
    if (TrackingActive(stats.trackerState) || stats.trackerState == TrackerState::Ending) {
        PrintStatistics(screen, stats, ram.debugFlag);
    }
    if (ram.debugFlag != 0) PrintDebugBlock(screen, snapshot);
    BlankRows(screen, 2);
}

void ComposeLogLines(ScreenBuffer& screen, const LogBuffer& log, uint64_t startStamp, double counterFrequency) {
    char line[kLogTextSize];
    for (int i = log.count - 1; i >= 0 && screen.row < screen.height; --i) {
        int length = LogFormatLine(line, sizeof(line), log.entries[i], startStamp, counterFrequency);
        if (length < 0) continue;
        ScreenPutRow(screen, line);
    }
}

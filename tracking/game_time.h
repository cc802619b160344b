// The game's time: its level timer counts minutes, seconds and sixtieths of a
// second; the program shows and writes hundredths. All the time arithmetic of
// the records, the run's totals, the screen and the history file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emulator/ram_mirror.h"
#include "tracking/tracker_stats.h"

// Hundredths of a second in one timer sixtieth (100/60), in the two
// precisions the program works in. The records keep theirs in single
// precision with the factor written as 1.6666667 (the float just above 100/60,
// not the nearest one): the screen shows exactly what that arithmetic leaves
// in them. The screen's run totals and debug time work in double.
inline constexpr float kCentisecondsPerTimerFrame = 1.6666667f;
inline constexpr double kHundredthsPerTimerFrame = 100.0 / 60.0;

// Wrap-around to 32 bits, as the totals would behave in 32-bit arithmetic,
// without signed overflow.
constexpr int32_t Wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

// Timer sixtieths as hundredths, in the single precision the records keep.
constexpr float TimerCentiseconds(uint32_t sixtieths) {
    return static_cast<float>(sixtieths) * kCentisecondsPerTimerFrame;
}

// Timer sixtieths as hundredths, in double, as the screen's totals and debug
// time show them.
constexpr double TimerHundredths(int64_t sixtieths) { return static_cast<double>(sixtieths) * kHundredthsPerTimerFrame; }

// The run's total in-game minutes and seconds as the screen shows them.
struct TotalTime {
    int32_t minutes;
    int32_t seconds;
};

// The tracker sums seconds without carrying, so after a restart took time off
// they can be negative: whole minutes are borrowed until they are not (the
// minutes wrap at 32 bits). Seconds from 0 up are returned as they are.
TotalTime NormalisedTotalTime(const TrackerStats& stats);

// The screen's total line: the in-game time in whole seconds, and the same
// with the timer's sixtieths of every level added ("Adjusted"), minutes
// wrapped at 32 bits.
struct ShownTotalTime {
    int32_t minutes;
    int32_t seconds;
    int32_t adjustedMinutes;
    int32_t adjustedSeconds;
    double adjustedHundredths;   // below 100, for "%02.0f"
};
ShownTotalTime ShowTotalTime(const TrackerStats& stats);

// Completes a record's time at the level's close with the timer as it stands:
// the seconds taken off by restarts are borrowed from the minutes, the
// hundredths are carried into the seconds (in single precision) and the
// seconds into the minutes.
void CloseRecordTime(LevelRecord& record, uint32_t timerMinutes, uint32_t timerSeconds, uint32_t timerFrame);

// A level's time in hundredths: the record's minutes and seconds and its
// single-precision hundredths, rounded to the nearest.
int64_t LevelHundredths(const LevelRecord& record);

// The run's in-game time with the timer's sixtieths of every level added (the
// screen's "Adjusted" time), in hundredths.
int64_t AdjustedTotalHundredths(const TrackerStats& stats);

// The run's game time as it runs: the adjusted total of what the totals hold
// (the closed levels, the time at each death, the sixtieths at a special
// stage's entry) plus the running level's timer while the level runs, its
// minutes and seconds only in a special stage (the sixtieths went into the
// totals at the entry). Hundredths, never below 0. Equal to the adjusted
// total whenever the level's record is closed.
int64_t RunGameHundredths(const TrackerStats& stats, const RamMirror& ram);

// Formats hundredths as mm:ss.cc ("-" in front when negative), as the history
// file, the report and the log write a time.
void FormatHundredths(int64_t hundredths, char* out, size_t size);

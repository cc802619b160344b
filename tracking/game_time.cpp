#include "tracking/game_time.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "tracking/tracker_states.h"

namespace {

struct MinutesSeconds {
    int64_t minutes;
    int64_t seconds;
};

// Restarts may have taken off more seconds than were added: whole minutes are
// borrowed until the seconds are not negative. Wide, so no count can overflow.
MinutesSeconds BorrowMinutes(int64_t minutes, int64_t seconds) {
    if (seconds >= 0) return {minutes, seconds};
    const int64_t borrowed = (-seconds + 59) / 60;
    return {minutes - borrowed, seconds + borrowed * 60};
}

}  // namespace

TotalTime NormalisedTotalTime(const TrackerStats& stats) {
    const MinutesSeconds time = BorrowMinutes(stats.run.totalMinutes, stats.run.totalSeconds);
    return {Wrap32(time.minutes), static_cast<int32_t>(time.seconds)};
}

ShownTotalTime ShowTotalTime(const TrackerStats& stats) {
    const TotalTime total = NormalisedTotalTime(stats);
    const int32_t minutes = total.minutes;
    const int32_t seconds = total.seconds;
    const int32_t frames = stats.run.totalTimerFrames;
    // In-game time ignores the leftover sixtieths; the adjusted time adds them.
    const int32_t adjusted = Wrap32(int64_t{seconds} + frames / 60);
    return {Wrap32(int64_t{minutes} + seconds / 60), seconds % 60, Wrap32(int64_t{minutes} + adjusted / 60),
            adjusted % 60, TimerHundredths(frames % 60)};
}

void CloseRecordTime(LevelRecord& record, uint32_t timerMinutes, uint32_t timerSeconds, uint32_t timerFrame) {
    MinutesSeconds time = BorrowMinutes(record.minutes, int64_t{record.seconds} + timerSeconds);
    // Hundredths are carried into seconds only here, in single precision.
    const float centiseconds = TimerCentiseconds(timerFrame) + record.centiseconds;
    const float hundredth = centiseconds * 0.01f;
    const int32_t carry = static_cast<int32_t>(hundredth);
    record.centiseconds = centiseconds - static_cast<float>(carry * 100);
    time.minutes += timerMinutes;
    time.seconds += carry;
    record.seconds = static_cast<int32_t>(time.seconds % 60);
    record.minutes = static_cast<int32_t>(time.minutes + time.seconds / 60);
}

int64_t LevelHundredths(const LevelRecord& record) {
    const int64_t whole = (int64_t{record.minutes} * 60 + record.seconds) * 100;
    return whole + std::llround(static_cast<double>(record.centiseconds));
}

namespace {

// Sixtieths to hundredths: (frames mod 60) * 100/60 never falls on a half,
// so rounding up from a third of a sixtieth is the nearest hundredth.
int64_t AdjustedHundredths(int64_t minutes, int64_t seconds, int64_t frames) {
    const int64_t whole = minutes * 60 + seconds + frames / 60;
    return whole * 100 + ((frames % 60) * 100 + 30) / 60;
}

}  // namespace

int64_t AdjustedTotalHundredths(const TrackerStats& stats) {
    return AdjustedHundredths(stats.run.totalMinutes, stats.run.totalSeconds, stats.run.totalTimerFrames);
}

int64_t RunGameHundredths(const TrackerStats& stats, const RamMirror& ram) {
    int64_t minutes = stats.run.totalMinutes;
    int64_t seconds = stats.run.totalSeconds;
    int64_t frames = stats.run.totalTimerFrames;
    if (!stats.latches.levelClosed) {
        switch (stats.trackerState) {
            case TrackerState::LevelActive:
            case TrackerState::Paused:
            case TrackerState::Death:
            case TrackerState::LevelEnd:
                frames += ram.timerFrame;
                [[fallthrough]];
            case TrackerState::SpecialStage:
                minutes += ram.timerMinutes;
                seconds += ram.timerSeconds;
                break;
            default:   // between levels, and after a death until the restart: all of it is in the totals
                break;
        }
    }
    const int64_t hundredths = AdjustedHundredths(minutes, seconds, frames);
    return hundredths < 0 ? 0 : hundredths;
}

void FormatHundredths(int64_t hundredths, char* out, size_t size) {
    const bool negative = hundredths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(hundredths) : static_cast<uint64_t>(hundredths);
    std::snprintf(out, size, "%s%02" PRIu64 ":%02" PRIu64 ".%02" PRIu64, negative ? "-" : "", magnitude / 6000,
                  magnitude / 100 % 60, magnitude % 100);
}

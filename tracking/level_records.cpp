#include "tracking/level_records.h"

#include <cstdint>
#include <cstring>

namespace {

// The record that the operations write: records[recordCount], or none once all
// 21 are closed (a long run with special stages closes more levels than that;
// those levels count in the totals only).
LevelRecord* CurrentRecord(TrackerStats& stats) {
    if (stats.recordCount < 0 || stats.recordCount >= kLevelRecordCapacity) return nullptr;
    return &stats.records[stats.recordCount];
}

uint32_t Collected(const RamMirror& ram) { return ram.collectedA + ram.collectedB; }

// Timer sixtieths as hundredths, in the single precision the records keep.
float TimerCentiseconds(const RamMirror& ram) {
    return static_cast<float>(ram.timerFrame) * kCentisecondsPerTimerFrame;
}

}  // namespace

TotalTime NormalisedTotalTime(const TrackerStats& stats) {
    if (stats.totalSeconds >= 0) return {stats.totalMinutes, stats.totalSeconds};
    const int64_t seconds = stats.totalSeconds;
    const int64_t borrowed = (-seconds + 59) / 60;
    // Wrap-around to 32 bits without signed overflow.
    const int64_t minutes = int64_t{stats.totalMinutes} - borrowed;
    return {static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(minutes))),
            static_cast<int32_t>(seconds + borrowed * 60)};
}

void ResetStatistics(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    stats.pauses = 0;
    stats.chargeFractionSum = 0.0f;
    stats.speedFractionSum = 0.0f;
    stats.sixTapAttempts = 0;
    stats.perfectSpindashes = 0;
    stats.deaths = 0;
    stats.p1Hits = 0;
    stats.p2Hits = 0;
    stats.totalRings = 0;
    stats.totalCollected = 0;
    stats.totalMinutes = 0;
    stats.totalSeconds = 0;
    stats.totalTimerFrames = 0;
    stats.lagFrames = 0;
    stats.framesUnseen = 0;
    stats.recordCount = 0;
    std::memset(stats.records, 0, sizeof(stats.records));
}

void OpenLevelRecord(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    LevelRecord* record = CurrentRecord(stats);
    if (record == nullptr) return;
    record->perfectSpindashes = stats.perfectSpindashes;
    record->collected = stats.totalCollected;
    record->p1Hits = stats.p1Hits;
    record->deaths = stats.deaths;
    record->pauses = stats.pauses;
    record->lagFrames = stats.lagFrames;
    record->framesUnseen = stats.framesUnseen;
}

void AccountDeathTime(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    if (LevelRecord* record = CurrentRecord(stats)) {
        record->centiseconds += TimerCentiseconds(ram);
        record->minutes += static_cast<int32_t>(ram.timerMinutes);
        record->seconds += static_cast<int32_t>(ram.timerSeconds);
    }
    stats.totalCollected += Collected(ram);
    stats.totalMinutes += static_cast<int32_t>(ram.timerMinutes);
    stats.totalSeconds += static_cast<int32_t>(ram.timerSeconds);
    stats.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
}

void AccountRestart(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    // The level restarts from a checkpoint with the timer restored to the time
    // the checkpoint was passed; that time is already counted in the death.
    if (LevelRecord* record = CurrentRecord(stats)) {
        record->seconds -= static_cast<int32_t>(ram.timerSeconds);
        record->minutes -= static_cast<int32_t>(ram.timerMinutes);
    }
    stats.totalMinutes -= static_cast<int32_t>(ram.timerMinutes);
    stats.totalSeconds -= static_cast<int32_t>(ram.timerSeconds);
}

void AccountSpecialStageEntry(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    stats.totalCollected += Collected(ram);
    if (LevelRecord* record = CurrentRecord(stats)) record->centiseconds += TimerCentiseconds(ram);
    stats.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
}

void CloseLevelRecord(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;

    stats.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
    stats.totalRings += ram.rings;
    stats.totalCollected += Collected(ram);
    stats.totalMinutes += static_cast<int32_t>(ram.timerMinutes);
    stats.totalSeconds += static_cast<int32_t>(ram.timerSeconds);

    LevelRecord* record = CurrentRecord(stats);
    if (record == nullptr || record->closed) {
        stats.levelClosed = 1;
        return;
    }

    record->levelIndex = stats.levelIndex;

    // Restarts may have taken off more seconds than were added: borrow whole
    // minutes until the seconds are not negative. Wide, so no count can overflow.
    int64_t seconds = int64_t{record->seconds} + ram.timerSeconds;
    int64_t minutes = record->minutes;
    if (seconds < 0) {
        const int64_t borrow = (-seconds + 59) / 60;
        seconds += 60 * borrow;
        minutes -= borrow;
    }
    // Hundredths are carried into seconds only here, in single precision.
    const float product = TimerCentiseconds(ram);
    const float centiseconds = product + record->centiseconds;
    const float hundredth = centiseconds * 0.01f;
    const int32_t carry = static_cast<int32_t>(hundredth);
    record->centiseconds = centiseconds - static_cast<float>(carry * 100);
    minutes += ram.timerMinutes;
    seconds += carry;
    record->seconds = static_cast<int32_t>(seconds % 60);
    record->minutes = static_cast<int32_t>(minutes + seconds / 60);

    record->lagFrames = stats.lagFrames - record->lagFrames;
    record->framesUnseen = stats.framesUnseen - record->framesUnseen;
    record->perfectSpindashes = stats.perfectSpindashes - record->perfectSpindashes;
    record->rings = ram.rings;
    record->collected = stats.totalCollected - record->collected;
    record->p1Hits = stats.p1Hits - record->p1Hits;
    record->deaths = stats.deaths - record->deaths;
    record->pauses = stats.pauses - record->pauses;

    ++stats.recordCount;
    record->closed = 1;
    stats.levelClosed = 1;
}

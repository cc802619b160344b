#include "tracking/level_records.h"

#include <cstdint>

namespace {

// The record that the operations write: records[recordCount], or none once all
// 21 are closed (a long run with special stages closes more levels than that;
// those levels count in the totals only).
LevelRecord* CurrentRecord(TrackerStats& stats) {
    if (stats.run.recordCount < 0 || stats.run.recordCount >= kLevelRecordCapacity) return nullptr;
    return &stats.run.records[stats.run.recordCount];
}

uint32_t Collected(const RamMirror& ram) { return ram.collectedA + ram.collectedB; }

}  // namespace

void ResetStatistics(GameSnapshot& snapshot) { snapshot.stats.run = RunStats{}; }

void LeaveLevelRecord(GameSnapshot& snapshot) {
    if (LevelRecord* record = CurrentRecord(snapshot.stats)) *record = LevelRecord{};
}

void OpenLevelRecord(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    LevelRecord* record = CurrentRecord(stats);
    if (record == nullptr) return;
    record->counts = stats.run.totals;
}

void AccountDeathTime(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    if (LevelRecord* record = CurrentRecord(stats)) {
        record->centiseconds += TimerCentiseconds(ram.timerFrame);
        record->minutes += static_cast<int32_t>(ram.timerMinutes);
        record->seconds += static_cast<int32_t>(ram.timerSeconds);
    }
    stats.run.totals.collected += Collected(ram);
    stats.run.totalMinutes += static_cast<int32_t>(ram.timerMinutes);
    stats.run.totalSeconds += static_cast<int32_t>(ram.timerSeconds);
    stats.run.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
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
    stats.run.totalMinutes -= static_cast<int32_t>(ram.timerMinutes);
    stats.run.totalSeconds -= static_cast<int32_t>(ram.timerSeconds);
}

void AccountSpecialStageEntry(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    stats.run.totals.collected += Collected(ram);
    if (LevelRecord* record = CurrentRecord(stats)) record->centiseconds += TimerCentiseconds(ram.timerFrame);
    stats.run.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
}

void CloseLevelRecord(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;

    stats.run.totalTimerFrames += static_cast<int32_t>(ram.timerFrame);
    stats.run.totals.rings += ram.rings;
    stats.run.totals.collected += Collected(ram);
    stats.run.totalMinutes += static_cast<int32_t>(ram.timerMinutes);
    stats.run.totalSeconds += static_cast<int32_t>(ram.timerSeconds);

    LevelRecord* record = CurrentRecord(stats);
    if (record == nullptr || record->closed) {
        stats.latches.levelClosed = 1;
        return;
    }

    record->levelIndex = stats.levelIndex;

    CloseRecordTime(*record, ram.timerMinutes, ram.timerSeconds, ram.timerFrame);
    record->counts = LevelShare(stats.run.totals, record->counts, ram.rings);

    ++stats.run.recordCount;
    record->closed = 1;
    // Still set from the special stage: no level pass has run since the return.
    record->specialStage = stats.latches.specialStageSeen;
    stats.latches.levelClosed = 1;
}

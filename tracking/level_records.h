// One record per level played and the run's totals, timed with the game's own
// level timer (minutes, seconds, sixtieths) at the moments the classifier
// recognises. Every operation works on the current record, records[recordCount];
// once all 21 records are closed there is no current record and only the
// totals move.
#pragma once

#include <cstdint>

#include "tracking/game_snapshot.h"
#include "tracking/game_time.h"

// New game (game modes 0 and 4, every such pass): zeroes the run's counters,
// totals and all records. Leaves the last-spindash values and the classifier's
// latches alone.
void ResetStatistics(GameSnapshot& snapshot);

// A level left unfinished by a jump of the game's timeline: the current
// record is emptied, never shown or written; what was counted in it stays in
// the run's totals.
void LeaveLevelRecord(GameSnapshot& snapshot);

// Pre-level pass after a closed level: the current record keeps the running
// totals as they stand, to take this level's share of them at the close.
void OpenLevelRecord(GameSnapshot& snapshot);

// First pre-level pass after a death: the timer so far goes into the current
// record (not normalised) and into the totals.
void AccountDeathTime(GameSnapshot& snapshot);

// First level pass after a death: the restored timer's minutes and seconds are
// taken off again (its sixtieths are not).
void AccountRestart(GameSnapshot& snapshot);

// First special-stage pass after the level last ran: the timer's sixtieths and
// the collected figure are added.
void AccountSpecialStageEntry(GameSnapshot& snapshot);

// Level end: adds the timer and counts to the totals, completes the current
// record (time normalised, hundredths carried into seconds; specialStage set
// when it closes on the way back from a special stage) and sets levelClosed. On a record that is already closed, or when none is left, only
// the totals change.
void CloseLevelRecord(GameSnapshot& snapshot);

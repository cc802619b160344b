// Works out what the game is doing from one decoded pass of its RAM and keeps
// the counters that follow from it (pauses, lag frames, deaths, level ends).
#pragma once

#include <cstdint>

#include "emulator/game_values.h"
#include "tracking/game_snapshot.h"
#include "tracking/tracker_states.h"

// Classifies one frame against the last one taken (its Prev fields). Called
// for each frame the timeline takes (none, one or two a pass, see
// tracking/timeline.h), and on the pass that lost the signature with the last
// frame given again (the previous values are seen again, which changes no
// counter). A frame leaves the same
// statistics and state whether it is classified once or many times: where the
// rules take a further step on a second read of the same frame (a record
// closed, then the next opened or the ending shown), the pass takes it too.
// Updates snapshot.stats only. `timerStepDue`: a frame whose level frame
// counter moved and whose timer step, left to the water line, is still to come
// (the emulator stopped on it before the line): a level frame that ran.
void ClassifyTick(GameSnapshot& snapshot, bool timerStepDue = false);

// After a jump of the game's timeline (tracking/timeline.h): the tracker's
// state as the RAM shows it, never by the forward-only transitions. Into the
// level whose record is open, the record stays open (what was counted in it
// stays counted); into any other level, or a level whose record was closed,
// the current record is left unwritten (the run's totals keep its counts) and
// a new one opens for the level the RAM shows; into the logo or the title, the
// game's own reset. A jump adds no time: the level's time stays the game's
// timer. The record open afterwards, and the run, count the jump
// (stateLoads), but not a reset.
void TakeStateFromRam(GameSnapshot& snapshot);

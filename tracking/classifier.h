// Works out what the game is doing from the frames the timeline takes
// (tracking/timeline.h) and keeps the counters that follow from it (pauses,
// lag frames, deaths, level ends).
#pragma once

#include <cstdint>

#include "emulator/game_values.h"
#include "tracking/game_snapshot.h"
#include "tracking/timeline.h"
#include "tracking/tracker_states.h"

// What the timeline needs of the tracker's state to judge the next read.
TrackerFacts FactsOf(const TrackerStats& stats);

// Takes one frame the timeline yields: counts the frames before it that no
// read saw, steps the hold counters, and classifies it against the last frame
// taken (frame.last: what snapshot.ram holds, in storage of its own) or,
// where a jump landed on it, takes the tracker's state from it
// (TakeStateFromRam). It is then the last frame taken, snapshot.ram.
void TakeFrame(GameSnapshot& snapshot, const TimelineFrame& frame);

// Classifies snapshot.ram, the frame taken, against `last`, the frame taken
// before it; the same frame seen again is snapshot.ram given as `last` too
// (the previous values seen again, which changes no counter). A frame leaves
// the same statistics and state whether it is classified once or many times:
// where the rules take a further step on a second read of the same frame (a
// record closed, then the next opened or the ending shown), the call takes it
// too. Updates snapshot.stats only. `timerStepDue`: a frame whose level frame
// counter moved and whose timer step, left to the water line, is still to come
// (the emulator stopped on it before the line): a level frame that ran.
void ClassifyFrame(GameSnapshot& snapshot, const RamMirror& last, bool timerStepDue = false);

// After a jump of the game's timeline (tracking/timeline.h): the tracker's
// state as snapshot.ram shows it, never by the forward-only transitions. Into
// the level whose record is open, the record stays open (what was counted in
// it stays counted); into any other level, or a level whose record was
// closed, the current record is left unwritten (the run's totals keep its
// counts) and a new one opens for the level the RAM shows; into the logo or
// the title, the game's own reset. A jump adds no time: the level's time stays
// the game's timer. The record open afterwards, and the run, count the jump
// (stateLoads), but not a reset.
void TakeStateFromRam(GameSnapshot& snapshot);

// One controller's hold counters: for each set bit k of `buttons`, counter k
// advances by `levelFrameStep` (level frames since the last frame taken,
// modulo 2^32, so a counter that went back steps by its negative); a clear
// bit resets its counter to 0.
void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]);

// One good window's values, `read`, through the timeline: every frame it
// yields taken, in order. Returns how the read related to the frames taken.
ReadKind TrackRead(FrameWatch& watch, GameSnapshot& snapshot, const RamMirror& read, uint64_t now);

// The link to the game broke: a read held is taken (ReleaseHeldRead).
void TakeHeldRead(FrameWatch& watch, GameSnapshot& snapshot);

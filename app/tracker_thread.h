// The tracker thread: passes that attach to the emulator, identify the game,
// read and decode the RAM window and classify it, each ending with Publish and
// the pass's sleep. The loop that ties the layers below together: the link to
// the emulator and the decode (emulator/), the classifier (tracking/) and the
// hand-off (app/shared_state.h).
#pragma once

#include <cstdint>

#include "emulator/emulator_connection.h"
#include "log/log_buffer.h"
#include "tracking/game_snapshot.h"
#include "tracking/timeline.h"

struct SharedState;

// One pass up to (not including) Publish, by the connection state at its
// start: Detached attaches; Attached identifies the game; Connected reads the
// window, then decodes it and takes it as the game's timeline allows
// (tracking/timeline.h: play, fast-forward, a run-ahead look back, a jump), so
// counting the game frames no pass saw and classifying the game (a window
// without the RAM signature disconnects, and the classifier sees the previous
// values once more). `clock` gives the pass's stamp, in the counter ticks of
// watch.counterFrequency (ClockNow in the program): it is taken once, right
// after the window is read (after the attach or the identification on the
// passes that make them), for the timeline to judge the frames the read shows
// by the time they had. Unseen frames and jumps are told in the log
// (SayTimeline).
void TrackerPass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t (*clock)());

// Milliseconds the tracker sleeps after a pass: short enough while connected
// to read every game frame more than once, long while it looks for the game.
uint32_t PassSleepMs(bool attached, bool identified);

// Called by the tracker thread after every pass (before Publish) with the
// counter value taken at the start of that pass, before its read (the
// timeline's stamp is taken after it), and whether the pass began Connected,
// to time the passes or follow the game frame by frame (a read the
// timeline holds is in `watch`, not yet in the snapshot). None when afterPass
// is null, as the program starts the thread.
struct PassObserver {
    void (*afterPass)(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot,
                      const FrameWatch& watch);
    void* context;
};

// Start routine; returns 0 when `running` is found cleared, after the sleep of
// the pass that found it, with the emulator's process closed.
int TrackerThreadMain(SharedState* shared, PassObserver observer);

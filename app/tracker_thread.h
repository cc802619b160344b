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

struct SharedState;

// Seconds between two warnings of unseen game frames at most.
inline constexpr double kUnseenWarningSeconds = 10.0;

// What the passes keep of the last good window, to count the game frames that
// went by between two reads, and of the warning about them.
struct FrameWatch {
    double counterFrequency;     // ticks per second of the passes' stamps
    uint8_t chained;             // the last pass read a good window, and no pass broke off since
    uint32_t globalFrame;        // that window's global frame counter
    uint64_t stamp;              // that pass's stamp
    uint32_t unwarned;           // unseen frames no warning has told yet
    uint8_t warned;              // a warning has been given
    uint64_t warnedAt;           // the stamp of the last one
};

// One pass up to (not including) Publish, by the connection state at its
// start: Detached attaches; Attached identifies the game; Connected reads the
// window, then decodes it, counts the game frames no pass saw since the last
// good window and classifies the game (a window without the RAM signature
// disconnects, and the classifier sees the previous values once more). `now`
// is the pass's stamp. Unseen frames are warned of once every
// kUnseenWarningSeconds at most, with the count since the last warning.
void TrackerPass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t now);

// Milliseconds the tracker sleeps after a pass: 6 while connected, 2400 otherwise.
uint32_t PassSleepMs(bool attached, bool identified);

// Called by the tracker thread after every pass (before Publish) with the
// counter value taken at the start of that pass and whether the pass began
// Connected, to time the passes or follow the game frame by frame. None when
// afterPass is null, as the program starts the thread.
struct PassObserver {
    void (*afterPass)(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot);
    void* context;
};

// Start routine; returns 0 when `running` is found cleared, after the sleep of
// the pass that found it, with the emulator's process closed.
int TrackerThreadMain(SharedState* shared, PassObserver observer);

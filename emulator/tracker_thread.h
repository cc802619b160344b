// The tracker thread: passes that attach to the emulator, identify the game,
// read and decode the RAM window and classify it, each ending with Publish.
#pragma once

struct SharedState;

// Start routine; returns 0 when `running` is found cleared.
int TrackerThreadMain(SharedState* shared);

// Spindash quality and hits of both players, judged on active level passes.
#pragma once

#include "emulator/game_snapshot.h"

// Hit timer value on the frame a player is hit.
inline constexpr uint32_t kHitTimerOnHit = 120;

// A P1 spindash counts towards the averages once this many taps were seen.
inline constexpr int32_t kCountedTapCount = 5;

// Runs on every active level pass (mode 12, not paused, global frame counter
// advanced, level frame and timer sixtieths both changed): counts hits, judges
// releases of both players against spindashSpeedTable and counts P1's taps.
void ActiveTickStatistics(GameSnapshot& snapshot);

// Spindash quality and hits of both players, judged on active level passes.
#pragma once

#include <cstdint>

#include "tracking/game_snapshot.h"

inline constexpr int kSpeedTableSize = 9;         // spindash charge levels 0..8

// The game's spindash release speed by charge level: 2048 + 128 k.
inline constexpr uint32_t kSpindashSpeedTable[kSpeedTableSize] = {2048, 2176, 2304, 2432, 2560,
                                                                 2688, 2816, 2944, 3072};

// Hit timer value on the frame a player is hit.
inline constexpr uint32_t kHitTimerOnHit = 120;

// A P1 spindash counts towards the averages once this many taps were seen.
inline constexpr int32_t kCountedTapCount = 5;

// Runs on every active level frame (mode 12, not paused, global frame counter
// advanced, level frame and timer sixtieths both changed since `last`, the
// frame taken before): counts hits, judges releases of both players against
// kSpindashSpeedTable and counts P1's taps.
void ActiveTickStatistics(GameSnapshot& snapshot, const RamMirror& last);

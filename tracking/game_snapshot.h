// The record of everything the tracker knows about the game, copied whole from
// the tracker thread to the main thread on every pass: where the tracker's
// statistics (tracking/) and the decoded RAM (emulator/) meet. Plain data only:
// it is copied with one assignment, never by field.
#pragma once

#include <type_traits>

#include "emulator/ram_mirror.h"
#include "tracking/tracker_stats.h"

struct GameSnapshot {
    TrackerStats stats;
    RamMirror ram;
};

static_assert(std::is_trivially_copyable_v<GameSnapshot>, "GameSnapshot is copied whole with one assignment");

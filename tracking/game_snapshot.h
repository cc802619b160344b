// The record of everything the tracker knows about the game, copied whole from
// the tracker thread to the main thread on every pass: where the tracker's
// statistics (tracking/) and the decoded RAM (emulator/) meet. Plain data only:
// it is copied with one assignment, never by field.
#pragma once

#include <cstdint>
#include <type_traits>

#include "emulator/ram_mirror.h"
#include "tracking/tracker_stats.h"

// Level frames each button of each controller has been held, by bit, over the
// frames taken: the screen's input lines.
struct HoldCounters {
    uint32_t p1Frames[kButtonCount];
    uint32_t p2Frames[kButtonCount];
};

struct GameSnapshot {
    TrackerStats stats;
    RamMirror ram;        // the last frame taken (TakeFrame, tracking/classifier.h)
    HoldCounters holds;
};

static_assert(std::is_trivially_copyable_v<GameSnapshot>, "GameSnapshot is copied whole with one assignment");

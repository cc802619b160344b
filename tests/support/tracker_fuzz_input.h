// The tracker fuzz target's input language, shared with the unit test that
// checks that its seed corpus reaches the game's interesting states.
//
// The input is a list of 4-byte commands [op, a, b, c] played against one RAM
// window (the RAM signature in place) and the tracker's snapshot:
//   op % 8 == 0: a pass: decode the window and take it as the tracker thread
//                does (tracking/timeline.h): a write to the global frame
//                counter makes a jump of the game's timeline.
//   op % 8 == 1: a pass whose window lost the RAM signature: the classifier
//                runs on the previous values, as the tracker thread does.
//   op % 8 == 2: compose the screen from a copy of the snapshot into a grid of
//                1 + a % 160 columns and 1 + b % 64 rows.
//   op % 8 == 3: 1 + b % 64 game frames of kind a % 4 (0 the level running:
//                global and level frame counters and the timer advance; 1 the
//                timer standing; 2 a lag frame: only the global counter; 3 the
//                game paused), each followed by 1 + c % 3 passes.
//   otherwise:   write b, and c into the neighbouring byte, at the window
//                offset of decoded source a % 38 (object ids: record c % 150).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint8_t kFuzzOpPass = 0;
inline constexpr uint8_t kFuzzOpSignatureLost = 1;
inline constexpr uint8_t kFuzzOpCompose = 2;
inline constexpr uint8_t kFuzzOpFrames = 3;
inline constexpr uint8_t kFuzzOpWrite = 4;

// Kinds of kFuzzOpFrames, as the stand-in's scenario steps.
inline constexpr uint8_t kFuzzFrameRun = 0;
inline constexpr uint8_t kFuzzFrameHold = 1;
inline constexpr uint8_t kFuzzFrameLag = 2;
inline constexpr uint8_t kFuzzFramePause = 3;

// What a run of inputs reached, summed over every classified pass.
struct TrackerFuzzReach {
    uint32_t gameModesSeen[8];    // bit m: a pass classified game mode m (256 bits)
    uint32_t statesSeen;          // bit s: the tracker state s after a pass
    uint32_t levelEnds;           // passes on which the results object (id 58) was recognised
    uint32_t mostDeaths;          // highest death count
    int32_t mostRecords;          // highest record count
    uint32_t closesPastCapacity;  // levels closed with all 21 records already filled
    uint32_t specialStageEntries; // passes that entered a special stage
    uint32_t screens;             // screens composed
};

// Plays one input. Returns false when an invariant broke (a state or level
// index out of its table, a record count out of range, the speed table
// changed); `reach`, when given, is added to.
bool PlayTrackerInput(const uint8_t* data, size_t size, TrackerFuzzReach* reach);

// What the console shows above the message log: status, controller inputs,
// run statistics, one line per finished level and, while the game's debug
// mode is on, the debug lines. Composed every frame from the main thread's
// copy of the game snapshot; every line goes through ScreenPrintLine, so it is
// cut at the console width and dropped below the window's last row.
#pragma once

#include <cstdint>

#include "app/screen_buffer.h"
#include "tracking/game_snapshot.h"
#include "tracking/tracker_states.h"

inline constexpr int kLevelNameCount = kLevelIndexCount;  // level indexes 0..20
inline constexpr int kNameSize = 64;               // bytes of one name row, NUL included

// Short level names, indexed by levelIndex. The three single-act levels end
// in a blank ("SC ", "WF ", "DE ") so that every name is three columns wide.
extern const char kLevelNames[kLevelNameCount][kNameSize];

// The level's name; an index outside the table gives the blank name.
const char* LevelName(uint32_t levelIndex);

// Writes the whole layout from row `screen.row` on and leaves `row` where the
// log lines start. The run's total seconds are normalised in `mainCopy` (whole
// minutes borrowed while they are negative): pass the main thread's copy,
// never the tracker's snapshot.
void ComposeScreenLayout(ScreenBuffer& screen, GameSnapshot& mainCopy);

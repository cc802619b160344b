// The levels' short names, by level index (TrackerStats::levelIndex), in the
// two spellings the program writes: the screen's, three columns wide, and the
// history file's, without the blank that pads the single-act levels.
#pragma once

#include <cstdint>

#include "tracking/tracker_stats.h"

inline constexpr int kLevelNameCount = kLevelIndexCount;  // every level index, the blank one included

// The name as the history file writes it: "EH1", ... "SC", "WF", "DE"; "" for
// the blank index. An index outside the table gives the blank name.
const char* LevelName(uint32_t levelIndex);

// The name as the screen shows it: the single-act levels padded to three
// columns ("SC ", "WF ", "DE "), the blank index "  ".
const char* LevelScreenName(uint32_t levelIndex);

// The level index whose name (either spelling) is `text`, or -1 when none is.
int LevelIndexByName(const char* text);

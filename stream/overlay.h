// What the streams show: the statistics as JSON, in the very figures and
// spellings of the screen (tracking/game_time.h does the arithmetic), the
// self-contained page that shows them over the game in a browser source,
// and the LiveSplit One commands of the run policy (livesplit/run_policy.h)
// as the JSON messages of livesplit-core's server protocol.
#pragma once

#include <cstddef>

#include "livesplit/run_policy.h"
#include "tracking/game_snapshot.h"

inline constexpr size_t kStatsJsonSize = 6144;             // bytes of the statistics' JSON, NUL included
inline constexpr int kLiveSplitOneMessagesPerCommand = 3;  // messages one command of the policy becomes at most
inline constexpr size_t kLiveSplitOneMessageSize = 80;     // bytes of one message, NUL included

// The statistics now, one JSON object on one line: the status, the level and
// its timer, the run's time and adjusted time, the counts, the spindash
// figures, `levelLine` (the log's latest comparison of a level with its best,
// may be "") and every finished level. Returns its length; 0 when it does not
// fit in `size` (it always fits in kStatsJsonSize).
size_t FormatStatsJson(const GameSnapshot& snapshot, const char* levelLine, char* out, size_t size);

// The page, in two parts: the statistics' JSON when it was served goes between
// them, so the page shows them before its first event arrives.
extern const char kOverlayPageBefore[];
extern const char kOverlayPageAfter[];

// The protocol's messages for one command, into `out`; returns how many. A
// start is three: the attempt starts, and its game time (which every new
// attempt leaves uninitialised) is initialised and paused, so that it moves
// only when set. The policy's "game time paused" on connecting has none: a
// new attempt would undo it.
int LiveSplitOneMessages(const LiveSplitCommand& command, char (*out)[kLiveSplitOneMessageSize]);

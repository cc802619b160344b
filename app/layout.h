// The whole screen: status, controller inputs, run statistics, one line per
// finished level and, while the game's debug mode is on, the debug lines,
// composed every frame from the main thread's copy of the game snapshot; then
// the message log's lines below them. Every line goes through the ScreenBuffer,
// so it is cut at the console width and dropped below the window's last row.
// Drawing only reads the snapshot and the log.
#pragma once

#include <cstdint>

#include "app/screen_buffer.h"
#include "log/log_buffer.h"
#include "tracking/game_snapshot.h"
#include "tracking/tracker_states.h"

// Writes everything above the log from row `screen.row` on and leaves `row`
// where the log lines start.
void ComposeScreenLayout(ScreenBuffer& screen, const GameSnapshot& snapshot);

// Draws the log's entries newest first from screen.row down while rows remain,
// each as "[NNN - HH:MM:SS.mmm] text" (LogFormatLine).
void ComposeLogLines(ScreenBuffer& screen, const LogBuffer& log, uint64_t startStamp, double counterFrequency);

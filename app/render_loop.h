// The main thread's frame: collect, size the grid, compose, draw the log,
// write the grid in one call, then sleep for the rest of the frame period.
#pragma once

#include <cstdint>

#include "history/history_queue.h"
#include "app/bests_load.h"
#include "livesplit/livesplit_link.h"
#include "app/screen_buffer.h"
#include "app/shared_state.h"
#include "platform/console.h"
#include "stream/stream_server.h"

// The main thread's time base and frame pacing.
struct FrameTiming {
    uint64_t startStamp;          // counter ticks at start-up
    double counterFrequency;      // counter ticks per second
    double framePeriod;           // seconds, 1 / refresh rate
    double debugFramePeriod;      // seconds, 1/60
    bool refreshExplicit;         // the command line gave the rate
    uint64_t frameStart;          // counter ticks when this frame began; 0 in the first frame
    uint64_t frameEnd;            // counter ticks after output, and again after the sleep
};

// The size a terminal that reports none (0 columns or rows: a pseudo-terminal
// made without a size, as some tools and CI runners make them) is drawn at:
// it holds the whole layout (45 rows with the debug block and every level's
// line) and 15 lines of the log below it.
inline constexpr int32_t kNoSizeColumns = 120;
inline constexpr int32_t kNoSizeRows = 60;

// Everything the main thread's frames work with.
struct RenderContext {
    ScreenBuffer* screen;
    ConsoleHandle output;         // the console's standard output, where frames go
    LogBuffer* mainLog;
    GameSnapshot* mainSnapshot;
    SharedState* shared;
    FrameTiming timing;
    HistoryState* history;        // null: no history file is kept
    BestsState* bests = nullptr;  // null: no comparison lines
    BestsLoad* bestsLoad = nullptr;   // the history's bests on their way, or null
    LiveSplitLink* liveSplit = nullptr;  // null: no -livesplit
    StreamServer* liveSplitOne = nullptr;   // null: no -livesplit-one
    StreamServer* overlay = nullptr;        // null: no -overlay
    bool noSizeTold = false;      // the terminal's missing size was logged (once)
};

// The period of the next frame: the command line's rate when one was given,
// otherwise 1/60 s while a tracked game has its debug flag set, else the default.
double ChooseFramePeriod(bool refreshExplicit, bool ready, uint8_t debugFlag, double framePeriod,
                         double debugFramePeriod);

// Milliseconds to sleep when `elapsed` seconds of the period are used up;
// 0 when the work took the whole period or longer.
uint32_t FrameSleepMs(double period, double elapsed);

// Everything of one frame up to and including the output: collect, drive
// LiveSplit and LiveSplit One, take the closed records into the history and
// the comparison lines, serve the overlay, size the grid (kNoSizeColumns x
// kNoSizeRows for a terminal that reports no size, logged once), compose, draw
// the log and write the grid. Returns whether the game was
// tracked (the collected `ready`), which paces the frame.
bool DrawFrame(RenderContext& context);

// One whole frame, pacing included.
void RenderFrame(RenderContext& context);

// Frames forever.
[[noreturn]] void RunRenderLoop(RenderContext& context);

// The main thread's frame: collect, size the grid, compose, draw the log,
// write the grid in one call, then sleep for the rest of the frame period.
#pragma once

#include <cstdint>

#include "app/history.h"
#include "app/screen_buffer.h"
#include "app/shared_state.h"

struct RenderContext {
    ScreenBuffer* screen;
    LogBuffer* mainLog;
    GameSnapshot* mainSnapshot;
    SharedState* shared;
    bool refreshExplicit;
    HistoryState* history;   // null: no history file is kept
};

// The period of the next frame: the command line's rate when one was given,
// otherwise 1/60 s while a tracked game has its debug flag set, else the default.
double ChooseFramePeriod(bool refreshExplicit, bool ready, uint8_t debugFlag, double framePeriod,
                         double debugFramePeriod);

// Milliseconds to sleep when `elapsed` seconds of the period are used up;
// 0 when the work took the whole period or longer.
uint32_t FrameSleepMs(double period, double elapsed);

// Everything of one frame up to and including the output; returns `ready`.
bool RenderFrameOutput(RenderContext& context);

// One whole frame, pacing included.
void RenderFrame(RenderContext& context);

// Frames forever.
[[noreturn]] void RunRenderLoop(RenderContext& context);

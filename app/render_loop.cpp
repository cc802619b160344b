#include "app/render_loop.h"

#include "app/layout.h"
#include "platform/clock.h"
#include "platform/console.h"

double ChooseFramePeriod(bool refreshExplicit, bool ready, uint8_t debugFlag, double framePeriod,
                         double debugFramePeriod) {
    if (refreshExplicit) return framePeriod;
    if (ready && debugFlag != 0) return debugFramePeriod;
    return framePeriod;
}

uint32_t FrameSleepMs(double period, double elapsed) {
    if (!(elapsed < period)) return 0;
    return static_cast<uint32_t>((period - elapsed) * 1000.0);
}

bool DrawFrame(RenderContext& context) {
    ScreenBuffer& screen = *context.screen;
    const FrameTiming& timing = context.timing;

    const bool ready = Collect(*context.shared, *context.mainSnapshot, *context.mainLog);
    // LiveSplit first: a split leaves as soon after the level's close as the frame allows.
    if (context.liveSplit != nullptr) {
        LiveSplitFrame(*context.liveSplit, *context.mainSnapshot, *context.mainLog, ClockNow(),
                       timing.counterFrequency);
    }
    if (context.liveSplitOne != nullptr) {
        StreamServerFrame(*context.liveSplitOne, *context.mainSnapshot, "", *context.mainLog, ClockNow(),
                          timing.counterFrequency);
    }
    // Rows of the history go to the disk from here, never from the tracker thread.
    if (context.history != nullptr) {
        HistoryFrame(*context.history, context.mainSnapshot->stats, *context.mainLog, ClockNow(), ClockLocalTime(),
                     timing.counterFrequency);
    }
    if (context.bests != nullptr) {
        BestsLoadFrame(*context.bests, context.bestsLoad, context.mainSnapshot->stats, *context.mainLog, ClockNow());
    }
    if (context.overlay != nullptr) {
        StreamServerFrame(*context.overlay, *context.mainSnapshot,
                          context.bests != nullptr ? context.bests->lastLevelLine : "", *context.mainLog, ClockNow(),
                          timing.counterFrequency);
    }

    int32_t width = 0;
    int32_t height = 0;
    if (ConsoleQuerySize(context.output, &width, &height)) {
        if (width <= 0 || height <= 0) {
            if (!context.noSizeTold) {
                LogAppend(*context.mainLog, ClockNow(), "The terminal gave no size (%dx%d): drawing at %dx%d.",
                          static_cast<int>(width), static_cast<int>(height), static_cast<int>(kNoSizeColumns),
                          static_cast<int>(kNoSizeRows));
                context.noSizeTold = true;
            }
            width = kNoSizeColumns;
            height = kNoSizeRows;
        }
        if (width != screen.width || height != screen.height || screen.cells == nullptr) {
            ConsoleClear(context.output);
            ScreenResize(screen, width, height);
        }
        ScreenFillBlank(screen);
    } else {
        LogAppend(*context.mainLog, ClockNow(), "Could not get console buffer info.");
    }

    screen.row = 0;
    if (ready) ComposeScreenLayout(screen, *context.mainSnapshot);
    LogExpire(*context.mainLog, ClockNow(), timing.counterFrequency);
    ComposeLogLines(screen, *context.mainLog, timing.startStamp, timing.counterFrequency);

    ConsoleWriteGrid(context.output, screen.cells, screen.cells != nullptr ? screen.size : 0, screen.width);
    ConsoleHideCursor(context.output);
    screen.row = 0;
    return ready;
}

void RenderFrame(RenderContext& context) {
    FrameTiming& timing = context.timing;
    const bool ready = DrawFrame(context);

    timing.frameEnd = ClockNow();
    const double period = ChooseFramePeriod(timing.refreshExplicit, ready, context.mainSnapshot->ram.debugFlag,
                                            timing.framePeriod, timing.debugFramePeriod);
    const double elapsed = static_cast<double>(timing.frameEnd - timing.frameStart) / timing.counterFrequency;
    const uint32_t sleepMs = FrameSleepMs(period, elapsed);
    if (elapsed < period) {
        ClockSleepMs(sleepMs);
        timing.frameEnd = ClockNow();
    }
    timing.frameStart = timing.frameEnd;
}

void RunRenderLoop(RenderContext& context) {
    for (;;) RenderFrame(context);
}

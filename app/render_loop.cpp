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

bool RenderFrameOutput(RenderContext& context) {
    ScreenBuffer& screen = *context.screen;
    SharedState& shared = *context.shared;

    const bool ready = Collect(shared, *context.mainSnapshot, *context.mainLog);
    // Rows of the history go to the disk from here, never from the tracker thread.
    if (context.history != nullptr) {
        HistoryFrame(*context.history, context.mainSnapshot->stats, *context.mainLog, ClockNow(),
                     shared.counterFrequency);
    }

    int32_t width = 0;
    int32_t height = 0;
    if (ConsoleQuerySize(screen.output, &width, &height)) {
        if (width != screen.width || height != screen.height || screen.cells == nullptr) {
            ConsoleClear(screen.output);
            ScreenResize(screen, width, height);
        }
        ScreenFillBlank(screen);
        ConsoleHideCursor(screen.output);
    } else {
        LogAppend(*context.mainLog, ClockNow(), "Could not get console buffer info.");
    }

    screen.row = 0;
    if (ready) ComposeScreenLayout(screen, *context.mainSnapshot);
    LogExpire(*context.mainLog, ClockNow(), shared.counterFrequency);
    LogDrawLines(*context.mainLog, screen, shared.startStamp, shared.counterFrequency);

    ConsoleWriteGrid(screen.output, screen.cells, screen.cells != nullptr ? screen.size : 0, screen.width);
    ConsoleHideCursor(screen.output);
    screen.row = 0;
    return ready;
}

void RenderFrame(RenderContext& context) {
    SharedState& shared = *context.shared;
    const bool ready = RenderFrameOutput(context);

    shared.frameEnd = ClockNow();
    const double period = ChooseFramePeriod(context.refreshExplicit, ready, context.mainSnapshot->ram.debugFlag,
                                            shared.framePeriod, shared.debugFramePeriod);
    const double elapsed = static_cast<double>(shared.frameEnd - shared.frameStart) / shared.counterFrequency;
    const uint32_t sleepMs = FrameSleepMs(period, elapsed);
    if (elapsed < period) {
        ClockSleepMs(sleepMs);
        shared.frameEnd = ClockNow();
    }
    shared.frameStart = shared.frameEnd;
}

void RunRenderLoop(RenderContext& context) {
    for (;;) RenderFrame(context);
}

#include "app/startup.h"

#include <cstdio>
#include <functional>
#include <new>
#include <thread>

#include "app/command_line.h"
#include "app/render_loop.h"
#include "report/report.h"
#include "app/screen_buffer.h"
#include "app/shared_state.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

// One line on what the sleeps of both threads got from the system: the
// tracker's 6 ms passes see every game frame only if a sleep ends on time.
void LogClockSetup(LogBuffer& log, const ClockSetup& setup) {
    char throttling[64] = "";
    if (setup.throttling == ClockThrottling::OptedOut) {
        std::snprintf(throttling, sizeof throttling, "; power throttling off");
    } else if (setup.throttling == ClockThrottling::Refused) {
        std::snprintf(throttling, sizeof throttling, "; no power-throttling opt-out (error %u)", setup.throttlingError);
    }
    switch (setup.timer) {
    case ClockTimer::Precise:
        LogAppend(log, ClockNow(), "Timer: the system's precise sleep%s.", throttling);
        break;
    case ClockTimer::HighResolution:
        LogAppend(log, ClockNow(), "Timer: high resolution%s.", throttling);
        break;
    case ClockTimer::OneMillisecond:
        LogAppend(log, ClockNow(), "Timer: 1 ms resolution (no high-resolution timer, error %u)%s.", setup.timerError,
                  throttling);
        break;
    case ClockTimer::SystemTick:
        LogAppend(log, ClockNow(), "Timer: the system tick (error %u); game frames may go unseen%s.", setup.timerError,
                  throttling);
        break;
    }
}

}  // namespace

int RunProgram(int argc, char** argv) {
    // -report writes the history's report on a plain console and exits.
    const CommandLineResult commandLine = ParseCommandLine(argc, argv);
    if (commandLine.report) return RunReport(commandLine.reportPath);

    // Every buffer of the run, allocated before the console is touched so an
    // allocation failure can still be reported on a plain stderr.
    LogBuffer* mainLog = new (std::nothrow) LogBuffer();
    GameSnapshot* mainSnapshot = new (std::nothrow) GameSnapshot();
    LogBuffer* sharedLog = new (std::nothrow) LogBuffer();
    GameSnapshot* sharedSnapshot = new (std::nothrow) GameSnapshot();
    SharedState* shared = new (std::nothrow) SharedState();
    HistoryState* history = new (std::nothrow) HistoryState();
    BestsState* bests = new (std::nothrow) BestsState();
    BestsLoad* bestsLoad = new (std::nothrow) BestsLoad();
    LiveSplitLink* liveSplit = commandLine.liveSplit ? new (std::nothrow) LiveSplitLink() : nullptr;
    StreamServer* overlay = commandLine.overlay ? new (std::nothrow) StreamServer() : nullptr;
    StreamServer* liveSplitOne = commandLine.liveSplitOne ? new (std::nothrow) StreamServer() : nullptr;
    if (mainLog == nullptr || mainSnapshot == nullptr || sharedLog == nullptr || sharedSnapshot == nullptr ||
        shared == nullptr || history == nullptr || bests == nullptr || bestsLoad == nullptr ||
        (commandLine.liveSplit && liveSplit == nullptr) || (commandLine.overlay && overlay == nullptr) ||
        (commandLine.liveSplitOne && liveSplitOne == nullptr)) {
        std::fputs("ringwatch: not enough memory to start\n", stderr);
        return 1;
    }

    ScreenBuffer screen{};
    const ConsoleStdHandles console = ConsoleGetStdHandles();
    ConsolePrepare(console.input, console.output);
    ConsoleSetTitle(kConsoleTitle);

    FrameTiming timing{};
    timing.startStamp = ClockNow();
    timing.counterFrequency = static_cast<double>(ClockFrequency());
    timing.debugFramePeriod = 1.0 / 60.0;

    for (int i = 0; i < commandLine.messageCount; ++i)
        LogAppend(*mainLog, ClockNow(), "%s", commandLine.messages[i]);
    timing.framePeriod = 1.0 / commandLine.refreshRate;
    timing.refreshExplicit = commandLine.refreshExplicit;
    // Before either thread sleeps.
    LogClockSetup(*mainLog, ClockSetupProcess());

    shared->running = true;
    shared->ready = false;
    shared->sharedLog = sharedLog;
    shared->sharedSnapshot = sharedSnapshot;
    shared->emulator = commandLine.emulator[0] != '\0' ? commandLine.emulator : nullptr;
    std::thread(TrackerThreadMain, shared, PassObserver{}).detach();
    // The history's bests are read beside the frames, never in one.
    BestsInit(*bests);
    std::thread(LoadHistoryBests, std::ref(*bestsLoad)).detach();
    if (liveSplit != nullptr) LiveSplitLinkInit(*liveSplit, commandLine.liveSplitHost, commandLine.liveSplitPort);

    if (overlay != nullptr)
        StreamServerInit(*overlay, StreamServerKind::Overlay, commandLine.overlayHost, commandLine.overlayPort);
    if (liveSplitOne != nullptr) {
        StreamServerInit(*liveSplitOne, StreamServerKind::LiveSplitOne, commandLine.liveSplitOneHost,
                         commandLine.liveSplitOnePort);
    }

    RenderContext context{&screen, console.output, mainLog,   mainSnapshot, shared,      timing, history,
                          bests,   bestsLoad,      liveSplit, liveSplitOne, overlay};
    RunRenderLoop(context);   // frames until the console is closed, which ends the process
    return 0;
}

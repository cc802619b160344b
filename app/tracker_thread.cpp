#include "app/tracker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/shared_state.h"
#include "emulator/ram_decode.h"
#include "platform/clock.h"
#include "tracking/classifier.h"

namespace {

// The link to the game broke: a read held is taken, and the last frame taken
// stands.
void LoseTheGame(EmulatorLink& link, GameSnapshot& snapshot, FrameWatch& watch) {
    TakeHeldRead(watch, snapshot);
    watch.chained = 0;
    Disconnect(link);
}

// Returns the pass's stamp: taken right after the window is read, so that a
// thread held up before its read counts the frames it missed as unseen, not
// as fast-forward.
uint64_t Pass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t (*clock)()) {
    // Only a good window read right after another counts frames: not the
    // first after a connection was found again.
    if (!link.attached || !link.identified) watch.chained = 0;
    if (!link.attached) {
        Attach(link, log);
        return clock();
    }
    if (!link.identified) {
        IdentifyGame(link, log);
        return clock();
    }
    const ReadWindowResult read = ReadWindow(link, log);
    const uint64_t now = clock();
    switch (read) {
    case ReadWindowResult::ReadFailed:
        LoseTheGame(link, snapshot, watch);
        break;
    case ReadWindowResult::SignatureMismatch:
        // The classifier still sees this pass, on the values decoded before,
        // as a pass that read the same window again would see them: what
        // changed on the previous pass is not counted a second time.
        LoseTheGame(link, snapshot, watch);
        ClassifyFrame(snapshot, snapshot.ram);
        break;
    case ReadWindowResult::RamCleared:
        break;   // a state being loaded: the next pass reads the game again
    case ReadWindowResult::WindowGood: {
        watch.lastRead = link.connection.row != nullptr && link.connection.row->framesWrittenAcross;
        RamMirror frame;
        DecodeRamWindow(link.connection.window, link.connection.byteOrder, frame);
        TrackRead(watch, snapshot, frame, now);
        break;
    }
    }
    return now;
}

}  // namespace

void TrackerPass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t (*clock)()) {
    SayTimeline(watch, log, Pass(link, snapshot, log, watch, clock));
}

uint32_t PassSleepMs(bool attached, bool identified) { return attached && identified ? 6u : 2400u; }

int TrackerThreadMain(SharedState* shared, PassObserver observer) {
    GameSnapshot* snapshot = new (std::nothrow) GameSnapshot();
    EmulatorLink* link = new (std::nothrow) EmulatorLink();
    if (snapshot == nullptr || link == nullptr) {
        std::fputs("ringwatch: out of memory for the tracker's buffers\n", stderr);
        std::exit(1);
    }
    InitRamDecode(snapshot->ram);
    EmulatorLinkReset(*link, kPlatformProcessApi, shared->emulator);
    bool running;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        running = shared->running;
    }
    LogBuffer* log = new (std::nothrow) LogBuffer();
    if (log == nullptr) {
        std::fputs("ringwatch: out of memory for the tracker's buffers\n", stderr);
        std::exit(1);
    }

    // A pass is well under 1 % of a core; above normal priority, a busy
    // machine delays its wake-up less.
    const uint32_t priorityError = ClockRaiseThreadPriority();
    if (priorityError != 0)
        LogAppend(*log, ClockNow(), "Could not raise the tracker thread's priority (error %u).", priorityError);

    FrameWatch watch{};
    watch.counterFrequency = static_cast<double>(ClockFrequency());
    while (running) {
        const uint64_t passStart = ClockNow();
        const bool connected = link->identified;
        TrackerPass(*link, *snapshot, *log, watch, ClockNow);
        if (observer.afterPass != nullptr) observer.afterPass(observer.context, passStart, connected, *snapshot, watch);
        running = Publish(*shared, *snapshot, *log, link->attached, link->identified);
        ClockSleepMs(PassSleepMs(link->attached, link->identified));
    }
    // The program's thread runs until the process ends; a thread that is
    // ended leaves nothing open behind it.
    if (link->attached) Disconnect(*link);
    delete log;
    delete link;
    delete snapshot;
    return 0;
}

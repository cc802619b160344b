#include "app/tracker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/shared_state.h"
#include "emulator/ram_decode.h"
#include "platform/clock.h"
#include "tracking/classifier.h"
#include "tracking/frames_unseen.h"

namespace {

// Frames went unseen: said at once, then at most once every
// kUnseenWarningSeconds with what went unseen meanwhile.
void WarnOfUnseenFrames(FrameWatch& watch, LogBuffer& log, uint64_t now) {
    if (watch.unwarned == 0) return;
    if (watch.warned && static_cast<double>(now - watch.warnedAt) < kUnseenWarningSeconds * watch.counterFrequency) {
        return;
    }
    const unsigned frames = watch.unwarned;
    LogAppend(log, now,
              "WARNING: %u game frame%s unseen in the last 10 s (the machine was busy); a lag frame, pause or "
              "spindash release in them may be missing.",
              frames, frames == 1 ? " went" : "s went");
    watch.unwarned = 0;
    watch.warned = 1;
    watch.warnedAt = now;
}

// A good window, decoded: the frames since the last one that no pass saw.
void WatchFrames(FrameWatch& watch, GameSnapshot& snapshot, uint64_t now) {
    const double elapsed = static_cast<double>(now - watch.stamp) / watch.counterFrequency;
    const uint32_t unseen =
        UnseenFrames(snapshot.ram, snapshot.stats.trackerState, watch.chained != 0, watch.globalFrame, elapsed);
    AddUnseenFrames(snapshot, unseen);
    watch.unwarned += unseen;
    watch.chained = 1;
    watch.globalFrame = snapshot.ram.globalFrame;
    watch.stamp = now;
}

void Pass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t now) {
    // Only a good window read right after another counts frames: not the
    // first after a connection was found again.
    if (!link.attached || !link.identified) watch.chained = 0;
    if (!link.attached) {
        Attach(link, log);
        return;
    }
    if (!link.identified) {
        IdentifyGame(link, log);
        return;
    }
    switch (ReadWindow(link, log)) {
    case ReadWindowResult::ReadFailed:
        watch.chained = 0;
        Disconnect(link);
        break;
    case ReadWindowResult::SignatureMismatch:
        // The classifier still sees this pass, on the values decoded before,
        // as a pass that read the same window again would see them: what
        // changed on the previous pass is not counted a second time.
        watch.chained = 0;
        Disconnect(link);
        ShiftPrevFields(snapshot.ram);
        ClassifyTick(snapshot);
        break;
    case ReadWindowResult::WindowGood:
        DecodeRamWindow(link.connection.window, snapshot.ram);
        WatchFrames(watch, snapshot, now);
        ClassifyTick(snapshot);
        break;
    }
}

}  // namespace

void TrackerPass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log, FrameWatch& watch, uint64_t now) {
    Pass(link, snapshot, log, watch, now);
    WarnOfUnseenFrames(watch, log, now);
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
    EmulatorLinkReset(*link, kPlatformProcessApi);
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
        TrackerPass(*link, *snapshot, *log, watch, passStart);
        if (observer.afterPass != nullptr) observer.afterPass(observer.context, passStart, connected, *snapshot);
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

#include "app/tracker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/shared_state.h"
#include "emulator/ram_decode.h"
#include "platform/clock.h"
#include "tracking/classifier.h"

namespace {

PassObserver g_passObserver{};

}  // namespace

void TrackerSetPassObserver(const PassObserver& observer) { g_passObserver = observer; }

void TrackerPass(EmulatorLink& link, GameSnapshot& snapshot, LogBuffer& log) {
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
        Disconnect(link);
        break;
    case ReadWindowResult::SignatureMismatch:
        // The classifier still sees this pass, on the values decoded before,
        // as a pass that read the same window again would see them: what
        // changed on the previous pass is not counted a second time.
        Disconnect(link);
        ShiftPrevFields(snapshot.ram);
        ClassifyTick(snapshot);
        break;
    case ReadWindowResult::WindowGood:
        DecodeRamWindow(link.connection.window, snapshot.ram);
        ClassifyTick(snapshot);
        break;
    }
}

uint32_t PassSleepMs(bool attached, bool identified) { return attached && identified ? 6u : 2400u; }

int TrackerThreadMain(SharedState* shared) {
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

    const PassObserver observer = g_passObserver;
    while (running) {
        const uint64_t passStart = observer.afterPass != nullptr ? ClockNow() : 0;
        const bool connected = link->identified;
        TrackerPass(*link, *snapshot, *log);
        if (observer.afterPass != nullptr) observer.afterPass(observer.context, passStart, connected, *snapshot);
        running = Publish(*shared, *snapshot, *log, link->attached, link->identified);
        ClockSleepMs(PassSleepMs(link->attached, link->identified));
    }
    // Only tests end the thread; leave nothing open behind it.
    if (link->attached) Disconnect(*link);
    delete log;
    delete link;
    delete snapshot;
    return 0;
}

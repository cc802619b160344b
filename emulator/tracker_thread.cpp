#include "emulator/tracker_thread.h"

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

void TrackerPass(Tracker& tracker, GameSnapshot& snapshot, LogBuffer& log) {
    if (!tracker.attached) {
        Attach(tracker, log);
        return;
    }
    if (!tracker.identified) {
        switch (FindGame(tracker, log)) {
        case FindGameResult::Found:
            tracker.identified = true;
            break;
        case FindGameResult::NotIdentified:
            // Scan again on the next pass: the cartridge may have changed.
            tracker.connection.headerFound = 0;
            break;
        case FindGameResult::LostConnection:
            Disconnect(tracker);
            break;
        }
        return;
    }
    switch (ReadWindow(tracker, log)) {
    case ReadWindowResult::ReadFailed:
        Disconnect(tracker);
        break;
    case ReadWindowResult::SignatureMismatch:
        // The classifier still sees this pass, on the values decoded before,
        // as a pass that read the same window again would see them: what
        // changed on the previous pass is not counted a second time.
        Disconnect(tracker);
        RepeatPreviousDecode(snapshot);
        ClassifyTick(snapshot);
        break;
    case ReadWindowResult::WindowGood:
        DecodeRamWindow(tracker.connection.window, snapshot);
        ClassifyTick(snapshot);
        break;
    }
}

int TrackerThreadMain(SharedState* shared) {
    GameSnapshot* snapshot = new (std::nothrow) GameSnapshot();
    Tracker* tracker = new (std::nothrow) Tracker();
    if (snapshot == nullptr || tracker == nullptr) {
        std::fputs("ringwatch: out of memory for the tracker's buffers\n", stderr);
        std::exit(1);
    }
    InitRamDecode(*snapshot);
    TrackerReset(*tracker, kPlatformProcessApi);
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
    TrackerSetNames(*tracker);

    const PassObserver observer = g_passObserver;
    while (running) {
        const uint64_t passStart = observer.afterPass != nullptr ? ClockNow() : 0;
        const bool connected = tracker->identified;
        TrackerPass(*tracker, *snapshot, *log);
        if (observer.afterPass != nullptr) observer.afterPass(observer.context, passStart, connected, *snapshot);
        running = Publish(*shared, *snapshot, *log, tracker->attached, tracker->identified);
        ClockSleepMs(PassSleepMs(tracker->attached, tracker->identified));
    }
    // Only tests end the thread; leave nothing open behind it.
    if (tracker->attached) Disconnect(*tracker);
    delete log;
    delete tracker;
    delete snapshot;
    return 0;
}

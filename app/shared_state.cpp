#include "app/shared_state.h"

bool Publish(SharedState& shared, const GameSnapshot& trackerSnapshot, LogBuffer& trackerLog,
             bool attached, bool identified) {
    std::lock_guard<std::mutex> guard(shared.lock);
    *shared.sharedSnapshot = trackerSnapshot;
    if (trackerLog.count > 0) {
        // A batch the main thread has not collected yet stays: the new one goes
        // behind it. The tracker publishes every few milliseconds and the main
        // thread collects once a frame, so replacing it would lose messages.
        int32_t sequence = trackerLog.sequence;
        LogMerge(*shared.sharedLog, trackerLog);
        trackerLog.sequence = sequence;
    }
    shared.ready = attached && identified;
    return shared.running;
}

bool Collect(SharedState& shared, GameSnapshot& mainSnapshot, LogBuffer& mainLog) {
    std::lock_guard<std::mutex> guard(shared.lock);
    mainSnapshot = *shared.sharedSnapshot;
    if (shared.sharedLog->count > 0) LogMerge(mainLog, *shared.sharedLog);
    return shared.ready;
}

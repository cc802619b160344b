#include "app/shared_state.h"

#include <cstring>

bool Publish(SharedState& shared, const GameSnapshot& trackerSnapshot, LogBuffer& trackerLog,
             bool attached, bool identified) {
    std::lock_guard<std::mutex> guard(shared.lock);
    *shared.sharedSnapshot = trackerSnapshot;
    if (trackerLog.count > 0) {
        std::memcpy(shared.sharedLog, &trackerLog, sizeof(LogBuffer));
        int32_t sequence = trackerLog.sequence;
        LogClear(trackerLog);
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

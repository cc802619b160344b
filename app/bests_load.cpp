#include "app/bests_load.h"

#include "history/history_format.h"
#include "platform/file.h"

void LoadHistoryBests(BestsLoad& load) {
    char path[kFilePathSize];
    load.bests = ReadHistoryFileBests(FileDataPath(kHistoryFileName, path, sizeof path).ok ? path : nullptr);
    load.done.store(1, std::memory_order_release);
}

void BestsLoadFrame(BestsState& state, BestsLoad* load, const TrackerStats& stats, LogBuffer& log, uint64_t now) {
    if (!state.loaded && load != nullptr && load->done.load(std::memory_order_acquire) != 0)
        BestsTakeHistory(state, load->bests);
    BestsFrame(state, stats, log, now);
}

// The hand-off under real threads: the main thread never sees a snapshot that
// mixes two passes, and no message is duplicated or reordered. Run under
// ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/shared_state.h"

namespace {

TEST(HandOffThreads, CollectedSnapshotsAreWholeAndMessagesKeepTheirOrder) {
    auto shared = std::make_unique<SharedState>();
    auto sharedLog = std::make_unique<LogBuffer>();
    auto sharedSnapshot = std::make_unique<GameSnapshot>();
    shared->running = true;
    shared->sharedLog = sharedLog.get();
    shared->sharedSnapshot = sharedSnapshot.get();

    constexpr uint32_t kPasses = 20000;
    std::thread tracker([&] {
        auto snapshot = std::make_unique<GameSnapshot>();
        auto log = std::make_unique<LogBuffer>();
        for (uint32_t pass = 1; pass <= kPasses; ++pass) {
            // Every field of the pass carries the pass number, first and last.
            snapshot->stats.trackerState = static_cast<TrackerState>(pass);
            snapshot->stats.run.records[kLevelRecordCapacity - 1].counts.lagFrames = pass;
            snapshot->ram.levelFrame = pass;
            snapshot->ram.debugFlag = static_cast<uint8_t>(pass);
            if (pass % 7 == 0) LogAppend(*log, pass, "pass %u", pass);
            Publish(*shared, *snapshot, *log, true, true);
        }
    });

    auto mainSnapshot = std::make_unique<GameSnapshot>();
    auto mainLog = std::make_unique<LogBuffer>();
    int32_t lastSequence = 0;
    uint32_t lastPass = 0;
    while (lastPass < kPasses) {
        Collect(*shared, *mainSnapshot, *mainLog);
        const uint32_t pass = static_cast<uint32_t>(mainSnapshot->stats.trackerState);
        ASSERT_EQ(mainSnapshot->stats.run.records[kLevelRecordCapacity - 1].counts.lagFrames, pass);
        ASSERT_EQ(mainSnapshot->ram.levelFrame, pass);
        ASSERT_EQ(mainSnapshot->ram.debugFlag, static_cast<uint8_t>(pass));
        ASSERT_GE(pass, lastPass) << "snapshots never go back in time";
        lastPass = pass;
        for (int i = 0; i < mainLog->count; ++i) {
            ASSERT_GT(mainLog->entries[i].sequence, lastSequence);
            lastSequence = mainLog->entries[i].sequence;
        }
        mainLog->count = 0;  // the frame has shown them
    }
    tracker.join();
    EXPECT_GT(lastSequence, 0);
}

}  // namespace

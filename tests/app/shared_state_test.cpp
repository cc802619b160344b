#include "app/shared_state.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct HandOff {
    std::unique_ptr<SharedState> shared = std::make_unique<SharedState>();
    std::unique_ptr<LogBuffer> sharedLog = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> sharedSnapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> trackerLog = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> trackerSnapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> mainLog = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> mainSnapshot = std::make_unique<GameSnapshot>();
    HandOff() {
        shared->running = true;
        shared->sharedLog = sharedLog.get();
        shared->sharedSnapshot = sharedSnapshot.get();
    }
    bool PublishPass(bool attached, bool identified) {
        return Publish(*shared, *trackerSnapshot, *trackerLog, attached, identified);
    }
    bool CollectFrame() { return Collect(*shared, *mainSnapshot, *mainLog); }
};

TEST(HandOff, SecondPublishWithoutCollectKeepsBothBatchesInOrder) {
    HandOff h;
    LogAppend(*h.trackerLog, 1, "first pass");
    h.PublishPass(false, false);
    LogAppend(*h.trackerLog, 2, "second pass");
    h.PublishPass(false, false);
    h.CollectFrame();
    ASSERT_EQ(h.mainLog->count, 2);
    EXPECT_STREQ(h.mainLog->entries[0].text, "first pass");
    EXPECT_STREQ(h.mainLog->entries[1].text, "second pass");
    EXPECT_EQ(h.mainLog->entries[1].sequence, 2) << "the tracker's series goes on across batches";
}

TEST(HandOff, TrackerNumbersContinueAcrossBatches) {
    HandOff h;
    LogAppend(*h.trackerLog, 1, "a");
    LogAppend(*h.trackerLog, 1, "b");
    h.PublishPass(false, false);
    EXPECT_EQ(h.trackerLog->count, 0);
    EXPECT_EQ(h.trackerLog->entries[0].sequence, 0) << "the tracker log is cleared";
    LogAppend(*h.trackerLog, 2, "c");
    EXPECT_EQ(h.trackerLog->entries[0].sequence, 3);
}

TEST(HandOff, PassWithoutMessagesLeavesUncollectedBatchInPlace) {
    HandOff h;
    LogAppend(*h.trackerLog, 1, "waiting");
    h.PublishPass(false, false);
    h.trackerSnapshot->stats.run.totals.deaths = 4;
    h.PublishPass(true, true);
    EXPECT_TRUE(h.CollectFrame());
    ASSERT_EQ(h.mainLog->count, 1);
    EXPECT_STREQ(h.mainLog->entries[0].text, "waiting");
    EXPECT_EQ(h.mainSnapshot->stats.run.totals.deaths, 4u) << "the snapshot is always the latest";
}

TEST(HandOff, SharedLogIsEmptyAfterCollect) {
    HandOff h;
    LogAppend(*h.trackerLog, 1, "a");
    h.PublishPass(false, false);
    h.CollectFrame();
    EXPECT_EQ(h.sharedLog->count, 0);
    EXPECT_EQ(h.sharedLog->sequence, 0);
    h.CollectFrame();
    EXPECT_EQ(h.mainLog->count, 1) << "a batch is delivered once";
}

TEST(HandOff, ReadyIsAttachedAndIdentifiedAndRunningIsReturned) {
    HandOff h;
    EXPECT_FALSE(h.CollectFrame());
    EXPECT_TRUE(h.PublishPass(true, false));
    EXPECT_FALSE(h.CollectFrame());
    h.PublishPass(true, true);
    EXPECT_TRUE(h.CollectFrame());
    h.shared->running = false;
    EXPECT_FALSE(h.PublishPass(false, false));
    EXPECT_FALSE(h.CollectFrame());
}

}  // namespace

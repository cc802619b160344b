#include "history/history_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tracking/tracker_states.h"

namespace {

constexpr LocalTime kNoon{2026, 3, 4, 12, 5, 9};

LevelRecord Closed(uint32_t levelIndex, int32_t minutes, int32_t seconds, float centiseconds, uint32_t lag,
                   uint32_t unseen = 0) {
    return LevelRecord{levelIndex, minutes, seconds, centiseconds, {0, 0, 0, 0, lag, 0, 0, unseen, 0}, 1};
}

TEST(HistoryTake, EachRecordOnceAcrossFramesAndANewPlayThroughAfterAReset) {
    auto state = std::make_unique<HistoryState>();
    TrackerStats stats{};
    stats.trackerState = TrackerState::LevelActive;
    // Rows taken over 50 frames that see the same statistics, the totals moving.
    auto frames = [&] {
        int rows = 0;
        for (int frame = 0; frame < 50; ++frame, stats.run.totals.rings += 10) rows += HistoryTake(*state, stats, kNoon);
        return rows;
    };
    EXPECT_EQ(frames(), 0) << "nothing closed yet";
    stats.run.records[0] = Closed(0, 0, 45, 50.000004f, 3);
    stats.run.recordCount = 1;
    EXPECT_EQ(frames(), 1);
    // The table full: a 22nd close adds only to the totals.
    for (int i = 1; i < kLevelRecordCapacity; ++i) stats.run.records[i] = Closed(1, 1, 2, 50.000004f, 1);
    stats.run.recordCount = kLevelRecordCapacity;
    EXPECT_EQ(frames(), kLevelRecordCapacity - 1);
    stats.trackerState = TrackerState::Ending;
    EXPECT_EQ(frames(), 1) << "one summary row";
    EXPECT_EQ(state->queue[state->queueCount - 1].summary, 1);

    // A new game: the statistics start again and the rows belong to run 2.
    stats = TrackerStats{};
    stats.runNumber = 1;
    stats.run.records[0] = Closed(2, 0, 30, 0.0f, 0);
    stats.run.recordCount = 1;
    stats.trackerState = TrackerState::LevelEnd;
    ASSERT_EQ(frames(), 1);
    EXPECT_EQ(state->queue[0].run, 1u);
    EXPECT_EQ(state->queue[state->queueCount - 1].run, 2u);
    EXPECT_EQ(state->queue[state->queueCount - 1].levelIndex, 2u);
}

// A file in memory that takes `g_appendsLeft` more appends (all while it is
// negative), then refuses them as a full disk does.
std::string g_file;
int g_appendsLeft = -1;

FileResult FakeAppend(const char*, const char* data, size_t size) {
    if (g_appendsLeft == 0) return FileResult{false, 28, "write"};
    if (g_appendsLeft > 0) --g_appendsLeft;
    g_file.append(data, size);
    return FileResult{true, 0, ""};
}

FileResult FakeReadTail(const char*, char* buffer, size_t size, size_t* length) {
    *length = std::min(size, g_file.size());
    std::memcpy(buffer, g_file.data() + g_file.size() - *length, *length);
    return FileResult{true, 0, ""};
}

FileResult FakeDataPath(const char*, char* path, size_t size) {
    std::snprintf(path, size, "history.csv");
    return FileResult{true, 0, ""};
}

constexpr HistoryFileApi kFakeFile{FakeDataPath, FakeAppend, FakeReadTail};

// The file refuses a row in the middle of the queue and then the next close's
// too: one message, and once it takes rows again they all arrive, in order.
// The program started again numbers its play-throughs on from the file's last one and
// starts a row cut short by a crash on a line of its own.
TEST(HistoryWriteQueued, RefusedRowsArriveInOrderOnceTheFileTakesThem) {
    auto state = std::make_unique<HistoryState>();
    auto log = std::make_unique<LogBuffer>();
    g_file.clear();
    TrackerStats stats{};
    stats.run.records[0] = Closed(0, 0, 45, 50.000004f, 3);
    stats.run.records[1] = Closed(1, 0, 45, 73.333336f, 2, 5);
    stats.run.recordCount = 2;
    HistoryTake(*state, stats, kNoon);
    g_appendsLeft = 2;   // the header and the first row
    HistoryWriteQueued(*state, *log, 1, kFakeFile);
    stats.run.records[2] = Closed(1, 1, 2, 50.000004f, 1);
    stats.run.recordCount = 3;
    HistoryTake(*state, stats, kNoon);
    HistoryWriteQueued(*state, *log, 2, kFakeFile);
    ASSERT_EQ(log->count, 1) << "one message for the whole streak";
    EXPECT_EQ(std::string(log->entries[0].text).rfind("ERROR: Could not write the play-through history to "
                                                      "history.csv (write failed, error 28).", 0), 0u);
    EXPECT_EQ(state->queueCount, 2);

    g_appendsLeft = -1;
    stats.run.totalMinutes = 1;
    stats.run.totalSeconds = 92;
    stats.run.totalTimerFrames = 104;
    stats.run.totals.framesUnseen = 7;
    stats.run.totals.stateLoads = 2;
    stats.trackerState = TrackerState::Ending;
    HistoryTake(*state, stats, kNoon);
    HistoryWriteQueued(*state, *log, 3, kFakeFile);
    EXPECT_EQ(state->queueCount, 0);
    ASSERT_EQ(log->count, 2);
    EXPECT_EQ(std::string(log->entries[1].text), "Play-through history: history.csv");

    g_file += "2026-03-04 12:06:00,1,EH";   // a row cut short
    auto next = std::make_unique<HistoryState>();
    TrackerStats later{};
    later.run.records[0] = Closed(19, -1, 25, 0.0f, 0);
    later.run.recordCount = 1;
    HistoryTake(*next, later, kNoon);
    HistoryWriteQueued(*next, *log, 4, kFakeFile);

    std::string expected;
    for (const char* line : {kHistoryHeader, "2026-03-04 12:05:09,1,EH1,00:45.50,4550,0,0,0,0,3,0,0,0,0",
                             "2026-03-04 12:05:09,1,EH2,00:45.73,4573,0,0,0,0,2,0,0,5,0",
                             "2026-03-04 12:05:09,1,EH2,01:02.50,6250,0,0,0,0,1,0,0,0,0",
                             "2026-03-04 12:05:09,1,Total,02:33.73,15373,0,0,0,0,0,0,0,7,2", "2026-03-04 12:06:00,1,EH",
                             "2026-03-04 12:05:09,2,DE,-00:35.00,-3500,0,0,0,0,0,0,0,0,0"}) {
        expected += std::string(line) + kFileLineEnd;
    }
    EXPECT_EQ(g_file, expected);
}

}  // namespace

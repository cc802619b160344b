#include "app/history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tracking/tracker_states.h"

namespace {

namespace fs = std::filesystem;

constexpr LocalTime kNoon{2026, 3, 4, 12, 5, 9};

LevelRecord Closed(uint32_t levelIndex, int32_t minutes, int32_t seconds, float centiseconds, uint32_t lag) {
    LevelRecord record{};
    record.levelIndex = levelIndex;
    record.minutes = minutes;
    record.seconds = seconds;
    record.centiseconds = centiseconds;
    record.lagFrames = lag;
    record.closed = 1;
    return record;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> lines;
    std::string all = text.str();
    for (size_t start = 0, end; start < all.size(); start = end + std::strlen(kFileLineEnd)) {
        end = all.find(kFileLineEnd, start);
        if (end == std::string::npos) end = all.size();
        lines.push_back(all.substr(start, end - start));
    }
    return lines;
}

// The level, time, hundredths and lag fields of a row, and its play-through.
std::string Brief(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    if (fields.size() != 12) return "bad row: " + line;
    return fields[1] + " " + fields[2] + " " + fields[3] + " " + fields[4] + " lag " + fields[9];
}

TEST(HistoryTake, EachRecordOnceAcrossFramesAndANewPlayThroughAfterAReset) {
    auto state = std::make_unique<HistoryState>();
    TrackerStats stats{};
    stats.trackerState = kStateLevelActive;
    int rows = 0;
    for (int frame = 0; frame < 50; ++frame) rows += HistoryTake(*state, stats, kNoon);
    EXPECT_EQ(rows, 0) << "nothing closed yet";

    stats.records[0] = Closed(0, 0, 45, 50.000004f, 3);
    stats.recordCount = 1;
    for (int frame = 0; frame < 50; ++frame) rows += HistoryTake(*state, stats, kNoon);
    EXPECT_EQ(rows, 1);

    // The table full: the 22nd close adds only to the totals.
    for (int i = 1; i < kLevelRecordCapacity; ++i) stats.records[i] = Closed(1, 1, 2, 50.000004f, 1);
    stats.recordCount = kLevelRecordCapacity;
    for (int frame = 0; frame < 50; ++frame) {
        stats.totalRings += 10;
        rows += HistoryTake(*state, stats, kNoon);
    }
    EXPECT_EQ(rows, kLevelRecordCapacity);

    stats.trackerState = kStateEnding;
    for (int frame = 0; frame < 50; ++frame) rows += HistoryTake(*state, stats, kNoon);
    EXPECT_EQ(rows, kLevelRecordCapacity + 1) << "one summary row";
    EXPECT_EQ(state->queue[state->queueCount - 1].summary, 1);

    // A new game: the statistics start again and the rows belong to run 2.
    stats = TrackerStats{};
    stats.runNumber = 1;
    stats.records[0] = Closed(2, 0, 30, 0.0f, 0);
    stats.recordCount = 1;
    stats.trackerState = kStateLevelEnd;
    for (int frame = 0; frame < 50; ++frame) rows += HistoryTake(*state, stats, kNoon);
    ASSERT_EQ(rows, kLevelRecordCapacity + 2);
    EXPECT_EQ(state->queue[0].run, 1u);
    EXPECT_EQ(state->queue[state->queueCount - 1].run, 2u);
    EXPECT_EQ(state->queue[state->queueCount - 1].levelIndex, 2u);
}

// The file refuses the rows (a folder in its place: refused for root too),
// then takes them: one message while refused, nothing lost, order kept. A
// later session numbers its play-throughs on from the file's last one and
// starts a row cut short by a crash on a line of its own.
TEST(HistoryWriteQueued, RefusedRowsArriveInOrderOnceTheFileTakesThem) {
    const fs::path folder =
        fs::temp_directory_path() /
        ("ringwatch-history-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(folder);
    const fs::path file = folder / kHistoryFileName;
    fs::create_directories(file);   // in the file's place

    auto state = std::make_unique<HistoryState>();
    std::snprintf(state->path, sizeof state->path, "%s", file.string().c_str());
    state->pathKnown = 1;
    auto log = std::make_unique<LogBuffer>();
    TrackerStats stats{};
    stats.records[0] = Closed(0, 0, 45, 50.000004f, 3);
    stats.recordCount = 1;
    HistoryTake(*state, stats, kNoon);
    HistoryWriteQueued(*state, *log, 1);
    stats.records[1] = Closed(1, 0, 45, 73.333336f, 2);
    stats.recordCount = 2;
    HistoryTake(*state, stats, kNoon);
    HistoryWriteQueued(*state, *log, 2);
    ASSERT_EQ(log->count, 1) << "one message for the whole streak";
    const std::string refused = log->entries[0].text;
    EXPECT_EQ(refused.rfind("ERROR: Could not write the play-through history to " + file.string() + " (", 0), 0u)
        << refused;
    EXPECT_EQ(state->queueCount, 2);

    fs::remove(file);
    stats.records[2] = Closed(1, 1, 2, 50.000004f, 1);
    stats.recordCount = 3;
    stats.totalMinutes = 1;
    stats.totalSeconds = 92;
    stats.totalTimerFrames = 104;
    stats.trackerState = kStateEnding;
    HistoryTake(*state, stats, kNoon);
    HistoryWriteQueued(*state, *log, 3);
    EXPECT_EQ(state->queueCount, 0);
    ASSERT_EQ(log->count, 2);
    EXPECT_EQ(std::string(log->entries[1].text), "Play-through history: " + file.string());

    // A crash cut the next row short; then a new session writes one row.
    { std::ofstream(file, std::ios::binary | std::ios::app) << "2026-03-04 12:06:00,1,EH"; }
    auto next = std::make_unique<HistoryState>();
    std::snprintf(next->path, sizeof next->path, "%s", file.string().c_str());
    next->pathKnown = 1;
    TrackerStats later{};
    later.records[0] = Closed(19, -1, 25, 0.0f, 0);
    later.recordCount = 1;
    HistoryTake(*next, later, kNoon);
    HistoryWriteQueued(*next, *log, 4);

    const std::vector<std::string> expected = {
        std::string(kHistoryHeader),
        "2026-03-04 12:05:09,1,EH1,00:45.50,4550,0,0,0,0,3,0,0",
        "1 EH2 00:45.73 4573 lag 2",
        "1 EH2 01:02.50 6250 lag 1",
        "1 Total 02:33.73 15373 lag 0",
        "2026-03-04 12:06:00,1,EH",
        "2 DE -00:35.00 -3500 lag 0",
    };
    const std::vector<std::string> lines = Lines(file.string());
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_EQ(lines[0], expected[0]);
    EXPECT_EQ(lines[1], expected[1]);
    for (size_t i = 2; i < 5; ++i) EXPECT_EQ(Brief(lines[i]), expected[i]) << "row " << i;
    EXPECT_EQ(lines[5], expected[5]);
    EXPECT_EQ(Brief(lines[6]), expected[6]);
    fs::remove_all(folder);
}

}  // namespace

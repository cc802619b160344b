#include "report/level_bests.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "history/history_format.h"
#include "tracking/tracker_states.h"

namespace {

// A history row with the fields the bests come from; the others are zero.
std::string Row(int playthrough, const char* level, int hundredths, int loads = 0) {
    char text[160];
    std::snprintf(text, sizeof text, "2026-03-01 20:00:00,%d,%s,00:00.00,%d,0,0,0,0,0,0,0,0,%d\n", playthrough, level,
                  hundredths, loads);
    return text;
}

TEST(BestsFrame, EachLevelAgainstItsBestAndTheRunAgainstTheBestRun) {
    const std::string header = std::string(kHistoryHeader) + "\n";
    const struct {
        const char* name;
        std::string history;                // the file's bytes; empty: no history
        std::vector<LevelRecord> records;   // closed in one frame
        bool runEnds;                       // the game reaches its end (the run: 2:17.17)
        std::vector<std::string> lines;
    } cases[] = {
        {"a best", header + Row(1, "EH1", 2900) + Row(2, "EH1", 2750), {{0, 0, 28, 93.0f, {}, 1}}, false,
         {"EH1 00:28.93, best 00:27.50 (+01.43)"}},
        {"a new best", header + Row(1, "EH1", 2750), {{0, 0, 27, 10.0f, {}, 1}, {0, 0, 27, 30.0f, {}, 1}}, false,
         {"EH1 00:27.10, new best (-00.40)", "EH1 00:27.30, best 00:27.10 (+00.20)"}},
        {"no history", "", {{0, 0, 28, 93.0f, {}, 1}}, true,
         {"EH1 00:28.93", "Run 02:17.17, sum of best of 1 level 00:28.93 (+1:48.24)"}},
        {"a history of practice only", header + Row(1, "EH1", 2500, 2),
         {{0, 0, 28, 93.0f, {}, 1}, {1, 0, 20, 0.0f, {0, 0, 0, 0, 0, 0, 0, 0, 1}, 1}}, false,
         {"EH1 00:28.93", "EH2 00:20.00 (practice)"}},
        {"a level left for a special stage, a practice attempt, the run",
         header + Row(1, "EH1", 2750) + Row(1, "EH2", 10000) + Row(1, "Total", 20000),
         {{0, 0, 20, 0.0f, {0, 0, 0, 0, 0, 0, 0, 0, 1}, 1}, {1, 0, 45, 73.0f, {}, 1, 1}, {1, 1, 2, 50.0f, {}, 1}}, true,
         {"EH1 00:20.00 (practice), best 00:27.50 (-07.50)", "EH2 00:45.73 up to the special stage",
          "EH2 01:48.23 (00:45.73 before the special stage), best 01:40.00 (+08.23)",
          "Run 02:17.17, new best run (-1:02.83), sum of best of 2 levels 02:07.50 (+09.67)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = std::make_unique<BestsState>();
        BestsInit(*state);
        BestsTakeHistory(*state, ReadHistoryBests(c.history.data(), c.history.size()));
        auto stats = std::make_unique<TrackerStats>();
        for (const LevelRecord& record : c.records) stats->run.records[stats->run.recordCount++] = record;
        stats->run.totalSeconds = 137;   // and 10 sixtieths: 02:17.17
        stats->run.totalTimerFrames = 10;
        stats->trackerState = c.runEnds ? TrackerState::Ending : TrackerState::LevelActive;
        auto log = std::make_unique<LogBuffer>();
        for (int frame = 0; frame < 3; ++frame) BestsFrame(*state, *stats, *log, 0);
        std::vector<std::string> lines;
        for (int i = 0; i < log->count; ++i) lines.push_back(log->entries[i].text);
        EXPECT_EQ(lines, c.lines);
    }
}

}  // namespace

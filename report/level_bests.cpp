#include "report/level_bests.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "history/history_format.h"
#include "report/history_file.h"
#include "report/report_data.h"
#include "tracking/game_time.h"
#include "tracking/level_names.h"
#include "tracking/tracker_states.h"

namespace {

HistoryBests NoBests() {
    HistoryBests bests;
    for (int64_t& level : bests.level) level = -1;
    bests.run = -1;
    return bests;
}

// The better of two times, -1 being none.
int64_t Better(int64_t a, int64_t b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

// "+01.43", "-00.40", "+1:02.50".
void FormatDifference(int64_t difference, char* out, size_t size) {
    const char sign = difference < 0 ? '-' : '+';
    const uint64_t d = difference < 0 ? 0 - static_cast<uint64_t>(difference) : static_cast<uint64_t>(difference);
    if (d < 6000) {
        std::snprintf(out, size, "%c%02u.%02u", sign, static_cast<unsigned>(d / 100), static_cast<unsigned>(d % 100));
    } else {
        std::snprintf(out, size, "%c%llu:%02u.%02u", sign, static_cast<unsigned long long>(d / 6000),
                      static_cast<unsigned>(d / 100 % 60), static_cast<unsigned>(d % 100));
    }
}

// ", best 00:27.50 (+01.43)", ", new best (-00.40)", or nothing without a best.
void FormatAgainst(const char* what, int64_t hundredths, int64_t best, bool mayBeNew, char* out, size_t size) {
    out[0] = '\0';
    if (best < 0) return;
    char difference[24];
    FormatDifference(hundredths - best, difference, sizeof difference);
    if (mayBeNew && hundredths < best) {
        std::snprintf(out, size, ", new %s (%s)", what, difference);
        return;
    }
    char time[24];
    FormatHundredths(best, time, sizeof time);
    std::snprintf(out, size, ", %s %s (%s)", what, time, difference);
}

void Keep(BestsState& state, const HistoryBests& from) {
    for (int i = 0; i < kHistoryLevelCount; ++i) state.bests.level[i] = Better(state.bests.level[i], from.level[i]);
    state.bests.run = Better(state.bests.run, from.run);
}

// A record left for a special stage opens a part; the record that continues
// it, by the history's rule, joins it.
void TakeRecord(BestsState& state, const LevelRecord& record, uint32_t run, LogBuffer& log, uint64_t now) {
    const uint32_t level = record.levelIndex;
    const int64_t time = LevelHundredths(record);
    const bool continues = state.partCount > 0 && ContinuesAttempt(state.partRun, state.partLevel, run, level);
    if (!continues) state.partCount = 0;
    state.partTime = (continues ? state.partTime : 0) + time;
    state.partLoads = (continues ? state.partLoads : 0) + record.counts.stateLoads;
    if (!continues) state.partFirst = time;
    state.partLevel = level;
    state.partRun = run;
    ++state.partCount;
    char text[kBestsLineSize];
    if (record.specialStage) {
        char shown[24];
        FormatHundredths(state.partTime, shown, sizeof shown);
        LogAppend(log, now, "%s %s up to the special stage", LevelName(level), shown);
        return;
    }
    const bool practice = state.partLoads > 0;
    const int64_t best = level < kHistoryLevelCount ? state.bests.level[level] : -1;
    FormatLevelComparison(level, state.partTime, state.partFirst, state.partCount, practice, best, text, sizeof text);
    LogAppend(log, now, "%s", text);
    std::snprintf(state.lastLevelLine, sizeof state.lastLevelLine, "%s", text);
    if (!practice && level < kHistoryLevelCount) {
        state.sinceStart.level[level] = Better(state.sinceStart.level[level], state.partTime);
        state.bests.level[level] = Better(best, state.partTime);
    }
    state.partCount = 0;
}

}  // namespace

HistoryBests ReadHistoryBests(const char* bytes, size_t length) {
    HistoryBests bests = NoBests();
    ReportData data;
    ReportRead(bytes, length, data);
    if (data.noHeader) return bests;
    for (int i = 0; i < kHistoryLevelCount; ++i)
        if (data.levels[i].count > 0) bests.level[i] = data.levels[i].best;
    if (data.runs.count > 0) bests.run = data.runs.best;
    return bests;
}

HistoryBests ReadHistoryFileBests(const char* path) {
    std::vector<char> bytes;
    FileResult failure{};
    if (path == nullptr || ReadHistoryFile(path, bytes, &failure) != HistoryFileRead::Read) return NoBests();
    return ReadHistoryBests(bytes.data(), bytes.size());
}

int64_t SumOfBest(const HistoryBests& bests, int* levels) {
    int64_t sum = 0;
    *levels = 0;
    for (int64_t best : bests.level) {
        if (best < 0) continue;
        sum += best;
        ++*levels;
    }
    return sum;
}

void FormatLevelComparison(uint32_t levelIndex, int64_t hundredths, int64_t first, int records, bool practice,
                           int64_t best, char* out, size_t size) {
    char time[24];
    FormatHundredths(hundredths, time, sizeof time);
    char joined[64] = "";
    if (records > 1) {
        char before[24];
        FormatHundredths(first, before, sizeof before);
        std::snprintf(joined, sizeof joined, " (%s before the special stage%s)", before, records > 2 ? "s" : "");
    }
    char against[64];
    FormatAgainst("best", hundredths, best, !practice, against, sizeof against);
    std::snprintf(out, size, "%s %s%s%s%s", LevelName(levelIndex), time, joined, practice ? " (practice)" : "",
                  against);
}

void FormatRunComparison(int64_t hundredths, bool practice, int64_t bestRun, int64_t sumOfBest, int sumLevels,
                         char* out, size_t size) {
    char time[24];
    FormatHundredths(hundredths, time, sizeof time);
    char run[64];
    FormatAgainst("best run", hundredths, bestRun, !practice, run, sizeof run);
    char sum[80] = "";
    if (sumLevels > 0) {
        char what[40] = "sum of best";
        if (sumLevels < kHistoryLevelCount)
            std::snprintf(what, sizeof what, "sum of best of %d level%s", sumLevels, sumLevels == 1 ? "" : "s");
        FormatAgainst(what, hundredths, sumOfBest, false, sum, sizeof sum);
    }
    std::snprintf(out, size, "Run %s%s%s%s", time, practice ? " (practice)" : "", run, sum);
}

void BestsInit(BestsState& state) {
    state.bests = NoBests();
    state.sinceStart = NoBests();
}

void BestsTakeHistory(BestsState& state, const HistoryBests& history) {
    state.loaded = 1;
    state.bests = history;
    Keep(state, state.sinceStart);
}

void BestsFrame(BestsState& state, const TrackerStats& stats, LogBuffer& log, uint64_t now) {
    const int32_t closed = StoredRecordCount(stats);
    if (StartsAnotherRun(state.taken, stats)) {
        state.runTaken = 0;
        state.partCount = 0;
        state.lastLevelLine[0] = '\0';
    }
    for (int32_t i = state.taken.count; i < closed; ++i) {
        if (stats.run.records[i].closed) TakeRecord(state, stats.run.records[i], stats.runNumber, log, now);
    }
    state.taken.count = closed;
    if (stats.trackerState == TrackerState::Ending && !state.runTaken) {
        state.runTaken = 1;
        const int64_t time = AdjustedTotalHundredths(stats);
        const bool practice = stats.run.totals.stateLoads > 0;
        int levels = 0;
        const int64_t sum = SumOfBest(state.bests, &levels);
        char text[kBestsLineSize];
        FormatRunComparison(time, practice, state.bests.run, sum, levels, text, sizeof text);
        LogAppend(log, now, "%s", text);
        if (!practice) {
            state.sinceStart.run = Better(state.sinceStart.run, time);
            state.bests.run = Better(state.bests.run, time);
        }
    }
}

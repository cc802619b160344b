// The report of a history of 100,000 rows (5,000 play-throughs of 19 levels,
// every tenth with a special stage and no Total row, the others with their
// Total row): read, aggregated, the
// page and the summary formatted and the page written beside the file. The
// baseline reads the same file and splits it into lines and fields.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "history/history_format.h"
#include "report/report.h"
#include "platform/file.h"

namespace {

constexpr int kRuns = 5000;
char g_folder[] = "/tmp/ringwatch-bench-XXXXXX";   // the history's folder, removed at exit

// The history file, written once for every benchmark of the run.
const std::string& HistoryPath() {
    static const std::string path = [] {
        if (mkdtemp(g_folder) == nullptr) std::abort();
        std::string file = std::string(g_folder) + "/" + kHistoryFileName;
        std::string text = std::string(kHistoryHeader) + kFileLineEnd;
        char row[kHistoryRowSize];
        uint32_t seed = 1;
        for (int run = 1; run <= kRuns; ++run) {
            HistoryRow history{};
            history.time = LocalTime{2026, 1 + run / 500 % 12, 1 + run % 28, 20, run % 60, 0};
            for (uint32_t level = 0; level < 19; ++level) {
                seed = seed * 1664525u + 1013904223u;
                history.levelIndex = level;
                history.hundredths = 3000 + level * 200 + seed % 1500;
                history.counts.lagFrames = seed >> 29;
                history.counts.deaths = seed >> 31;
                text.append(row, FormatHistoryRow(history, run, kFileLineEnd, row, sizeof row));
                if (level == 1 && run % 10 == 0) text.append(row, FormatHistoryRow(history, run, kFileLineEnd, row, sizeof row));
            }
            history.summary = 1;
            history.hundredths = 19 * 4500 + seed % 5000;
            if (run % 10 != 0) text.append(row, FormatHistoryRow(history, run, kFileLineEnd, row, sizeof row));
        }
        FileReplace(file.c_str(), text.data(), text.size());
        std::atexit([] {
            for (const char* name : {kHistoryFileName, kReportFileName})
                std::remove((std::string(g_folder) + "/" + name).c_str());
            std::remove(g_folder);
        });
        return file;
    }();
    return path;
}

std::vector<char> ReadWhole(const char* path) {
    bool exists = false;
    uint64_t size = 0;
    FileSize(path, &exists, &size);
    std::vector<char> bytes(size);
    size_t length = 0;
    FileReadStart(path, bytes.data(), bytes.size(), &length);
    bytes.resize(length);
    return bytes;
}

void BM_ReadAndSplit100k(benchmark::State& state) {
    const std::string& path = HistoryPath();
    for (auto _ : state) {
        const std::vector<char> bytes = ReadWhole(path.c_str());
        size_t lines = 0;
        size_t fields = 0;
        for (char c : bytes) {
            lines += c == '\n';
            fields += c == ',' || c == '\n';
        }
        benchmark::DoNotOptimize(lines);
        benchmark::DoNotOptimize(fields);
    }
}
BENCHMARK(BM_ReadAndSplit100k)->Unit(benchmark::kMillisecond);

void BM_Report100k(benchmark::State& state) {
    const std::string& path = HistoryPath();
    const std::string pagePath = ReportPagePath(path.c_str());
    for (auto _ : state) {
        const std::vector<char> bytes = ReadWhole(path.c_str());
        ReportData data;
        ReportRead(bytes.data(), bytes.size(), data);
        std::string page;
        ReportFormatPage(data, path.c_str(), page);
        std::string summary;
        ReportFormatSummary(data, summary);
        FileReplace(pagePath.c_str(), page.data(), page.size());
        if (data.rowsUsed != 100000) state.SkipWithError("the history is not 100,000 rows");
    }
}
BENCHMARK(BM_Report100k)->Unit(benchmark::kMillisecond);

}  // namespace

// Composing one frame: the layout with the debug block and 21 level lines,
// then a full log, into a 200x60 grid. Reported against the 1/60 s frame
// budget of 16.7 ms (scripts/perf.sh prints the share).
#include <benchmark/benchmark.h>

#include <memory>

#include "app/layout.h"
#include "app/screen_buffer.h"
#include "tracking/game_snapshot.h"
#include "log/log_buffer.h"

namespace {

void BM_ComposeFrame(benchmark::State& state) {
    auto snapshot = std::make_unique<GameSnapshot>();
    snapshot->stats.trackerState = TrackerState::LevelActive;
    snapshot->stats.run.recordCount = kLevelRecordCapacity;
    for (int i = 0; i < kLevelRecordCapacity; ++i) {
        LevelRecord& record = snapshot->stats.run.records[i];
        record.levelIndex = static_cast<uint32_t>(i);
        record.minutes = 1;
        record.seconds = 23;
        record.centiseconds = 45.0f;
        record.counts.rings = 100;
    }
    snapshot->stats.run.totalSeconds = -75;
    snapshot->ram.debugFlag = 1;
    auto copy = std::make_unique<GameSnapshot>();

    auto log = std::make_unique<LogBuffer>();
    for (int i = 0; i < kLogCapacity; ++i)
        LogAppend(*log, 1000, "ReadProcessMemory failed with error code '%d' -- Disconnecting from %s", i,
                  "retroarch.exe");

    ScreenBuffer screen{};
    ScreenResize(screen, 200, 60);
    for (auto _ : state) {
        *copy = *snapshot;  // the frame works on its own copy, as after Collect
        ScreenFillBlank(screen);
        screen.row = 0;
        ComposeScreenLayout(screen, *copy);
        ComposeLogLines(screen, *log, 0, 1e9);
        benchmark::DoNotOptimize(screen.cells);
    }
    delete[] screen.cells;
}
BENCHMARK(BM_ComposeFrame);

}  // namespace

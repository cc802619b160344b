// Decode and classify of an in-memory RAM window against a memcpy of the
// 24 KiB window in the same run (the tracker's floor: it copies that much from
// the emulator on every pass).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "emulator/core_layout.h"
#include "emulator/ram_decode.h"
#include "tools/ram/ram_writer.h"
#include "tracking/classifier.h"

namespace {

// A window of a level in play: the signature, level mode, moving counters.
std::vector<uint8_t> LevelWindow(uint32_t frame) {
    std::vector<uint8_t> window(kWindowSize, 0);
    std::memcpy(window.data() + kSignatureWindowOffset, kRamSignature, kSignatureSize);
    RamWriter writer{window.data(), kWindowSize, kWindowFirstAddress};
    RamWriteVariable(writer, kVarGameMode, 12);   // level
    RamWriteVariable(writer, kVarLevelFrame, frame);
    RamWriteVariable(writer, kVarTimerFrame, frame % 60);
    RamWriteVariable(writer, kVarGlobalFrame, frame);
    RamWriteVariable(writer, kVarLives, 3);
    RamWriteVariable(writer, kVarP1Buttons, 0x09);   // up + right held
    return window;
}

void BM_MemcpyWindow(benchmark::State& state) {
    std::vector<uint8_t> source = LevelWindow(1);
    std::vector<uint8_t> target(kWindowSize);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kWindowSize);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWindowSize);
}
BENCHMARK(BM_MemcpyWindow);

void BM_DecodeAndClassify(benchmark::State& state) {
    // Two windows a frame apart, alternated, so every pass sees the game move.
    std::vector<uint8_t> windows[2] = {LevelWindow(100), LevelWindow(101)};
    auto snapshot = std::make_unique<GameSnapshot>();
    InitRamDecode(snapshot->ram);
    size_t i = 0;
    // The frame and the one taken before it in turn, as the timeline keeps them.
    RamMirror frames[2];
    DecodeRamWindow(windows[1].data(), frames[1]);
    for (auto _ : state) {
        DecodeRamWindow(windows[i & 1].data(), frames[i & 1]);
        TakeFrame(*snapshot, TimelineFrame{.ram = &frames[i & 1], .last = &frames[(i + 1) & 1]});
        benchmark::DoNotOptimize(snapshot.get());
        ++i;
    }
}
BENCHMARK(BM_DecodeAndClassify);

}  // namespace

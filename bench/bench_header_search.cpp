// The header search over a whole 60 MiB scan buffer against memchr counting
// the byte 'S' over the same buffer: the cost of finding every candidate and
// nothing else. Three contents: memory as a program holds it (mostly zeros,
// some text, some code and data), random bytes, and the worst case, every
// byte an 'S'. None holds the header, so the search runs to the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "emulator/core_layout.h"
#include "emulator/header_search.h"

namespace {

enum class Content { ProgramMemory, Random, AllS };

// A page of text: the strings a front end and its libraries keep, 'S' among
// their capitals.
void FillText(uint8_t* page, size_t size, std::mt19937& random) {
    static const char* const kWords[] = {
        "Settings", "SaveState", "Shader", "SYSTEM", "Sound", "Select", "Start", "SEGA", "video_driver",
        "audio_latency", "input_player1", "core_options", "Genesis", "savestate_auto", "menu_driver",
        "Quick Menu", "Load Content", "Information", "configuration", "libretro", "SRAM", "Stereo",
        "/usr/share", "fullscreen", "Scaling", "Sync", "threaded", "%s: %d", "error", "OpenGL"};
    size_t at = 0;
    while (at < size) {
        const char* word = kWords[random() % (sizeof kWords / sizeof kWords[0])];
        for (const char* c = word; *c != '\0' && at < size; ++c) page[at++] = static_cast<uint8_t>(*c);
        if (at < size) page[at++] = random() % 4 == 0 ? 0 : ' ';
    }
}

// A page of code and data: the byte values of x86-64 code and of small
// integers and pointers, which are far from uniform.
void FillCode(uint8_t* page, size_t size, std::mt19937& random) {
    static const uint8_t kCommon[] = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x48, 0x89, 0x8B, 0x0F,
                                      0x85, 0x84, 0xE8, 0x24, 0xC3, 0x01, 0x41, 0x4C, 0x83, 0xC0};
    for (size_t i = 0; i < size; ++i) {
        page[i] = random() % 2 == 0 ? kCommon[random() % sizeof kCommon] : static_cast<uint8_t>(random());
    }
}

const uint8_t* ScanBuffer(Content content) {
    static std::unique_ptr<uint8_t[]> buffers[3];
    std::unique_ptr<uint8_t[]>& buffer = buffers[static_cast<int>(content)];
    if (buffer) return buffer.get();
    buffer.reset(new uint8_t[kScanBufferSize]);
    uint8_t* data = buffer.get();
    std::mt19937 random(20240601u + static_cast<uint32_t>(content));
    constexpr size_t kPage = 4096;
    for (size_t at = 0; at < kScanBufferSize; at += kPage) {
        uint8_t* page = data + at;
        switch (content) {
        case Content::ProgramMemory: {
            // Three pages in five zero, one text, one code and data.
            const uint32_t kind = random() % 5;
            if (kind < 3) std::memset(page, 0, kPage);
            if (kind == 3) FillText(page, kPage, random);
            if (kind == 4) FillCode(page, kPage, random);
            break;
        }
        case Content::Random:
            for (size_t i = 0; i < kPage; ++i) page[i] = static_cast<uint8_t>(random());
            break;
        case Content::AllS:
            std::memset(page, 'S', kPage);
            break;
        }
    }
    return data;
}

size_t CountWithMemchr(const uint8_t* data, size_t size) {
    size_t count = 0;
    const uint8_t* cursor = data;
    const uint8_t* end = data + size;
    while (cursor < end) {
        const void* hit = std::memchr(cursor, 'S', static_cast<size_t>(end - cursor));
        if (hit == nullptr) break;
        ++count;
        cursor = static_cast<const uint8_t*>(hit) + 1;
    }
    return count;
}

void BM_MemchrCountS(benchmark::State& state, Content content) {
    const uint8_t* data = ScanBuffer(content);
    size_t count = 0;
    for (auto _ : state) {
        count = CountWithMemchr(data, kScanBufferSize);
        benchmark::DoNotOptimize(count);
    }
    state.counters["candidates"] = static_cast<double>(count);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kScanBufferSize);
}

void BM_HeaderSearch(benchmark::State& state, Content content) {
    const uint8_t* data = ScanBuffer(content);
    for (auto _ : state) {
        ptrdiff_t found = FindHeaderPattern(data, kScanBufferSize);
        if (found != kHeaderNotFound) state.SkipWithError("the buffer holds no header");
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kScanBufferSize);
}

BENCHMARK_CAPTURE(BM_MemchrCountS, program_memory, Content::ProgramMemory)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeaderSearch, program_memory, Content::ProgramMemory)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MemchrCountS, random, Content::Random)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeaderSearch, random, Content::Random)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MemchrCountS, all_s, Content::AllS)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeaderSearch, all_s, Content::AllS)->Unit(benchmark::kMillisecond);

}  // namespace

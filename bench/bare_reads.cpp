#include "bench/bare_reads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/tracker_thread.h"
#include "e2e/e2e_support.h"
#include "emulator/core_layout.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "log/log_buffer.h"
#include "tracking/game_snapshot.h"
#include "platform/clock.h"

double Seconds(uint64_t ticks) { return static_cast<double>(ticks) / static_cast<double>(ClockFrequency()); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

BareReads ReadLikeTheScan(ProcessHandle process) {
    BareReads result;
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(kScanBufferSize, 1));
    if (buffer == nullptr) return result;
    const uint64_t start = ClockNow();
    MemoryRange ranges[kRangeListCapacity];
    int count = kRangeListCapacity;
    for (uint64_t from = 0; count == kRangeListCapacity; from = ranges[count - 1].base + ranges[count - 1].size) {
        if (ProcessListReadable(process, from, UINT64_MAX, ranges, kRangeListCapacity, &count).status !=
                ProcessStatus::Ok ||
            count == 0) {
            break;
        }
        for (int i = 0; i < count; ++i) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(ranges[i].size, kScanBufferSize));
            if (ProcessRead(process, ranges[i].base, buffer, size).status == ProcessStatus::Ok) {
                ++result.regions;
                result.bytes += size;
            }
        }
    }
    result.seconds = Seconds(ClockNow() - start);
    std::free(buffer);
    return result;
}

int MeasureHeaderScans(const char* who, uint32_t pid, uint32_t repeat) {
    constexpr double kMib = 1024.0 * 1024.0;
    auto tracker = std::make_unique<EmulatorLink>();
    auto snapshot = std::make_unique<GameSnapshot>();
    auto log = std::make_unique<LogBuffer>();
    InitRamDecode(snapshot->ram);
    EmulatorLinkReset(*tracker, CountingProcessApi());
    Attach(*tracker, *log);   // the first scan, not measured
    if (!tracker->attached || log->count < 1 || std::strcmp(log->entries[log->count - 1].text, "Unknown game") != 0) {
        std::fprintf(stderr, "the tracker did not scan %s running another cartridge (%s)\n", who,
                     log->count > 0 ? log->entries[log->count - 1].text : "no message");
        return 2;
    }

    std::printf("header scan: %s (pid %u) running another cartridge, every identification a whole walk\n", who, pid);
    std::printf("%4s %10s %8s %10s %12s %12s %10s %9s\n", "scan", "wall ms", "regions", "MiB read", "bare ms",
                "bare regions", "bare MiB", "ratio");
    std::vector<double> scans, ratios;
    uint64_t bytesRead = 0;
    FrameWatch watch{};
    watch.counterFrequency = static_cast<double>(ClockFrequency());
    for (uint32_t round = 0; round < repeat; ++round) {
        // Alternate the order, so that neither always finds the memory warmer.
        BareReads bare;
        if (round % 2 == 0) bare = ReadLikeTheScan(tracker->connection.process);
        LogClear(*log);
        TakeReadFigures();
        const uint64_t start = ClockNow();
        TrackerPass(*tracker, *snapshot, *log, watch, ClockNow);
        const double seconds = Seconds(ClockNow() - start);
        const ReadFigures figures = TakeReadFigures();
        bytesRead = figures.bytesRead;
        if (round % 2 == 1) bare = ReadLikeTheScan(tracker->connection.process);
        if (!tracker->attached || log->count != 1 || std::strcmp(log->entries[0].text, "Unknown game") != 0) {
            std::fprintf(stderr, "the scan did not end with \"Unknown game\": %s\n",
                         log->count > 0 ? log->entries[0].text : "no message");
            return 2;
        }
        std::printf("%4u %10.2f %8u %10.1f %12.2f %12u %10.1f %9.3f\n", round + 1, seconds * 1e3, figures.regionsRead,
                    static_cast<double>(figures.bytesRead) / kMib, bare.seconds * 1e3, bare.regions,
                    static_cast<double>(bare.bytes) / kMib, seconds / bare.seconds);
        scans.push_back(seconds);
        ratios.push_back(seconds / bare.seconds);
    }
    if (tracker->attached) Disconnect(*tracker);
    std::printf("scan: %.2f ms for %.1f MiB (median of %u), %.3fx the bare reads of the same regions (%.3f..%.3f)\n",
                Median(scans) * 1e3, static_cast<double>(bytesRead) / kMib, repeat,
                Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}

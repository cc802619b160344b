// The whole header scan of a stand-in showing the compilation's menu (the
// header is in its ROM, the RAM signature is not, so every Attached pass scans
// again) while it holds a gigabyte of committed memory below the ROM. Against
// the bare reads of the same regions into a buffer of the same size: the scan
// without its search, the floor that the reads set.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bare_reads.h"
#include "bench/perf.h"
#include "e2e/child_process.h"
#include "e2e/e2e_support.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"

namespace {

constexpr double kMib = 1024.0 * 1024.0;
const char kChecksumIncorrect[] =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";

// A "Vm..." line of /proc/self/status, in KiB; 0 when missing.
uint64_t StatusKib(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    uint64_t value = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtoull(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Starts the kernel's peak resident figure (VmHWM) again from the present size.
bool ResetPeakResident() {
    int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return written;
}

}  // namespace

int RunScanFigures(const ScanOptions& options) {
    const std::string others = ForeignEmulators();
    if (!others.empty()) {
        std::fprintf(stderr, "another retroarch.exe is running; the scan needs the machine to itself:\n%s",
                     others.c_str());
        return 2;
    }
    Standin standin;
    if (!standin.Start({"--mode", "menu", "--ballast-mib", std::to_string(options.ballastMib)})) {
        std::fprintf(stderr, "the stand-in did not start\n");
        return 2;
    }

    auto tracker = std::make_unique<EmulatorLink>();
    auto snapshot = std::make_unique<GameSnapshot>();
    auto log = std::make_unique<LogBuffer>();
    InitRamDecode(snapshot->ram);
    EmulatorLinkReset(*tracker, CountingProcessApi());
    Attach(*tracker, *log);   // the first scan, not measured
    if (!tracker->attached || tracker->identified || log->count < 1 ||
        std::strcmp(log->entries[log->count - 1].text, kChecksumIncorrect) != 0) {
        std::fprintf(stderr, "the tracker did not attach to the stand-in in menu mode (%s)\n",
                     log->count > 0 ? log->entries[log->count - 1].text : "no message");
        return 2;
    }

    std::printf("header scan: stand-in in the compilation's menu with %u MiB of committed memory\n",
                options.ballastMib);
    std::printf("%4s %10s %8s %10s %9s %12s %9s %13s\n", "scan", "wall ms", "regions", "MiB read", "GiB/s",
                "bare read ms", "ratio", "peak RSS +MiB");
    std::vector<double> scanSeconds, ratios, growths;
    FrameWatch watch{};
    watch.counterFrequency = static_cast<double>(ClockFrequency());
    uint64_t bytesRead = 0;
    for (uint32_t round = 0; round < options.repeat; ++round) {
        // Alternate the order, so that neither always finds the memory warmer.
        BareReads bare{0, 0};
        if (round % 2 == 0) bare = ReadLikeTheScan(tracker->connection.process);

        LogClear(*log);
        const bool peakReset = ResetPeakResident();
        const uint64_t residentBefore = StatusKib("VmRSS");
        TakeReadFigures();
        const uint64_t start = ClockNow();
        TrackerPass(*tracker, *snapshot, *log, watch, ClockNow);   // Attached: FindGame, whose scan finds the header
        const double seconds = Seconds(ClockNow() - start);
        const ReadFigures figures = TakeReadFigures();
        const uint64_t peak = StatusKib("VmHWM");

        if (round % 2 == 1) bare = ReadLikeTheScan(tracker->connection.process);
        if (!tracker->attached || log->count != 1 || std::strcmp(log->entries[0].text, kChecksumIncorrect) != 0) {
            std::fprintf(stderr, "the scan did not end as in the menu: %s\n",
                         log->count > 0 ? log->entries[0].text : "no message");
            return 2;
        }
        bytesRead = figures.bytesRead;
        const double growth = peakReset && peak >= residentBefore ? static_cast<double>(peak - residentBefore) / 1024.0 : -1;
        std::printf("%4u %10.1f %8u %10.1f %9.2f %12.1f %9.3f %13.1f\n", round + 1, seconds * 1e3,
                    figures.regionsRead, static_cast<double>(figures.bytesRead) / kMib,
                    static_cast<double>(figures.bytesRead) / kMib / 1024.0 / seconds, bare.seconds * 1e3,
                    seconds / bare.seconds, growth);
        scanSeconds.push_back(seconds);
        ratios.push_back(seconds / bare.seconds);
        growths.push_back(growth);
    }
    if (tracker->attached) Disconnect(*tracker);

    const double scanBufferMib = kScanBufferSize / kMib;
    const double largestGrowth = *std::max_element(growths.begin(), growths.end());
    const bool met = largestGrowth >= 0 && largestGrowth <= scanBufferMib;
    std::printf("scan: %.1f ms for %.1f MiB (median of %u), %.3fx the bare reads (%.3f..%.3f)\n",
                Median(scanSeconds) * 1e3, static_cast<double>(bytesRead) / kMib, options.repeat, Median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    std::printf("peak resident growth during a scan: %.1f MiB, %.3fx the %.0f MiB scan buffer: %s\n", largestGrowth,
                largestGrowth / scanBufferMib, scanBufferMib, met ? "met" : "MISSED");
    return met ? 0 : 1;
}

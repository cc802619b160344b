// Figures of the Windows build under Wine against the real core, run by the
// frontend of tools/frontend on a test cartridge (scripts/wine-figures.sh
// builds everything and runs both):
//
//   ringwatch_wine_figures scan CARTRIDGE [--repeat N]
//       the header scan of the frontend's process running CARTRIDGE, another
//       game's (no header anywhere, so every identification walks the whole
//       address space), against bare reads of the same regions
//   ringwatch_wine_figures sampling CARTRIDGE FRAMES
//       the tracker thread as the program runs it beside the frontend playing
//       FRAMES frames of CARTRIDGE at 60 a second: the game frames that no
//       decode saw (target 0), by the tracker's own count and by this
//       program's, and the gaps between passes, beside those of a thread that
//       only sleeps 6 ms
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_reads.h"
#include "bench/frame_count.h"
#include "e2e/e2e_support.h"
#include "e2e/win32/frontend.h"
#include "emulator/core_layout.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"

namespace {

constexpr double kMib = 1024.0 * 1024.0;

bool StartFrontend(const std::string& cartridge, const std::vector<std::string>& options, Frontend* frontend) {
    const std::string others = ForeignEmulators();
    if (!others.empty()) {
        std::fprintf(stderr, "another retroarch.exe is running:\n%s", others.c_str());
        return false;
    }
    const std::string directory = FrontendDirectory(RINGWATCH_REAL_CORE_DLL);
    if (directory.empty()) {
        std::fprintf(stderr, "can't copy the frontend and %s\n", RINGWATCH_REAL_CORE_DLL);
        return false;
    }
    std::vector<std::string> args = options;
    args.push_back(CanonicalPath(cartridge));
    if (!frontend->Start(directory, args)) {
        std::fprintf(stderr, "the frontend did not start: %s\n", frontend->error().c_str());
        return false;
    }
    return true;
}

int RunScan(const std::string& cartridge, uint32_t repeat) {
    Frontend frontend;
    if (!StartFrontend(cartridge, {}, &frontend)) return 2;
    return MeasureHeaderScans("the frontend", frontend.pid(), repeat);
}

// Filled on the tracker thread through its pass hook, read after it ended.
struct Sampling {
    uint64_t passes = 0;            // Connected passes
    uint64_t previousStart = 0;     // counter ticks; 0 after a pass that was not Connected
    uint64_t longestGap = 0;        // counter ticks between two Connected passes' starts
    uint64_t gapsOverFrame = 0;
    uint64_t frameTicks = 0;
    FrameCount frames;              // frames no decode saw, by this program and by the tracker
    static constexpr int kBuckets = 500;   // gaps in 0.1 ms; the last holds 50 ms and more
    uint64_t buckets[kBuckets] = {};
};

// Milliseconds below which `share` of the gaps lie.
double GapPercentile(const Sampling& sampling, double share) { return GapPercentileMs(sampling.buckets, Sampling::kBuckets, share); }

void AfterPass(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot, const FrameWatch& watch) {
    Sampling& sampling = *static_cast<Sampling*>(context);
    if (!connected) {
        sampling.previousStart = 0;
        return;
    }
    ++sampling.passes;
    if (sampling.previousStart != 0) {
        const uint64_t gap = passStart - sampling.previousStart;
        sampling.longestGap = std::max(sampling.longestGap, gap);
        if (gap >= sampling.frameTicks) ++sampling.gapsOverFrame;
        const auto bucket = static_cast<uint64_t>(Seconds(gap) * 1e4);
        ++sampling.buckets[std::min<uint64_t>(bucket, Sampling::kBuckets - 1)];
    }
    sampling.previousStart = passStart;
    CountFrames(sampling.frames, snapshot, watch);
}

int RunSampling(const std::string& cartridge, uint64_t frames) {
    Sampling sampling;
    sampling.frameTicks = ClockFrequency() / 60;
    Frontend frontend;
    if (!StartFrontend(cartridge, {"--free-rom", "--frames", std::to_string(frames)}, &frontend)) return 2;
    // The baseline, beside the tracker: a thread that only sleeps 6 ms a
    // pass, as the tracker does between reads, and times its gaps.
    std::atomic<bool> baselineRunning{true};
    uint64_t baselineLongest = 0, baselineOverFrame = 0;
    std::thread baseline([&] {
        uint64_t previous = ClockNow();
        while (baselineRunning.load()) {
            Sleep(6);
            const uint64_t now = ClockNow();
            baselineLongest = std::max(baselineLongest, now - previous);
            baselineOverFrame += now - previous >= sampling.frameTicks;
            previous = now;
        }
    });
    TrackerRun tracker;
    tracker.Start({AfterPass, &sampling});
    // Polled as the main thread does, so that no message ages out unseen.
    const uint64_t deadline = GetTickCount64() + frames * 1000 / 60 + 120000;
    std::string done;
    while (done.empty() && GetTickCount64() < deadline) {
        done = frontend.WaitForLine("done ", 1000);
        tracker.Poll();
    }
    tracker.Stop();
    baselineRunning = false;
    baseline.join();
    if (done.empty()) {
        std::fprintf(stderr, "the frontend did not finish its %llu frames\n", static_cast<unsigned long long>(frames));
        return 2;
    }
    int identifications = 0;
    for (const Message& message : tracker.messages()) {
        if (message.text == std::string("Game found: Sonic 2")) ++identifications;
    }
    std::printf("sampling: %llu frames of %s at 60 a second, the frontend's ROM freed\n",
                static_cast<unsigned long long>(frames), cartridge.c_str());
    std::printf("  frontend: %s\n", done.c_str());
    const FrameCount& count = sampling.frames;
    std::printf("  identifications %d; Connected passes %llu; game frames %u..%u; game frames no decode saw %llu, "
                "%llu of them while the game was tracked; the tracker's own count %llu: %s\n",
                identifications, static_cast<unsigned long long>(sampling.passes), count.firstFrame, count.lastFrame,
                static_cast<unsigned long long>(count.skipped), static_cast<unsigned long long>(count.skippedTracked),
                static_cast<unsigned long long>(count.counted),
                count.counted == count.skippedTracked ? "equal" : "DIFFERENT");
    std::printf("  gap between pass starts: median %.1f ms, 99%% %.1f ms, longest %.2f ms; gaps of a frame or more "
                "%llu\n",
                GapPercentile(sampling, 0.5), GapPercentile(sampling, 0.99), Seconds(sampling.longestGap) * 1e3,
                static_cast<unsigned long long>(sampling.gapsOverFrame));
    std::printf("  baseline, a thread that only sleeps 6 ms: longest gap %.2f ms; gaps of a frame or more %llu\n",
                Seconds(baselineLongest) * 1e3, static_cast<unsigned long long>(baselineOverFrame));
    for (const Message& message : tracker.messages()) std::printf("  log: %s\n", message.text.c_str());
    return count.skipped == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "scan" && (argc == 3 || (argc == 5 && std::strcmp(argv[3], "--repeat") == 0))) {
        const uint32_t repeat = argc == 5 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 5;
        return RunScan(argv[2], std::max<uint32_t>(repeat, 1));
    }
    if (command == "sampling" && argc == 4) {
        const uint64_t frames = std::strtoull(argv[3], nullptr, 10);
        if (frames > 0) return RunSampling(argv[2], frames);
    }
    std::fprintf(stderr,
                 "usage: ringwatch_wine_figures scan CARTRIDGE [--repeat N]\n"
                 "       ringwatch_wine_figures sampling CARTRIDGE FRAMES\n");
    return 2;
}

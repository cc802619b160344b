// The measurements against the real emulator: Debian's RetroArch, headless,
// running the Genesis Plus GX core that scripts/build-core.sh builds and a
// test cartridge made from a scenario (tools/testrom).
//
//   ringwatch_perf retroarch SCENARIO [--passes N]
//       plays SCENARIO (N times over) in RetroArch until SIGTERM or SIGINT,
//       for scripts/perf.sh to measure ringwatch beside it
//   ringwatch_perf real-scan [--repeat N]
//       the header scan of the RetroArch process running another cartridge
//       (no header anywhere, so every identification walks the whole address
//       space) against bare reads of the same regions
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bare_reads.h"
#include "bench/perf.h"
#include "e2e/child_process.h"
#include "e2e/real/retroarch.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"

namespace {

constexpr double kMib = 1024.0 * 1024.0;

bool CoreBuilt() {
    if (std::filesystem::exists(RINGWATCH_REAL_CORE)) return true;
    std::fprintf(stderr, "no core at %s: run scripts/build-core.sh (RINGWATCH_CORE_TARBALL names its source)\n",
                 RINGWATCH_REAL_CORE);
    return false;
}

}  // namespace

Cartridge::~Cartridge() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

bool MakeCartridge(const std::string& scenarioText, bool other, const std::string& name, Cartridge* cartridge) {
    const std::string dir = MakeTemporaryDirectory();
    if (dir.empty()) return false;
    cartridge->dir = dir;
    const std::string scenario = dir + name + ".txt";
    std::ofstream(scenario) << scenarioText;
    cartridge->path = dir + name + ".md";
    std::string output;
    const std::string command = std::string("bash ") + RINGWATCH_TESTROM_SOURCE_DIR + "/build.sh " +
                                (other ? "--other " : "") + RINGWATCH_TESTROM_STREAM + " " +
                                (other ? std::string("none") : scenario) + " " + cartridge->path;
    if (!RunShell(command, &output)) {
        std::fprintf(stderr, "the cartridge was not built: %s\n%s", command.c_str(), output.c_str());
        return false;
    }
    std::ifstream says(dir + name + ".says");
    std::string line;
    cartridge->endVblank = 0;
    while (std::getline(says, line)) std::sscanf(line.c_str(), "# the stream ends after vertical blank %u", &cartridge->endVblank);
    return true;
}

int RunRetroArchHold(const RetroArchHoldOptions& options) {
    if (!CoreBuilt()) return 2;
    std::ifstream in(options.scenario);
    if (!in) {
        std::fprintf(stderr, "can't read %s\n", options.scenario.c_str());
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string repeated;
    for (uint32_t i = 0; i < options.passes; ++i) repeated += text.str() + "\n";
    Cartridge cartridge;
    if (!MakeCartridge(repeated, false, "hold", &cartridge)) return 2;

    // SIGTERM and SIGINT end the wait below, and RetroArch with it.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    RetroArch retroarch(RINGWATCH_REAL_CORE);
    if (!retroarch.Start(cartridge.path)) {
        std::fprintf(stderr, "RetroArch did not start: %s\n%s", retroarch.error().c_str(), retroarch.LogTail().c_str());
        return 2;
    }
    std::printf("ready pid=%u frames=%u\n", retroarch.pid(), cartridge.endVblank);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&ending, &signal);
    return 0;
}

int RunRealScanFigures(const ScanOptions& options) {
    if (!CoreBuilt()) return 2;
    Cartridge other;
    if (!MakeCartridge("", true, "other", &other)) return 2;
    RetroArch retroarch(RINGWATCH_REAL_CORE);
    if (!retroarch.Start(other.path)) {
        std::fprintf(stderr, "RetroArch did not start: %s\n", retroarch.error().c_str());
        return 2;
    }

    auto tracker = std::make_unique<EmulatorLink>();
    auto snapshot = std::make_unique<GameSnapshot>();
    auto log = std::make_unique<LogBuffer>();
    InitRamDecode(snapshot->ram);
    EmulatorLinkReset(*tracker, kPlatformProcessApi);
    Attach(*tracker, *log);   // the first scan, not measured
    if (!tracker->attached || log->count < 1 || std::strcmp(log->entries[log->count - 1].text, "Unknown game") != 0) {
        std::fprintf(stderr, "the tracker did not scan RetroArch running another cartridge (%s)\n",
                     log->count > 0 ? log->entries[log->count - 1].text : "no message");
        return 2;
    }

    std::printf("header scan: RetroArch (pid %u) running another cartridge, every identification a whole walk\n",
                retroarch.pid());
    std::printf("%4s %10s %8s %10s %12s %12s %10s %9s\n", "scan", "wall ms", "regions", "MiB read", "bare ms",
                "bare regions", "bare MiB", "ratio");
    std::vector<double> scans, ratios;
    for (uint32_t round = 0; round < options.repeat; ++round) {
        // Alternate the order, so that neither always finds the memory warmer.
        BareReads bare;
        if (round % 2 == 0) bare = ReadLikeTheScan(tracker->connection.process);
        LogClear(*log);
        const uint64_t start = ClockNow();
        TrackerPass(*tracker, *snapshot, *log);
        const double seconds = Seconds(ClockNow() - start);
        if (round % 2 == 1) bare = ReadLikeTheScan(tracker->connection.process);
        if (!tracker->attached || log->count != 1 || std::strcmp(log->entries[0].text, "Unknown game") != 0) {
            std::fprintf(stderr, "the scan did not end with \"Unknown game\": %s\n",
                         log->count > 0 ? log->entries[0].text : "no message");
            return 2;
        }
        const HeaderScanFigures& figures = tracker->scanFigures;
        std::printf("%4u %10.2f %8u %10.1f %12.2f %12u %10.1f %9.3f\n", round + 1, seconds * 1e3, figures.regionsRead,
                    static_cast<double>(figures.bytesRead) / kMib, bare.seconds * 1e3, bare.regions,
                    static_cast<double>(bare.bytes) / kMib, seconds / bare.seconds);
        scans.push_back(seconds);
        ratios.push_back(seconds / bare.seconds);
    }
    if (tracker->attached) Disconnect(*tracker);
    std::printf("scan: %.2f ms for %.1f MiB (median of %u), %.3fx the bare reads of the same regions (%.3f..%.3f)\n",
                Median(scans) * 1e3, static_cast<double>(tracker->scanFigures.bytesRead) / kMib, options.repeat,
                Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}

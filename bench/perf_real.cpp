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

    return MeasureHeaderScans("RetroArch", retroarch.pid(), options.repeat);
}

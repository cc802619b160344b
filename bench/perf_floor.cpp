// The floor of a Connected tracker's cadence: per pass, the one read of the
// RAM window and the 6 ms sleep that every pass must have, and nothing else.
// What that costs in CPU time on this machine (system calls, timer and wake-up
// work, a virtual machine's exits) is the baseline of ringwatch's CPU share.
#include <time.h>

#include <cstdio>
#include <memory>

#include "bench/perf.h"
#include "emulator/emulator_connection.h"
#include "app/shared_state.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"

namespace {

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int RunCadenceFloor(const FloorOptions& options) {
    auto tracker = std::make_unique<EmulatorLink>();
    auto log = std::make_unique<LogBuffer>();
    EmulatorLinkReset(*tracker, kPlatformProcessApi);
    Attach(*tracker, *log);
    if (!tracker->identified) {
        std::fprintf(stderr, "floor: no emulator running Sonic 2 to read (%s)\n",
                     log->count > 0 ? log->entries[log->count - 1].text : "no message");
        return 2;
    }
    const double frequency = static_cast<double>(ClockFrequency());
    const uint64_t start = ClockNow();
    const double cpuStart = ProcessCpuSeconds();
    uint64_t passes = 0;
    while (static_cast<double>(ClockNow() - start) / frequency < options.seconds) {
        if (ReadWindow(*tracker, *log) != ReadWindowResult::WindowGood) {
            std::fprintf(stderr, "floor: the window read failed\n");
            return 2;
        }
        ++passes;
        ClockSleepMs(PassSleepMs(true, true));
    }
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double wall = static_cast<double>(ClockNow() - start) / frequency;
    Disconnect(*tracker);
    std::printf("floor: %llu passes of one window read and a 6 ms sleep: %.3f s of CPU in %.1f s: %.3f%% of one core, "
                "%.1f us a pass\n",
                static_cast<unsigned long long>(passes), cpu, wall, cpu / wall * 100, cpu / passes * 1e6);
    return 0;
}

// Whole-scan and whole-run measurements against the stand-in emulator, each
// printed beside its baseline from the same run:
//
//   ringwatch_perf scan [--ballast-mib N] [--repeat N]
//       the header scan of a stand-in in the compilation's menu holding N MiB
//       (1024 by default) of committed memory: wall time, bytes read and the
//       growth of the resident memory, against bare reads of the same regions.
//   ringwatch_perf floor [--seconds N]
//       beside an emulator already running (the stand-in, say): N seconds
//       (60 by default) of what a Connected tracker cannot leave out, one
//       window read and a 6 ms sleep per pass, and the CPU time that costs;
//       the baseline of ringwatch's own CPU share measured at the same time.
//   ringwatch_perf sampling [--minutes M] [--real [--run-ahead N [--second-instance]]] [--tick]
//       a generated play-through of M minutes (10 by default) at 60 frames a
//       second: every lag frame and pause counted and every level time equal
//       to the script's, and the longest gap between two passes below a frame;
//       with --real played by a test cartridge in RetroArch, with --run-ahead
//       running N frames ahead (1 to 12; in a second instance of the core with
//       --second-instance), where no jump may be said; with --tick a
//       second tracker beside the first whose sleeps all end on 15.625 ms
//       ticks, as Windows' sleeps do by default (bench/tick_shim.cpp).
//   ringwatch_perf real-scan [--repeat N]
//   ringwatch_perf retroarch SCENARIO [--passes N]
//       against the real emulator: see perf_real.cpp.
//
// scan and sampling start their own stand-in and need the machine to
// themselves: no other process named retroarch.exe may run meanwhile.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/perf.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: ringwatch_perf scan [--ballast-mib N] [--repeat N]\n"
                 "       ringwatch_perf floor [--seconds N]\n"
                 "       ringwatch_perf sampling [--minutes M] [--real [--run-ahead N [--second-instance]]] [--tick]\n"
                 "       ringwatch_perf real-scan [--repeat N]\n"
                 "       ringwatch_perf retroarch SCENARIO [--passes N]\n");
    return 2;
}

// The value after option `name` at argv[i], if argv[i] is that option.
bool OptionValue(int argc, char** argv, int& i, const char* name, unsigned long* value) {
    if (std::strcmp(argv[i], name) != 0) return false;
    if (i + 1 >= argc) return false;
    char* end = nullptr;
    *value = std::strtoul(argv[++i], &end, 10);
    return end != argv[i] && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* command = argv[1];
    if (std::strcmp(command, "scan") == 0) {
        ScanOptions options;
        for (int i = 2; i < argc; ++i) {
            unsigned long value = 0;
            if (OptionValue(argc, argv, i, "--ballast-mib", &value) && value <= 1200) {
                options.ballastMib = static_cast<uint32_t>(value);
            } else if (OptionValue(argc, argv, i, "--repeat", &value) && value >= 1 && value <= 100) {
                options.repeat = static_cast<uint32_t>(value);
            } else {
                return Usage();
            }
        }
        return RunScanFigures(options);
    }
    if (std::strcmp(command, "floor") == 0) {
        FloorOptions options;
        for (int i = 2; i < argc; ++i) {
            unsigned long value = 0;
            if (OptionValue(argc, argv, i, "--seconds", &value) && value >= 1 && value <= 3600) {
                options.seconds = static_cast<uint32_t>(value);
            } else {
                return Usage();
            }
        }
        return RunCadenceFloor(options);
    }
    if (std::strcmp(command, "sampling") == 0) {
        SamplingOptions options;
        for (int i = 2; i < argc; ++i) {
            unsigned long value = 0;
            if (OptionValue(argc, argv, i, "--minutes", &value) && value >= 1 && value <= 60) {
                options.minutes = static_cast<uint32_t>(value);
            } else if (std::strcmp(argv[i], "--real") == 0) {
                options.real = true;
            } else if (OptionValue(argc, argv, i, "--run-ahead", &value) && value >= 1 && value <= 12) {
                options.runAhead = static_cast<uint32_t>(value);
            } else if (std::strcmp(argv[i], "--second-instance") == 0) {
                options.secondInstance = true;
            } else if (std::strcmp(argv[i], "--tick") == 0) {
                options.tick = true;
            } else {
                return Usage();
            }
        }
        if ((options.runAhead > 0 || options.secondInstance) && !options.real) return Usage();
        if (options.secondInstance && options.runAhead == 0) return Usage();
        if (options.tick && !TickShimLoaded()) return RestartWithTickShim(argv);
        return RunSamplingFigures(options);
    }
    if (std::strcmp(command, "real-scan") == 0) {
        ScanOptions options;
        for (int i = 2; i < argc; ++i) {
            unsigned long value = 0;
            if (!OptionValue(argc, argv, i, "--repeat", &value) || value < 1 || value > 100) return Usage();
            options.repeat = static_cast<uint32_t>(value);
        }
        return RunRealScanFigures(options);
    }
    if (std::strcmp(command, "retroarch") == 0 && argc >= 3) {
        RetroArchHoldOptions options;
        options.scenario = argv[2];
        for (int i = 3; i < argc; ++i) {
            unsigned long value = 0;
            if (!OptionValue(argc, argv, i, "--passes", &value) || value < 1 || value > 20) return Usage();
            options.passes = static_cast<uint32_t>(value);
        }
        return RunRetroArchHold(options);
    }
    return Usage();
}

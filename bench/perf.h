// The measurements of ringwatch_perf (see perf_main.cpp). Each prints its
// figures and returns the program's exit status: 0 when it could measure and
// every target was met, 1 when a target was missed, 2 when it could not run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScanOptions {
    uint32_t ballastMib = 1024;   // committed memory the stand-in holds below its ROM
    uint32_t repeat = 3;          // scans measured after the attach's own
};

int RunScanFigures(const ScanOptions& options);

struct FloorOptions {
    uint32_t seconds = 60;        // how long to run
};

// The floor of a Connected tracker's cadence on this machine: one window read
// of the running emulator and a 6 ms sleep, nothing else, for `seconds`;
// prints its CPU time against the wall time.
int RunCadenceFloor(const FloorOptions& options);

struct SamplingOptions {
    uint32_t minutes = 10;        // length of the generated play-through at 60 frames a second
    bool real = false;            // played by the test cartridge in RetroArch, not by the stand-in
    uint32_t runAhead = 0;        // RetroArch runs this many frames ahead (real only)
    bool secondInstance = false;  // ... in a second instance of the core
    bool tick = false;            // a second tracker beside it, its sleeps rounded up to 15.625 ms ticks
};

// Whether bench/tick_shim.cpp is preloaded into this process.
bool TickShimLoaded();
// Runs this program again with the shim preloaded; returns 2 when it can't.
int RestartWithTickShim(char** argv);

int RunSamplingFigures(const SamplingOptions& options);

// The generated play-through and what a tracker that sees every frame must
// count in it.
struct LevelTruth {
    uint32_t levelIndex;    // row of the level name table
    uint32_t timerFrames;   // game timer at the level's end, in sixtieths
    uint32_t lagFrames;
    uint32_t pauses;
};

struct SamplingScenario {
    std::string text;                 // the stand-in's scenario
    std::vector<LevelTruth> levels;   // in play order
    uint64_t frames;                  // game frames in all
};

SamplingScenario BuildSamplingScenario(uint32_t minutes);

// The real emulator (perf_real.cpp): Debian's RetroArch running the Genesis
// Plus GX core built by scripts/build-core.sh and a test cartridge.
struct Cartridge {
    Cartridge() = default;
    Cartridge(const Cartridge&) = delete;
    Cartridge& operator=(const Cartridge&) = delete;
    ~Cartridge();           // removes its directory
    std::string dir;
    std::string path;
    uint32_t endVblank = 0;     // the vertical blank after which its stream has been played
};

// Builds the test cartridge of a scenario (or, `other`, of another game) in a
// new temporary directory with tools/testrom/build.sh.
bool MakeCartridge(const std::string& scenarioText, bool other, const std::string& name, Cartridge* cartridge);

struct RetroArchHoldOptions {
    std::string scenario;         // a scenario file
    uint32_t passes = 1;          // played this many times over
};

int RunRetroArchHold(const RetroArchHoldOptions& options);
int RunRealScanFigures(const ScanOptions& options);

// A fake of the process calls: a list of processes, one emulator process with
// its modules and memory regions, and switches that make each call fail the
// way the OS can. One fake is active at a time (the calls are plain function
// pointers); FakeProcessApi() returns the table that uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulator/emulator_connection.h"

struct FakeProcess {
    uint32_t id;
    std::string name;
};

struct FakeModule {
    uint64_t base;
    std::string path;        // full path, '/' between its parts
    bool nameFails;          // its path can't be had: passed over with a warning
};

struct FakeRegion {
    uint64_t base;
    uint64_t size;
    bool readable;           // listed as readable (committed and accessible)
    bool readFails;          // listed, but reads fail (a guard page, memory gone)
    std::vector<uint8_t> bytes;   // contents from base; shorter than size means zeros follow
    bool privateWritable = false; // the process's own writable memory (a heap), not a file's or a module's
};

// One read that succeeded: where and how many bytes.
struct FakeRead {
    uint64_t address;
    size_t size;
    bool operator==(const FakeRead&) const = default;
};

inline constexpr ProcessResult kFakeOk{ProcessStatus::Ok, 0};

struct FakeSystem {
    // Processes in the OS's order, the system's own first (it is never compared).
    std::vector<FakeProcess> processes;
    ProcessResult findFailure = kFakeOk;   // the process list can't be had
    ProcessResult openFailure = kFakeOk;

    // The opened process.
    ProcessResult moduleFailure = kFakeOk;   // the module list can't be had
    bool moduleInfoFails = false;          // the core is found, its extent can't be had
    std::vector<FakeModule> modules;
    uint64_t imageSize = 0x400000;         // every module's extent
    std::vector<FakeRegion> regions;       // ascending, not overlapping
    ProcessResult listFailure = kFakeOk;   // every listing fails
    uint64_t listEndsAt = UINT64_MAX;      // listings end short before this address
    bool listRepeats = false;              // every listing is full of one empty range at its start
    ProcessResult readFailure = kFakeOk;   // every read fails
    uint64_t addressLimit = 1ull << 47;    // the top of the user address space
    std::vector<uint64_t> steppingBytes;   // addresses whose byte goes up by one on every read of it: a
                                           // running game's frame counter
    uint64_t clock = 0;                    // what FakeClock() says, in the ticks the test chose
    std::function<void()> beforeRead;      // at every read, before it copies: the reader held up

    // What the tracker did.
    int handlesOpen = 0;
    std::vector<uint32_t> openedProcessIds;
    uint32_t walks = 0;                    // listings from address 0: walks of the address space (header scans)
    std::vector<FakeRead> readsDone;
    uint32_t reads = 0;
    uint64_t bytesRead = 0;
};

// What a pass logs when no emulator runs: every process name looked for, on
// Linux also the Windows programs that Wine runs.
inline const std::string kNotFoundMessage =
    kProgramFormCount == 2
        ? "ERROR: Could not find process 'retroarch', 'retroarch.exe', 'blastem', 'blastem.exe', 'EmuHawk.exe' or "
          "'Fusion.exe'."
        : "ERROR: Could not find process 'retroarch.exe', 'blastem.exe', 'EmuHawk.exe' or 'Fusion.exe'.";

// Makes `system` the active fake and returns the call table that uses it.
const ProcessApi& FakeProcessApi(FakeSystem& system);

// The active fake's clock, for the passes' stamps.
uint64_t FakeClock();

// A path ending in `fileName`.
std::string FakeModulePath(const char* fileName);

// The error code of a refused access (EACCES).
inline constexpr int kFakeAccessDenied = 13;

// The region of a core module at `base` with the work RAM at base + `ramOffset`,
// the RAM signature in place or not.
FakeRegion FakeCoreRegion(uint64_t base, bool signature, uint64_t ramOffset = kWorkRamOffsetInModule);

// A region holding the cartridge header pattern at `offset` (or none when
// offset is negative), in the file's byte order or as the core keeps the
// cartridge (every byte pair swapped), the rest filled with 'S' and other bytes.
FakeRegion FakeRomRegion(uint64_t base, uint64_t size, int64_t offset, bool swapped = false);

// The emulator as found on a player's machine: the system entry, another
// program, retroarch.exe (pid 4242) with two modules and the core, its memory
// a ROM region and the core's region.
struct FakeEmulatorSetup {
    uint64_t coreBase = 0x7FF600000000ull;
    uint64_t romBase = 0x20000000ull;
    bool header = true;
    bool signature = true;
    uint64_t ramOffset = kWorkRamOffsetInModule;   // work RAM in the core's image, which is made large enough
};
void FakeEmulator(FakeSystem& system, const FakeEmulatorSetup& setup = {});

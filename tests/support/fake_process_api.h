// A fake of the process calls: a list of processes, one emulator process with
// its modules and memory regions, and switches that make each call fail the
// way the OS can. One fake is active at a time (the calls are plain function
// pointers); FakeProcessApi() returns the table that uses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulator_connection.h"

struct FakeModule {
    uint64_t base;
    std::string path;        // full path, with the platform's separator
    bool nameFails;          // K32GetModuleFileNameExA returns 0
};

// A region's state that the program never looks for, only past: reserved
// address space (MEM_RESERVE).
inline constexpr uint32_t kFakeMemReserve = 0x2000;

struct FakeRegion {
    uint64_t base;
    uint64_t size;
    uint32_t state;          // kMemCommit, kFakeMemReserve
    uint32_t protect;        // kPageReadWrite, kPageNoAccess, ...
    bool readFails;          // reads fail (a guard page, memory gone)
    std::vector<uint8_t> bytes;   // contents from base; shorter than size means zeros follow
};

// One read that succeeded: where and how many bytes.
struct FakeRead {
    uint64_t address;
    size_t size;
    bool operator==(const FakeRead&) const = default;
};

struct FakeSystem {
    // Process snapshot, first entry included (it is never compared).
    std::vector<ProcessEntry> processes;
    bool snapshotFails = false;
    bool firstFails = false;
    bool openFails = false;

    // The opened process.
    bool enumFails = false;
    uint32_t extraBytesNeeded = 0;        // added to what the module list needs
    std::vector<FakeModule> modules;
    bool moduleInfoFails = false;
    uint32_t imageSize = 0x400000;        // every module's SizeOfImage
    std::vector<FakeRegion> regions;      // ascending, not overlapping
    bool queryFails = false;              // every query fails
    uint64_t queryFailsFrom = UINT64_MAX; // queries at or above this address fail
    bool readFails = false;               // every read fails
    int readError = 299;                  // ERROR_PARTIAL_COPY; also the reason a failed open gives
    uint64_t addressLimit = 1ull << 47;   // the top of the user address space

    // What the tracker did.
    int snapshotsOpen = 0;
    int handlesOpen = 0;
    std::vector<uint32_t> openedProcessIds;
    std::vector<uint64_t> moduleNameCalls;
    uint32_t queries = 0;
    uint32_t walks = 0;                   // queries of address 0: walks of the address space (header scans)
    std::vector<FakeRead> readsDone;
    uint32_t reads = 0;
    uint64_t bytesRead = 0;
};

// What a pass logs when no emulator runs: every process name looked for.
inline const std::string kNotFoundMessage = kWindowsProgramNames ? "ERROR: Could not find process 'retroarch.exe'."
                                                  : "ERROR: Could not find process 'retroarch' or 'retroarch.exe'.";

// Makes `system` the active fake and returns the call table that uses it.
const ProcessApi& FakeProcessApi(FakeSystem& system);

// A path ending in `fileName`, with the platform's module path separator.
std::string FakeModulePath(const char* fileName);

// The error code of a refused access on this OS (EACCES, ERROR_ACCESS_DENIED).
inline const int kFakeAccessDenied = kWindowsProgramNames ? 5 : 13;

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

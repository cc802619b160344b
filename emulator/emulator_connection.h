// The tracker thread's hold on the emulator: finding an emulator's process
// (a row of emulator/emulator_table.h: RetroArch and its core, BlastEm, ...),
// making sure the SONIC COMPILATION cartridge runs Sonic 2, finding work RAM,
// and reading the RAM window on every pass. Every problem becomes
// a message in the tracker log and is tried again on a later pass.
//
// The process calls go through a ProcessApi table: the platform backend, or
// another that answers as the OS does (a process that ends mid-scan, a read
// refused, which no running emulator gives on demand).
//
// [SECTION] ProcessApi
// [SECTION] EmulatorConnection and EmulatorLink
// [SECTION] Attach, IdentifyGame, ReadWindow, Disconnect
#pragma once

#include <cstdint>

#include "emulator/core_layout.h"
#include "emulator/emulator_table.h"
#include "log/log_buffer.h"
#include "platform/process_memory.h"

// [SECTION] ProcessApi: the calls of platform/process_memory.h, replaceable.
struct ProcessApi {
    ProcessResult (*find)(const char* const* names, int count, uint32_t* processId, int* which);
    ProcessResult (*open)(uint32_t processId, ProcessHandle* process);
    void (*close)(ProcessHandle process);
    ProcessResult (*findModule)(ProcessHandle process, const char* fileName, ModuleImage* image);
    ProcessResult (*listReadable)(ProcessHandle process, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity,
                                  int* count);
    ProcessResult (*read)(ProcessHandle process, uint64_t address, void* buffer, size_t size);
};

// The platform backend.
extern const ProcessApi kPlatformProcessApi;

// [SECTION] EmulatorConnection and EmulatorLink

inline constexpr int kRangeListCapacity = 256;     // readable ranges listed at a time
inline constexpr int kEmulatorLookCapacity = kEmulatorRowCount;   // rows looked for at most
inline constexpr int kProgramNameSize = 32;        // bytes of a program name given with -emulator, NUL included
inline constexpr int kRamCopyCapacity = 8;         // copies of work RAM told apart at most
// How long identification watches the frame counters of the copies of work
// RAM found in an emulator's private memory: six of the game's frames.
inline constexpr uint32_t kCopyWatchMs = 100;

struct EmulatorConnection {
    const char* processName;              // the process looked for or found: "retroarch.exe", "blastem"
    const char* moduleName;               // the core looked for in it: "genesis_plus_gx_libretro.dll", ".so"; "" for none
    EmulatorRow rows[kEmulatorLookCapacity];   // the emulators looked for, in the table's order
    int rowCount;
    char program[kProgramNameSize];       // the program given with -emulator that no row has, or ""
    char processNamesText[160];           // every process name looked for, for messages
    const EmulatorRow* row;               // the emulator found (into rows) while attached, else null
    uint32_t processId;                   // its process id while attached
    RamByteOrder byteOrder;               // how the RAM found keeps its words; the decode takes it from here
    const uint8_t* signature;             // the RAM signature in that order (kSignatureSize bytes)
    ProcessHandle process;                // open exactly while attached
    uint64_t coreBase;                    // emulator address: the core's load address while attached
    uint64_t coreSize;                    // bytes of the core's image from coreBase
    uint64_t ramBase;                     // emulator address: work RAM once attached, the window once identified; 0 when detached
    uint8_t* window;                      // the RAM window copy while identified, else null
    uint32_t windowSize;                  // bytes: kWindowSize while identified, else 0
    uint32_t headerFound;                 // 1 once a header scan succeeded; kept across disconnects
    uint8_t windowStorage[kWindowSize];   // where `window` points while identified
};

// Working storage of an attach attempt and of the walks over the emulator's memory.
struct AttachScratch {
    ModuleImage core;
    MemoryRange ranges[kRangeListCapacity];
};

// The tracker thread's link to the emulator: everything it keeps about the
// emulator between passes, and the process calls it makes them with.
// Connection states: Detached (neither flag), Attached (attached only),
// Connected (both).
struct EmulatorLink {
    const ProcessApi* api;
    EmulatorConnection connection;
    bool attached;            // the process is open and the core module was found
    bool identified;          // the game is identified and the RAM window set up
    uint32_t clearedReads;    // windows in a row found cleared to zeros
    uint32_t copyReads;       // windows in a row found with the signature cleared, the rest not
    uint32_t copyWatchMs;     // kCopyWatchMs; a test's fake process steps its counters without waiting
    AttachScratch scratch;
};

// Windows in a row that may be found cleared to zeros (a state being loaded,
// the console reset) before the game is taken for gone: about a second of
// passes.
inline constexpr uint32_t kClearedReadsMax = 160;
// Windows in a row that may be found with the signature cleared and RAM below
// it not (a state's RAM being copied in, from the bottom up) before the game is
// taken for gone. The copy takes microseconds: a read racing it is alone.
inline constexpr uint32_t kCopyReadsMax = 2;

enum class ReadWindowResult { ReadFailed, SignatureMismatch, RamCleared, WindowGood };

// [SECTION] Attach, IdentifyGame, ReadWindow, Disconnect

// Zero-fills the connection and the flags, sets the emulators to look for and
// the process calls to use. `emulator` null or "": every row of the table.
// Otherwise (case aside) a row's name ("blastem"), or a program name: the rows
// of that program ("retroarch.exe": RetroArch with each of its cores), or any
// other program, looked for by that exact name with its RAM searched for in
// both byte orders in its private memory.
void EmulatorLinkReset(EmulatorLink& link, const ProcessApi& api, const char* emulator = nullptr);

// A Detached pass: finds the first emulator running, in the table's order,
// and the library its row needs (RetroArch's core), then identifies the game
// once (IdentifyGame). Leaves the link Detached, Attached or Connected.
void Attach(EmulatorLink& link, LogBuffer& log);

// Makes sure the cartridge runs Sonic 2: the header scan (unless the header was
// found before), then the RAM signature in the row's byte order: for a row
// with work RAM in the core's image, at the core's load address + the row's
// offset or else wherever in the image it lies; otherwise in the private
// writable memory, where a copy (a save state, a rewind buffer) may hold it
// too: the live one is the copy whose global frame counter steps. Found: the
// window is set up and the link is Connected. Not identified: the header is forgotten, so the
// next try scans again (the cartridge may have changed). The emulator lost:
// the link is disconnected. For Attach and for an Attached pass.
void IdentifyGame(EmulatorLink& link, LogBuffer& log);

// Reads the window in one read and checks the RAM signature in it.
ReadWindowResult ReadWindow(EmulatorLink& link, LogBuffer& log);

// Drops the window and the process handle; headerFound stays.
void Disconnect(EmulatorLink& link);

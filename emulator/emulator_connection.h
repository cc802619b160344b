// The tracker thread's hold on the emulator: finding RetroArch's process and
// the Genesis Plus GX core in it, making sure the SONIC COMPILATION cartridge
// runs Sonic 2, and reading the RAM window on every pass. Every problem becomes
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

inline constexpr int kEmulatorFormCapacity = 4;    // kinds of emulator build looked for at most
inline constexpr int kRangeListCapacity = 256;     // readable ranges listed at a time

// A process name and the core module looked for in such a process.
struct EmulatorNames {
    char process[32];                     // "retroarch.exe", "retroarch"
    char module[40];                      // "genesis_plus_gx_libretro.dll", ".so"
};

struct EmulatorConnection {
    const char* processName;              // the process looked for or found: "retroarch.exe", "retroarch"
    const char* moduleName;               // the core looked for in it: "genesis_plus_gx_libretro.dll", ".so"
    EmulatorNames names[kEmulatorFormCapacity];   // the emulators looked for, one per program form of the OS,
                                                  // in its order: the first process with any of the names is taken
    const char* processNames[kEmulatorFormCapacity];   // names[i].process, for the look-up
    int nameCount;
    char processNamesText[64];            // every process name looked for, for messages: "retroarch' or 'retroarch.exe"
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

// Zero-fills the connection and the flags, sets the emulator's names and the
// process calls to use.
void EmulatorLinkReset(EmulatorLink& link, const ProcessApi& api);

// A Detached pass: finds the process and the core module, then identifies the
// game once (IdentifyGame). Leaves the link Detached, Attached or Connected.
void Attach(EmulatorLink& link, LogBuffer& log);

// Makes sure the cartridge runs Sonic 2: the header scan (unless the header was
// found before), then the RAM signature, at the core's load address + 0x2A1060
// or else wherever in the core's image it lies. Found: the window is set up
// and the link is Connected. Not identified: the header is forgotten, so the
// next try scans again (the cartridge may have changed). The emulator lost:
// the link is disconnected. For Attach and for an Attached pass.
void IdentifyGame(EmulatorLink& link, LogBuffer& log);

// Reads the window in one read and checks the RAM signature in it.
ReadWindowResult ReadWindow(EmulatorLink& link, LogBuffer& log);

// Drops the window and the process handle; headerFound stays.
void Disconnect(EmulatorLink& link);

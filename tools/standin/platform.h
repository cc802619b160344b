// What the stand-in needs of its OS, one file per OS (platform_posix.cpp,
// platform_win32.cpp): memory at fixed addresses, loading the core module and
// checking where a reader finds it, a monotonic clock, and waiting for the next
// frame while listening for the cues that switch the cartridge's state.
//
// Cues: SIGUSR1 (game) and SIGUSR2 (menu) on POSIX; on Windows the named
// events of StandinCueEventName, which whoever drives the stand-in sets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class ModeCue { None, Game, Menu };

uint32_t StandinProcessId();

// Committed, zero-filled read-write memory at exactly `address`; null when
// any part of it is taken.
void* StandinMapAt(uint64_t address, size_t size);

// The directory of the running executable, with the OS's separator after it.
// False when it can't be found.
bool StandinExecutableDirectory(std::string* directory);

// Makes the pages [start, start + size) of an anonymous mapping a mapping of
// their own, as a change of protection or advice on part of an emulator's
// memory does, without changing what they hold or who may write them. False
// when the OS refuses.
bool StandinSplitMapping(void* start, size_t size);

// Loads the module at `path` and returns the address of its exported
// `symbol`; null, with the reason in `error`, on failure.
void* StandinLoadModuleSymbol(const std::string& path, const char* symbol, std::string* error);

// Where a reader of this process finds the module at `path` begins: the lowest
// mapping of the file on Linux, the module's base address on Windows, both as
// the process backends report them. 0 when the module isn't found.
uint64_t StandinModuleBaseSeenByReaders(const std::string& path);

// The load address of the module holding `address` (in the core module: the
// address its RAM offset counts from); 0 when it can't be found.
uint64_t StandinLoadAddressOf(const void* address);

// Sets up the cues before the first frame; false, with the reason, on failure.
bool StandinCuesOpen(std::string* error);

// The name of the event that cues `cue` in the stand-in with process id
// `processId` (Windows; on POSIX the cues are signals).
inline std::string StandinCueEventName(uint32_t processId, ModeCue cue) {
    return "Local\\ringwatch-standin-" + std::to_string(processId) + (cue == ModeCue::Game ? "-game" : "-menu");
}

// Monotonic time in nanoseconds.
uint64_t StandinClockNs();

// Waits up to `timeoutNs` for a cue; returns the first cue that arrives, at
// once, or None when the time is up.
ModeCue StandinWaitForCue(uint64_t timeoutNs);

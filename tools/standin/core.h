// The stand-in core module: a shared library (an ELF shared object on Linux, a
// DLL on Windows) whose data holds the emulated console's 64 KiB work RAM at the
// module's load address + 0x2A1060, where the real core keeps it. The
// stand-in's executable loads it by path.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The work RAM inside this module's data at its load address + `offset`
// (0x2A1060 unless a test asks for another core build's layout), 16-bit
// words in the host's little-endian order. Null, with the reason in `error`,
// when that does not fall inside the module's data. `loadAddress` receives
// the module's load address.
uint8_t* StandinCoreWorkRam(uint64_t offset, uint64_t* loadAddress, char* error, size_t errorSize);

}

using StandinCoreWorkRamFunction = uint8_t* (*)(uint64_t, uint64_t*, char*, size_t);
inline constexpr const char* kStandinCoreWorkRamSymbol = "StandinCoreWorkRam";

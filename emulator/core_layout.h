// What Ringwatch relies on of the emulator: RetroArch running the Genesis Plus
// GX core, which keeps the Mega Drive's 64 KiB 68000 work RAM inside the core
// module's data, as 16-bit words in the host's little-endian order. The other
// emulators looked for are rows of emulator/emulator_table.h.
#pragma once

#include <cstdint>

#include "emulator/game_variables.h"

// RetroArch's program and the Genesis Plus GX core's library, by their names
// without the endings the system they are built for gives them
// (kProgramForms in platform/process_memory.h has those).
inline constexpr const char* kEmulatorProgramName = "retroarch";
inline constexpr const char* kCoreLibraryName = "genesis_plus_gx_libretro";
// The same as the .exe and .dll builds name them: what the stand-in emulator
// is called, whatever the system it runs on.
inline constexpr const char* kEmulatorProcessName = "retroarch.exe";
inline constexpr const char* kCoreModuleName = "genesis_plus_gx_libretro.dll";

// Work RAM (emulator/game_variables.h) from the core module's load
// address, where the builds of the core long in use keep it. Other builds keep
// it elsewhere in their data (today's: + 0x82A060 in the 64-bit .dll, + 0xBFE8C0
// in the .so); it is then found by its signature.
inline constexpr uint64_t kWorkRamOffsetInModule = 0x2A1060;

// The window read on every pass: work RAM from kWindowFirstAddress to its end.
inline constexpr uint32_t kWindowRamOffset = kWindowFirstAddress - kWorkRamFirstAddress;
inline constexpr uint32_t kWindowSize = kWorkRamSize - kWindowRamOffset;   // bytes

// The RAM signature (kVarSignature), as stored (bytes swapped in pairs):
// "init", 0x00020000, "SEGA". Present while Sonic 2 runs.
inline constexpr uint32_t kSignatureRamOffset = GameAddress(kVarSignature) - kWorkRamFirstAddress;
inline constexpr uint32_t kSignatureWindowOffset = GameAddress(kVarSignature) - kWindowFirstAddress;
inline constexpr uint32_t kSignatureSize = GameWidth(kVarSignature);
inline constexpr uint8_t kRamSignature[kSignatureSize] = {0x6E, 0x69, 0x74, 0x69, 0x02, 0x00,
                                                         0x00, 0x00, 0x45, 0x53, 0x41, 0x47};
// The same in the 68000's own byte order, as an emulator that keeps it stores it.
inline constexpr uint8_t kRamSignatureBig[kSignatureSize] = {0x69, 0x6E, 0x69, 0x74, 0x00, 0x02,
                                                            0x00, 0x00, 0x53, 0x45, 0x47, 0x41};
// Bytes read at identification, starting at the signature.
inline constexpr uint32_t kSignatureProbeSize = 64;

// The cartridge header of SONIC COMPILATION from the system name on, in the
// ROM file's byte order (the core's own copy has every byte pair swapped, see
// header_search.cpp): system name, maker and date,
// domestic and overseas names, serial, checksum 0x795A and the first I/O byte.
inline constexpr uint32_t kHeaderPatternSize = 145;
inline constexpr char kHeaderPattern[kHeaderPatternSize + 1] =
    "SEGA MEGA DRIVE (C)SEGA 1997.JanSONIC COMPILATION                               "
    "SONIC COMPILATION                               GM MK-1190 -01yZJ";
static_assert(sizeof(kHeaderPattern) == kHeaderPatternSize + 1, "header pattern is 145 bytes");

// The header scan: at most this much of each region, up to the top of the
// process's user address space. The work RAM search reads through the same buffer.
inline constexpr uint32_t kScanBufferSize = 62914560;           // 60 MiB

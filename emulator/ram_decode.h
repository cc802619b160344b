// Turning the RAM window into a RamMirror (emulator/ram_mirror.h).
//
// The window is a copy of work RAM from kWindowFirstAddress on, as the emulator
// core keeps it (emulator/game_variables.h). The decode reads each variable of
// the game's table at its window offset, computed from the table by the
// compiler.
//
// [SECTION] WindowOffsetTable
// [SECTION] Creating the snapshot, decoding
#pragma once

#include <cstdint>

#include "emulator/core_layout.h"
#include "emulator/game_variables.h"
#include "emulator/ram_mirror.h"

// [SECTION] WindowOffsetTable: every window offset the tracker reads, one entry
// per variable of the game's table (the object ids as one entry, from the
// first id to the last sampled one; the RAM signature compared at
// identification), indexed by GameVariable.
inline constexpr int kWindowOffsetCount = kGameVariableCount;

inline constexpr uint32_t kWindowOffsetLimit = 65536;

struct WindowOffsetTable {
    uint32_t offset[kWindowOffsetCount];  // window offsets (CoreOffset: bytes in the other half of their word)
    uint32_t span[kWindowOffsetCount];    // bytes the tracker reads from that offset on
};

// The table of a window in Genesis Plus GX's order. Fixed for the life of the program.
const WindowOffsetTable& WindowOffsets();

// True when every entry is below kWindowOffsetLimit and everything read from
// it lies inside the RAM window. The decode's own table is checked with it at
// build time.
constexpr bool WindowOffsetsInBounds(const WindowOffsetTable& table) {
    for (int i = 0; i < kWindowOffsetCount; ++i) {
        const uint32_t offset = table.offset[i];
        const uint32_t span = table.span[i];
        if (offset >= kWindowOffsetLimit || span == 0 || span > kWindowSize || offset > kWindowSize - span) {
            return false;
        }
    }
    return true;
}

// [SECTION] Creating the snapshot, decoding

// Sets up the tracker thread's RamMirror once, before the first attach: zero-
// filled with objectCount (150) set.
void InitRamDecode(RamMirror& ram);

// Decodes one RAM window copy (kWindowSize bytes), kept in `order`, into `ram`:
// every value, the flags, the object ids and both controllers' buttons, all of
// one read and nothing of the reads before. Reads only the window; no
// allocation, no system call, cannot fail.
void DecodeRamWindow(const uint8_t* window, RamByteOrder order, RamMirror& ram);
// The same for a window in Genesis Plus GX's order (RamByteOrder::WordSwapped).
void DecodeRamWindow(const uint8_t* window, RamMirror& ram);


// Turning the RAM window into a RamMirror (emulator/ram_mirror.h).
//
// The window is a copy of work RAM from kWindowFirstAddress on, as the emulator
// core keeps it (emulator/game_variables.h). The decode reads each variable of
// the game's table at its window offset, computed from the table by the
// compiler.
//
// [SECTION] WindowOffsetTable
// [SECTION] Creating the snapshot, decoding, hold counters
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

// [SECTION] Creating the snapshot, decoding, hold counters

// Sets up the tracker thread's RamMirror once, before the first attach: zero-
// filled with objectCount (150) set.
void InitRamDecode(RamMirror& ram);

// Every Prev field takes its partner's value. The first step of every decode;
// alone, it is the previous decode seen once more, as a decode of the same
// window would give it (the values, the object ids and the hold counters stay,
// and the level frame step of a repeated window is 0): the pass whose window
// lost the RAM signature classifies that, and must not find the changes of the
// previous pass (a death, a hit, a release, a lag frame) a second time.
void ShiftPrevFields(RamMirror& ram);

// The same shift from one record to another: every Prev field of `ram` takes
// the value of its partner in `previous` (the other fields stay); the shift
// above is this one with `previous` the record itself.
void ShiftPrevFields(RamMirror& ram, const RamMirror& previous);

// Decodes one RAM window copy (kWindowSize bytes), kept in `order`, into `ram`:
// ShiftPrevFields, then every value, the flags, the object ids and both
// controllers' hold counters. Reads only the window; no allocation, no system
// call, cannot fail.
void DecodeRamWindow(const uint8_t* window, RamByteOrder order, RamMirror& ram);
// The same for a window in Genesis Plus GX's order (RamByteOrder::WordSwapped).
void DecodeRamWindow(const uint8_t* window, RamMirror& ram);

// One controller's hold counters: for each set bit k of `buttons`, counter k
// advances by `levelFrameStep` (level frames since the previous decode, modulo
// 2^32, so a counter that went back steps by its negative); a clear bit resets
// its counter to 0.
void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]);

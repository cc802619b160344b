// Turning the RAM window into a RamMirror (emulator/ram_mirror.h).
//
// The window is a copy of 68000 work RAM 0xFFA000..0xFFFFFF as the emulator
// core keeps it: 16-bit words in the host's little-endian order. So the word at
// even 68000 address A is the little-endian word at window offset A - 0xFFA000,
// the byte at A is at (A - 0xFFA000) ^ 1, and a long has its halves exchanged.
// The offsets below are window offsets, the XOR already applied.
//
// [SECTION] WindowOffsetTable
// [SECTION] Creating the snapshot, decoding, hold counters
#pragma once

#include <cstdint>

#include "emulator/ram_mirror.h"

// [SECTION] WindowOffsetTable: every window offset the tracker reads, one entry
// per decoded source, the object ids as one entry (the first id), and the RAM
// signature compared at identification.
enum WindowOffsetEntry : int {
    kOffsetLevelFrame,       // word 0xFFFE04
    kOffsetTimerFrame,       // byte 0xFFFE25
    kOffsetGlobalFrame,      // long 0xFFFE0C
    kOffsetTimerSeconds,     // byte 0xFFFE24
    kOffsetTimerMinutes,     // byte 0xFFFE23
    kOffsetZone,             // byte 0xFFFE10
    kOffsetAct,              // byte 0xFFFE11
    kOffsetRings,            // word 0xFFFE20
    kOffsetCollectedA,       // byte 0xFFFEF1
    kOffsetCollectedB,       // byte 0xFFFEF3
    kOffsetLives,            // byte 0xFFFE12
    kOffsetContinues,        // byte 0xFFFE18
    kOffsetGameMode,         // byte 0xFFF600
    kOffsetP1PosX,           // word 0xFFB008
    kOffsetP1PosXSub,        // byte 0xFFB00A
    kOffsetP1PosY,           // word 0xFFB00C
    kOffsetP1PosYSub,        // byte 0xFFB00E
    kOffsetP1VelX,           // word 0xFFB010
    kOffsetP1VelY,           // word 0xFFB012
    kOffsetP1Inertia,        // word 0xFFB014
    kOffsetP1HitTimer,       // word 0xFFB030
    kOffsetP1SpindashFlag,   // byte 0xFFB039
    kOffsetP1SpindashCount,  // word 0xFFB03A
    kOffsetP2PosX,           // word 0xFFB048
    kOffsetP2PosXSub,        // byte 0xFFB04A
    kOffsetP2PosY,           // word 0xFFB04C
    kOffsetP2PosYSub,        // byte 0xFFB04E
    kOffsetP2VelX,           // word 0xFFB050
    kOffsetP2VelY,           // word 0xFFB052
    kOffsetP2Inertia,        // byte 0xFFB055 (only the low byte of P2's inertia word)
    kOffsetP2HitTimer,       // word 0xFFB070
    kOffsetP2SpindashFlag,   // byte 0xFFB079
    kOffsetP2SpindashCount,  // word 0xFFB07A
    kOffsetObjectIds,        // byte 0xFFB080, then every 0x40 bytes, 150 of them
    kOffsetP1Buttons,        // byte 0xFFF604
    kOffsetP2Buttons,        // byte 0xFFF606
    kOffsetPause,            // byte 0xFFF63B
    kOffsetDebug,            // byte 0xFFFFB1
    kOffsetSignature,        // 12 bytes from 0xFFFFDC
    kWindowOffsetCount       // 39
};

inline constexpr uint32_t kObjectRecordStride = 64;  // bytes between sampled object records
inline constexpr uint32_t kWindowOffsetLimit = 65536;

struct WindowOffsetTable {
    uint32_t offset[kWindowOffsetCount];  // window offsets (bytes from 0xFFA000, XOR 1 for bytes)
    uint32_t span[kWindowOffsetCount];    // bytes the tracker reads from that offset on
};

// The table itself. Fixed for the life of the program.
const WindowOffsetTable& WindowOffsets();

// True when every entry is below 65536 and everything read from it lies inside
// the RAM window.
bool WindowOffsetsInBounds(const WindowOffsetTable& table);

// Halts the program at once (a breakpoint trap) unless WindowOffsetsInBounds:
// a table that fails is a programming error, never a condition of the game.
void CheckWindowOffsetsOrTrap(const WindowOffsetTable& table);

// [SECTION] Creating the snapshot, decoding, hold counters

// Sets up the tracker thread's RamMirror once, before the first attach: zero-
// filled with objectCount (150) set, and the offset table checked (a bad table
// halts the program).
void InitRamDecode(RamMirror& ram);

// Every Prev field takes its partner's value. The first step of every decode;
// alone, it is the previous decode seen once more, as a decode of the same
// window would give it (the values, the object ids and the hold counters stay,
// and the level frame step of a repeated window is 0): the pass whose window
// lost the RAM signature classifies that, and must not find the changes of the
// previous pass (a death, a hit, a release, a lag frame) a second time.
void ShiftPrevFields(RamMirror& ram);

// The same shift from one record to another: every Prev field of `ram` takes
// the value of its partner in `previous` (the other fields stay). For builders
// of RamMirror sequences that set the values themselves (tests).
void ShiftPrevFields(RamMirror& ram, const RamMirror& previous);

// Decodes one RAM window copy (kWindowSize bytes) into `ram`: ShiftPrevFields,
// then every value, the flags, the object ids and both controllers' hold
// counters. Reads only the window; no allocation, no system call, cannot fail.
void DecodeRamWindow(const uint8_t* window, RamMirror& ram);

// One controller's hold counters: for each set bit k of `buttons`, counter k
// advances by `levelFrameStep` (level frames since the previous decode, modulo
// 2^32, so a counter that went back steps by its negative); a clear bit resets
// its counter to 0.
void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]);

// The emulators Ringwatch looks for, one row each, in the order they are
// looked for. Ringwatch finds the game's work RAM by the game's own RAM
// signature (core_layout.h), not by anything of the emulator's code, so a row
// says only what the emulator's process is called, where in it work RAM can
// lie and in which byte order. Adding an emulator is adding a row.
#pragma once

#include <cstdint>

#include "emulator/core_layout.h"
#include "emulator/game_variables.h"

// Where an emulator keeps the console's work RAM.
enum class RamPlace : uint8_t {
    ModuleImage,     // inside a library's image (its data or zero-filled .bss)
    PrivateMemory,   // anywhere in the process's private writable memory (its heap, say), not in a mapped file
};

// Byte orders searched for, as bits: 1 << RamByteOrder.
inline constexpr uint8_t kOrderSwapped = 1u << static_cast<int>(RamByteOrder::WordSwapped);
inline constexpr uint8_t kOrderBig = 1u << static_cast<int>(RamByteOrder::BigEndian);
inline constexpr uint8_t kOrderEither = kOrderSwapped | kOrderBig;

struct EmulatorRow {
    const char* name;             // after -emulator and in the log: "blastem"
    const char* title;            // in the log: "BlastEm"
    const char* linuxProgram;     // the process's name on Linux; null where there is no Linux build
    const char* windowsProgram;   // on Windows, and on Linux under Wine
    const char* linuxModule;      // the library the row needs loaded, or null for none
    const char* windowsModule;
    RamPlace ramPlace;
    uint64_t fixedOffset;         // ModuleImage: work RAM from the library's load address, tried first; 0: none
    uint8_t byteOrders;           // kOrder* bits: one where the emulator was measured, both where it was not
    bool tried;                   // run here on the real emulator
    // The emulator runs the 68000 in step with the display, so a frame's main
    // loop writes the game's objects across the frame's time, well after the
    // vertical blank stepped the frame counters (BlastEm); a core in a frontend
    // runs a whole frame at once. Such a frame is taken from its last read.
    bool framesWrittenAcross = false;
};

// In the order they are looked for: the first whose process runs (with its
// library, where it needs one) is taken. The RetroArch rows share the process
// and differ by the core loaded; RetroArch keeps its rule of old: work RAM in
// the core's image, the long-known offset first. Fusion is reported to keep
// the 68000's order; the rows not run here search both orders.
inline constexpr EmulatorRow kEmulatorTable[] = {
    {"retroarch", "RetroArch with Genesis Plus GX", "retroarch", "retroarch.exe", "genesis_plus_gx_libretro.so",
     "genesis_plus_gx_libretro.dll", RamPlace::ModuleImage, kWorkRamOffsetInModule, kOrderSwapped, true},
    {"retroarch-picodrive", "RetroArch with PicoDrive", "retroarch", "retroarch.exe", "picodrive_libretro.so",
     "picodrive_libretro.dll", RamPlace::ModuleImage, 0, kOrderEither, false},
    // BlastEm's code keeps work RAM on the heap, in RetroArch too.
    {"retroarch-blastem", "RetroArch with BlastEm", "retroarch", "retroarch.exe", "blastem_libretro.so",
     "blastem_libretro.dll", RamPlace::PrivateMemory, 0, kOrderEither, false},
    {"blastem", "BlastEm", "blastem", "blastem.exe", nullptr, nullptr, RamPlace::PrivateMemory, 0, kOrderSwapped,
     true, true},
    // Its Genesis Plus GX core runs in a sandboxed region of its own.
    {"bizhawk", "BizHawk", nullptr, "EmuHawk.exe", nullptr, nullptr, RamPlace::PrivateMemory, 0, kOrderEither, false},
    {"fusion", "Kega Fusion", nullptr, "Fusion.exe", nullptr, nullptr, RamPlace::PrivateMemory, 0, kOrderEither,
     false},
};
inline constexpr int kEmulatorRowCount = sizeof kEmulatorTable / sizeof kEmulatorTable[0];

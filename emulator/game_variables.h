// The game's variables in the console's work RAM: Sonic 2's own 68000
// addresses, and where the emulator core keeps each of them.
//
// The core keeps work RAM (68000 addresses 0xFF0000..0xFFFFFF) as 16-bit words
// in the host's little-endian order. So the word at even address A is the
// little-endian word at offset A - first, the byte at A lies at (A - first) ^ 1,
// and a long, which the 68000 keeps high word first, has its halves exchanged.
// Every offset, XOR and half swap is computed here from the table, by the
// compiler; nothing else spells an address.
//
// [SECTION] Work RAM and the window
// [SECTION] The table
// [SECTION] Values in the core's byte order
#pragma once

#include <cstdint>

// [SECTION] Work RAM and the window

inline constexpr uint32_t kWorkRamFirstAddress = 0xFF0000;   // 68000 address of work RAM's first byte
inline constexpr uint32_t kWorkRamSize = 0x10000;            // 64 KiB, to the end of the address space
inline constexpr uint32_t kWindowFirstAddress = 0xFFA000;    // the window read every pass: to the end of work RAM
inline constexpr uint32_t kObjectRecordStride = 64;          // bytes between object records
inline constexpr uint32_t kStartButton = 0x80;               // Start in a controller's held and pressed bytes

// How an emulator keeps work RAM's 16-bit words. Genesis Plus GX and BlastEm
// keep each in the host's little-endian order, so every byte pair of the
// 68000's view is swapped; an emulator may also keep the 68000's own order.
enum class RamByteOrder : uint8_t {
    WordSwapped,   // 16-bit words, little-endian: the byte at A lies at (A - first) ^ 1
    BigEndian,     // the 68000's order: the byte at A lies at A - first
};
inline constexpr int kRamByteOrderCount = 2;

// [SECTION] The table: one row per variable, in this order.
enum GameVariable : int {
    kVarLevelFrame,
    kVarTimerFrame,
    kVarGlobalFrame,
    kVarTimerSeconds,
    kVarTimerMinutes,
    kVarZone,
    kVarAct,
    kVarRings,
    kVarCollectedA,
    kVarCollectedB,
    kVarLives,
    kVarContinues,
    kVarGameMode,
    kVarP1PosX,
    kVarP1PosXSub,
    kVarP1PosY,
    kVarP1PosYSub,
    kVarP1VelX,
    kVarP1VelY,
    kVarP1Inertia,
    kVarP1HitTimer,
    kVarP1SpindashFlag,
    kVarP1SpindashCount,
    kVarP2PosX,
    kVarP2PosXSub,
    kVarP2PosY,
    kVarP2PosYSub,
    kVarP2VelX,
    kVarP2VelY,
    kVarP2Inertia,
    kVarP2HitTimer,
    kVarP2SpindashFlag,
    kVarP2SpindashCount,
    kVarObjectIds,
    kVarP1Buttons,
    kVarP2Buttons,
    kVarP1Pressed,
    kVarP2Pressed,
    kVarPause,
    kVarDebug,
    kVarSignature,
    kGameVariableCount   // 41
};

struct GameVariableInfo {
    const char* name;    // as the stand-in's scenarios name it
    uint32_t address;    // 68000 address (words and longs: even)
    uint32_t width;      // bytes: 1, 2 or 4; the signature its 12 bytes
    bool isSigned;       // two's complement
};

inline constexpr GameVariableInfo kGameVariables[kGameVariableCount] = {
    {"levelFrame", 0xFFFE04, 2, false},       // level frame counter
    {"timerFrame", 0xFFFE25, 1, false},       // game timer: sixtieths
    {"globalFrame", 0xFFFE0C, 4, false},      // global frame counter, every vertical blank
    {"timerSeconds", 0xFFFE24, 1, false},     // game timer: seconds
    {"timerMinutes", 0xFFFE23, 1, false},     // game timer: minutes
    {"zone", 0xFFFE10, 1, false},             // current zone
    {"act", 0xFFFE11, 1, false},              // current act, from 0
    {"rings", 0xFFFE20, 2, false},            // ring count
    {"collectedA", 0xFFFEF1, 1, false},       // collected figure, first addend (low byte of its word)
    {"collectedB", 0xFFFEF3, 1, false},       // collected figure, second addend (low byte of its word)
    {"lives", 0xFFFE12, 1, false},
    {"continues", 0xFFFE18, 1, false},
    {"gameMode", 0xFFF600, 1, false},         // the game's main mode
    {"p1PosX", 0xFFB008, 2, false},           // main character's record (object 0): pixels
    {"p1PosXSub", 0xFFB00A, 1, false},        // 256ths of a pixel
    {"p1PosY", 0xFFB00C, 2, false},
    {"p1PosYSub", 0xFFB00E, 1, false},
    {"p1VelX", 0xFFB010, 2, true},
    {"p1VelY", 0xFFB012, 2, true},
    {"p1Inertia", 0xFFB014, 2, true},
    {"p1HitTimer", 0xFFB030, 2, false},       // 120 on the frame the character is hit
    {"p1SpindashFlag", 0xFFB039, 1, false},   // non-zero while a spindash charges
    {"p1SpindashCount", 0xFFB03A, 2, false},  // spindash charge
    {"p2PosX", 0xFFB048, 2, false},           // sidekick's record (object 1), the same fields
    {"p2PosXSub", 0xFFB04A, 1, false},
    {"p2PosY", 0xFFB04C, 2, false},
    {"p2PosYSub", 0xFFB04E, 1, false},
    {"p2VelX", 0xFFB050, 2, true},
    {"p2VelY", 0xFFB052, 2, true},
    {"p2Inertia", 0xFFB054, 2, true},
    {"p2HitTimer", 0xFFB070, 2, false},
    {"p2SpindashFlag", 0xFFB079, 1, false},
    {"p2SpindashCount", 0xFFB07A, 2, false},
    {"object", 0xFFB080, 1, false},           // id of object record 2; record i's every kObjectRecordStride bytes on
    {"p1Buttons", 0xFFF604, 1, false},        // controller 1 held (then its pressed byte)
    {"p2Buttons", 0xFFF606, 1, false},        // controller 2 held (then its pressed byte)
    {"p1Pressed", 0xFFF605, 1, false},        // controller 1: buttons newly down at the latest read
    {"p2Pressed", 0xFFF607, 1, false},        // controller 2: the same
    {"pause", 0xFFF63B, 1, false},            // non-zero while the game is paused
    {"debug", 0xFFFFB1, 1, false},            // non-zero while debug mode is on
    {"signature", 0xFFFFDC, 12, false},       // the game's check: "init", 0x00020000, "SEGA"
};

constexpr uint32_t GameAddress(GameVariable v) { return kGameVariables[v].address; }
constexpr uint32_t GameWidth(GameVariable v) { return kGameVariables[v].width; }

// The two players' object records, before the first sampled object.
inline constexpr uint32_t kPlayerRecordsAddress = GameAddress(kVarObjectIds) - 2 * kObjectRecordStride;

// Where the byte, word or long at 68000 `address` starts in a copy of RAM
// whose first byte is at `firstAddress` (even): a byte in the other half of
// its word, a word or long where it is.
constexpr uint32_t CoreOffset(uint32_t address, uint32_t width, uint32_t firstAddress) {
    const uint32_t offset = address - firstAddress;
    return width == 1 ? offset ^ 1u : offset;
}

// The same in a copy kept in `order`: in the 68000's own order a byte is
// where it is too.
constexpr uint32_t RamOffset(uint32_t address, uint32_t width, uint32_t firstAddress, RamByteOrder order) {
    return order == RamByteOrder::WordSwapped ? CoreOffset(address, width, firstAddress) : address - firstAddress;
}

// The variable's offset in the window.
constexpr uint32_t WindowOffsetOf(GameVariable v) {
    return CoreOffset(GameAddress(v), GameWidth(v), kWindowFirstAddress);
}

namespace game_variables_check {
constexpr bool TableIsSound() {
    for (int i = 0; i < kGameVariableCount; ++i) {
        const GameVariableInfo& v = kGameVariables[i];
        if (v.address < kWindowFirstAddress || v.address + v.width > kWorkRamFirstAddress + kWorkRamSize) return false;
        if (v.width != 1 && (v.address & 1u) != 0) return false;
    }
    return true;
}
static_assert(TableIsSound(), "a game variable outside the window, or a word or long at an odd address");
}  // namespace game_variables_check

// [SECTION] Values in the core's byte order, at an offset into a copy of RAM
// (the offset of a byte from CoreOffset, of a word or long even).

inline uint32_t CoreLoadWord(const uint8_t* bytes, uint32_t offset) {
    return uint32_t{bytes[offset]} | uint32_t{bytes[offset + 1]} << 8;
}

// The 68000 keeps the high half of a long first; each half is a little-endian
// word in the copy, so the halves come out exchanged.
inline uint32_t CoreLoadLong(const uint8_t* bytes, uint32_t offset) {
    return CoreLoadWord(bytes, offset) << 16 | CoreLoadWord(bytes, offset + 2);
}

inline void CoreStoreWord(uint8_t* bytes, uint32_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void CoreStoreLong(uint8_t* bytes, uint32_t offset, uint32_t value) {
    CoreStoreWord(bytes, offset, static_cast<uint16_t>(value >> 16));
    CoreStoreWord(bytes, offset + 2, static_cast<uint16_t>(value));
}

// [SECTION] Values in either byte order (RamByteOrder), at an offset from RamOffset.

template <RamByteOrder O>
inline uint32_t RamLoadWord(const uint8_t* bytes, uint32_t offset) {
    if constexpr (O == RamByteOrder::WordSwapped) {
        return CoreLoadWord(bytes, offset);
    } else {
        return uint32_t{bytes[offset]} << 8 | uint32_t{bytes[offset + 1]};
    }
}

template <RamByteOrder O>
inline uint32_t RamLoadLong(const uint8_t* bytes, uint32_t offset) {
    return RamLoadWord<O>(bytes, offset) << 16 | RamLoadWord<O>(bytes, offset + 2);
}

inline uint32_t RamLoadLong(const uint8_t* bytes, uint32_t offset, RamByteOrder order) {
    return order == RamByteOrder::WordSwapped ? RamLoadLong<RamByteOrder::WordSwapped>(bytes, offset)
                                              : RamLoadLong<RamByteOrder::BigEndian>(bytes, offset);
}

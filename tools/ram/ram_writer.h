// Writing and reading values in a copy of 68000 work RAM laid out as the
// emulator core keeps it (emulator/game_variables.h), by the game's own
// addresses: how the stand-in emulator, the test cartridge's generator, the
// tests and the benchmarks build RAM contents that the decode then reads.
#pragma once

#include <cstdint>

#include "emulator/game_variables.h"

struct RamWriter {
    uint8_t* bytes;          // the RAM buffer (not owned)
    uint32_t size;           // its size in bytes
    uint32_t firstAddress;   // 68000 address of bytes[0]; even (kWindowFirstAddress, kWorkRamFirstAddress)
    RamByteOrder order = RamByteOrder::WordSwapped;   // how the buffer keeps words: as the core, or the 68000's own
};

// Each returns false and writes nothing when the address lies outside the
// buffer, when a word or long address is odd (the 68000 cannot access it), or
// when firstAddress is odd.

// The byte at 68000 address A goes to bytes[(A - firstAddress) ^ 1] (in the
// 68000's order, bytes[A - firstAddress], and words and longs high byte first).
bool RamWriteByte(const RamWriter& ram, uint32_t address, uint8_t value);
// The word at even A goes to bytes[A - firstAddress], low byte first.
bool RamWriteWord(const RamWriter& ram, uint32_t address, uint16_t value);
// The long at even A is two words, the high one at A: in the buffer its halves
// come out exchanged.
bool RamWriteLong(const RamWriter& ram, uint32_t address, uint32_t value);
// Width 1, 2 or 4 (anything else writes nothing), the value cut to the width.
bool RamWrite(const RamWriter& ram, uint32_t address, uint32_t width, uint32_t value);

// The readers of the same layout: each returns false and leaves `value` alone
// where the writer of its width would write nothing.
bool RamReadByte(const RamWriter& ram, uint32_t address, uint8_t* value);
bool RamReadWord(const RamWriter& ram, uint32_t address, uint16_t* value);
bool RamReadLong(const RamWriter& ram, uint32_t address, uint32_t* value);
// Width 1, 2 or 4; 0 where the reader of the width would read nothing.
uint32_t RamRead(const RamWriter& ram, uint32_t address, uint32_t width);

// The same by the game's variable (a byte, word or long of the table).
inline bool RamWriteVariable(const RamWriter& ram, GameVariable v, uint32_t value) {
    return RamWrite(ram, GameAddress(v), GameWidth(v), value);
}
inline uint32_t RamReadVariable(const RamWriter& ram, GameVariable v) {
    return RamRead(ram, GameAddress(v), GameWidth(v));
}

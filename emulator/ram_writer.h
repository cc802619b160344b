// Writing and reading values in a copy of 68000 work RAM laid out as the
// emulator core keeps it: 16-bit words in the host's little-endian order. Used
// to build RAM contents by the game's own addresses (the stand-in emulator,
// tests, the fuzz input); the decode reads the same layout at fixed offsets.
#pragma once

#include <cstdint>

struct RamWriter {
    uint8_t* bytes;          // the RAM buffer (not owned)
    uint32_t size;           // its size in bytes
    uint32_t firstAddress;   // 68000 address of bytes[0]; even (0xFFA000 for a window, 0xFF0000 for all work RAM)
};

// Each returns false and writes nothing when the address lies outside the
// buffer, when a word or long address is odd (the 68000 cannot access it), or
// when firstAddress is odd.

// The byte at 68000 address A goes to bytes[(A - firstAddress) ^ 1].
bool RamWriteByte(const RamWriter& ram, uint32_t address, uint8_t value);
// The word at even A goes to bytes[A - firstAddress], low byte first.
bool RamWriteWord(const RamWriter& ram, uint32_t address, uint16_t value);
// The long at even A is two words, the high one at A: in the buffer its halves
// come out exchanged.
bool RamWriteLong(const RamWriter& ram, uint32_t address, uint32_t value);

// The readers of the same layout: each returns false and leaves `value` alone
// where the writer of its width would write nothing.
bool RamReadByte(const RamWriter& ram, uint32_t address, uint8_t* value);
bool RamReadWord(const RamWriter& ram, uint32_t address, uint16_t* value);
bool RamReadLong(const RamWriter& ram, uint32_t address, uint32_t* value);

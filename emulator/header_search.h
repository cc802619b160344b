// Finding the cartridge header in a block of the emulator's memory.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr ptrdiff_t kHeaderNotFound = -1;

// The first position in data[0, size) at which a copy of the 145-byte
// cartridge header pattern starts, or kHeaderNotFound. A copy is either in
// the ROM file's byte order (the frontend's copy of the file) or as the core
// keeps the cartridge, every byte pair swapped (146 bytes, see the source).
// Candidates are the positions holding 'S' whose byte 144 further on holds
// the pattern's last byte, which both forms share; the whole pattern is
// compared only there, so the cost is about one pass over the block, also
// where 'S' bytes are common.
ptrdiff_t FindHeaderPattern(const uint8_t* data, size_t size);

// Finding the cartridge header in a block of the emulator's memory.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr ptrdiff_t kHeaderNotFound = -1;

// The first position in data[0, size) at which the 145-byte cartridge header
// pattern starts, or kHeaderNotFound. Candidates are the positions holding the
// pattern's first byte 'S' (with vector instructions, only those whose byte
// 144 further on also holds the pattern's last byte); the whole pattern is
// compared only there, so the cost is about one pass over the block, also
// where 'S' bytes are common.
ptrdiff_t FindHeaderPattern(const uint8_t* data, size_t size);

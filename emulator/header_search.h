// Finding the cartridge header in a block of the emulator's memory.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr ptrdiff_t kHeaderNotFound = -1;

// The first position in data[0, size) at which the 145-byte cartridge header
// pattern starts, or kHeaderNotFound. Candidates are found with memchr on the
// pattern's first byte 'S'; the whole pattern is compared only there, so the
// cost is close to one pass of memchr over the block.
ptrdiff_t FindHeaderPattern(const uint8_t* data, size_t size);

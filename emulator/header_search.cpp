#include "emulator/header_search.h"

#include <cstring>

#include "emulator/contract.h"

ptrdiff_t FindHeaderPattern(const uint8_t* data, size_t size) {
    if (size < kHeaderPatternSize) return kHeaderNotFound;
    const uint8_t* pattern = reinterpret_cast<const uint8_t*>(kHeaderPattern);
    // Every 'S' that leaves room for the whole pattern is a candidate.
    const uint8_t* cursor = data;
    const uint8_t* lastStart = data + (size - kHeaderPatternSize);
    while (cursor <= lastStart) {
        const void* hit = std::memchr(cursor, pattern[0], static_cast<size_t>(lastStart - cursor) + 1);
        if (hit == nullptr) break;
        const uint8_t* candidate = static_cast<const uint8_t*>(hit);
        // The second and last bytes first: most stray 'S' bytes fail there
        // without a call.
        if (candidate[1] == pattern[1] && candidate[kHeaderPatternSize - 1] == pattern[kHeaderPatternSize - 1] &&
            std::memcmp(candidate, pattern, kHeaderPatternSize) == 0) {
            return candidate - data;
        }
        cursor = candidate + 1;
    }
    return kHeaderNotFound;
}

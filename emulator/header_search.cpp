#include "emulator/header_search.h"

#include <cstring>

#include "emulator/core_layout.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const uint8_t* Pattern() { return reinterpret_cast<const uint8_t*>(kHeaderPattern); }

bool MatchesAt(const uint8_t* candidate) { return std::memcmp(candidate, Pattern(), kHeaderPatternSize) == 0; }

// Candidates one 'S' at a time, found with memchr: the whole search where
// there are no vector instructions, and the tail of the vector search.
ptrdiff_t SearchWithMemchr(const uint8_t* data, size_t from, size_t positions) {
    const uint8_t* pattern = Pattern();
    const uint8_t* cursor = data + from;
    const uint8_t* lastStart = data + positions - 1;
    while (cursor <= lastStart) {
        const void* hit = std::memchr(cursor, pattern[0], static_cast<size_t>(lastStart - cursor) + 1);
        if (hit == nullptr) break;
        const uint8_t* candidate = static_cast<const uint8_t*>(hit);
        // The second and last bytes first: most stray 'S' bytes fail there
        // without a call.
        if (candidate[1] == pattern[1] && candidate[kHeaderPatternSize - 1] == pattern[kHeaderPatternSize - 1] &&
            MatchesAt(candidate)) {
            return candidate - data;
        }
        cursor = candidate + 1;
    }
    return kHeaderNotFound;
}

#if defined(__SSE2__)

// 32 start positions at a time. A position is a candidate when it holds 'S'
// and the byte where the pattern's last byte would lie matches too: one
// comparison of each against a whole block, so that memory full of 'S' bytes
// (text, say) costs no more than any other, where memchr would stop at each.
constexpr size_t kBlockPositions = 32;

size_t VectorPositions(size_t positions) { return positions - positions % kBlockPositions; }

// Bit k set when position k of the block at `at` is a candidate.
uint32_t BlockCandidates(const uint8_t* at, __m128i first, __m128i last) {
    constexpr size_t kLastOffset = kHeaderPatternSize - 1;
    const auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i low = _mm_and_si128(_mm_cmpeq_epi8(load(at), first), _mm_cmpeq_epi8(load(at + kLastOffset), last));
    const __m128i high =
        _mm_and_si128(_mm_cmpeq_epi8(load(at + 16), first), _mm_cmpeq_epi8(load(at + 16 + kLastOffset), last));
    return static_cast<uint32_t>(_mm_movemask_epi8(low)) | static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
}

// The first match among start positions [0, vectorPositions), a multiple of
// the block: every byte loaded lies below vectorPositions - 1 + 145.
ptrdiff_t SearchBlocks(const uint8_t* data, size_t vectorPositions) {
    const __m128i first = _mm_set1_epi8(static_cast<char>(kHeaderPattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(kHeaderPattern[kHeaderPatternSize - 1]));
    for (size_t block = 0; block < vectorPositions; block += kBlockPositions) {
        uint32_t candidates = BlockCandidates(data + block, first, last);
        while (candidates != 0) {
            const size_t position = block + static_cast<size_t>(__builtin_ctz(candidates));
            if (MatchesAt(data + position)) return static_cast<ptrdiff_t>(position);
            candidates &= candidates - 1;
        }
    }
    return kHeaderNotFound;
}

#else

size_t VectorPositions(size_t) { return 0; }
ptrdiff_t SearchBlocks(const uint8_t*, size_t) { return kHeaderNotFound; }

#endif

}  // namespace

ptrdiff_t FindHeaderPattern(const uint8_t* data, size_t size) {
    if (size < kHeaderPatternSize) return kHeaderNotFound;
    const size_t positions = size - kHeaderPatternSize + 1;   // every start that leaves room for the pattern
    const size_t vectorPositions = VectorPositions(positions);
    const ptrdiff_t found = SearchBlocks(data, vectorPositions);
    if (found != kHeaderNotFound) return found;
    return SearchWithMemchr(data, vectorPositions, positions);
}

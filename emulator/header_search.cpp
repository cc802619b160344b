#include "emulator/header_search.h"

#include <cstring>

#include "emulator/core_layout.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const uint8_t* Pattern() { return reinterpret_cast<const uint8_t*>(kHeaderPattern); }

// The header as the core keeps the cartridge: the 68000 reads big-endian
// words, so the core stores each word in host order, every byte pair of the
// ROM swapped. The header starts at an even ROM address (0x100), so its first
// 144 bytes stay within their 72 pairs, pair by pair reversed; its 145th byte,
// the first of an even pair, lands one byte further on, behind the pair's
// second byte, which is not part of the header. A swapped copy starting at s
// has 'E' at s, 'S' at s + 1 and 'J' at s + 145.
constexpr size_t kSwappedPairsSize = kHeaderPatternSize - 1;   // 144 bytes, 72 pairs
constexpr size_t kSwappedSize = kHeaderPatternSize + 1;        // 146 bytes, the foreign one included

struct SwappedPattern {
    uint8_t pairs[kSwappedPairsSize];
    constexpr SwappedPattern() : pairs() {
        for (size_t i = 0; i < kSwappedPairsSize; ++i) pairs[i] = static_cast<uint8_t>(kHeaderPattern[i ^ 1]);
    }
};
constexpr SwappedPattern kSwapped;

bool MatchesAt(const uint8_t* candidate) { return std::memcmp(candidate, Pattern(), kHeaderPatternSize) == 0; }

bool MatchesSwappedAt(const uint8_t* candidate) {
    return candidate[kSwappedSize - 1] == Pattern()[kHeaderPatternSize - 1] &&
           std::memcmp(candidate, kSwapped.pairs, kSwappedPairsSize) == 0;
}

// Position q holds 'S' and q + 144 the last byte 'J': the start of a copy in
// file order at q, or of a swapped copy at q - 1 (its 'S' is its second byte
// and its 'J' lies 145 on). Both forms are looked at by the same candidates;
// the swapped one first, as it starts earlier (both can't match at once: the
// byte after q would have to be 'E' and 'A').
ptrdiff_t MatchAtCandidate(const uint8_t* data, size_t q) {
    if (q >= 1 && MatchesSwappedAt(data + q - 1)) return static_cast<ptrdiff_t>(q - 1);
    if (MatchesAt(data + q)) return static_cast<ptrdiff_t>(q);
    return kHeaderNotFound;
}

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
        // The last byte first: most stray 'S' bytes fail there without a call.
        if (candidate[kHeaderPatternSize - 1] == pattern[kHeaderPatternSize - 1]) {
            const ptrdiff_t found = MatchAtCandidate(data, static_cast<size_t>(candidate - data));
            if (found != kHeaderNotFound) return found;
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
            const ptrdiff_t found = MatchAtCandidate(data, block + static_cast<size_t>(__builtin_ctz(candidates)));
            if (found != kHeaderNotFound) return found;
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
    // Every position q that leaves room for a copy in file order at q, which
    // is also every one that leaves room for a swapped copy at q - 1.
    const size_t positions = size - kHeaderPatternSize + 1;
    const size_t vectorPositions = VectorPositions(positions);
    const ptrdiff_t found = SearchBlocks(data, vectorPositions);
    if (found != kHeaderNotFound) return found;
    return SearchWithMemchr(data, vectorPositions, positions);
}

#include "emulator/work_ram_search.h"

#include <cstring>
#include <initializer_list>

namespace {

// The first hit of one order's signature in data[0, size), at an even address.
ptrdiff_t FindInOrder(const uint8_t* data, size_t size, uint64_t address, const uint8_t* signature) {
    if (size < kSignatureSize) return kSignatureNotFound;
    const uint8_t* cursor = data;
    const uint8_t* lastStart = data + size - kSignatureSize;
    // Memory is mostly zeros: memchr skips them fast.
    while (cursor <= lastStart) {
        const void* hit = std::memchr(cursor, signature[0], static_cast<size_t>(lastStart - cursor) + 1);
        if (hit == nullptr) break;
        const uint8_t* candidate = static_cast<const uint8_t*>(hit);
        const ptrdiff_t position = candidate - data;
        if ((address + static_cast<uint64_t>(position)) % 2 == 0 &&
            std::memcmp(candidate, signature, kSignatureSize) == 0) {
            return position;
        }
        cursor = candidate + 1;
    }
    return kSignatureNotFound;
}

struct SignatureSearch {
    uint64_t lowest;       // work RAM must start at or above this
    uint64_t highest;      // and end at or below this (UINT64_MAX: the piece's end)
    uint8_t orders;
    bool wholeInPiece;     // work RAM must lie in the piece read too
    RamCopy* copies;       // the hits kept
    int capacity;
    int count;
};

// Every hit in the piece whose work RAM lies inside the search's bounds and
// the piece, until the copies are full (true ends the walk).
bool SignatureInPiece(void* context, const uint8_t* bytes, size_t size, uint64_t address) {
    SignatureSearch& search = *static_cast<SignatureSearch*>(context);
    uint64_t highest = search.highest;
    uint64_t lowest = search.lowest;
    if (search.wholeInPiece) {
        if (highest > address + size) highest = address + size;
        if (lowest < address) lowest = address;
    }
    for (size_t from = 0; from < size;) {
        RamByteOrder order = RamByteOrder::WordSwapped;
        const ptrdiff_t found = FindRamSignature(bytes + from, size - from, address + from, search.orders, &order);
        if (found == kSignatureNotFound) return false;
        const uint64_t hit = address + from + static_cast<uint64_t>(found);
        if (hit >= lowest + kSignatureRamOffset && hit - kSignatureRamOffset + kWorkRamSize <= highest) {
            search.copies[search.count++] = {hit - kSignatureRamOffset, order};
            if (search.count == search.capacity) return true;
        }
        from += static_cast<size_t>(found) + 1;
    }
    return false;
}

}  // namespace

const uint8_t* RamSignature(RamByteOrder order) {
    return order == RamByteOrder::WordSwapped ? kRamSignature : kRamSignatureBig;
}

ptrdiff_t FindRamSignature(const uint8_t* data, size_t size, uint64_t address, uint8_t orders, RamByteOrder* order) {
    if (size < kSignatureSize) return kSignatureNotFound;
    ptrdiff_t first = kSignatureNotFound;
    for (const RamByteOrder each : {RamByteOrder::WordSwapped, RamByteOrder::BigEndian}) {
        if ((orders & (1u << static_cast<int>(each))) == 0) continue;
        const size_t within = first == kSignatureNotFound ? size : static_cast<size_t>(first) + kSignatureSize - 1;
        const ptrdiff_t found = FindInOrder(data, within, address, RamSignature(each));
        if (found == kSignatureNotFound) continue;
        first = found;
        if (order != nullptr) *order = each;
    }
    return first;
}

bool SearchWorkRam(const ProcessApi& api, ProcessHandle process, uint64_t imageBase, uint64_t imageSize,
                   uint8_t orders, const WalkStorage& storage, RamCopy* found) {
    const uint64_t imageEnd = imageBase + imageSize;
    if (imageEnd < imageBase || storage.bufferSize < kSignatureSize) return false;
    SignatureSearch search{imageBase, imageEnd, orders, false, found, 1, 0};
    const MemoryWalk walk{imageBase, imageEnd, kSignatureSize - 1, false, SignatureInPiece, &search};
    bool stopped = false;
    WalkReadableMemory(api, process, walk, storage, &stopped);
    return search.count == 1;
}

int SearchRamCopies(const ProcessApi& api, ProcessHandle process, uint8_t orders, const WalkStorage& storage,
                    RamCopy* copies, int capacity) {
    if (capacity <= 0 || storage.bufferSize < kWorkRamSize) return 0;
    SignatureSearch search{0, UINT64_MAX, orders, true, copies, capacity, 0};
    const MemoryWalk walk{0, UINT64_MAX, 0, true, SignatureInPiece, &search, true};
    bool stopped = false;
    WalkReadableMemory(api, process, walk, storage, &stopped);
    return search.count;
}

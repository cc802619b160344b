#include "emulator/work_ram_search.h"

#include <cstring>

namespace {

struct SignatureSearch {
    uint64_t imageBase;
    uint64_t imageEnd;
    uint64_t ramBase;      // set when found
};

// The first signature in the piece whose work RAM lies inside the image.
bool SignatureInPiece(void* context, const uint8_t* bytes, size_t size, uint64_t address) {
    SignatureSearch& search = *static_cast<SignatureSearch*>(context);
    for (size_t from = 0; from < size;) {
        const ptrdiff_t found = FindRamSignature(bytes + from, size - from, address + from);
        if (found == kSignatureNotFound) return false;
        const uint64_t hit = address + from + static_cast<uint64_t>(found);
        if (hit >= search.imageBase + kSignatureRamOffset &&
            hit - kSignatureRamOffset + kWorkRamSize <= search.imageEnd) {
            search.ramBase = hit - kSignatureRamOffset;
            return true;
        }
        from += static_cast<size_t>(found) + 1;
    }
    return false;
}

}  // namespace

ptrdiff_t FindRamSignature(const uint8_t* data, size_t size, uint64_t address) {
    if (size < kSignatureSize) return kSignatureNotFound;
    const uint8_t* cursor = data;
    const uint8_t* lastStart = data + size - kSignatureSize;
    // The image is mostly zeros: memchr skips them fast.
    while (cursor <= lastStart) {
        const void* hit = std::memchr(cursor, kRamSignature[0], static_cast<size_t>(lastStart - cursor) + 1);
        if (hit == nullptr) break;
        const uint8_t* candidate = static_cast<const uint8_t*>(hit);
        const ptrdiff_t position = candidate - data;
        if ((address + static_cast<uint64_t>(position)) % 2 == 0 &&
            std::memcmp(candidate, kRamSignature, kSignatureSize) == 0) {
            return position;
        }
        cursor = candidate + 1;
    }
    return kSignatureNotFound;
}

bool SearchWorkRam(const ProcessApi& api, ProcessHandle process, uint64_t imageBase, uint64_t imageSize,
                   const WalkStorage& storage, uint64_t* ramBase) {
    SignatureSearch search{imageBase, imageBase + imageSize, 0};
    if (search.imageEnd < imageBase || storage.bufferSize < kSignatureSize) return false;
    const MemoryWalk walk{imageBase, search.imageEnd, kSignatureSize - 1, false, SignatureInPiece, &search};
    bool found = false;
    WalkReadableMemory(api, process, walk, storage, &found);
    if (found) *ramBase = search.ramBase;
    return found;
}

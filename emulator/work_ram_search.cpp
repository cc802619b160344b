#include "emulator/work_ram_search.h"

#include <algorithm>
#include <cstring>

namespace {

bool Readable(const MemoryRegion& region) { return region.state == kMemCommit && region.protect != kPageNoAccess; }

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
                   uint8_t* buffer, size_t bufferSize, uint64_t* ramBase) {
    const uint64_t imageEnd = imageBase + imageSize;
    if (imageEnd < imageBase || bufferSize < kSignatureSize) return false;
    uint64_t address = imageBase;
    while (address < imageEnd) {
        MemoryRegion region{};
        if (!api.queryRegion(process, address, &region)) return false;
        const uint64_t regionEnd = std::min(region.baseAddress + region.regionSize, imageEnd);
        if (regionEnd <= address) return false;   // a region that doesn't move the walk on
        if (Readable(region)) {
            for (uint64_t at = address;;) {
                const size_t size = static_cast<size_t>(std::min<uint64_t>(bufferSize, regionEnd - at));
                if (!api.readMemory(process, at, buffer, size)) break;
                for (size_t from = 0; from < size;) {
                    const ptrdiff_t found = FindRamSignature(buffer + from, size - from, at + from);
                    if (found == kSignatureNotFound) break;
                    const uint64_t hit = at + from + static_cast<uint64_t>(found);
                    if (hit >= imageBase + kSignatureRamOffset && hit - kSignatureRamOffset + kWorkRamSize <= imageEnd) {
                        *ramBase = hit - kSignatureRamOffset;
                        return true;
                    }
                    from += static_cast<size_t>(found) + 1;
                }
                if (at + size >= regionEnd) break;
                at += size - (kSignatureSize - 1);
            }
        }
        address = regionEnd;
    }
    return false;
}

#include "emulator/work_ram_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/fake_process_api.h"

namespace {

constexpr uint64_t kBase = 0x7F0000000000ull;   // the core's load address
constexpr uint64_t kImage = 0x400000;           // its image's size
constexpr size_t kMiB = 1 << 20;

FakeRegion Region(uint64_t offset, uint64_t size, uint32_t protect = kPageReadWrite, bool readFails = false) {
    return {kBase + offset, size, kMemCommit, protect, readFails, {}};
}

struct SearchCase {
    const char* name;
    std::vector<FakeRegion> regions;
    std::vector<uint64_t> copies;   // offsets of signature copies from the load address
    size_t bufferSize;
    int64_t expectedRam;            // offset of the work RAM found, or -1
};

// The image [kBase, kBase + kImage) is searched, the process's regions
// possibly reaching beyond it.
TEST(WorkRamSearch, TakesTheFirstSignatureWhoseWholeRamFitsTheImage) {
    const int64_t ram = 0x82A06;   // even
    const uint64_t sig = ram + kSignatureRamOffset;
    const SearchCase cases[] = {
        {"in the image's data", {Region(0, 0x1000, kPageReadOnly), Region(0x1000, kImage - 0x1000)}, {sig}, kMiB, ram},
        {"at an odd address: not work RAM", {Region(0, kImage)}, {sig + 1}, kMiB, -1},
        {"too near the start for the RAM before it", {Region(0, kImage)}, {kSignatureRamOffset - 2}, kMiB, -1},
        {"at the very start of where it may lie", {Region(0, kImage)}, {kSignatureRamOffset}, kMiB, 0},
        {"too near the end for the 36 bytes after it", {Region(0, kImage)}, {kImage - 34}, kMiB, -1},
        {"the first copy misplaced, the second taken", {Region(0, kImage)}, {100, sig}, kMiB, ram},
        {"beyond the image", {Region(0, 2 * kImage)}, {kImage + 0x80000}, kMiB, -1},
        {"behind unreadable regions and a gap",
         {Region(0, 0x20000, kPageReadWrite, true), Region(0x20000, 0x1000, kPageNoAccess), Region(0x100000, 0x300000)},
         {0x10010, 0x1000 + 0x20000, 0x300000},
         kMiB,
         0x300000 - kSignatureRamOffset},
        {"across two pieces of a region larger than the buffer", {Region(0, kImage)}, {0x1FFFA}, 0x10000,
         0x1FFFA - kSignatureRamOffset},   // across 0x20000, where pieces without overlap would part
    };
    for (const SearchCase& row : cases) {
        SCOPED_TRACE(row.name);
        FakeSystem system;
        system.regions = row.regions;
        for (uint64_t copy : row.copies) {
            for (FakeRegion& region : system.regions) {
                if (kBase + copy < region.base || kBase + copy + kSignatureSize > region.base + region.size) continue;
                region.bytes.resize(region.size, 0);
                std::memcpy(region.bytes.data() + (kBase + copy - region.base), kRamSignature, kSignatureSize);
            }
        }
        std::vector<uint8_t> buffer(row.bufferSize);
        uint64_t ramBase = 0;
        const bool found = SearchWorkRam(FakeProcessApi(system), nullptr, kBase, kImage, buffer.data(), buffer.size(), &ramBase);
        EXPECT_EQ(found, row.expectedRam >= 0);
        if (found) EXPECT_EQ(ramBase - kBase, static_cast<uint64_t>(row.expectedRam));
    }
}

}  // namespace

#include "emulator/work_ram_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/fake_process_api.h"

namespace {

// The image [base, base + 4 MiB) is searched, the process's regions possibly
// reaching beyond it; copies are offsets of the signature from base.
TEST(WorkRamSearch, TakesTheFirstSignatureWhoseWholeRamFitsTheImage) {
    constexpr uint64_t base = 0x7F0000000000ull, image = 0x400000, sig = 0x82A06 + kSignatureRamOffset;
    const auto region = [&](uint64_t offset, uint64_t size, bool readable = true, bool fails = false) {
        return FakeRegion{base + offset, size, readable, fails, {}};
    };
    const struct {
        const char* name;
        std::vector<FakeRegion> regions;
        std::vector<uint64_t> copies;
        size_t bufferSize;
        int64_t expectedRam;   // offset from base, or -1
    } cases[] = {
        {"in the data", {region(0, 0x1000), region(0x1000, image - 0x1000)}, {sig}, 1 << 20, 0x82A06},
        {"at an odd address: not work RAM", {region(0, image)}, {sig + 1}, 1 << 20, -1},
        {"too near the start for the RAM before it", {region(0, image)}, {kSignatureRamOffset - 2}, 1 << 20, -1},
        {"just far enough from the start", {region(0, image)}, {kSignatureRamOffset}, 1 << 20, 0},
        {"too near the end for the 36 bytes after it", {region(0, image)}, {image - 34}, 1 << 20, -1},
        {"the first copy misplaced, the second taken", {region(0, image)}, {100, sig}, 1 << 20, 0x82A06},
        {"beyond the image", {region(0, 2 * image)}, {image + 0x80000}, 1 << 20, -1},
        {"behind unreadable regions and a gap",
         {region(0, 0x20000, true, true), region(0x20000, 0x1000, false), region(0x100000, 0x300000)},
         {0x10010, 0x20010, 0x300000}, 1 << 20, 0x300000 - kSignatureRamOffset},
        {"across 0x20000, where pieces of a region larger than the buffer would part without overlap",
         {region(0, image)}, {0x1FFFA}, 0x10000, 0x1FFFA - kSignatureRamOffset},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        FakeSystem system;
        system.regions = row.regions;
        for (uint64_t copy : row.copies) {
            for (FakeRegion& r : system.regions) {
                if (base + copy < r.base || base + copy + kSignatureSize > r.base + r.size) continue;
                r.bytes.resize(r.size, 0);
                std::memcpy(r.bytes.data() + (base + copy - r.base), kRamSignature, kSignatureSize);
            }
        }
        std::vector<uint8_t> buffer(row.bufferSize);
        MemoryRange ranges[kRangeListCapacity];
        RamCopy copy{};
        const bool found = SearchWorkRam(FakeProcessApi(system), nullptr, base, image, kOrderSwapped,
                                         {buffer.data(), buffer.size(), ranges, kRangeListCapacity}, &copy);
        EXPECT_EQ(found ? static_cast<int64_t>(copy.ramBase - base) : -1, row.expectedRam);
    }
}

}  // namespace

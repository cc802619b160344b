#include "emulator/header_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "emulator/core_layout.h"

namespace {

// The header as the core holds the cartridge: ROM bytes 0x100..0x191 (the
// pattern and the second I/O byte) with every byte pair swapped.
std::vector<uint8_t> SwappedCopy(uint8_t secondIoByte) {
    std::vector<uint8_t> rom(kHeaderPattern, kHeaderPattern + kHeaderPatternSize);
    rom.push_back(secondIoByte);
    for (size_t i = 0; i < rom.size(); i += 2) std::swap(rom[i], rom[i + 1]);
    return rom;
}

// The plain definition: the first position where all 145 bytes match, in file
// order or swapped (the foreign byte at 144 of the swapped copy not compared).
ptrdiff_t ReferenceSearch(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> swapped = SwappedCopy(0);
    for (size_t start = 0; start < size; ++start) {
        if (start + kHeaderPatternSize <= size && std::memcmp(data + start, kHeaderPattern, kHeaderPatternSize) == 0)
            return static_cast<ptrdiff_t>(start);
        if (start + swapped.size() <= size && std::memcmp(data + start, swapped.data(), 144) == 0 &&
            data[start + 145] == swapped[145])
            return static_cast<ptrdiff_t>(start);
    }
    return kHeaderNotFound;
}

void Plant(std::vector<uint8_t>& data, size_t at, size_t length = kHeaderPatternSize) {
    std::memcpy(data.data() + at, kHeaderPattern, length);
}

void PlantSwapped(std::vector<uint8_t>& data, size_t at, size_t length = kHeaderPatternSize + 1, uint8_t io = 0x20) {
    std::memcpy(data.data() + at, SwappedCopy(io).data(), length);
}

TEST(HeaderSearch, FindsTheSameFirstMatchAsTheReference) {
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        size_t size = random() % 5000;
        std::vector<uint8_t> data(size);
        // Alphabets from all-'S' through header letters to any byte.
        const int alphabet = round % 3;
        for (uint8_t& byte : data) {
            if (alphabet == 0) byte = 'S';
            if (alphabet == 1) byte = static_cast<uint8_t>(kHeaderPattern[random() % kHeaderPatternSize]);
            if (alphabet == 2) byte = static_cast<uint8_t>(random());
        }
        // Whole copies, and prefixes that break off one byte short, in both orders.
        for (int plant = random() % 4; plant > 0 && size > kHeaderPatternSize; --plant) {
            size_t at = random() % (size - kHeaderPatternSize);
            size_t cut = random() % 100;
            if (random() % 2) {
                Plant(data, at, random() % 2 ? kHeaderPatternSize : kHeaderPatternSize - 1 - cut);
            } else {
                PlantSwapped(data, at, random() % 2 ? kHeaderPatternSize + 1 : kHeaderPatternSize - cut,
                             static_cast<uint8_t>(random()));   // the foreign byte: any
            }
        }
        EXPECT_EQ(FindHeaderPattern(data.data(), data.size()), ReferenceSearch(data.data(), data.size()));
    }
}

struct Placement {
    const char* name;
    bool swapped;         // planted as the core keeps it
    size_t size;
    ptrdiff_t at;         // where the copy starts, or -1 for none
    size_t length;        // bytes of the copy planted (swapped: 146 whole)
    ptrdiff_t expected;
};

const Placement kPlacements[] = {
    {"empty block", false, 0, -1, 0, kHeaderNotFound},
    {"block exactly the pattern", false, 145, 0, 145, 0},
    {"block one byte shorter than the pattern", false, 144, 0, 144, kHeaderNotFound},
    {"copy at the start", false, 4096, 0, 145, 0},
    {"copy ending on the last byte", false, 4096, 4096 - 145, 145, 4096 - 145},
    {"copy one byte earlier", false, 4096, 4096 - 146, 145, 4096 - 146},
    {"copy cut by the block's end", false, 4096, 4096 - 144, 144, kHeaderNotFound},
    {"all but the last byte (the I/O field)", false, 4096, 100, 144, kHeaderNotFound},
    {"swapped: block exactly the copy", true, 146, 0, 146, 0},
    {"swapped: copy at an odd position", true, 4096, 777, 146, 777},
    {"swapped: copy ending on the last byte", true, 4096, 4096 - 146, 146, 4096 - 146},
    {"swapped: the 145th byte cut by the block's end", true, 4096, 4096 - 145, 145, kHeaderNotFound},
    {"swapped: without the 145th byte", true, 4096, 100, 145, kHeaderNotFound},
};

TEST(HeaderSearch, PlacementsAtTheEdges) {
    for (const Placement& row : kPlacements) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> data(row.size, 'S');
        const size_t at = static_cast<size_t>(row.at);
        if (row.at >= 0) row.swapped ? PlantSwapped(data, at, row.length) : Plant(data, at, row.length);
        EXPECT_EQ(FindHeaderPattern(data.data(), data.size()), row.expected);
    }
}

// Blocks of start positions are searched together and the positions that
// don't fill a block one by one: a copy, in either order, at every start
// position of buffers whose position count runs through more than two
// blocks, on a background of zeros and of 'S' bytes, is found there.
TEST(HeaderSearch, EveryStartPositionAcrossBlocksAndTail) {
    for (bool swapped : {false, true}) {
        const size_t length = swapped ? kHeaderPatternSize + 1 : kHeaderPatternSize;
        for (uint8_t background : {uint8_t{0}, uint8_t{'S'}}) {
            for (size_t size = length; size <= kHeaderPatternSize + 70; ++size) {
                for (size_t at = 0; at + length <= size; ++at) {
                    SCOPED_TRACE(testing::Message() << "swapped " << swapped << ", background " << int{background}
                                                    << ", size " << size << ", at " << at);
                    std::vector<uint8_t> data(size, background);
                    swapped ? PlantSwapped(data, at) : Plant(data, at);
                    ASSERT_EQ(FindHeaderPattern(data.data(), data.size()), static_cast<ptrdiff_t>(at));
                }
            }
        }
    }
}

// Decoys that share the first and the last byte with the pattern (and most of
// what lies between) but differ in one byte: each is rejected, and the real
// copy behind them is found.
TEST(HeaderSearch, DecoysWithTheFirstAndLastBytes) {
    std::mt19937 random(99);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        std::vector<uint8_t> data(8192 + random() % 512, 0);
        size_t at = 0;
        while (at + 2 * kHeaderPatternSize < data.size() - 600) {
            Plant(data, at);
            data[at + 1 + random() % (kHeaderPatternSize - 2)] ^= static_cast<uint8_t>(1 + random() % 255);
            at += kHeaderPatternSize - 100 + random() % 120;   // some decoys overlap
        }
        const size_t real = data.size() - kHeaderPatternSize - random() % 400;
        Plant(data, real);
        EXPECT_EQ(FindHeaderPattern(data.data(), data.size()), ReferenceSearch(data.data(), data.size()));
    }
}

TEST(HeaderSearch, ManyCandidatesBeforeTheCopy) {
    std::vector<uint8_t> data(1 << 20, 'S');
    for (size_t i = 0; i + kHeaderPatternSize < data.size(); i += 200) Plant(data, i, 100);   // long partial matches
    Plant(data, 900001);
    EXPECT_EQ(FindHeaderPattern(data.data(), data.size()), 900001);
}

}  // namespace

#include "tools/ram/ram_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "emulator/core_layout.h"

namespace {

constexpr uint32_t kFirst = kWindowFirstAddress;                  // the window's first address
constexpr uint32_t kLast = kWorkRamFirstAddress + kWorkRamSize - 1;   // work RAM's last

TEST(RamWriter, PutsBytesWordsAndLongsWhereTheCoreKeepsThem) {
    std::vector<uint8_t> window(kWindowSize, 0);
    const RamWriter w{window.data(), kWindowSize, kFirst};

    ASSERT_TRUE(RamWriteWord(w, kFirst, 0x1234));
    EXPECT_EQ(window[0], 0x34);
    EXPECT_EQ(window[1], 0x12);

    ASSERT_TRUE(RamWriteByte(w, kFirst + 2, 0xAB));  // even address: the word's high byte
    ASSERT_TRUE(RamWriteByte(w, kFirst + 3, 0xCD));
    EXPECT_EQ(window[3], 0xAB);
    EXPECT_EQ(window[2], 0xCD);

    ASSERT_TRUE(RamWriteLong(w, kFirst + 4, 0x11223344));
    const uint8_t expected[4] = {0x22, 0x11, 0x44, 0x33};
    EXPECT_EQ(std::memcmp(&window[4], expected, 4), 0);

    ASSERT_TRUE(RamWriteByte(w, kLast, 0x77));  // the window's last address
    EXPECT_EQ(window[kWindowSize - 2], 0x77);

    // The readers give back what was written, by the same addresses.
    uint8_t byte = 0;
    uint16_t word = 0;
    uint32_t value = 0;
    EXPECT_TRUE(RamReadWord(w, kFirst, &word) && word == 0x1234);
    EXPECT_TRUE(RamReadByte(w, kFirst + 2, &byte) && byte == 0xAB);
    EXPECT_TRUE(RamReadByte(w, kFirst + 3, &byte) && byte == 0xCD);
    EXPECT_TRUE(RamReadLong(w, kFirst + 4, &value) && value == 0x11223344u);
    EXPECT_TRUE(RamReadByte(w, kLast, &byte) && byte == 0x77);
    EXPECT_FALSE(RamReadWord(w, kFirst + 1, &word)) << "odd word address";
    EXPECT_FALSE(RamReadLong(w, kLast - 1, &value)) << "past the end";
}

TEST(RamWriter, WholeWorkRamAndWindowAgreeOnEveryAddress) {
    std::vector<uint8_t> ram(kWorkRamSize, 0);
    std::vector<uint8_t> window(kWindowSize, 0);
    const RamWriter whole{ram.data(), kWorkRamSize, kWorkRamFirstAddress};
    const RamWriter part{window.data(), kWindowSize, kWindowFirstAddress};
    for (int i = 0; i < kGameVariableCount; ++i) {
        const GameVariableInfo& v = kGameVariables[i];
        const uint32_t width = v.width <= 4 ? v.width : 1;
        ASSERT_TRUE(RamWrite(whole, v.address, width, 0xDEADBEEF - i)) << v.name;
        ASSERT_TRUE(RamWrite(part, v.address, width, 0xDEADBEEF - i)) << v.name;
        ASSERT_TRUE(RamWriteByte(whole, v.address + 1, 0x5A));
        ASSERT_TRUE(RamWriteByte(part, v.address + 1, 0x5A));
    }
    EXPECT_EQ(std::memcmp(ram.data() + kWindowRamOffset, window.data(), kWindowSize), 0);
}

TEST(RamWriter, TheGamesSignatureTextGivesTheStoredSignature) {
    std::vector<uint8_t> ram(kWorkRamSize, 0);
    const RamWriter whole{ram.data(), kWorkRamSize, kWorkRamFirstAddress};
    const char text[] = "init\x00\x02\x00\x00SEGA";  // as the 68000 sees it
    for (uint32_t i = 0; i < kSignatureSize; ++i) {
        ASSERT_TRUE(RamWriteByte(whole, GameAddress(kVarSignature) + i, static_cast<uint8_t>(text[i])));
    }
    EXPECT_EQ(std::memcmp(ram.data() + kSignatureRamOffset, kRamSignature, kSignatureSize), 0);
}

TEST(RamWriter, RefusesAddressesOutsideTheBufferAndOddWords) {
    std::vector<uint8_t> window(kWindowSize, 0xEE);
    const RamWriter w{window.data(), kWindowSize, kFirst};
    EXPECT_FALSE(RamWriteByte(w, kFirst - 1, 1));
    EXPECT_FALSE(RamWriteByte(w, kLast + 1, 1));
    EXPECT_FALSE(RamWriteWord(w, kFirst + 1, 1));
    EXPECT_FALSE(RamWriteLong(w, kFirst + 2 + 1, 1));
    EXPECT_FALSE(RamWriteLong(w, kLast - 1, 1));  // would run two bytes past the end
    EXPECT_TRUE(RamWriteLong(w, kLast - 3, 0));
    const RamWriter odd{window.data(), kWindowSize, kFirst + 1};
    EXPECT_FALSE(RamWriteByte(odd, kFirst + 2, 1));

    window.assign(kWindowSize, 0xEE);
    EXPECT_FALSE(RamWriteLong(w, kLast - 1, 0));
    EXPECT_EQ(window[kWindowSize - 2], 0xEE) << "a refused write must leave the buffer alone";
    EXPECT_EQ(window[kWindowSize - 1], 0xEE);
}

}  // namespace

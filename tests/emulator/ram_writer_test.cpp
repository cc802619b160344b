#include "emulator/ram_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "emulator/core_layout.h"

namespace {

TEST(RamWriter, PutsBytesWordsAndLongsWhereTheCoreKeepsThem) {
    std::vector<uint8_t> window(kWindowSize, 0);
    const RamWriter w{window.data(), kWindowSize, 0xFFA000};

    ASSERT_TRUE(RamWriteWord(w, 0xFFA000, 0x1234));
    EXPECT_EQ(window[0], 0x34);
    EXPECT_EQ(window[1], 0x12);

    ASSERT_TRUE(RamWriteByte(w, 0xFFA002, 0xAB));  // even address: the word's high byte
    ASSERT_TRUE(RamWriteByte(w, 0xFFA003, 0xCD));
    EXPECT_EQ(window[3], 0xAB);
    EXPECT_EQ(window[2], 0xCD);

    ASSERT_TRUE(RamWriteLong(w, 0xFFA004, 0x11223344));
    const uint8_t expected[4] = {0x22, 0x11, 0x44, 0x33};
    EXPECT_EQ(std::memcmp(&window[4], expected, 4), 0);

    ASSERT_TRUE(RamWriteByte(w, 0xFFFFFF, 0x77));  // the window's last address
    EXPECT_EQ(window[kWindowSize - 2], 0x77);

    // The readers give back what was written, by the same addresses.
    uint8_t byte = 0;
    uint16_t word = 0;
    uint32_t value = 0;
    EXPECT_TRUE(RamReadWord(w, 0xFFA000, &word) && word == 0x1234);
    EXPECT_TRUE(RamReadByte(w, 0xFFA002, &byte) && byte == 0xAB);
    EXPECT_TRUE(RamReadByte(w, 0xFFA003, &byte) && byte == 0xCD);
    EXPECT_TRUE(RamReadLong(w, 0xFFA004, &value) && value == 0x11223344u);
    EXPECT_TRUE(RamReadByte(w, 0xFFFFFF, &byte) && byte == 0x77);
    EXPECT_FALSE(RamReadWord(w, 0xFFA001, &word)) << "odd word address";
    EXPECT_FALSE(RamReadLong(w, 0xFFFFFE, &value)) << "past the end";
}

TEST(RamWriter, WholeWorkRamAndWindowAgreeOnEveryAddress) {
    std::vector<uint8_t> ram(kWorkRamSize, 0);
    std::vector<uint8_t> window(kWindowSize, 0);
    const RamWriter whole{ram.data(), kWorkRamSize, 0xFF0000};
    const RamWriter part{window.data(), kWindowSize, kWindowFirstAddress};
    const uint32_t addresses[] = {0xFFA000, 0xFFB055, 0xFFF63B, 0xFFFE0C, 0xFFFFB1};
    for (uint32_t a : addresses) {
        ASSERT_TRUE(RamWriteByte(whole, a, 0x5A));
        ASSERT_TRUE(RamWriteByte(part, a, 0x5A));
    }
    ASSERT_TRUE(RamWriteLong(whole, 0xFFFE0C, 0xDEADBEEF));
    ASSERT_TRUE(RamWriteLong(part, 0xFFFE0C, 0xDEADBEEF));
    EXPECT_EQ(std::memcmp(ram.data() + kWindowRamOffset, window.data(), kWindowSize), 0);
}

TEST(RamWriter, TheGamesSignatureTextGivesTheStoredSignature) {
    std::vector<uint8_t> ram(kWorkRamSize, 0);
    const RamWriter whole{ram.data(), kWorkRamSize, 0xFF0000};
    const char text[] = "init\x00\x02\x00\x00SEGA";  // as the 68000 sees 0xFFFFDC..0xFFFFE7
    for (uint32_t i = 0; i < kSignatureSize; ++i) {
        ASSERT_TRUE(RamWriteByte(whole, 0xFFFFDC + i, static_cast<uint8_t>(text[i])));
    }
    EXPECT_EQ(std::memcmp(ram.data() + kSignatureRamOffset, kRamSignature, kSignatureSize), 0);
}

TEST(RamWriter, RefusesAddressesOutsideTheBufferAndOddWords) {
    std::vector<uint8_t> window(kWindowSize, 0xEE);
    const RamWriter w{window.data(), kWindowSize, 0xFFA000};
    EXPECT_FALSE(RamWriteByte(w, 0xFF9FFF, 1));
    EXPECT_FALSE(RamWriteByte(w, 0x1000000, 1));
    EXPECT_FALSE(RamWriteWord(w, 0xFFA001, 1));
    EXPECT_FALSE(RamWriteLong(w, 0xFFA002 + 1, 1));
    EXPECT_FALSE(RamWriteLong(w, 0xFFFFFE, 1));  // would run two bytes past the end
    EXPECT_TRUE(RamWriteLong(w, 0xFFFFFC, 0));
    const RamWriter odd{window.data(), kWindowSize, 0xFFA001};
    EXPECT_FALSE(RamWriteByte(odd, 0xFFA002, 1));

    window.assign(kWindowSize, 0xEE);
    EXPECT_FALSE(RamWriteLong(w, 0xFFFFFE, 0));
    EXPECT_EQ(window[kWindowSize - 2], 0xEE) << "a refused write must leave the buffer alone";
    EXPECT_EQ(window[kWindowSize - 1], 0xEE);
}

}  // namespace

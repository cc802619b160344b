#include "emulator/ram_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "emulator/core_layout.h"
#include "tools/ram/ram_writer.h"

namespace {

// A RamMirror and a window, the window filled with bytes that no test value
// uses, so that a read from the wrong place or of the wrong width shows.
struct Fixture {
    std::unique_ptr<RamMirror> mirror = std::make_unique<RamMirror>();
    std::vector<uint8_t> window;
    RamWriter writer{};

    Fixture() : window(kWindowSize) {
        for (uint32_t i = 0; i < kWindowSize; ++i) window[i] = static_cast<uint8_t>(0xC0 | (i & 0x3F));
        writer = RamWriter{window.data(), kWindowSize, kWindowFirstAddress};
        InitRamDecode(*mirror);
    }
    void Decode() { DecodeRamWindow(window.data(), *mirror); }
    RamMirror& ram() { return *mirror; }
};

enum class Read { Byte, Word, Long, SignedByte, SignedWord, Flag };

using Getter = int64_t (*)(const RamMirror&);
#define GET(field) [](const RamMirror& r) -> int64_t { return r.field; }

struct FieldRow {
    const char* name;
    uint32_t address;  // 68000 address, as the game's variable is documented (not from the table: this checks it)
    Read read;
    Getter value;
};

const FieldRow kFields[] = {
    {"levelFrame", 0xFFFE04, Read::Word, GET(levelFrame)},
    {"timerFrame", 0xFFFE25, Read::Byte, GET(timerFrame)},
    {"globalFrame", 0xFFFE0C, Read::Long, GET(globalFrame)},
    {"timerSeconds", 0xFFFE24, Read::Byte, GET(timerSeconds)},
    {"timerMinutes", 0xFFFE23, Read::Byte, GET(timerMinutes)},
    {"zone", 0xFFFE10, Read::Byte, GET(zone)},
    {"act", 0xFFFE11, Read::Byte, GET(act)},
    {"rings", 0xFFFE20, Read::Word, GET(rings)},
    {"collectedA", 0xFFFEF1, Read::Byte, GET(collectedA)},
    {"collectedB", 0xFFFEF3, Read::Byte, GET(collectedB)},
    {"lives", 0xFFFE12, Read::Byte, GET(lives)},
    {"continues", 0xFFFE18, Read::Byte, GET(continues)},
    {"gameMode", 0xFFF600, Read::Byte, GET(gameMode)},
    {"p1PosX", 0xFFB008, Read::Word, GET(p1PosX)},
    {"p1PosXSub", 0xFFB00A, Read::Byte, GET(p1PosXSub)},
    {"p1PosY", 0xFFB00C, Read::Word, GET(p1PosY)},
    {"p1PosYSub", 0xFFB00E, Read::Byte, GET(p1PosYSub)},
    {"p1VelX", 0xFFB010, Read::SignedWord, GET(p1VelX)},
    {"p1VelY", 0xFFB012, Read::SignedWord, GET(p1VelY)},
    {"p1Inertia", 0xFFB014, Read::SignedWord, GET(p1Inertia)},
    {"p1HitTimer", 0xFFB030, Read::Word, GET(p1HitTimer)},
    {"p1SpindashFlag", 0xFFB039, Read::Byte, GET(p1SpindashFlag)},
    {"p1SpindashCount", 0xFFB03A, Read::Word, GET(p1SpindashCount)},
    {"p2PosX", 0xFFB048, Read::Word, GET(p2PosX)},
    {"p2PosXSub", 0xFFB04A, Read::Byte, GET(p2PosXSub)},
    {"p2PosY", 0xFFB04C, Read::Word, GET(p2PosY)},
    {"p2PosYSub", 0xFFB04E, Read::Byte, GET(p2PosYSub)},
    {"p2VelX", 0xFFB050, Read::SignedWord, GET(p2VelX)},
    {"p2VelY", 0xFFB052, Read::SignedWord, GET(p2VelY)},
    {"p2Inertia", 0xFFB055, Read::SignedByte, GET(p2Inertia)},
    {"p2HitTimer", 0xFFB070, Read::Word, GET(p2HitTimer)},
    {"p2SpindashFlag", 0xFFB079, Read::Byte, GET(p2SpindashFlag)},
    {"p2SpindashCount", 0xFFB07A, Read::Word, GET(p2SpindashCount)},
    {"p1Buttons", 0xFFF604, Read::Byte, GET(p1Buttons)},
    {"p2Buttons", 0xFFF606, Read::Byte, GET(p2Buttons)},
    {"p1Pressed", 0xFFF605, Read::Byte, GET(p1Pressed)},
    {"p2Pressed", 0xFFF607, Read::Byte, GET(p2Pressed)},
    {"pauseFlag", 0xFFF63B, Read::Flag, GET(pauseFlag)},
    {"debugFlag", 0xFFFFB1, Read::Flag, GET(debugFlag)},
};

// Round 0 puts the top bit in every value (signed reads go negative, unsigned
// ones must not); round 1 keeps it clear and gives every flag a zero byte.
uint32_t RawValue(int row, int round, Read read) {
    const auto i = static_cast<uint32_t>(row);
    switch (read) {
        case Read::Long: return round == 0 ? 0xF1E2D3C4u + i : 0x1A2B3C4Du + i;
        case Read::Word:
        case Read::SignedWord: return round == 0 ? (0x90 + i) << 8 | (0x10 + i) : (0x20 + i) << 8 | (0x50 + i);
        case Read::Flag: return round == 0 ? 0x80 : 0x00;
        default: return round == 0 ? 0x80 + i : 0x11 + i;
    }
}

int64_t Decoded(uint32_t raw, Read read) {
    switch (read) {
        case Read::SignedByte: return static_cast<int8_t>(raw);
        case Read::SignedWord: return static_cast<int16_t>(raw);
        case Read::Flag: return raw != 0 ? 1 : 0;
        default: return raw;
    }
}

void Write(const RamWriter& w, uint32_t address, Read read, uint32_t raw) {
    switch (read) {
        case Read::Long: ASSERT_TRUE(RamWriteLong(w, address, raw)); break;
        case Read::Word:
        case Read::SignedWord: ASSERT_TRUE(RamWriteWord(w, address, static_cast<uint16_t>(raw))); break;
        default: ASSERT_TRUE(RamWriteByte(w, address, static_cast<uint8_t>(raw))); break;
    }
}

uint8_t ObjectId(int i, int round) { return static_cast<uint8_t>(round == 0 ? 0x80 + i % 64 : 1 + i % 63); }

// Each round decodes every value anew: nothing of the round before stays.
TEST(DecodeRamWindow, EveryFieldFromItsGameAddress) {
    Fixture f;
    for (int round = 0; round < 2; ++round) {
        for (int row = 0; row < static_cast<int>(std::size(kFields)); ++row) {
            Write(f.writer, kFields[row].address, kFields[row].read, RawValue(row, round, kFields[row].read));
        }
        for (int i = 0; i < kObjectIdsSampled; ++i) {
            ASSERT_TRUE(RamWriteByte(f.writer, 0xFFB080 + 0x40 * i, ObjectId(i, round)));
        }
        f.Decode();

        for (int row = 0; row < static_cast<int>(std::size(kFields)); ++row) {
            const FieldRow& field = kFields[row];
            EXPECT_EQ(field.value(f.ram()), Decoded(RawValue(row, round, field.read), field.read))
                << field.name << " round " << round;
        }
        for (int i = 0; i < kObjectIdsSampled; ++i) {
            ASSERT_EQ(f.ram().objectIds[i], ObjectId(i, round)) << "object " << i << " round " << round;
        }
    }
}

TEST(DecodeRamWindow, GlobalFrameIsALongWithItsHalvesExchanged) {
    Fixture f;
    const uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
    std::memcpy(&f.window[24076], b, 4);
    f.Decode();
    EXPECT_EQ(f.ram().globalFrame, 0x34127856u);  // b1 b0 b3 b2
}

TEST(DecodeRamWindow, SignednessAndWidthOfPlayerFields) {
    Fixture f;
    f.window[4112] = 0xFE;
    f.window[4113] = 0xFF;
    f.window[4104] = 0xFE;
    f.window[4105] = 0xFF;
    f.window[4180] = 0x80;
    f.Decode();
    EXPECT_EQ(f.ram().p1VelX, -2);
    EXPECT_EQ(f.ram().p1PosX, 65534u);
    EXPECT_EQ(f.ram().p2Inertia, -128);

    // The 68000 word 0x0100: P1 reads the word, P2 only its low byte.
    f.window[4116] = 0x00;
    f.window[4117] = 0x01;
    f.window[4180] = 0x00;
    f.window[4181] = 0x01;
    f.Decode();
    EXPECT_EQ(f.ram().p1Inertia, 256);
    EXPECT_EQ(f.ram().p2Inertia, 0);
}

TEST(DecodeRamWindow, PauseAndDebugFlagsAreAnyNonZeroByte) {
    struct Case { uint8_t byte; uint8_t flag; };
    for (Case c : {Case{0x00, 0}, Case{0x01, 1}, Case{0xFF, 1}}) {
        Fixture f;
        f.window[22074] = c.byte;
        f.window[24496] = c.byte;
        f.Decode();
        EXPECT_EQ(f.ram().pauseFlag, c.flag) << "byte " << int{c.byte};
        EXPECT_EQ(f.ram().debugFlag, c.flag) << "byte " << int{c.byte};
    }
}

TEST(DecodeRamWindow, FirstAndLastObjectIds) {
    Fixture f;
    f.window[4225] = 58;
    f.window[13761] = 59;
    f.Decode();
    EXPECT_EQ(f.ram().objectIds[0], 58u);
    EXPECT_EQ(f.ram().objectIds[149], 59u);
    static_assert(sizeof(RamMirror::objectIds) / sizeof(uint32_t) == 150, "a slot for each sampled object, no more");
}

TEST(InitRamDecode, ZeroFillsTheMirrorAndSetsTheObjectCount) {
    auto mirror = std::make_unique<RamMirror>();
    std::memset(mirror.get(), 0xA5, sizeof(RamMirror));
    InitRamDecode(*mirror);
    EXPECT_EQ(mirror->objectCount, 150u);

    auto expected = std::make_unique<RamMirror>();
    std::memset(expected.get(), 0, sizeof(RamMirror));
    expected->objectCount = 150;
    EXPECT_EQ(std::memcmp(mirror.get(), expected.get(), sizeof(RamMirror)), 0)
        << "everything else, padding included, must be zero";
}

TEST(WindowOffsetTable, HoldsFortyOneEntriesInsideTheWindow) {
    const WindowOffsetTable& table = WindowOffsets();
    EXPECT_EQ(kWindowOffsetCount, 41);
    EXPECT_TRUE(WindowOffsetsInBounds(table));
    EXPECT_EQ(table.offset[kVarObjectIds], 4225u);
    EXPECT_EQ(table.offset[kVarObjectIds] + table.span[kVarObjectIds] - 1, 13761u);
    EXPECT_EQ(table.offset[kVarSignature], 24540u);
}

TEST(WindowOffsetTable, BoundCheckRejectsReadsPastTheWindow) {
    WindowOffsetTable table = WindowOffsets();
    table.offset[kVarDebug] = 65536;
    EXPECT_FALSE(WindowOffsetsInBounds(table)) << "at the 64 KiB bound";

    table = WindowOffsets();
    table.offset[kVarGlobalFrame] = kWindowSize - 2;  // a long reaching two bytes past the end
    EXPECT_FALSE(WindowOffsetsInBounds(table));

    table = WindowOffsets();
    table.offset[kVarObjectIds] = 24576 - 9536;  // the last object id one byte past the end
    EXPECT_FALSE(WindowOffsetsInBounds(table));
    table.offset[kVarObjectIds] = 24575 - 9536;
    EXPECT_TRUE(WindowOffsetsInBounds(table));
}

}  // namespace

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
    Getter prev;       // the Prev partner, or nullptr
};

const FieldRow kFields[] = {
    {"levelFrame", 0xFFFE04, Read::Word, GET(levelFrame), GET(levelFramePrev)},
    {"timerFrame", 0xFFFE25, Read::Byte, GET(timerFrame), GET(timerFramePrev)},
    {"globalFrame", 0xFFFE0C, Read::Long, GET(globalFrame), GET(globalFramePrev)},
    {"timerSeconds", 0xFFFE24, Read::Byte, GET(timerSeconds), nullptr},
    {"timerMinutes", 0xFFFE23, Read::Byte, GET(timerMinutes), nullptr},
    {"zone", 0xFFFE10, Read::Byte, GET(zone), nullptr},
    {"act", 0xFFFE11, Read::Byte, GET(act), nullptr},
    {"rings", 0xFFFE20, Read::Word, GET(rings), nullptr},
    {"collectedA", 0xFFFEF1, Read::Byte, GET(collectedA), nullptr},
    {"collectedB", 0xFFFEF3, Read::Byte, GET(collectedB), nullptr},
    {"lives", 0xFFFE12, Read::Byte, GET(lives), GET(livesPrev)},
    {"continues", 0xFFFE18, Read::Byte, GET(continues), nullptr},
    {"gameMode", 0xFFF600, Read::Byte, GET(gameMode), nullptr},
    {"p1PosX", 0xFFB008, Read::Word, GET(p1PosX), nullptr},
    {"p1PosXSub", 0xFFB00A, Read::Byte, GET(p1PosXSub), nullptr},
    {"p1PosY", 0xFFB00C, Read::Word, GET(p1PosY), nullptr},
    {"p1PosYSub", 0xFFB00E, Read::Byte, GET(p1PosYSub), nullptr},
    {"p1VelX", 0xFFB010, Read::SignedWord, GET(p1VelX), nullptr},
    {"p1VelY", 0xFFB012, Read::SignedWord, GET(p1VelY), nullptr},
    {"p1Inertia", 0xFFB014, Read::SignedWord, GET(p1Inertia), nullptr},
    {"p1HitTimer", 0xFFB030, Read::Word, GET(p1HitTimer), GET(p1HitTimerPrev)},
    {"p1SpindashFlag", 0xFFB039, Read::Byte, GET(p1SpindashFlag), GET(p1SpindashFlagPrev)},
    {"p1SpindashCount", 0xFFB03A, Read::Word, GET(p1SpindashCount), GET(p1SpindashCountPrev)},
    {"p2PosX", 0xFFB048, Read::Word, GET(p2PosX), nullptr},
    {"p2PosXSub", 0xFFB04A, Read::Byte, GET(p2PosXSub), nullptr},
    {"p2PosY", 0xFFB04C, Read::Word, GET(p2PosY), nullptr},
    {"p2PosYSub", 0xFFB04E, Read::Byte, GET(p2PosYSub), nullptr},
    {"p2VelX", 0xFFB050, Read::SignedWord, GET(p2VelX), nullptr},
    {"p2VelY", 0xFFB052, Read::SignedWord, GET(p2VelY), nullptr},
    {"p2Inertia", 0xFFB055, Read::SignedByte, GET(p2Inertia), nullptr},
    {"p2HitTimer", 0xFFB070, Read::Word, GET(p2HitTimer), GET(p2HitTimerPrev)},
    {"p2SpindashFlag", 0xFFB079, Read::Byte, GET(p2SpindashFlag), GET(p2SpindashFlagPrev)},
    {"p2SpindashCount", 0xFFB07A, Read::Word, GET(p2SpindashCount), nullptr},
    {"p1Pressed", 0xFFF605, Read::Byte, GET(p1Pressed), nullptr},
    {"p2Pressed", 0xFFF607, Read::Byte, GET(p2Pressed), nullptr},
    {"pauseFlag", 0xFFF63B, Read::Flag, GET(pauseFlag), nullptr},
    {"debugFlag", 0xFFFFB1, Read::Flag, GET(debugFlag), nullptr},
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

// Round 0 is the first decode after InitRamDecode: every Prev is 0 and the
// level-frame step is the level frame itself; round 1 compares with round 0.
TEST(DecodeRamWindow, EveryFieldFromItsGameAddressWithItsPreviousValue) {
    Fixture f;
    uint32_t levelFrame[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        for (int row = 0; row < static_cast<int>(std::size(kFields)); ++row) {
            Write(f.writer, kFields[row].address, kFields[row].read, RawValue(row, round, kFields[row].read));
        }
        for (int i = 0; i < kObjectIdsSampled; ++i) {
            ASSERT_TRUE(RamWriteByte(f.writer, 0xFFB080 + 0x40 * i, ObjectId(i, round)));
        }
        ASSERT_TRUE(RamWriteByte(f.writer, 0xFFF604, 0x01));  // P1 holds Up
        ASSERT_TRUE(RamWriteByte(f.writer, 0xFFF606, 0x80));  // P2 holds Start
        levelFrame[round] = RawValue(0, round, Read::Word);
        f.Decode();

        for (int row = 0; row < static_cast<int>(std::size(kFields)); ++row) {
            const FieldRow& field = kFields[row];
            SCOPED_TRACE(testing::Message() << field.name << " round " << round);
            EXPECT_EQ(field.value(f.ram()), Decoded(RawValue(row, round, field.read), field.read));
            if (field.prev != nullptr) {
                const int64_t before = round == 0 ? 0 : Decoded(RawValue(row, 0, field.read), field.read);
                EXPECT_EQ(field.prev(f.ram()), before);
            }
        }
        for (int i = 0; i < kObjectIdsSampled; ++i) {
            ASSERT_EQ(f.ram().objectIds[i], ObjectId(i, round)) << "object " << i << " round " << round;
        }
        const uint32_t step = levelFrame[round] - (round == 0 ? 0 : levelFrame[0]);
        const uint32_t held = round == 0 ? step : levelFrame[0] + step;
        for (int k = 0; k < kButtonCount; ++k) {
            EXPECT_EQ(f.ram().p1HoldFrames[k], k == 0 ? held : 0u) << "P1 bit " << k << " round " << round;
            EXPECT_EQ(f.ram().p2HoldFrames[k], k == 7 ? held : 0u) << "P2 bit " << k << " round " << round;
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

// Sets the level frame counter and both controllers' button bytes.
void SetFrameAndButtons(Fixture& f, uint16_t levelFrame, uint8_t p1, uint8_t p2 = 0) {
    ASSERT_TRUE(RamWriteVariable(f.writer, kVarLevelFrame, levelFrame));
    ASSERT_TRUE(RamWriteVariable(f.writer, kVarP1Buttons, p1));
    ASSERT_TRUE(RamWriteVariable(f.writer, kVarP2Buttons, p2));
}

TEST(HoldCounters, RunWithTheLevelFrameWhileHeldAndResetOnRelease) {
    Fixture f;
    SetFrameAndButtons(f, 100, 0);
    f.Decode();
    struct Step { uint16_t levelFrame; uint8_t buttons; uint32_t up; };
    const Step steps[] = {{100, 0x01, 0}, {100, 0x01, 0}, {101, 0x01, 1}, {103, 0x01, 3}, {104, 0x00, 0}};
    for (const Step& s : steps) {
        SetFrameAndButtons(f, s.levelFrame, 0, s.buttons);  // P2 holds Up
        f.Decode();
        EXPECT_EQ(f.ram().p2HoldFrames[0], s.up) << "level frame " << s.levelFrame;
        EXPECT_EQ(f.ram().p1HoldFrames[0], 0u);
    }
}

TEST(HoldCounters, WrapOfTheLevelFrameStepsBackButStaysHeld) {
    Fixture f;
    SetFrameAndButtons(f, 65534, 0);
    f.Decode();
    SetFrameAndButtons(f, 65535, 0x08);
    f.Decode();
    ASSERT_EQ(f.ram().p1HoldFrames[3], 1u);
    SetFrameAndButtons(f, 0, 0x08);
    f.Decode();
    EXPECT_EQ(f.ram().p1HoldFrames[3], 1u + (0u - 65535u));
    EXPECT_NE(f.ram().p1HoldFrames[3], 0u) << "a held button stays shown as held";
}

TEST(HoldCounters, EachBitDrivesItsOwnCounter) {
    uint32_t counters[kButtonCount] = {10, 20, 30, 40, 50, 60, 70, 80};
    UpdateHoldCounters(0xA5, 5, counters);  // bits 0, 2, 5, 7
    const uint32_t expected[kButtonCount] = {15, 0, 35, 0, 0, 65, 0, 85};
    for (int k = 0; k < kButtonCount; ++k) EXPECT_EQ(counters[k], expected[k]) << "bit " << k;
    UpdateHoldCounters(0x80, 0xFFFFFFFFu, counters);  // a step of -1
    EXPECT_EQ(counters[7], 84u);
    EXPECT_EQ(counters[0], 0u);
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

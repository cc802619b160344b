#include "emulator/ram_decode.h"

#include <cstring>

#include "emulator/core_layout.h"

namespace {

constexpr uint32_t kByte = 1;
constexpr uint32_t kWord = 2;
constexpr uint32_t kLong = 4;
// From the first sampled object id to the last, inclusive.
constexpr uint32_t kObjectIdsSpan = kObjectRecordStride * (kObjectIdsSampled - 1) + 1;

constexpr WindowOffsetTable MakeWindowOffsetTable() {
    WindowOffsetTable t{};
    auto set = [&t](WindowOffsetEntry entry, uint32_t offset, uint32_t span) {
        t.offset[entry] = offset;
        t.span[entry] = span;
    };
    set(kOffsetLevelFrame, 0x5E04, kWord);
    set(kOffsetTimerFrame, 0x5E24, kByte);
    set(kOffsetGlobalFrame, 0x5E0C, kLong);
    set(kOffsetTimerSeconds, 0x5E25, kByte);
    set(kOffsetTimerMinutes, 0x5E22, kByte);
    set(kOffsetZone, 0x5E11, kByte);
    set(kOffsetAct, 0x5E10, kByte);
    set(kOffsetRings, 0x5E20, kWord);
    set(kOffsetCollectedA, 0x5EF0, kByte);
    set(kOffsetCollectedB, 0x5EF2, kByte);
    set(kOffsetLives, 0x5E13, kByte);
    set(kOffsetContinues, 0x5E19, kByte);
    set(kOffsetGameMode, 0x5601, kByte);
    set(kOffsetP1PosX, 0x1008, kWord);
    set(kOffsetP1PosXSub, 0x100B, kByte);
    set(kOffsetP1PosY, 0x100C, kWord);
    set(kOffsetP1PosYSub, 0x100F, kByte);
    set(kOffsetP1VelX, 0x1010, kWord);
    set(kOffsetP1VelY, 0x1012, kWord);
    set(kOffsetP1Inertia, 0x1014, kWord);
    set(kOffsetP1HitTimer, 0x1030, kWord);
    set(kOffsetP1SpindashFlag, 0x1038, kByte);
    set(kOffsetP1SpindashCount, 0x103A, kWord);
    set(kOffsetP2PosX, 0x1048, kWord);
    set(kOffsetP2PosXSub, 0x104B, kByte);
    set(kOffsetP2PosY, 0x104C, kWord);
    set(kOffsetP2PosYSub, 0x104F, kByte);
    set(kOffsetP2VelX, 0x1050, kWord);
    set(kOffsetP2VelY, 0x1052, kWord);
    set(kOffsetP2Inertia, 0x1054, kByte);
    set(kOffsetP2HitTimer, 0x1070, kWord);
    set(kOffsetP2SpindashFlag, 0x1078, kByte);
    set(kOffsetP2SpindashCount, 0x107A, kWord);
    set(kOffsetObjectIds, 0x1081, kObjectIdsSpan);
    set(kOffsetP1Buttons, 0x5605, kByte);
    set(kOffsetP2Buttons, 0x5607, kByte);
    set(kOffsetPause, 0x563A, kByte);
    set(kOffsetDebug, 0x5FB0, kByte);
    set(kOffsetSignature, kSignatureWindowOffset, kSignatureSize);
    return t;
}

// Filled by the compiler, so the decode's offsets are constants; the bound is
// checked here at build time and once more by InitRamDecode at start.
constexpr WindowOffsetTable kTable = MakeWindowOffsetTable();

constexpr bool InBounds(const WindowOffsetTable& table) {
    for (int i = 0; i < kWindowOffsetCount; ++i) {
        const uint32_t offset = table.offset[i];
        const uint32_t span = table.span[i];
        if (offset >= kWindowOffsetLimit || span == 0 || span > kWindowSize || offset > kWindowSize - span) {
            return false;
        }
    }
    return true;
}

static_assert(InBounds(kTable), "a window offset reads past the RAM window");

// Readers of the window copy. E is a table entry, so every read below is at a
// fixed offset into the copy.
template <WindowOffsetEntry E>
uint32_t Byte(const uint8_t* w) {
    return w[kTable.offset[E]];
}

template <WindowOffsetEntry E>
uint32_t Word(const uint8_t* w) {
    constexpr uint32_t o = kTable.offset[E];
    return uint32_t{w[o]} | uint32_t{w[o + 1]} << 8;
}

// The 68000 keeps the high half of a long first; each half is a little-endian
// word in the copy, so the halves come out exchanged.
template <WindowOffsetEntry E>
uint32_t Long(const uint8_t* w) {
    constexpr uint32_t o = kTable.offset[E];
    return uint32_t{w[o + 2]} | uint32_t{w[o + 3]} << 8 | uint32_t{w[o]} << 16 | uint32_t{w[o + 1]} << 24;
}

template <WindowOffsetEntry E>
int32_t SignedWord(const uint8_t* w) {
    return static_cast<int16_t>(static_cast<uint16_t>(Word<E>(w)));
}

template <WindowOffsetEntry E>
int32_t SignedByte(const uint8_t* w) {
    return static_cast<int8_t>(static_cast<uint8_t>(Byte<E>(w)));
}

template <WindowOffsetEntry E>
uint8_t Flag(const uint8_t* w) {
    return Byte<E>(w) != 0 ? 1 : 0;
}

}  // namespace

const WindowOffsetTable& WindowOffsets() { return kTable; }

bool WindowOffsetsInBounds(const WindowOffsetTable& table) { return InBounds(table); }

void CheckWindowOffsetsOrTrap(const WindowOffsetTable& table) {
    if (!InBounds(table)) __builtin_trap();  // a window offset reads past the RAM window: fix the table
}

void InitRamDecode(RamMirror& ram) {
    CheckWindowOffsetsOrTrap(kTable);
    std::memset(&ram, 0, sizeof(ram));
    ram.objectCount = kObjectIdsSampled;
}

void ShiftPrevFields(RamMirror& r, const RamMirror& previous) {
    r.levelFramePrev = previous.levelFrame;
    r.timerFramePrev = previous.timerFrame;
    r.globalFramePrev = previous.globalFrame;
    r.livesPrev = previous.lives;
    r.p1HitTimerPrev = previous.p1HitTimer;
    r.p1SpindashFlagPrev = previous.p1SpindashFlag;
    r.p1SpindashCountPrev = previous.p1SpindashCount;
    r.p2HitTimerPrev = previous.p2HitTimer;
    r.p2SpindashFlagPrev = previous.p2SpindashFlag;
}

void ShiftPrevFields(RamMirror& r) { ShiftPrevFields(r, r); }

void DecodeRamWindow(const uint8_t* w, RamMirror& r) {
    ShiftPrevFields(r);

    r.levelFrame = Word<kOffsetLevelFrame>(w);
    r.timerFrame = Byte<kOffsetTimerFrame>(w);
    r.globalFrame = Long<kOffsetGlobalFrame>(w);
    r.timerSeconds = Byte<kOffsetTimerSeconds>(w);
    r.timerMinutes = Byte<kOffsetTimerMinutes>(w);
    r.zone = Byte<kOffsetZone>(w);
    r.act = Byte<kOffsetAct>(w);
    r.rings = Word<kOffsetRings>(w);
    r.collectedA = Byte<kOffsetCollectedA>(w);
    r.collectedB = Byte<kOffsetCollectedB>(w);
    r.lives = Byte<kOffsetLives>(w);
    r.continues = Byte<kOffsetContinues>(w);
    r.gameMode = Byte<kOffsetGameMode>(w);

    r.p1PosX = Word<kOffsetP1PosX>(w);
    r.p1PosXSub = Byte<kOffsetP1PosXSub>(w);
    r.p1PosY = Word<kOffsetP1PosY>(w);
    r.p1PosYSub = Byte<kOffsetP1PosYSub>(w);
    r.p1VelX = SignedWord<kOffsetP1VelX>(w);
    r.p1VelY = SignedWord<kOffsetP1VelY>(w);
    r.p1Inertia = SignedWord<kOffsetP1Inertia>(w);
    r.p1HitTimer = Word<kOffsetP1HitTimer>(w);
    r.p1SpindashFlag = Byte<kOffsetP1SpindashFlag>(w);
    r.p1SpindashCount = Word<kOffsetP1SpindashCount>(w);

    r.p2PosX = Word<kOffsetP2PosX>(w);
    r.p2PosXSub = Byte<kOffsetP2PosXSub>(w);
    r.p2PosY = Word<kOffsetP2PosY>(w);
    r.p2PosYSub = Byte<kOffsetP2PosYSub>(w);
    r.p2VelX = SignedWord<kOffsetP2VelX>(w);
    r.p2VelY = SignedWord<kOffsetP2VelY>(w);
    // The game keeps P2's inertia as a word like P1's, but only its low byte is read.
    r.p2Inertia = SignedByte<kOffsetP2Inertia>(w);
    r.p2HitTimer = Word<kOffsetP2HitTimer>(w);
    r.p2SpindashFlag = Byte<kOffsetP2SpindashFlag>(w);
    r.p2SpindashCount = Word<kOffsetP2SpindashCount>(w);

    r.pauseFlag = Flag<kOffsetPause>(w);
    r.debugFlag = Flag<kOffsetDebug>(w);

    // The id is the first byte of each 64-byte object record.
    const uint8_t* id = w + kTable.offset[kOffsetObjectIds];
    for (int i = 0; i < kObjectIdsSampled; ++i) {
        r.objectIds[i] = id[kObjectRecordStride * static_cast<uint32_t>(i)];
    }

    // Both readings are zero-extended 16-bit values; going back (a restart, or
    // the wrap from 65535 to 0) gives a negative step, kept modulo 2^32.
    const uint32_t step = r.levelFrame - r.levelFramePrev;
    UpdateHoldCounters(static_cast<uint8_t>(Byte<kOffsetP1Buttons>(w)), step, r.p1HoldFrames);
    UpdateHoldCounters(static_cast<uint8_t>(Byte<kOffsetP2Buttons>(w)), step, r.p2HoldFrames);
}

void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]) {
    for (int k = 0; k < kButtonCount; ++k) {
        counters[k] = (buttons >> k & 1u) != 0 ? counters[k] + levelFrameStep : 0;
    }
}

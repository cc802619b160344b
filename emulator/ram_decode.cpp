#include "emulator/ram_decode.h"

#include <cstring>

#include "emulator/core_layout.h"

namespace {

// From the first sampled object id to the last, inclusive.
constexpr uint32_t kObjectIdsSpan = kObjectRecordStride * (kObjectIdsSampled - 1) + 1;

constexpr WindowOffsetTable MakeWindowOffsetTable() {
    WindowOffsetTable t{};
    for (int i = 0; i < kGameVariableCount; ++i) {
        const auto v = static_cast<GameVariable>(i);
        t.offset[v] = WindowOffsetOf(v);
        t.span[v] = GameWidth(v);
    }
    t.span[kVarObjectIds] = kObjectIdsSpan;
    // The game keeps P2's inertia as a word like P1's, but only its low byte is read.
    t.offset[kVarP2Inertia] = CoreOffset(GameAddress(kVarP2Inertia) + 1, 1, kWindowFirstAddress);
    t.span[kVarP2Inertia] = 1;
    return t;
}

// Filled by the compiler, so the decode's offsets are constants, and checked
// by it: a table that reads past the window does not build.
constexpr WindowOffsetTable kTable = MakeWindowOffsetTable();
static_assert(WindowOffsetsInBounds(kTable), "a window offset reads past the RAM window: fix the table");

// The value of variable E in the window copy, of the width the decode reads
// and with the table's signedness: a fixed offset into the copy.
template <GameVariable E>
auto Value(const uint8_t* w) {
    constexpr uint32_t offset = kTable.offset[E];
    constexpr uint32_t width = kTable.span[E];
    static_assert(width == 1 || width == 2 || width == 4, "a value is a byte, a word or a long");
    uint32_t raw;
    if constexpr (width == 1) {
        raw = w[offset];
    } else if constexpr (width == 2) {
        raw = CoreLoadWord(w, offset);
    } else {
        raw = CoreLoadLong(w, offset);
    }
    if constexpr (kGameVariables[E].isSigned) {
        static_assert(width < 4, "no signed long is read");
        return width == 1 ? int32_t{static_cast<int8_t>(raw)} : int32_t{static_cast<int16_t>(raw)};
    } else {
        return raw;
    }
}

// Any non-zero byte.
template <GameVariable E>
uint8_t Flag(const uint8_t* w) {
    return Value<E>(w) != 0 ? 1 : 0;
}

}  // namespace

const WindowOffsetTable& WindowOffsets() { return kTable; }

void InitRamDecode(RamMirror& ram) {
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

    r.levelFrame = Value<kVarLevelFrame>(w);
    r.timerFrame = Value<kVarTimerFrame>(w);
    r.globalFrame = Value<kVarGlobalFrame>(w);
    r.timerSeconds = Value<kVarTimerSeconds>(w);
    r.timerMinutes = Value<kVarTimerMinutes>(w);
    r.zone = Value<kVarZone>(w);
    r.act = Value<kVarAct>(w);
    r.rings = Value<kVarRings>(w);
    r.collectedA = Value<kVarCollectedA>(w);
    r.collectedB = Value<kVarCollectedB>(w);
    r.lives = Value<kVarLives>(w);
    r.continues = Value<kVarContinues>(w);
    r.gameMode = Value<kVarGameMode>(w);

    r.p1PosX = Value<kVarP1PosX>(w);
    r.p1PosXSub = Value<kVarP1PosXSub>(w);
    r.p1PosY = Value<kVarP1PosY>(w);
    r.p1PosYSub = Value<kVarP1PosYSub>(w);
    r.p1VelX = Value<kVarP1VelX>(w);
    r.p1VelY = Value<kVarP1VelY>(w);
    r.p1Inertia = Value<kVarP1Inertia>(w);
    r.p1HitTimer = Value<kVarP1HitTimer>(w);
    r.p1SpindashFlag = Value<kVarP1SpindashFlag>(w);
    r.p1SpindashCount = Value<kVarP1SpindashCount>(w);

    r.p2PosX = Value<kVarP2PosX>(w);
    r.p2PosXSub = Value<kVarP2PosXSub>(w);
    r.p2PosY = Value<kVarP2PosY>(w);
    r.p2PosYSub = Value<kVarP2PosYSub>(w);
    r.p2VelX = Value<kVarP2VelX>(w);
    r.p2VelY = Value<kVarP2VelY>(w);
    r.p2Inertia = Value<kVarP2Inertia>(w);
    r.p2HitTimer = Value<kVarP2HitTimer>(w);
    r.p2SpindashFlag = Value<kVarP2SpindashFlag>(w);
    r.p2SpindashCount = Value<kVarP2SpindashCount>(w);

    r.p1Pressed = Value<kVarP1Pressed>(w);
    r.p2Pressed = Value<kVarP2Pressed>(w);
    r.pauseFlag = Flag<kVarPause>(w);
    r.debugFlag = Flag<kVarDebug>(w);

    // The id is the first byte of each 64-byte object record.
    const uint8_t* id = w + kTable.offset[kVarObjectIds];
    for (int i = 0; i < kObjectIdsSampled; ++i) {
        r.objectIds[i] = id[kObjectRecordStride * static_cast<uint32_t>(i)];
    }

    // Both readings are zero-extended 16-bit values; going back (a restart, or
    // the wrap from 65535 to 0) gives a negative step, kept modulo 2^32.
    const uint32_t step = r.levelFrame - r.levelFramePrev;
    UpdateHoldCounters(static_cast<uint8_t>(Value<kVarP1Buttons>(w)), step, r.p1HoldFrames);
    UpdateHoldCounters(static_cast<uint8_t>(Value<kVarP2Buttons>(w)), step, r.p2HoldFrames);
}

void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]) {
    for (int k = 0; k < kButtonCount; ++k) {
        counters[k] = (buttons >> k & 1u) != 0 ? counters[k] + levelFrameStep : 0;
    }
}

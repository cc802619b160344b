#include "emulator/ram_decode.h"

#include <cstring>

#include "emulator/core_layout.h"

namespace {

// From the first sampled object id to the last, inclusive.
constexpr uint32_t kObjectIdsSpan = kObjectRecordStride * (kObjectIdsSampled - 1) + 1;

constexpr WindowOffsetTable MakeWindowOffsetTable(RamByteOrder order) {
    WindowOffsetTable t{};
    for (int i = 0; i < kGameVariableCount; ++i) {
        const auto v = static_cast<GameVariable>(i);
        t.offset[v] = RamOffset(GameAddress(v), GameWidth(v), kWindowFirstAddress, order);
        t.span[v] = GameWidth(v);
    }
    t.span[kVarObjectIds] = kObjectIdsSpan;
    // The game keeps P2's inertia as a word like P1's, but only its low byte is read.
    t.offset[kVarP2Inertia] = RamOffset(GameAddress(kVarP2Inertia) + 1, 1, kWindowFirstAddress, order);
    t.span[kVarP2Inertia] = 1;
    return t;
}

// Filled by the compiler, one per byte order, so the decode's offsets are
// constants, and checked by it: a table that reads past the window does not build.
constexpr WindowOffsetTable kTables[kRamByteOrderCount] = {MakeWindowOffsetTable(RamByteOrder::WordSwapped),
                                                           MakeWindowOffsetTable(RamByteOrder::BigEndian)};
static_assert(WindowOffsetsInBounds(kTables[0]) && WindowOffsetsInBounds(kTables[1]),
              "a window offset reads past the RAM window: fix the table");
constexpr const WindowOffsetTable& kTable = kTables[0];

template <RamByteOrder O>
constexpr const WindowOffsetTable& TableOf() {
    return kTables[static_cast<int>(O)];
}

// The value of variable E in the window copy kept in byte order O, of the
// width the decode reads and with the table's signedness: a fixed offset into
// the copy.
template <RamByteOrder O, GameVariable E>
auto Value(const uint8_t* w) {
    constexpr uint32_t offset = TableOf<O>().offset[E];
    constexpr uint32_t width = TableOf<O>().span[E];
    static_assert(width == 1 || width == 2 || width == 4, "a value is a byte, a word or a long");
    uint32_t raw;
    if constexpr (width == 1) {
        raw = w[offset];
    } else if constexpr (width == 2) {
        raw = RamLoadWord<O>(w, offset);
    } else {
        raw = RamLoadLong<O>(w, offset);
    }
    if constexpr (kGameVariables[E].isSigned) {
        static_assert(width < 4, "no signed long is read");
        return width == 1 ? int32_t{static_cast<int8_t>(raw)} : int32_t{static_cast<int16_t>(raw)};
    } else {
        return raw;
    }
}

// Any non-zero byte.
template <RamByteOrder O, GameVariable E>
uint8_t Flag(const uint8_t* w) {
    return Value<O, E>(w) != 0 ? 1 : 0;
}

template <RamByteOrder O>
void Decode(const uint8_t* w, RamMirror& r) {
    r.levelFrame = Value<O, kVarLevelFrame>(w);
    r.timerFrame = Value<O, kVarTimerFrame>(w);
    r.globalFrame = Value<O, kVarGlobalFrame>(w);
    r.timerSeconds = Value<O, kVarTimerSeconds>(w);
    r.timerMinutes = Value<O, kVarTimerMinutes>(w);
    r.zone = Value<O, kVarZone>(w);
    r.act = Value<O, kVarAct>(w);
    r.rings = Value<O, kVarRings>(w);
    r.collectedA = Value<O, kVarCollectedA>(w);
    r.collectedB = Value<O, kVarCollectedB>(w);
    r.lives = Value<O, kVarLives>(w);
    r.continues = Value<O, kVarContinues>(w);
    r.gameMode = Value<O, kVarGameMode>(w);

    r.p1PosX = Value<O, kVarP1PosX>(w);
    r.p1PosXSub = Value<O, kVarP1PosXSub>(w);
    r.p1PosY = Value<O, kVarP1PosY>(w);
    r.p1PosYSub = Value<O, kVarP1PosYSub>(w);
    r.p1VelX = Value<O, kVarP1VelX>(w);
    r.p1VelY = Value<O, kVarP1VelY>(w);
    r.p1Inertia = Value<O, kVarP1Inertia>(w);
    r.p1HitTimer = Value<O, kVarP1HitTimer>(w);
    r.p1SpindashFlag = Value<O, kVarP1SpindashFlag>(w);
    r.p1SpindashCount = Value<O, kVarP1SpindashCount>(w);

    r.p2PosX = Value<O, kVarP2PosX>(w);
    r.p2PosXSub = Value<O, kVarP2PosXSub>(w);
    r.p2PosY = Value<O, kVarP2PosY>(w);
    r.p2PosYSub = Value<O, kVarP2PosYSub>(w);
    r.p2VelX = Value<O, kVarP2VelX>(w);
    r.p2VelY = Value<O, kVarP2VelY>(w);
    r.p2Inertia = Value<O, kVarP2Inertia>(w);
    r.p2HitTimer = Value<O, kVarP2HitTimer>(w);
    r.p2SpindashFlag = Value<O, kVarP2SpindashFlag>(w);
    r.p2SpindashCount = Value<O, kVarP2SpindashCount>(w);

    r.p1Buttons = Value<O, kVarP1Buttons>(w);
    r.p2Buttons = Value<O, kVarP2Buttons>(w);
    r.p1Pressed = Value<O, kVarP1Pressed>(w);
    r.p2Pressed = Value<O, kVarP2Pressed>(w);
    r.pauseFlag = Flag<O, kVarPause>(w);
    r.debugFlag = Flag<O, kVarDebug>(w);

    // The id is the first byte of each 64-byte object record.
    r.objectCount = kObjectIdsSampled;
    const uint8_t* id = w + TableOf<O>().offset[kVarObjectIds];
    for (int i = 0; i < kObjectIdsSampled; ++i) {
        r.objectIds[i] = id[kObjectRecordStride * static_cast<uint32_t>(i)];
    }

}

}  // namespace

const WindowOffsetTable& WindowOffsets() { return kTable; }

void InitRamDecode(RamMirror& ram) {
    std::memset(&ram, 0, sizeof(ram));
    ram.objectCount = kObjectIdsSampled;
}

// The one place the byte order is taken: one branch a pass, each side with
// its offsets fixed by the compiler.
void DecodeRamWindow(const uint8_t* w, RamByteOrder order, RamMirror& r) {
    if (order == RamByteOrder::WordSwapped) {
        Decode<RamByteOrder::WordSwapped>(w, r);
    } else {
        Decode<RamByteOrder::BigEndian>(w, r);
    }
}

void DecodeRamWindow(const uint8_t* w, RamMirror& r) { Decode<RamByteOrder::WordSwapped>(w, r); }


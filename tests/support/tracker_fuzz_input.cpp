#include "support/tracker_fuzz_input.h"

#include <cstring>

#include "app/layout.h"
#include "tracking/level_names.h"
#include "app/screen_buffer.h"
#include "emulator/core_layout.h"
#include "emulator/ram_decode.h"
#include "tools/ram/ram_writer.h"
#include "tracking/classifier.h"
#include "tracking/timeline.h"

namespace {

constexpr int kGridColumns = 160;
constexpr int kGridRows = 64;

bool InvariantsHold(const GameSnapshot& snapshot) {
    const TrackerStats& stats = snapshot.stats;
    if (static_cast<uint32_t>(stats.trackerState) >= static_cast<uint32_t>(kTrackerStateCount)) return false;
    if (stats.levelIndex >= static_cast<uint32_t>(kLevelNameCount)) return false;
    if (stats.run.recordCount < 0 || stats.run.recordCount > kLevelRecordCapacity) return false;
    for (int i = 0; i < stats.run.recordCount; ++i) {
        if (stats.run.records[i].levelIndex >= static_cast<uint32_t>(kLevelNameCount)) return false;
    }
    return true;
}

// The window's clocks, read and written by the game's variables where the
// decode finds them.
struct Clocks {
    RamWriter ram;

    uint32_t Get(GameVariable v) const { return RamReadVariable(ram, v); }
    void Set(GameVariable v, uint32_t value) const { RamWriteVariable(ram, v, value); }
    // A byte counter stepped by one: true when it reached `limit` and went back to 0.
    bool Step(GameVariable v, uint32_t limit) const {
        const uint32_t next = (Get(v) + 1) & 0xFFu;
        Set(v, next < limit ? next : 0);
        return next >= limit;
    }

    // One frame of the game: the global counter always moves on.
    void Advance(uint8_t kind) const {
        Set(kVarGlobalFrame, Get(kVarGlobalFrame) + 1);
        Set(kVarPause, kind == kFuzzFramePause ? 1 : 0);
        if (kind == kFuzzFrameRun || kind == kFuzzFrameHold) Set(kVarLevelFrame, Get(kVarLevelFrame) + 1);
        if (kind != kFuzzFrameRun) return;
        if (Step(kVarTimerFrame, 60) && Step(kVarTimerSeconds, 60)) Step(kVarTimerMinutes, 256);
    }
};

// Microseconds of one game frame on the passes' clock.
constexpr uint64_t kFramePeriod = 16689;

struct Player {
    uint8_t* window;
    GameSnapshot& snapshot;
    FrameWatch& watch;
    TrackerFuzzReach* reach;
    uint64_t now = 0;

    void Note(const TrackerStats& before) {
        if (reach == nullptr) return;
        const TrackerStats& after = snapshot.stats;
        const uint32_t mode = snapshot.ram.gameMode & 0xFF;
        reach->gameModesSeen[mode / 32] |= 1u << (mode % 32);
        reach->statesSeen |= 1u << (static_cast<uint32_t>(after.trackerState) & 31);
        if (after.latches.levelEndSeen != 0 && before.latches.levelEndSeen == 0) ++reach->levelEnds;
        if (after.run.totals.deaths > reach->mostDeaths) reach->mostDeaths = after.run.totals.deaths;
        if (after.run.recordCount > reach->mostRecords) reach->mostRecords = after.run.recordCount;
        if (after.latches.levelClosed != 0 && before.latches.levelClosed == 0 &&
            before.run.recordCount == kLevelRecordCapacity)
            ++reach->closesPastCapacity;
        if (after.latches.specialStageSeen != 0 && before.latches.specialStageSeen == 0) ++reach->specialStageEntries;
    }
    bool Pass() {
        const TrackerStats before = snapshot.stats;
        RamMirror frame;
        DecodeRamWindow(window, frame);
        TrackRead(watch, snapshot, frame, now);
        Note(before);
        return InvariantsHold(snapshot);
    }
    bool SignatureLost() {
        const TrackerStats before = snapshot.stats;
        TakeHeldRead(watch, snapshot);
        watch.chained = 0;
        ClassifyFrame(snapshot, snapshot.ram);
        Note(before);
        return InvariantsHold(snapshot);
    }
};

}  // namespace

bool PlayTrackerInput(const uint8_t* data, size_t size, TrackerFuzzReach* reach) {
    static uint8_t window[kWindowSize];
    static GameSnapshot snapshot;
    static GameSnapshot copy;
    static FrameWatch watch;
    static char cells[kGridColumns * kGridRows];

    std::memset(window, 0, sizeof(window));
    std::memcpy(window + kSignatureWindowOffset, kRamSignature, kSignatureSize);
    snapshot = GameSnapshot{};
    InitRamDecode(snapshot.ram);
    const WindowOffsetTable& table = WindowOffsets();
    const Clocks clocks{RamWriter{window, kWindowSize, kWindowFirstAddress}};
    watch = FrameWatch{};
    watch.counterFrequency = 1e6;
    Player player{window, snapshot, watch, reach};

    for (size_t i = 0; i + 4 <= size; i += 4) {
        const uint8_t op = data[i] % 8, a = data[i + 1], b = data[i + 2], c = data[i + 3];
        switch (op) {
            case kFuzzOpPass:
                if (!player.Pass()) return false;
                break;
            case kFuzzOpSignatureLost:
                if (!player.SignatureLost()) return false;
                break;
            case kFuzzOpCompose: {
                copy = snapshot;
                ScreenBuffer screen{};
                screen.width = 1 + a % kGridColumns;
                screen.height = 1 + b % kGridRows;
                screen.size = screen.width * screen.height;
                screen.cells = cells;
                ScreenFillBlank(screen);
                ComposeScreenLayout(screen, copy);
                // Blank rows only move the row on, so it may pass the last one.
                if (screen.row < 0) return false;
                if (reach != nullptr) ++reach->screens;
                break;
            }
            case kFuzzOpFrames:
                for (int frame = 0; frame <= b % 64; ++frame) {
                    clocks.Advance(a % 4);
                    player.now += kFramePeriod;
                    for (int pass = 0; pass <= c % 3; ++pass) {
                        if (!player.Pass()) return false;
                    }
                }
                break;
            default: {
                const int entry = a % kVarSignature;
                uint32_t offset = table.offset[entry];
                if (entry == kVarObjectIds) offset += kObjectRecordStride * (c % kObjectIdsSampled);
                window[offset] = b;
                window[offset ^ 1] = c;
                break;
            }
        }
    }
    return true;
}

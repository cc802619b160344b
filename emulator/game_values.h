// Sonic 2's own values that its variables (emulator/game_variables.h) are read
// against: the main modes, the results object, the levels by zone and act, and
// the levels whose timer the water line steps. Written here once.
#pragma once

#include <cstdint>

// Values of the game's main mode byte (gameMode) that the tracker knows.
inline constexpr uint32_t kModeSegaLogo = 0;
inline constexpr uint32_t kModeTitle = 4;
inline constexpr uint32_t kModeLevel = 12;
inline constexpr uint32_t kModeSpecialStage = 16;
inline constexpr uint32_t kModeContinue = 20;
inline constexpr uint32_t kModeEnding = 32;
inline constexpr uint32_t kModeOptions = 36;
inline constexpr uint32_t kModeLevelSelect = 40;
inline constexpr uint32_t kModePreLevel = 140;  // level mode with the title-card bit (0x80) set

// Id of the level results object; its presence among the sampled objects marks
// the end of a level.
inline constexpr uint32_t kResultsObjectId = 58;

// Level indexes: the levels in the order of play, rows of the level name
// table, 0 to kLevelIndexBlank.
inline constexpr int kLevelIndexCount = 21;
// Level index of the blank name: unknown zones and indexes past the table.
inline constexpr uint32_t kLevelIndexBlank = 20;

// The level index of a zone and act. Zone numbers follow the game's internal
// order, not the order of play; a zone with one entry in the table ignores the
// act.
constexpr uint32_t LevelIndexFor(uint32_t zone, uint32_t act) {
    uint32_t first = 0;
    bool byAct = true;
    switch (zone) {
        case 0: first = 0; break;                   // EH1, EH2
        case 4: first = 14; break;                  // MZ1, MZ2
        case 5: first = 16; byAct = false; break;   // MZ3
        case 6: first = 18; byAct = false; break;   // WF
        case 7: first = 8; break;                   // HT1, HT2
        case 10: first = 12; break;                 // OO1, OO2
        case 11: first = 10; break;                 // MC1, MC2
        case 12: first = 6; break;                  // CN1, CN2
        case 13: first = 2; break;                  // CP1, CP2
        case 14: first = 19; byAct = false; break;  // DE
        case 15: first = 4; break;                  // AR1, AR2
        case 16: first = 17; byAct = false; break;  // SC
        default: return kLevelIndexBlank;
    }
    // The sum is taken wide so that no act value can wrap it back into range.
    const uint64_t index = uint64_t{first} + (byAct ? uint64_t{act} : 0);
    return index > kLevelIndexBlank ? kLevelIndexBlank : static_cast<uint32_t>(index);
}

// The levels with water, for which the game hands its HUD update (the timer)
// from the vertical blank to the horizontal interrupt at the water line, part-
// way down the screen: Chemical Plant 2, Aquatic Ruin, Hidden Palace.
constexpr bool TimerAtWaterLine(uint32_t zone, uint32_t act) {
    constexpr uint32_t kChemicalPlant = 13, kAquaticRuin = 15, kHiddenPalace = 8;
    return (zone == kChemicalPlant && act == 1) || zone == kAquaticRuin || zone == kHiddenPalace;
}

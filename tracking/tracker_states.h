// The tracker state: a number from 0 to 14 saying what the game is doing, set
// by the classifier and named on the screen.
#pragma once

#include <cstdint>

inline constexpr uint32_t kStateSegaLogo = 0;
inline constexpr uint32_t kStateTitleScreen = 1;        // named only; nothing leads to it
inline constexpr uint32_t kStateLevelTransition = 2;
inline constexpr uint32_t kStatePostDeathTransition = 3;
inline constexpr uint32_t kStateLevelActive = 4;
inline constexpr uint32_t kStateSpecialStage = 5;
inline constexpr uint32_t kStateContinueScreen = 6;
inline constexpr uint32_t kStateGameStarting = 7;
inline constexpr uint32_t kStateEnding = 8;
inline constexpr uint32_t kStateOptionsMenu = 9;
inline constexpr uint32_t kStateLevelSelect = 10;
inline constexpr uint32_t kStatePaused = 11;
inline constexpr uint32_t kStateDeath = 12;
inline constexpr uint32_t kStateLevelEnd = 13;
inline constexpr uint32_t kStateOther = 14;

inline constexpr int kTrackerStateCount = 15;      // tracker states 0..14
inline constexpr int kStateNameSize = 64;          // bytes of one name, NUL included

// Names of the tracker states, indexed by trackerState.
inline constexpr char kTrackerStateNames[kTrackerStateCount][kStateNameSize] = {
    "sega logo",             // 0
    "title screen",          // 1
    "level transition",      // 2
    "post-death transition", // 3
    "level active",          // 4
    "special stage",         // 5
    "continue screen",       // 6
    "game starting",         // 7
    "ending sequence",       // 8
    "options menu",          // 9
    "level select",          // 10
    "paused",                // 11
    "death",                 // 12
    "level end",             // 13
    "other/unknown",         // 14
};

// The states that belong to playing a level: 2..7, 11, 12, 13.
inline constexpr uint32_t kTrackingActiveMask = 0x38FC;

// True in the states that belong to playing a level (2..7, 11..13).
constexpr bool TrackingActive(uint32_t trackerState) {
    return trackerState < 32 && ((kTrackingActiveMask >> trackerState) & 1u) != 0;
}

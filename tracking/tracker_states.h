// The tracker state: what the game is doing, set by the classifier and named
// on the screen.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TrackerState : uint32_t {
    SegaLogo,
    TitleScreen,          // names the place a jump lands on; the classifier never sets it
    LevelTransition,
    PostDeathTransition,
    LevelActive,
    SpecialStage,
    ContinueScreen,
    GameStarting,
    Ending,
    OptionsMenu,
    LevelSelect,
    Paused,
    Death,
    LevelEnd,
    Other,
};

inline constexpr int kTrackerStateCount = static_cast<int>(TrackerState::Other) + 1;
inline constexpr int kStateNameSize = 64;          // bytes of one name, NUL included

// Names of the tracker states, in the enum's order.
inline constexpr char kTrackerStateNames[kTrackerStateCount][kStateNameSize] = {
    "sega logo",
    "title screen",
    "level transition",
    "post-death transition",
    "level active",
    "special stage",
    "continue screen",
    "game starting",
    "ending sequence",
    "options menu",
    "level select",
    "paused",
    "death",
    "level end",
    "other/unknown",
};

constexpr const char* TrackerStateName(TrackerState state) { return kTrackerStateNames[static_cast<size_t>(state)]; }

// True in the states that belong to playing a level: from the transition into
// it to its end, paused or dying on the way, a special stage and the continue
// screen included.
constexpr bool TrackingActive(TrackerState state) {
    switch (state) {
        case TrackerState::LevelTransition:
        case TrackerState::PostDeathTransition:
        case TrackerState::LevelActive:
        case TrackerState::SpecialStage:
        case TrackerState::ContinueScreen:
        case TrackerState::GameStarting:
        case TrackerState::Paused:
        case TrackerState::Death:
        case TrackerState::LevelEnd:
            return true;
        default:
            return false;
    }
}

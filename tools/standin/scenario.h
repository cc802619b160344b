// Scenarios of the stand-in emulator: plain text, written by hand, one step per
// line. The format is described in tools/standin/README.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a step does with the game's frame counters on each of its frames.
enum class StepKind {
    Set,      // assignments only, no frame
    Run,      // the level runs: global frame, level frame and game timer advance
    Hold,     // global and level frame advance, the game timer stands (results, title cards)
    Lag,      // only the global frame counter advances: the game missed its frame
    Pause,    // pause flag set, only the global frame counter advances; cleared afterwards
    Freeze,   // nothing is written for the step's frames (the emulator itself paused)
    Fps,      // frames per second from here on
    Mode,     // the cartridge's state: game, menu or other
    Exit,     // the process ends
    Say,      // a line on standard output, for whoever drives the stand-in
};

enum class CartridgeMode { Game, Menu, Other };

// A variable the scenario writes. The frame counters and the game timer belong
// to the stand-in's clock, which advances them (and the pause flag, which only
// the pause step sets); everything else is a value at a 68000 address.
enum class Target { GlobalFrame, LevelFrame, Timer, TimerMinutes, TimerSeconds, TimerFrame, Memory };

struct Assignment {
    Target target;
    uint32_t address;   // 68000 address for Target::Memory
    uint8_t width;      // bytes: 1, 2 or 4
    uint32_t value;     // for Target::Timer: minutes << 16 | seconds << 8 | sixtieths
    bool everyFrame;    // NAME+=DELTA: `value` is added on every frame of the step (modulo the width)
};

struct Step {
    StepKind kind;
    uint32_t frames;            // frames of Run, Hold, Lag, Pause, Freeze
    uint32_t argument;          // Fps: frames per second; Mode: CartridgeMode; Exit: status; Say: index into texts
    uint32_t firstAssignment;   // index into Scenario::assignments
    uint32_t assignmentCount;   // applied before the step's first frame
    int line;                   // source line, for messages
};

struct Scenario {
    std::vector<Step> steps;
    std::vector<Assignment> assignments;
    std::vector<std::string> texts;   // lines of the say steps
};

// Parses a whole scenario. On an error returns false with "LINE: message" in `error`.
bool ParseScenario(const std::string& text, Scenario* scenario, std::string* error);

// Frames the scenario plays once through (Freeze counts as frames of waiting).
uint64_t ScenarioFrameCount(const Scenario& scenario);

#include "tools/standin/scenario.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "emulator/game_variables.h"

namespace {

// A scenario sets the game's variables by their names in the game's table
// (emulator/game_variables.h), all but the pause flag (the pause step's), the
// object ids (set by slot) and the signature (the cartridge's mode). The frame
// counters and the timer belong to the stand-in's clock.
bool Settable(GameVariable v) { return v != kVarPause && v != kVarObjectIds && v != kVarSignature; }

Target TargetOf(GameVariable v) {
    switch (v) {
        case kVarGlobalFrame: return Target::GlobalFrame;
        case kVarLevelFrame: return Target::LevelFrame;
        case kVarTimerMinutes: return Target::TimerMinutes;
        case kVarTimerSeconds: return Target::TimerSeconds;
        case kVarTimerFrame: return Target::TimerFrame;
        default: return Target::Memory;
    }
}

constexpr const char* kObjectPrefix = kGameVariables[kVarObjectIds].name;   // object0 ... object255
constexpr uint32_t kObjectSlots = 256;
constexpr const char* kButtonLetters = "UDLRBCAS";   // bits 0..7: Up Down Left Right B C A Start

std::string AddressText(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", address);
    return text;
}

bool ParseNumber(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *value = parsed;
    return true;
}

bool ParseCount(const std::string& text, uint32_t* value) {
    int64_t parsed;
    if (!ParseNumber(text, &parsed) || parsed < 0 || parsed > 100000000) return false;
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// A number that fits `width` bytes, signed or unsigned.
bool ParseValue(const std::string& text, uint8_t width, uint32_t* value) {
    int64_t parsed;
    if (!ParseNumber(text, &parsed)) return false;
    const int64_t unsignedMax = width == 4 ? 0xFFFFFFFFll : (1ll << (8 * width)) - 1;
    const int64_t signedMin = -(1ll << (8 * width - 1));
    if (parsed < signedMin || parsed > unsignedMax) return false;
    *value = static_cast<uint32_t>(parsed) & static_cast<uint32_t>(unsignedMax);
    return true;
}

// A button byte: a number, or letters of "UDLRBCAS", or "-" for none.
bool ParseButtons(const std::string& text, uint32_t* value) {
    if (text == "-") {
        *value = 0;
        return true;
    }
    if (ParseValue(text, 1, value)) return true;
    uint32_t bits = 0;
    for (char letter : text) {
        const char* at = std::strchr(kButtonLetters, letter);
        if (at == nullptr || letter == '\0') return false;
        bits |= 1u << (at - kButtonLetters);
    }
    *value = bits;
    return true;
}

// M:SS:FF, the game timer's minutes, seconds and sixtieths.
bool ParseTimer(const std::string& text, uint32_t* value) {
    unsigned minutes, seconds, sixtieths;
    char tail;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &minutes, &seconds, &sixtieths, &tail) != 3) return false;
    if (minutes > 255 || seconds > 59 || sixtieths > 59) return false;
    *value = minutes << 16 | seconds << 8 | sixtieths;
    return true;
}

bool ParseAssignment(const std::string& token, Assignment* assignment, std::string* problem) {
    size_t equals = token.find('=');
    if (equals == std::string::npos || equals == 0) {
        *problem = "expected NAME=VALUE or NAME+=DELTA, got '" + token + "'";
        return false;
    }
    const bool everyFrame = token[equals - 1] == '+';
    const std::string name = token.substr(0, everyFrame ? equals - 1 : equals);
    const std::string value = token.substr(equals + 1);
    if (name.empty()) {
        *problem = "expected NAME=VALUE or NAME+=DELTA, got '" + token + "'";
        return false;
    }

    // byte@ADDR, word@ADDR, long@ADDR: any 68000 address of work RAM.
    size_t at = name.find('@');
    if (at != std::string::npos) {
        const std::string kind = name.substr(0, at);
        uint8_t width = kind == "byte" ? 1 : kind == "word" ? 2 : kind == "long" ? 4 : 0;
        int64_t address;
        if (width == 0 || !ParseNumber(name.substr(at + 1), &address) || address < kWorkRamFirstAddress ||
            address + width > kWorkRamFirstAddress + kWorkRamSize || (width > 1 && (address & 1) != 0)) {
            *problem = "bad address in '" + name + "' (byte@, word@ or long@ and an address " +
                       AddressText(kWorkRamFirstAddress) + ".." + AddressText(kWorkRamFirstAddress + kWorkRamSize - 1) +
                       ", even for words and longs)";
            return false;
        }
        *assignment = {Target::Memory, static_cast<uint32_t>(address), width, 0, false};
    } else if (name.rfind(kObjectPrefix, 0) == 0 && name.size() > std::strlen(kObjectPrefix)) {
        uint32_t slot;
        if (!ParseCount(name.substr(std::strlen(kObjectPrefix)), &slot) || slot >= kObjectSlots) {
            *problem = "object slots are object0 to object255";
            return false;
        }
        *assignment = {Target::Memory, GameAddress(kVarObjectIds) + kObjectRecordStride * slot, 1, 0, false};
    } else if (name == "timer") {
        *assignment = {Target::Timer, 0, 0, 0, false};
    } else {
        int found = kGameVariableCount;
        for (int i = 0; i < kGameVariableCount; ++i) {
            if (name == kGameVariables[i].name && Settable(static_cast<GameVariable>(i))) found = i;
        }
        if (found == kGameVariableCount) {
            *problem = "unknown variable '" + name + "'";
            return false;
        }
        const auto variable = static_cast<GameVariable>(found);
        *assignment = {TargetOf(variable), GameAddress(variable), static_cast<uint8_t>(GameWidth(variable)), 0, false};
    }

    assignment->everyFrame = everyFrame;
    if (everyFrame) {
        if (assignment->target != Target::Memory) {
            *problem = name + " is advanced by the stand-in's clock; += is for the game's other variables";
            return false;
        }
        if (!ParseValue(value, assignment->width, &assignment->value)) {
            *problem = "bad step for " + name + ": '" + value + "'";
            return false;
        }
        return true;
    }

    bool ok;
    if (assignment->target == Target::Timer) {
        ok = ParseTimer(value, &assignment->value);
    } else if (name == "p1Buttons" || name == "p2Buttons") {
        ok = ParseButtons(value, &assignment->value);
    } else {
        ok = ParseValue(value, assignment->width, &assignment->value);
    }
    if (!ok) *problem = "bad value for " + name + ": '" + value + "'";
    return ok;
}

}  // namespace

bool ParseScenario(const std::string& text, Scenario* scenario, std::string* error) {
    scenario->steps.clear();
    scenario->assignments.clear();
    scenario->texts.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string word; words >> word;) tokens.push_back(word);
        if (tokens.empty()) continue;

        auto fail = [&](const std::string& problem) {
            *error = std::to_string(number) + ": " + problem;
            return false;
        };
        Step step{StepKind::Set, 0, 0, static_cast<uint32_t>(scenario->assignments.size()), 0, number};
        const std::string& command = tokens[0];
        size_t firstAssignmentToken = 1;
        if (command == "set") {
            step.kind = StepKind::Set;
            if (tokens.size() < 2) return fail("set needs at least one NAME=VALUE");
        } else if (command == "run" || command == "hold" || command == "lag" || command == "pause" ||
                   command == "freeze") {
            step.kind = command == "run"    ? StepKind::Run
                        : command == "hold" ? StepKind::Hold
                        : command == "lag"  ? StepKind::Lag
                        : command == "pause" ? StepKind::Pause
                                             : StepKind::Freeze;
            if (tokens.size() < 2 || !ParseCount(tokens[1], &step.frames) || step.frames == 0)
                return fail(command + " needs a number of frames, 1 or more");
            if (step.kind == StepKind::Freeze && tokens.size() > 2) return fail("freeze writes nothing: no NAME=VALUE");
            firstAssignmentToken = 2;
        } else if (command == "fps") {
            step.kind = StepKind::Fps;
            if (tokens.size() != 2 || !ParseCount(tokens[1], &step.argument) || step.argument == 0 ||
                step.argument > 1000)
                return fail("fps needs one number from 1 to 1000");
            firstAssignmentToken = tokens.size();
        } else if (command == "mode") {
            step.kind = StepKind::Mode;
            if (tokens.size() != 2) return fail("mode needs one of game, menu, other");
            if (tokens[1] == "game") {
                step.argument = static_cast<uint32_t>(CartridgeMode::Game);
            } else if (tokens[1] == "menu") {
                step.argument = static_cast<uint32_t>(CartridgeMode::Menu);
            } else if (tokens[1] == "other") {
                step.argument = static_cast<uint32_t>(CartridgeMode::Other);
            } else {
                return fail("mode needs one of game, menu, other");
            }
            firstAssignmentToken = tokens.size();
        } else if (command == "exit") {
            step.kind = StepKind::Exit;
            if (tokens.size() > 2 || (tokens.size() == 2 && (!ParseCount(tokens[1], &step.argument) || step.argument > 255)))
                return fail("exit takes an optional status from 0 to 255");
            firstAssignmentToken = tokens.size();
        } else if (command == "say") {
            step.kind = StepKind::Say;
            if (tokens.size() < 2) return fail("say needs a text");
            std::string text = tokens[1];
            for (size_t i = 2; i < tokens.size(); ++i) text += " " + tokens[i];
            step.argument = static_cast<uint32_t>(scenario->texts.size());
            scenario->texts.push_back(text);
            firstAssignmentToken = tokens.size();
        } else {
            return fail("unknown command '" + command + "'");
        }

        for (size_t i = firstAssignmentToken; i < tokens.size(); ++i) {
            Assignment assignment;
            std::string problem;
            if (!ParseAssignment(tokens[i], &assignment, &problem)) return fail(problem);
            scenario->assignments.push_back(assignment);
            ++step.assignmentCount;
        }
        scenario->steps.push_back(step);
    }
    return true;
}

uint64_t ScenarioFrameCount(const Scenario& scenario) {
    uint64_t frames = 0;
    for (const Step& step : scenario.steps) frames += step.frames;
    return frames;
}

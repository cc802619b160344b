#include "tracking/level_names.h"

#include <cstring>

namespace {

struct LevelNames {
    const char* file;
    const char* screen;
};

constexpr LevelNames kLevelNames[kLevelNameCount] = {
    {"EH1", "EH1"}, {"EH2", "EH2"}, {"CP1", "CP1"}, {"CP2", "CP2"}, {"AR1", "AR1"}, {"AR2", "AR2"},  // 0..5
    {"CN1", "CN1"}, {"CN2", "CN2"}, {"HT1", "HT1"}, {"HT2", "HT2"}, {"MC1", "MC1"}, {"MC2", "MC2"},  // 6..11
    {"OO1", "OO1"}, {"OO2", "OO2"}, {"MZ1", "MZ1"}, {"MZ2", "MZ2"}, {"MZ3", "MZ3"},                  // 12..16
    {"SC", "SC "},  {"WF", "WF "},  {"DE", "DE "},  {"", "  "},                                      // 17..20
};
static_assert(kLevelIndexBlank == kLevelNameCount - 1, "the blank name is the table's last row");

const LevelNames& Row(uint32_t levelIndex) {
    return kLevelNames[levelIndex < static_cast<uint32_t>(kLevelNameCount) ? levelIndex : kLevelIndexBlank];
}

}  // namespace

const char* LevelName(uint32_t levelIndex) { return Row(levelIndex).file; }

const char* LevelScreenName(uint32_t levelIndex) { return Row(levelIndex).screen; }

int LevelIndexByName(const char* text) {
    for (int i = 0; i < kLevelNameCount; ++i) {
        if (std::strcmp(text, kLevelNames[i].file) == 0 || std::strcmp(text, kLevelNames[i].screen) == 0) return i;
    }
    return -1;
}

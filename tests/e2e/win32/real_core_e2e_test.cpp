// The Windows program beside the real emulator core: ringwatch.exe in tmux,
// and tools/frontend's retroarch.exe running genesis_plus_gx_libretro.dll
// built from the core's source on the test cartridges, which play the
// stand-in's scenarios (their ground truth written by hand in the scenario
// files). Skipped with one line when the core or the cartridges haven't been
// built; in CI (CI=true) that is a failure.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <chrono>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/child_process.h"
#include "e2e/e2e_support.h"
#include "e2e/ground_truth.h"
#include "e2e/win32/frontend.h"
#include "emulator/core_layout.h"
#include "platform/process_memory.h"

namespace {

using namespace std::chrono_literals;

const std::string kTimer = "Timer: high resolution*";   // the waitable timer with its flag
const std::string kLoaded = "<loaded>";       // "SUCCESS: Loaded <the copy's core> in retroarch.exe."
const std::string kRamFound = "<ram found>";  // "Work RAM found at core + <where the core says it is>"
const std::string kGameFound = "Game found: Sonic 2";
const std::string kChecksumIncorrect =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";
const std::string kNotRunning = NotFoundMessage();

// One run of the frontend: a cartridge, and the say line (its number in the
// cartridge's say marker) after which the test kills it; 0: never.
struct Play {
    const char* cartridge;
    uint16_t killAfterSay;
};

struct Case {
    const char* name;
    std::vector<Play> plays;
    bool freeRom;                      // only the core's swapped copy of the header exists
    std::vector<std::string> log;      // the whole log, a run of equal messages counted once
    std::vector<std::string> screen;   // lines of the screen at the end
};

const Case kCases[] = {
    {"playthrough",
     {{"playthrough.md", 0}},
     false,
     {"No arguments passed. Using default refresh rate of 5Hz", kTimer, kLoaded, kRamFound, kGameFound},
     {std::begin(kPlayThroughFinalScreen), std::end(kPlayThroughFinalScreen)}},
    // Menu and another game in the middle of a run, with only the swapped
    // header in memory: every identification scans and searches anew.
    {"switches, ROM freed",
     {{"switches.md", 0}},
     true,
     {"No arguments passed. Using default refresh rate of 5Hz", kTimer, kLoaded, kRamFound, kGameFound,
      "Unknown checksum at end of RAM", kLoaded, kChecksumIncorrect, kRamFound, kGameFound,
      "Unknown checksum at end of RAM", kLoaded, kChecksumIncorrect, kRamFound, kGameFound},
     {"Tracking active: CP1 - Game state: level end",
      " Total IGT: 01:30, Adjusted: 01:31.50 - Pauses  3, Deaths 0, Lag  0, Rings   60 (0)",
      " EH1 - IGT: 00:20.50 - PerfectS  0, P1 Hurt  0, Pauses  1, Deaths  0, Lag   0 - Rings  10 (0)",
      " EH2 - IGT: 00:30.50 - PerfectS  0, P1 Hurt  0, Pauses  1, Deaths  0, Lag   0 - Rings  20 (0)",
      " CP1 - IGT: 00:40.50 - PerfectS  0, P1 Hurt  0, Pauses  1, Deaths  0, Lag   0 - Rings  30 (0)"}},
    // Killed in the middle of a level and started again on the rest of it:
    // one record with both halves' pauses.
    {"killed and started again",
     {{"restart_before.md", 1}, {"restart_after.md", 0}},
     false,
     {"No arguments passed. Using default refresh rate of 5Hz", kTimer, kLoaded, kRamFound, kGameFound,
      "ReadProcessMemory failed with error code '*", kLoaded, kRamFound, kGameFound},
     {"Tracking active: EH1 - Game state: level end",
      " Total IGT: 00:30, Adjusted: 00:30.50 - Pauses  2, Deaths 0, Lag  0, Rings   20 (0)",
      " EH1 - IGT: 00:30.50 - PerfectS  0, P1 Hurt  0, Pauses  2, Deaths  0, Lag   0 - Rings  20 (0)"}},
};

// The messages of the log from every screen captured, by their time and
// number ("HH:MM:SS.mmm NNN": the main thread and the tracker number theirs
// apart).
void CollectLog(const std::string& screen, std::map<std::string, std::string>* log) {
    static const std::regex entry("^\\[(\\d+) - (\\d+:\\d\\d:\\d\\d\\.\\d{3})\\] (.*)$");
    size_t start = 0;
    while (start < screen.size()) {
        size_t end = screen.find('\n', start);
        if (end == std::string::npos) end = screen.size();
        const std::string line = screen.substr(start, end - start);
        std::smatch match;
        if (std::regex_match(line, match, entry)) (*log)[match[2].str() + " " + match[1].str()] = match[3];
        start = end + 1;
    }
}

// Copies of the cartridge header in the frontend's memory: in the file's byte
// order (the frontend's copy) and swapped in pairs (the core's).
void CountHeaderCopies(uint32_t pid, int* fileOrder, int* swapped) {
    *fileOrder = *swapped = 0;
    ProcessHandle process = nullptr;
    ProcessOpen(pid, &process);
    for (uint64_t address : HeaderCopiesIn(pid)) {
        char bytes[kHeaderPatternSize];
        if (ProcessRead(process, address, bytes, sizeof bytes).status != ProcessStatus::Ok) continue;
        ++*(std::memcmp(bytes, kHeaderPattern, sizeof bytes) == 0 ? fileOrder : swapped);
    }
    ProcessClose(process);
}

size_t Count(const std::map<std::string, std::string>& log, const std::string& text) {
    size_t count = 0;
    for (const auto& [when, message] : log) count += message == text;
    return count;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Plays one case with a terminal and a frontend of its own.
void PlayCase(const Case& test, const std::string& core, const std::string& cartridges) {
    // The frontend with the core and the cartridges beside it.
    const std::string directory = FrontendDirectory(core);
    ASSERT_FALSE(directory.empty());
    for (const Play& play : test.plays) {
        ASSERT_TRUE(CopyFileA((cartridges + play.cartridge).c_str(), (directory + play.cartridge).c_str(), FALSE))
            << play.cartridge;
    }

    Frontend frontend;
    Terminal terminal;
    std::map<std::string, std::string> log;
    std::string screen;
    for (size_t i = 0; i < test.plays.size(); ++i) {
        const Play& play = test.plays[i];
        // The frontend stops after half a second, in the Sega logo, until
        // the program has found the game: a pause or lag frame it plays
        // before then would be counted by nobody.
        std::vector<std::string> args = {"--hold", "30"};
        if (test.freeRom) args.push_back("--free-rom");
        args.push_back(directory + play.cartridge);
        ASSERT_TRUE(frontend.Start(directory, args)) << play.cartridge << ": " << frontend.error();
        ASSERT_FALSE(frontend.WaitForLine("holding", 10000).empty()) << play.cartridge;
        int fileOrder = 0, swapped = 0;
        CountHeaderCopies(frontend.pid(), &fileOrder, &swapped);
        EXPECT_GE(swapped, 1) << "the core's copy of the header";
        EXPECT_EQ(fileOrder > 0, !test.freeRom) << fileOrder << " copies in the file's byte order";
        if (i == 0) {
            ASSERT_TRUE(terminal.Start(RINGWATCH_PROGRAM_LAUNCHER + ShellQuoted(RINGWATCH_PROGRAM), 200, 60));
        }
        const size_t foundBefore = Count(log, kGameFound);
        const auto found = std::chrono::steady_clock::now() + 20s;
        while (Count(log, kGameFound) == foundBefore && std::chrono::steady_clock::now() < found) {
            std::this_thread::sleep_for(200ms);
            screen = terminal.Capture();
            CollectLog(screen, &log);
        }
        ASSERT_GT(Count(log, kGameFound), foundBefore) << "not identified; last screen:\n" << screen;
        ASSERT_TRUE(frontend.Resume());

        const auto deadline = std::chrono::steady_clock::now() + 90s;
        for (;;) {
            screen = terminal.Capture();
            CollectLog(screen, &log);
            if (play.killAfterSay != 0 ? frontend.RamWord(kCartridgeSayMarker) >= play.killAfterSay : [&] {
                    for (const std::string& line : test.screen) {
                        if (!HasLine(screen, line)) return false;
                    }
                    return true;
                }()) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(300ms);
        }
        if (play.killAfterSay != 0) {
            ASSERT_GE(frontend.RamWord(kCartridgeSayMarker), play.killAfterSay) << "last screen:\n" << screen;
            frontend.Kill();
        }
    }
    std::string missing;
    for (const std::string& line : test.screen) missing += HasLine(screen, line) ? "" : "  " + line + "\n";
    EXPECT_EQ(missing, "") << "last screen:\n" << screen;

    // The log, a run of one message counted once; a kill may leave the
    // tracker looking for the emulator before it is started again. Where the
    // history file lies, and each level against its best, are the main
    // thread's news, not the emulator's.
    const std::regex againstBest("(Run|[A-Z]{2}[0-9]?) [0-9]{2}:[0-9]{2}\\.[0-9]{2}.*");
    std::vector<std::string> seen;
    for (const auto& [when, text] : log) {
        if (text == kNotRunning && test.plays.size() > 1) continue;
        if (text.rfind("Play-through history", 0) == 0 || std::regex_match(text, againstBest)) continue;
        if (seen.empty() || seen.back() != text) seen.push_back(text);
    }
    const std::string loaded = "SUCCESS: Loaded " + CanonicalPath(directory + kCoreModuleName) + " in retroarch.exe.";
    const std::string ramFound = "Work RAM found at core + " + frontend.ramOffset();
    std::vector<std::string> expected;
    for (const std::string& text : test.log) expected.push_back(text == kLoaded ? loaded : text == kRamFound ? ramFound : text);
    EXPECT_NE(frontend.ramOffset(), "0x2A1060") << "this core build keeps work RAM elsewhere";
    bool same = seen.size() == expected.size();
    for (size_t i = 0; same && i < seen.size(); ++i) {
        const std::string& want = expected[i];
        same = want.back() == '*' ? seen[i].rfind(want.substr(0, want.size() - 1), 0) == 0 : seen[i] == want;
    }
    std::string shown;
    for (const std::string& text : seen) shown += "  " + text + "\n";
    EXPECT_TRUE(same) << "the log:\n" << shown << "last screen:\n" << screen;
}

void PrintTo(const Case& test, std::ostream* out) { *out << test.name; }

// A test name for a case: its words, each with a capital.
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    bool wordStart = true;
    for (const char* c = info.param.name; *c != '\0'; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c))) {
            wordStart = true;
        } else {
            name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
            wordStart = false;
        }
    }
    return name;
}

class RealCore : public ::testing::TestWithParam<Case> {};

// Each case is a test of its own, so that the cases run side by side where the
// end-to-end tests can; a machine without the core or the cartridges skips
// them, naming what is missing.
TEST_P(RealCore, TracksTheCartridgeToItsGroundTruth) {
    const std::string core = RINGWATCH_REAL_CORE_DLL;
    const std::string cartridges = std::string(RINGWATCH_TESTROM_DIR) + "/";
    std::string missing = !FileExists(core) ? core + " (bash scripts/build-core.sh windows; RINGWATCH_CORE_TARBALL "
                                                     "names the core's source)"
                                            : std::string();
    for (const Play& play : GetParam().plays) {
        if (missing.empty() && !FileExists(cartridges + play.cartridge)) {
            missing = cartridges + play.cartridge + " (cmake --build --preset linux --target testroms)";
        }
    }
    if (!missing.empty()) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "CI must run the real-core tests; missing " << missing;
        GTEST_SKIP() << "real-core tests skipped: missing " << missing;
    }
    if (!Terminal::Available()) GTEST_SKIP() << "tmux is not installed";
    std::string others = WaitForNoForeignEmulators(120s);
    ASSERT_TRUE(others.empty()) << "another retroarch.exe is running:\n" << others;
    PlayCase(GetParam(), core, cartridges);
}

INSTANTIATE_TEST_SUITE_P(Cases, RealCore, ::testing::ValuesIn(kCases), CaseName);

}  // namespace

// End-to-end tests against the real emulators: Debian's RetroArch, headless,
// running the Genesis Plus GX core built from source, and Debian's BlastEm on
// a virtual X display, on the test cartridges (tools/testrom), which play the
// stand-in's scenarios into work RAM one frame per vertical blank. The tracker thread runs as in the program. Without the
// core the whole binary is skipped (exit status 77) with one line saying what
// to set; with CI=true that is a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/ground_truth.h"
#include "e2e/real/blastem.h"
#include "e2e/real/retroarch.h"
#include "app/tracker_thread.h"
#include "emulator/core_layout.h"
#include "tools/testrom/frame_stream.h"

namespace {

using namespace std::chrono_literals;

// The cartridge's own markers in work RAM.
constexpr uint32_t kDoneMarker = kDoneMarkerAddress;   // vertical blanks whose writes are done
constexpr uint32_t kSayMarker = kSayMarkerAddress;     // say lines passed

std::string Cartridge(const std::string& name) { return std::string(RINGWATCH_TESTROM_DIR) + "/" + name + ".md"; }

// The vertical blank after which the cartridge has played its stream up to
// say line `say` (0: to its end), from the table the build leaves beside it.
uint32_t VblankOf(const std::string& name, int say) {
    std::ifstream says(std::string(RINGWATCH_TESTROM_DIR) + "/" + name + ".says");
    std::string line;
    while (std::getline(says, line)) {
        unsigned number = 0, vblank = 0;
        if (say > 0 && std::sscanf(line.c_str(), "%u %u", &number, &vblank) == 2 && number == static_cast<unsigned>(say)) {
            return vblank;
        }
        if (say == 0 && std::sscanf(line.c_str(), "# the stream ends after vertical blank %u", &vblank) == 1) return vblank;
    }
    return UINT32_MAX;
}

enum class Then { Nothing, KillAndStart, CloseAndLoad };

// What the player does from outside the game: `command` once the cartridge's
// say marker is exactly `say` (a load sets it back, a reset clears it); with
// `untilBelow`, the command again every few milliseconds, as a held button,
// until the marker falls below that line.
struct Step {
    uint16_t say;
    const char* command;
    uint16_t untilBelow = 0;
};

struct RealCase {
    const char* name;
    const char* cartridge;
    bool onlySwappedHeader = false;          // RetroArch's own copy of the file cleared before the tracker starts
    bool onScreen = false;                   // the whole program beside the tracker, its last screen the play-through's
    Then then = Then::Nothing;               // done once the tracker is connected and the first say line passed (if any)
    const char* secondCartridge = nullptr;   // KillAndStart: started after the kill, then played to its end
    std::vector<const char*> messages{};     // patterns the log shows in this order ({ram}: the RAM offset)
    std::vector<const char*> never{};        // patterns no message matches
    void (*truth)(const TrackerStats&) = nullptr;
    std::vector<const char*> settings{};     // RetroArch's configuration, beside run-ahead's
    uint32_t runAhead = 0;                   // frames of run-ahead
    bool secondInstance = false;             // run ahead in a second instance of the core
    std::vector<Step> steps{};
    // With `truth` or instead of it: the closed records, the run's pauses and deaths;
    // the run ends in the ending sequence.
    std::vector<ExpectedRecord> records{};
    uint32_t pauses = 0;
    uint32_t deaths = 0;
};

void PrintTo(const RealCase& c, std::ostream* out) { *out << c.name; }

// The records a case lists, closed, and the run's pauses and deaths.
void ExpectRecords(const std::vector<ExpectedRecord>& records, uint32_t pauses, uint32_t deaths,
                   const TrackerStats& stats) {
    EXPECT_EQ(stats.trackerState, TrackerState::Ending);
    EXPECT_EQ(stats.run.totals.pauses, pauses);
    EXPECT_EQ(stats.run.totals.deaths, deaths);
    ASSERT_EQ(stats.run.recordCount, static_cast<int32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ExpectRecord(stats.run.records[i], records[i]);
    }
}

const char kLoaded[] = "SUCCESS: Loaded .*/genesis_plus_gx_libretro\\.so in retroarch\\.";
const char kRamFound[] = "Work RAM found at core \\+ 0x0*{ram}";
const char kFound[] = "Game found: Sonic 2";
const char kMenu[] = "Game found but checksum routine was incorrect\\. Please select a game in Sonic Compilation";
const char kSignatureGone[] = "Unknown checksum at end of RAM";
const char kReadFailed[] = "ReadProcessMemory failed with error code '-?[0-9]+' -- Disconnecting from retroarch";
const char kNoCore[] = "WARNING: retroarch did not have module genesis_plus_gx_libretro\\.so loaded\\. Retrying\\.";
const char kUnknown[] = "Unknown game";

void SwitchesGroundTruth(const TrackerStats& stats) {
    ASSERT_EQ(stats.run.recordCount, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ExpectRecord(stats.run.records[i], {.levelIndex = i, .minutes = 0, .seconds = static_cast<int32_t>(20 + 10 * i),
                                            .centiseconds = 50.000004f, .counts = {.pauses = 1, .rings = 10 + 10 * i}});
    }
    EXPECT_EQ(stats.run.totals.pauses, 3u);
    EXPECT_EQ(stats.run.totals.rings, 60u);
    EXPECT_EQ(stats.trackerState, TrackerState::LevelEnd);
}

// restart_after.txt, closed during its first frozen seconds and played to its
// end once loaded again: the level that was running carries on.
void ReloadGroundTruth(const TrackerStats& stats) {
    ASSERT_EQ(stats.run.recordCount, 1);
    ExpectRecord(stats.run.records[0], {.levelIndex = 0, .minutes = 0, .seconds = 30, .centiseconds = 50.000004f,
        .counts = {.pauses = 1, .rings = 20}});
    EXPECT_EQ(stats.run.totals.pauses, 1u);
    EXPECT_EQ(stats.trackerState, TrackerState::LevelEnd);
}

// practice.txt: each case's records, from the ground truth in its comments.
// Counts: perfect spindashes, P1 hits, pauses, deaths, lag, rings, collected,
// frames unseen (not compared), state loads.
const ExpectedRecord kPracticeEh1 = {.levelIndex = 0, .minutes = 0, .seconds = 25, .centiseconds = 66.666672f,
    .counts = {.pauses = 1, .deaths = 1, .rings = 15}};
const ExpectedRecord kPracticeEh1Again = {.levelIndex = 0, .minutes = 0, .seconds = 30, .centiseconds = 83.333336f,
    .counts = {.pauses = 2, .deaths = 2, .rings = 15, .stateLoads = 1}};
const ExpectedRecord kPracticeEh1Loaded = {.levelIndex = 0, .minutes = 0, .seconds = 20, .centiseconds = 50.000004f,
    .counts = {.rings = 15, .stateLoads = 1}};
const ExpectedRecord kPracticeEh2 = {.levelIndex = 1, .minutes = 0, .seconds = 30, .centiseconds = 50.000004f,
    .counts = {.pauses = 1, .rings = 25}};
const std::vector<ExpectedRecord> kPracticeStraight = {kPracticeEh1, kPracticeEh2};

const char kFastForward[] = "Fast-forward: [0-9]+ game frames? went by unseen.*";
const std::vector<const char*> kNoJump = {"State loaded", "Rewound"};
// Run-ahead plays at the game's pace: its look backs are neither jumps nor fast-forward.
const std::vector<const char*> kAsWithoutRunAhead = {"State loaded", "Rewound", "Fast-forward"};

const RealCase kCases[] = {
    {"PlayThroughFoundByTheCoresSwappedHeader", "playthrough", true, true, Then::Nothing, nullptr,
     {kLoaded, kRamFound, kFound}, {kUnknown, kMenu, kSignatureGone, "Disconnecting"}, ExpectPlayThroughGroundTruth},
    {"MenuAndGameAndBack", "switches", false, false, Then::Nothing, nullptr,
     {kRamFound, kFound, kSignatureGone, kMenu, kFound, kSignatureGone, kMenu, kFound}, {kUnknown, "Disconnecting"},
     SwitchesGroundTruth},
    {"KilledAndStartedAgain", "restart_before", false, false, Then::KillAndStart, "restart_after",
     {kRamFound, kFound, kReadFailed, kLoaded, kRamFound, kFound}, {kUnknown}, ExpectRestartGroundTruth},
    {"ContentClosedAndLoadedAgain", "restart_after", false, false, Then::CloseAndLoad, nullptr,
     {kRamFound, kFound, kReadFailed, kNoCore, kLoaded, kRamFound, kFound}, {kUnknown}, ReloadGroundTruth},
    {"AnotherCartridge", "other", false, false, Then::Nothing, nullptr, {kLoaded, kUnknown, kUnknown},
     {"Game found", "Work RAM found"}, nullptr},
    // Practice: save states, rewind, fast-forward, run-ahead and reset (practice.txt).
    {.name = "DiedThenLoadedAStateFromBefore", .cartridge = "practice",
     .messages = {kFound, "State loaded: EH1 [0-9:.]+ -> EH1 [0-9:.]+"}, .never = {"Rewound", "times"},
     .steps = {{2, "SAVE_STATE"}, {3, "LOAD_STATE"}},
     .records = {kPracticeEh1Again, kPracticeEh2}, .pauses = 3, .deaths = 2},
    {.name = "FinishedThenLoadedAStateFromBeforeTheGoal", .cartridge = "practice",
     .messages = {kFound, "State loaded: EH1 [0-9:.]+ -> EH1 [0-9:.]+"}, .never = {"Rewound", "times"},
     .steps = {{3, "SAVE_STATE"}, {4, "LOAD_STATE"}},
     .records = {kPracticeEh1, kPracticeEh1Loaded, kPracticeEh2}, .pauses = 2, .deaths = 1},
    {.name = "LoadedAStateFromAnotherLevel", .cartridge = "practice",
     .messages = {kFound, "State loaded: EH2 [0-9:.]+ -> EH1 [0-9:.]+"}, .never = {"Rewound", "times"},
     .steps = {{3, "SAVE_STATE"}, {5, "LOAD_STATE"}},
     .records = {kPracticeEh1, kPracticeEh1Loaded, kPracticeEh2}, .pauses = 3, .deaths = 1},
    {.name = "ResetThenLoadedAStateFromTheTitle", .cartridge = "practice",
     .messages = {kFound, "State loaded: .* -> EH1 [0-9:.]+"}, .never = {"Rewound", "times"},
     .steps = {{3, "SAVE_STATE"}, {5, "RESET"}, {1, "LOAD_STATE"}},
     .records = {kPracticeEh1Loaded, kPracticeEh2}, .pauses = 1, .deaths = 0},
    {.name = "RewoundOverADeath", .cartridge = "practice",
     .messages = {kFound, "Rewound: EH1 [0-9:.]+ -> EH1 [0-9:.]+"}, .never = {"State loaded", "times"},
     .settings = {"rewind_enable = \"true\"", "rewind_granularity = \"1\""},
     .steps = {{3, "REWIND", 2}},
     .records = {kPracticeEh1Again, kPracticeEh2}, .pauses = 3, .deaths = 2},
    {.name = "FastForward", .cartridge = "practice", .messages = {kFound, kFastForward}, .never = kNoJump,
     .settings = {"fastforward_ratio = \"10.0\""}, .steps = {{5, "FAST_FORWARD"}, {6, "FAST_FORWARD"}},
     .records = kPracticeStraight, .pauses = 2, .deaths = 1},
    {.name = "RunAheadOneFrame", .cartridge = "practice", .messages = {kFound}, .never = kAsWithoutRunAhead,
     .runAhead = 1, .records = kPracticeStraight, .pauses = 2, .deaths = 1},
    {.name = "RunAheadTwoFrames", .cartridge = "practice", .messages = {kFound}, .never = kAsWithoutRunAhead,
     .runAhead = 2, .records = kPracticeStraight, .pauses = 2, .deaths = 1},
    {.name = "RunAheadOneFrameSecondInstance", .cartridge = "practice", .messages = {kFound},
     .never = kAsWithoutRunAhead, .runAhead = 1, .secondInstance = true, .records = kPracticeStraight, .pauses = 2,
     .deaths = 1},
    {.name = "RunAheadTwoFramesSecondInstance", .cartridge = "practice", .messages = {kFound},
     .never = kAsWithoutRunAhead, .runAhead = 2, .secondInstance = true, .records = kPracticeStraight, .pauses = 2,
     .deaths = 1},
    {.name = "ResetAfterTheFirstLevel", .cartridge = "practice", .messages = {kFound}, .never = kNoJump,
     .steps = {{4, "RESET"}}, .records = kPracticeStraight, .pauses = 2, .deaths = 1},
};

std::string LoadAverage() {
    std::ifstream loadavg("/proc/loadavg");
    std::string one;
    loadavg >> one;
    return one;
}

// Game frames that no pass of the tracker read: the global frame counter
// moved on by more than one between two Connected passes. On a machine too
// busy to run the tracker every frame, one-frame events (a lag frame, a hit)
// go unseen; a failure says how many frames that was.
std::atomic<uint64_t> g_unseenFrames{0};

void CountUnseenFrames(void*, uint64_t, bool connected, const GameSnapshot& snapshot, const FrameWatch& watch) {
    static thread_local uint32_t last = 0;
    const bool next = watch.held && watch.heldRam.globalFrame == watch.globalFrame + 1;   // a frame held, not one ahead
    const uint32_t frame = next ? watch.heldRam.globalFrame : snapshot.ram.globalFrame;
    if (connected && last != 0 && frame > last + 1 && frame - last < 1000) g_unseenFrames += frame - last - 1;
    last = connected ? frame : 0;
}

// The tracker's messages, one a line, for failure output.
std::string LogOf(const TrackerRun& tracker) {
    std::string text;
    for (const Message& message : tracker.messages()) text += "  " + message.text + "\n";
    return text;
}

// Whether the tracker's log shows the patterns in order.
bool ShowsInOrder(const TrackerRun& tracker, const std::vector<std::regex>& patterns) {
    size_t next = 0;
    for (const Message& message : tracker.messages()) {
        if (next < patterns.size() && std::regex_match(message.text, patterns[next])) ++next;
    }
    return next == patterns.size();
}

class RealEmulator : public ::testing::TestWithParam<RealCase> {
  protected:
    // The tracker attaches to the first emulator it finds: these tests need
    // the machine to themselves.
    void SetUp() override {
        std::string others = WaitForNoForeignEmulators(60s);
        ASSERT_EQ(others, "") << "another emulator is running";
        g_unseenFrames = 0;
    }
    void TearDown() override { tracker.Stop(); }

    std::string Log() const { return LogOf(tracker); }

    // Whether the cartridge's marker word at `address` has reached `value`.
    // Waits poll the tracker meanwhile, as the program's main thread does:
    // the tracker's log keeps a message for 20 seconds only.
    bool Reached(uint32_t address, uint32_t value) const {
        uint16_t now = 0;
        return retroarch.ReadRamWord(address, &now) && now >= value;
    }

    RetroArch retroarch{RINGWATCH_REAL_CORE};
    TrackerRun tracker;
};

TEST_P(RealEmulator, Plays) {
    const RealCase& c = GetParam();
    char ram[32];
    std::snprintf(ram, sizeof ram, "%llX", static_cast<unsigned long long>(retroarch.workRamOffset()));
    ASSERT_NE(retroarch.workRamOffset(), 0u) << "no work_ram symbol in " RINGWATCH_REAL_CORE;
    ASSERT_NE(retroarch.workRamOffset(), kWorkRamOffsetInModule) << "this core build must need the signature search";
    std::vector<std::regex> patterns;
    for (const char* p : c.messages) patterns.emplace_back(std::regex_replace(p, std::regex("\\{ram\\}"), ram));

    std::vector<std::string> settings(c.settings.begin(), c.settings.end());
    if (c.runAhead > 0) {
        for (std::string& line : RunAheadSettings(c.runAhead, c.secondInstance)) settings.push_back(line);
    }
    ASSERT_TRUE(retroarch.Start(Cartridge(c.cartridge), settings)) << retroarch.error() << "\n" << retroarch.LogTail();
    if (c.onlySwappedHeader) {
        ASSERT_GE(retroarch.ClearFileOrderHeaders(), 1) << "RetroArch keeps a copy of the file";
        RetroArch::HeaderCopies copies = retroarch.FindHeaderCopies();
        ASSERT_EQ(copies.fileOrder.size(), 0u);
        ASSERT_EQ(copies.swapped.size(), 1u) << "the core's cartridge";
    }
    // The tracker starts once the cartridge has written its first frame (and
    // the RAM signature), so that its first attempt finds the game.
    ASSERT_TRUE(tracker.WaitUntil([&] { return Reached(kDoneMarker, 1); }, 10s)) << retroarch.LogTail();
    tracker.Start({CountUnseenFrames, nullptr});
    Terminal terminal;
    if (c.onScreen) {
        ASSERT_TRUE(terminal.Start(ShellQuoted(RINGWATCH_PROGRAM), 120, 40));
    }

    // Run-ahead is on: a second copy of the core, or the counter seen stepping
    // back within a burst.
    if (c.runAhead > 0 && c.secondInstance) {
        EXPECT_EQ(retroarch.CoreCopies(), 2u) << retroarch.LogTail();
    } else if (c.runAhead > 0) {
        EXPECT_TRUE(retroarch.SeesCounterStepBack(10s)) << retroarch.LogTail();
    }
    for (const Step& step : c.steps) {
        SCOPED_TRACE(std::string(step.command) + " at say line " + std::to_string(step.say));
        uint16_t say = 0;
        auto sayIs = [&](uint16_t line) { return retroarch.ReadRamWord(kSayMarker, &say) && say == line; };
        // After a reset the tracker must have found the game again first.
        ASSERT_TRUE(tracker.WaitUntil([&] { return sayIs(step.say) && tracker.ready(); }, 30s))
            << "say line " << say << "\n" << Log();
        ASSERT_TRUE(retroarch.Command(step.command));
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        // A state load (each step of a rewind is one) clears work RAM before
        // it copies the state's in: a marker read as 0 is such a moment.
        while (step.untilBelow > 0 && !(retroarch.ReadRamWord(kSayMarker, &say) && say != 0 && say < step.untilBelow)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << retroarch.LogTail();
            std::this_thread::sleep_for(4ms);
            ASSERT_TRUE(retroarch.Command(step.command));
            tracker.Poll();
        }
    }

    if (c.then != Then::Nothing) {
        const bool says = VblankOf(c.cartridge, 1) != UINT32_MAX;
        ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready() && (!says || Reached(kSayMarker, 1)); }, 20s))
            << Log() << retroarch.LogTail();
        const TrackerStats kept = tracker.snapshot().stats;
        const size_t before = tracker.messages().size();
        if (c.then == Then::KillAndStart) {
            retroarch.Kill();
        } else {
            ASSERT_TRUE(retroarch.CloseContent(5s)) << retroarch.LogTail();
        }
        ASSERT_TRUE(tracker.WaitUntil([&] { return !tracker.ready() && tracker.messages().size() > before; }, 3s)) << Log();
        EXPECT_EQ(tracker.snapshot().stats.run.totals.pauses, kept.run.totals.pauses) << "statistics kept while the game is away";
        EXPECT_EQ(tracker.snapshot().stats.trackerState, kept.trackerState);
        if (c.then == Then::KillAndStart) {
            ASSERT_TRUE(retroarch.Start(Cartridge(c.secondCartridge))) << retroarch.error();
        } else {
            // Loaded again once the tracker has found the process without the
            // core, so that it finds the game during the cartridge's frozen start.
            const std::regex noCore(kNoCore);
            ASSERT_TRUE(tracker.WaitUntil([&] { return std::regex_match(tracker.messages().back().text, noCore); }, 6s))
                << Log();
            ASSERT_TRUE(retroarch.LoadLastContent(10s)) << "the menu's history did not load it\n" << retroarch.LogTail();
        }
    }

    const std::string last = c.then == Then::KillAndStart ? c.secondCartridge : c.cartridge;
    const uint32_t end = VblankOf(last, 0);
    ASSERT_NE(end, UINT32_MAX) << "no stream end in " << last << ".says";
    ASSERT_TRUE(tracker.WaitUntil([&] { return Reached(kDoneMarker, end); }, std::chrono::seconds(end / 60 + 20)))
        << retroarch.LogTail();
    // A few passes more, so the last frame is surely decoded and published;
    // then the log must show what the case expects.
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(tracker.WaitUntil([&] { return ShowsInOrder(tracker, patterns); }, 8s)) << "log:\n" << Log();
    for (const char* pattern : c.never) {
        for (const Message& m : tracker.messages()) EXPECT_FALSE(std::regex_search(m.text, std::regex(pattern))) << m.text;
    }
    SCOPED_TRACE(std::to_string(g_unseenFrames) + " game frames no pass read (load average " + LoadAverage() + ")");
    if (c.truth != nullptr || !c.records.empty()) {
        EXPECT_TRUE(tracker.ready());
        if (c.truth != nullptr) c.truth(tracker.snapshot().stats);
        if (!c.records.empty()) ExpectRecords(c.records, c.pauses, c.deaths, tracker.snapshot().stats);
    }
    // Save states and run-ahead need the core's info file: without it
    // RetroArch says so and goes on without them.
    const std::string retroarchLog = retroarch.LogTail(1 << 22);
    for (const char* refused : {"Run-Ahead unavailable", "does not support save states"}) {
        EXPECT_EQ(retroarchLog.find(refused), std::string::npos) << retroarchLog;
    }
    if (c.onScreen) {
        std::string screen, missing;
        auto shown = [&] {
            screen = terminal.Capture();
            missing.clear();
            for (const char* line : kPlayThroughFinalScreen) {
                if (!HasLine(screen, line)) missing += std::string("  \"") + line + "\"\n";
            }
            return missing.empty();
        };
        EXPECT_TRUE(tracker.WaitUntil(shown, 4s)) << "missing:\n" << missing << "last screen:\n" << screen;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RealEmulator, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RealCase>& info) { return std::string(info.param.name); });

// [SECTION] BlastEm

// BlastEm on the test cartridges: each case on an X display of its own.
struct BlastEmCase {
    const char* name;
    int display;                             // the X display's number, one per case
    const char* cartridge;
    const char* secondCartridge = nullptr;   // once the first say line passed: BlastEm closed, started on this
    uint16_t resetAtSay = 0;                 // BlastEm's soft reset (Tab) at this say line
    std::vector<const char*> messages{};     // patterns the log shows in this order
    void (*truth)(const TrackerStats&) = nullptr;
    std::vector<ExpectedRecord> records{};
    uint32_t pauses = 0;
    uint32_t deaths = 0;
};

void PrintTo(const BlastEmCase& c, std::ostream* out) { *out << c.name; }

const char kBlastEm[] = "Emulator: BlastEm \\(blastem, process [0-9]+\\)\\.";
const char kBlastEmRam[] = "Work RAM found at 0x[0-9A-F]+ \\(16-bit words in little-endian order\\), searched in [0-9]+ ms";
const char kBlastEmGone[] = "ReadProcessMemory failed with error code '-?[0-9]+' -- Disconnecting from blastem";

const BlastEmCase kBlastEmCases[] = {
    // BlastEm runs the 68000 in step with the display: a frame's main loop
    // writes the objects well after the vertical blank has stepped the
    // counters, where a core in RetroArch runs the whole frame at once. Each
    // frame is taken from its last read, so that a one-frame value written
    // late in the frame (the sidekick's hit, a pause) is seen.
    {.name = "PlayThrough", .display = 71, .cartridge = "playthrough", .messages = {kBlastEm, kBlastEmRam, kFound},
     .truth = ExpectPlayThroughGroundTruth},
    {.name = "ClosedAndStartedAgain", .display = 72, .cartridge = "restart_before", .secondCartridge = "restart_after",
     .messages = {kBlastEm, kBlastEmRam, kFound, kBlastEmGone, kBlastEm, kBlastEmRam, kFound},
     .truth = ExpectRestartGroundTruth},
    // At 60 frames a second on a busy machine, BlastEm may run a whole frame
    // between two reads (read once, with the next frame's timer step in it),
    // and hold the next frame up before its main loop: an unseen frame, not a
    // lag frame.
    {.name = "SoftReset", .display = 73, .cartridge = "practice", .resetAtSay = 4, .messages = {kFound},
     .records = kPracticeStraight, .pauses = 2, .deaths = 1},
};

class RealBlastEm : public ::testing::TestWithParam<BlastEmCase> {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kBlastEmProgram)) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::strcmp(ci, "true") == 0) FAIL() << "no " << kBlastEmProgram;
            GTEST_SKIP() << "no " << kBlastEmProgram << ": apt-get install blastem xvfb xdotool";
        }
        std::string others = WaitForNoForeignEmulators(60s);
        ASSERT_EQ(others, "") << "another emulator is running";
        g_unseenFrames = 0;
    }
    void TearDown() override { tracker.Stop(); }

    std::string Log() const { return LogOf(tracker); }
    bool Reached(uint32_t address, uint32_t value) const {
        uint16_t now = 0;
        return blastem.ReadRamWord(address, &now) && now >= value;
    }

    BlastEm blastem{GetParam().display};
    TrackerRun tracker;
};

TEST_P(RealBlastEm, Plays) {
    const BlastEmCase& c = GetParam();
    ASSERT_TRUE(blastem.Start(Cartridge(c.cartridge))) << blastem.error();
    ASSERT_TRUE(tracker.WaitUntil([&] { return Reached(kDoneMarker, 1); }, 10s)) << blastem.Output();
    tracker.Start({CountUnseenFrames, nullptr});
    const auto started = std::chrono::steady_clock::now();
    uint16_t firstVblank = 0;
    blastem.ReadRamWord(kDoneMarker, &firstVblank);

    if (c.resetAtSay != 0) {
        uint16_t say = 0;
        ASSERT_TRUE(tracker.WaitUntil(
            [&] { return blastem.ReadRamWord(kSayMarker, &say) && say == c.resetAtSay && tracker.ready(); }, 60s))
            << "say line " << say << "\n" << Log();
        ASSERT_TRUE(blastem.SoftReset());
    }
    if (c.secondCartridge != nullptr) {
        ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready() && Reached(kSayMarker, 1); }, 20s)) << Log();
        const TrackerStats kept = tracker.snapshot().stats;
        const size_t before = tracker.messages().size();
        blastem.Kill();
        ASSERT_TRUE(tracker.WaitUntil([&] { return !tracker.ready() && tracker.messages().size() > before; }, 3s)) << Log();
        EXPECT_EQ(tracker.snapshot().stats.run.totals.pauses, kept.run.totals.pauses) << "statistics kept meanwhile";
        ASSERT_TRUE(blastem.Start(Cartridge(c.secondCartridge))) << blastem.error();
    }

    const std::string last = c.secondCartridge != nullptr ? c.secondCartridge : c.cartridge;
    const uint32_t end = VblankOf(last, 0);
    ASSERT_NE(end, UINT32_MAX) << "no stream end in " << last << ".says";
    ASSERT_TRUE(tracker.WaitUntil([&] { return Reached(kDoneMarker, end); }, std::chrono::seconds(end / 50 + 30)))
        << blastem.Output() << Log();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::this_thread::sleep_for(200ms);
    const std::vector<std::regex> patterns(c.messages.begin(), c.messages.end());
    EXPECT_TRUE(tracker.WaitUntil([&] { return ShowsInOrder(tracker, patterns); }, 8s)) << "log:\n" << Log();
    // BlastEm's pace on this display, and the game frames no pass read.
    if (c.secondCartridge == nullptr && c.resetAtSay == 0) {
        std::printf("BlastEm: %u vertical blanks in %.1f s, %.2f a second; %llu game frames unseen (load average %s)\n",
                    end - firstVblank, seconds, (end - firstVblank) / seconds,
                    static_cast<unsigned long long>(g_unseenFrames.load()), LoadAverage().c_str());
    }
    SCOPED_TRACE(std::to_string(g_unseenFrames) + " game frames no pass read (load average " + LoadAverage() + ")");
    SCOPED_TRACE("log:\n" + Log());
    EXPECT_TRUE(tracker.ready());
    if (c.truth != nullptr) c.truth(tracker.snapshot().stats);
    if (!c.records.empty()) ExpectRecords(c.records, c.pauses, c.deaths, tracker.snapshot().stats);
}

INSTANTIATE_TEST_SUITE_P(Cases, RealBlastEm, ::testing::ValuesIn(kBlastEmCases),
                         [](const ::testing::TestParamInfo<BlastEmCase>& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests) &&
        (!std::filesystem::exists(RINGWATCH_REAL_CORE) || !std::filesystem::exists(Cartridge("playthrough")))) {
        std::printf("real-emulator tests skipped: no core or test cartridge built; set RINGWATCH_CORE_TARBALL to the "
                    "genesis-plus-gx source tarball and build again\n");
        const char* ci = std::getenv("CI");
        return ci != nullptr && std::strcmp(ci, "true") == 0 ? 1 : 77;
    }
    return RUN_ALL_TESTS();
}

// Faults of the emulator against the tracker thread as the program runs it:
// the emulator killed and started again many times, the player switching to
// the compilation's menu and to another cartridge mid-run, the emulator ending
// in the middle of a header scan, and the RAM signature gone for a moment.
// The tracker must recover every time, keep its statistics and hold on to no
// descriptor or memory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/standin_test.h"
#include "emulator/core_layout.h"
#include "emulator/emulator_connection.h"
#include "emulator/ram_decode.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"
#include "platform/process_memory.h"
#include "tracking/classifier.h"

namespace {

using namespace std::chrono_literals;

const std::string kGameFound = "Game found: Sonic 2";
const std::string kChecksumIncorrect =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";
const std::string kUnknownChecksum = "Unknown checksum at end of RAM";
const std::string kUnknownGame = "Unknown game";
const std::string kLostConnection = "Lost connection to 'retroarch.exe' -- Disconnecting";
const std::string kNotFound = NotFoundMessage();
const std::regex kReadFailed("ReadProcessMemory failed with error code '-?[0-9]+' -- Disconnecting from retroarch.exe");

constexpr double kRetrySeconds = 2.4;

// The sanitizer runtimes keep memory of their own that grows while a program
// runs (AddressSanitizer's quarantine of freed blocks, ThreadSanitizer's event
// history): resident memory is judged in plain builds, leaks by LeakSanitizer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

std::string Loaded() { return "SUCCESS: Loaded " + StandinPath("genesis_plus_gx_libretro.dll") + " in retroarch.exe."; }

// Resident memory of this process in bytes.
uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// A directory of scenario files, removed with its contents.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ringwatch-fault-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDirectory() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file) << text;
        return file;
    }

  private:
    std::string path_;
};

class Faults : public StandinTest {
  protected:
    const std::vector<Message>& messages() const { return tracker.messages(); }
    std::string Text(size_t i) const { return i < messages().size() ? messages()[i].text : "(none)"; }
    // Messages from index `from` on, one a line, for failure output.
    std::string Since(size_t from) const {
        std::string text;
        for (size_t i = from; i < messages().size(); ++i) text += "  " + messages()[i].text + "\n";
        return text;
    }
};

// The emulator killed while connected and started again, 20 times. Each time
// the tracker lets go at its next read, attaches again after one retry period
// (no header scan: the emulator started again holds no header copy at all),
// and carries the run on: each new emulator shows one life fewer, so the
// first read of every connection counts exactly one death. Descriptors stay
// the same from the first reconnection on; resident memory, measured from the
// fifth, may grow by less than 6 KiB a reconnection (this test's own list of
// messages takes under 1 KiB a cycle; 8 KiB kept on every attach fails it).
TEST_F(Faults, KilledAndStartedAgainTwentyTimes) {
    constexpr int kCycles = 20;
    constexpr double kGrowthPerReconnectKib = 6.0;
    ScratchDirectory scratch;
    // The level, frozen at the death count the test expects; the game's
    // clocks run on, so every pass decodes a new frame.
    auto scenario = [&](int cycle) {
        std::ostringstream text;
        text << "fps 30\n"
             << "hold 1 gameMode=12 zone=0 act=0 lives=" << 100 - cycle << " rings=" << cycle
             << " globalFrame=" << 100000 * (cycle + 1) << " timer=0:10:00\n"
             << "run 100000\n";
        return scratch.Write("cycle" + std::to_string(cycle) + ".txt", text.str());
    };

    ASSERT_TRUE(standin.Start({scenario(0)}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready() && tracker.snapshot().ram.lives == 100; }, 3s));
    ASSERT_EQ(messages().size(), 2u) << Since(0);

    int descriptors = -1;
    uint64_t residentAtStart = 0;
    uint64_t residentAtEnd = 0;
    double slowest = 0.0;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const size_t before = messages().size();
        standin.Kill();
        ASSERT_TRUE(standin.Start({"--no-header", scenario(cycle)}));
        ASSERT_TRUE(tracker.WaitUntil(
            [&] {
                return tracker.ready() && tracker.snapshot().ram.lives == static_cast<uint32_t>(100 - cycle);
            },
            4s))
            << Since(before);

        ASSERT_EQ(messages().size(), before + 3) << Since(before);
        EXPECT_TRUE(std::regex_match(Text(before), kReadFailed)) << Text(before);
        EXPECT_EQ(Text(before + 1), Loaded());
        EXPECT_EQ(Text(before + 2), kGameFound);
        const double reconnect = tracker.Seconds(messages()[before + 2].stamp - messages()[before].stamp);
        EXPECT_GE(reconnect, kRetrySeconds);
        EXPECT_LT(reconnect, kRetrySeconds + 0.6) << "one retry period after the read failed";
        slowest = std::max(slowest, reconnect);

        const TrackerStats& stats = tracker.snapshot().stats;
        EXPECT_EQ(stats.run.totals.deaths, static_cast<uint32_t>(cycle)) << "the run carries on, each death once";
        EXPECT_EQ(stats.trackerState, TrackerState::Death);

        // Measured at the same point of every cycle: connected, one stand-in.
        if (cycle == 1) descriptors = OpenHandleCount();
        EXPECT_EQ(OpenHandleCount(), descriptors);
        if (cycle == 5) residentAtStart = ResidentBytes();
        if (cycle == kCycles) residentAtEnd = ResidentBytes();
        if (HasFatalFailure()) return;
    }
    const double growthKib = (static_cast<double>(residentAtEnd) - static_cast<double>(residentAtStart)) / 1024.0;
    std::printf("%d cycles: descriptors %d, resident %.0f KiB at cycle 5 and %.0f KiB at cycle %d (%+.0f KiB), "
                "slowest reconnect %.3f s\n",
                kCycles, descriptors, residentAtStart / 1024.0, residentAtEnd / 1024.0, kCycles, growthKib, slowest);
    RecordProperty("resident_growth_kib", std::to_string(growthKib));
    if (!kSanitizerBuild) {
        EXPECT_LT(growthKib, kGrowthPerReconnectKib * (kCycles - 5)) << "resident memory grows with the cycles";
    }
}

// Mid-run, the compilation's menu and back, then another cartridge and back.
TEST_F(Faults, MenuAndAnotherCartridgeMidRun) {
    ASSERT_TRUE(standin.Start({ScenarioPath("switches.txt")}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 3s));
    ASSERT_EQ(messages().size(), 2u) << Since(0);
    const int descriptors = OpenHandleCount();

    // The menu: the signature goes, the tracker lets go and finds the game
    // again on the first pass after the player starts it.
    ASSERT_TRUE(standin.WaitForLine("left-for-the-menu", 10s));
    int menu = tracker.WaitForMessage(kUnknownChecksum, 2, 2s);
    ASSERT_EQ(menu, 2) << Since(0);
    EXPECT_EQ(tracker.snapshot().stats.run.recordCount, 1) << "EH1 closed before the switch";
    int back = tracker.WaitForMessage(kGameFound, static_cast<size_t>(menu), 12s);
    ASSERT_GT(back, 0) << Since(static_cast<size_t>(menu));
    {
        SCOPED_TRACE("menu");
        ASSERT_GE(back - menu, 3) << Since(static_cast<size_t>(menu));
        EXPECT_EQ(Text(menu + 1), Loaded());
        for (int i = menu + 2; i < back; ++i) EXPECT_EQ(Text(i), kChecksumIncorrect);
        EXPECT_EQ(tracker.snapshot().stats.run.recordCount, 1) << "the run's records are kept";
    }

    // Another cartridge: no header, so the scan that follows the missing
    // signature finds nothing; when Sonic 2 is back, the next scan finds it.
    ASSERT_TRUE(standin.WaitForLine("left-for-another-cartridge", 12s));
    const int other = tracker.WaitForMessage(kUnknownChecksum, static_cast<size_t>(back), 2s);
    ASSERT_EQ(other, back + 1) << Since(static_cast<size_t>(back));
    EXPECT_EQ(tracker.snapshot().stats.run.recordCount, 2) << "EH2 closed before the switch";
    back = tracker.WaitForMessage(kGameFound, static_cast<size_t>(other), 12s);
    ASSERT_GT(back, 0) << Since(static_cast<size_t>(other));
    {
        SCOPED_TRACE("another cartridge");
        ASSERT_GE(back - other, 4) << Since(static_cast<size_t>(other));
        EXPECT_EQ(Text(other + 1), Loaded());
        EXPECT_EQ(Text(other + 2), kChecksumIncorrect) << "the header was found before: no scan";
        for (int i = other + 3; i < back; ++i) EXPECT_EQ(Text(i), kUnknownGame);
    }

    EXPECT_TRUE(tracker.WaitForFrame(standin.WaitForDone(12s), 2s)) << "the last frame read";
    EXPECT_EQ(OpenHandleCount(), descriptors);
    const TrackerStats& stats = tracker.snapshot().stats;
    ASSERT_EQ(stats.run.recordCount, 3);
    const uint32_t levels[] = {0, 1, 2};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        const LevelRecord& record = stats.run.records[i];
        EXPECT_EQ(record.levelIndex, levels[i]);
        EXPECT_EQ(record.minutes, 0);
        EXPECT_EQ(record.seconds, 20 + 10 * i);
        EXPECT_NEAR(record.centiseconds, 50.0, 0.001);
        EXPECT_EQ(record.counts.pauses, 1u);
        EXPECT_EQ(record.counts.deaths, 0u);
        EXPECT_EQ(record.counts.lagFrames, 0u);
        EXPECT_EQ(record.counts.rings, static_cast<uint32_t>(10 + 10 * i));
    }
    EXPECT_EQ(stats.run.totals.pauses, 3u);
    EXPECT_EQ(stats.run.totals.deaths, 0u);
    EXPECT_EQ(stats.run.totals.rings, 60u);
    EXPECT_EQ(stats.run.totalSeconds, 90);
    EXPECT_EQ(stats.run.totalTimerFrames, 90);
    EXPECT_EQ(stats.trackerState, TrackerState::LevelEnd);
}

// The platform's process calls with a hook before the calls that look into
// the opened process, so a test can end the emulator at an exact step.
enum class Call { FindModule, ListReadable, Read };
struct CallHook {
    std::function<void(Call call, uint64_t address, size_t size)> before;
};
CallHook* g_callHook = nullptr;

void Before(Call call, uint64_t address = 0, size_t size = 0) {
    if (g_callHook != nullptr) g_callHook->before(call, address, size);
}

ProcessResult HookedFindModule(ProcessHandle process, const char* fileName, ModuleImage* image) {
    Before(Call::FindModule);
    return ProcessFindModule(process, fileName, image);
}

ProcessResult HookedListReadable(ProcessHandle process, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity,
                                 int* count) {
    Before(Call::ListReadable, from);
    return ProcessListReadable(process, from, to, ranges, capacity, count);
}

ProcessResult HookedRead(ProcessHandle process, uint64_t address, void* buffer, size_t size) {
    Before(Call::Read, address, size);
    return ProcessRead(process, address, buffer, size);
}

const ProcessApi kHookedProcessApi = {
    ProcessFind, ProcessOpen, ProcessClose, HookedFindModule, HookedListReadable, HookedRead,
};

// The tracker's passes one after another, without the sleeps between them,
// with the real backend behind the hook; the messages of each pass are added
// to `texts` until there are `count` of them (at most six passes).
struct DirectPasses {
    std::unique_ptr<EmulatorLink> tracker = std::make_unique<EmulatorLink>();
    std::unique_ptr<GameSnapshot> snapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> log = std::make_unique<LogBuffer>();
    std::vector<std::string> texts;
    FrameWatch watch{};

    DirectPasses() {
        watch.counterFrequency = static_cast<double>(ClockFrequency());
        InitRamDecode(snapshot->ram);
        EmulatorLinkReset(*tracker, kHookedProcessApi);
    }
    void RunUntil(size_t count) {
        for (int pass = 0; pass < 6 && texts.size() < count; ++pass) Pass();
    }
    void Pass() {
        TrackerPass(*tracker, *snapshot, *log, watch, ClockNow);
        for (int i = 0; i < log->count; ++i) texts.emplace_back(log->entries[i].text);
        LogClear(*log);
    }
};

// `texts` starts with the prefixes of `expected`, one for one.
void ExpectMessages(const std::vector<std::string>& texts, const std::vector<std::string>& expected) {
    ASSERT_EQ(texts.size(), expected.size()) << [&] {
        std::string all;
        for (const std::string& text : texts) all += "  " + text + "\n";
        return all;
    }();
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i].rfind(expected[i], 0), 0u) << texts[i];
}

// The emulator ends while the tracker attaches: after the process was opened,
// before the core module is looked for.
TEST_F(Faults, EmulatorEndsWhileTheTrackerAttaches) {
    struct Case {
        const char* name;
        Call at;
        std::vector<std::string> expected;   // the passes' messages until the next attempt
    };
    const Case cases[] = {
        {"before the module look-up", Call::FindModule, {"ERROR: Could not enumerate 'retroarch.exe' modules.", kNotFound}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Standin emulator;
        ASSERT_TRUE(emulator.Start({}));
        const int handles = OpenHandleCount();
        bool ended = false;
        CallHook hook{[&](Call call, uint64_t, size_t) {
            if (call != c.at || ended) return;
            ended = true;
            emulator.Kill();
        }};
        g_callHook = &hook;
        DirectPasses passes;
        passes.RunUntil(c.expected.size());
        g_callHook = nullptr;
        EXPECT_TRUE(ended);
        ExpectMessages(passes.texts, c.expected);
        EXPECT_FALSE(passes.tracker->attached);
        EXPECT_EQ(passes.tracker->connection.process, nullptr);
        EXPECT_EQ(OpenHandleCount(), handles - 1) << "no handle of the ended emulator left open";
    }
}

// The emulator ends while the tracker walks its memory for the header. The
// tracker's passes run here one after another (the sleeps between them left
// out), with the real backend; the hook ends the emulator at the step under
// test. Whatever the step: a message and a retry, never a crash, and no
// handle left open.
TEST_F(Faults, EmulatorEndsDuringTheHeaderScan) {
    // Three regions of 32 MiB from 256 MiB up, 64 KiB apart, below the ROM.
    constexpr int kBallastMib = 96;
    constexpr size_t kRegion = size_t{32} << 20;
    constexpr uint64_t kAfterSecondRegion = 0x14000000;
    constexpr uint64_t kNever = UINT64_MAX;
    enum class End { Killed, Unreaped };
    struct Case {
        const char* name;
        const char* mode;
        uint64_t atList;  // ends before the first listing from at or above this address
        uint64_t atRead;  // ends before the first read at or above this address
        int atRegion;     // ends before this read of a ballast region (0 the first), or -1
        bool atSignature; // ends before the signature is read, after the header was found
        End end;
        std::vector<std::string> expected;   // the passes' messages until the tracker lets go
    };
    const Case cases[] = {
        {"before the first listing", "other", 0, kNever, -1, false, End::Killed, {Loaded(), kLostConnection}},
        {"before the second region read", "other", kNever, kNever, 1, false, End::Killed,
         {Loaded(), kUnknownGame, kLostConnection, kNotFound}},
        {"before the third region read, left unreaped", "other", kNever, kNever, 2, false, End::Unreaped,
         {Loaded(), kUnknownGame, kLostConnection, kNotFound}},
        {"between two reads, the header not yet found", "menu", kNever, kAfterSecondRegion, -1, false, End::Killed,
         {Loaded(), kUnknownGame, kLostConnection, kNotFound}},
        {"after the header was found, before the signature", "menu", kNever, kNever, -1, true, End::Killed,
         {Loaded(), "ReadProcessMemory failed", kNotFound}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Standin emulator;
        ASSERT_TRUE(emulator.Start({"--mode", c.mode, "--ballast-mib", std::to_string(kBallastMib)}));
        const int handles = OpenHandleCount();

        int listings = 0;
        int regions = 0;
        bool ended = false;
        CallHook hook{[&](Call call, uint64_t address, size_t size) {
            const bool list = call == Call::ListReadable;
            if (!list && call != Call::Read) return;
            bool now = address >= (list ? c.atList : c.atRead);
            if (!ended) listings += list ? 1 : 0;
            if (!list && size == kRegion) now = now || regions++ == c.atRegion;
            if (!list && size == kSignatureProbeSize) now = c.atSignature;
            if (!now || ended) return;
            ended = true;
            if (c.end == End::Killed) {
                emulator.Kill();
            } else {
                emulator.KillLeavingUnreaped();
            }
        }};
        g_callHook = &hook;
        DirectPasses passes;
        passes.RunUntil(c.expected.size());
        g_callHook = nullptr;
        EXPECT_TRUE(ended) << "the scan never reached the step";
        ExpectMessages(passes.texts, c.expected);
        EXPECT_FALSE(passes.tracker->attached) << "let go";
        EXPECT_EQ(passes.tracker->connection.process, nullptr);
        emulator.Kill();   // reaps an unreaped one and closes the stand-in's output pipe
        EXPECT_EQ(OpenHandleCount(), handles - 1) << "no handle of the ended emulator left open";
        std::printf("%s: ended after %d listings and %d ballast region reads\n", c.name, listings,
                    std::min(regions, c.atRegion >= 0 ? c.atRegion : regions));
    }
}

// The RAM signature gone for 100 ms right after a death: one read sees it
// missing, the tracker lets go and finds the game one retry period later,
// without a header scan; the death counts once and the run goes on.
TEST_F(Faults, SignatureGoneForOneRead) {
    // At the functional pace the signature stays away for 200 ms.
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, ScenarioPath("signature_blink.txt")}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 3s));
    ASSERT_TRUE(standin.WaitForLine("blinked", 10s));
    const int gone = tracker.WaitForMessage(kUnknownChecksum, 2, 1s);
    ASSERT_EQ(gone, 2) << Since(0);
    ASSERT_GE(tracker.WaitForMessage(kGameFound, 3, 4s), 0) << Since(2);
    ASSERT_EQ(messages().size(), 5u) << Since(2);
    EXPECT_EQ(Text(3), Loaded());
    EXPECT_EQ(Text(4), kGameFound) << "straight to the signature: no scan";
    const double reconnect = tracker.Seconds(messages()[4].stamp - messages()[2].stamp);
    EXPECT_GE(reconnect, kRetrySeconds);
    EXPECT_LT(reconnect, kRetrySeconds + 0.6);
    EXPECT_EQ(tracker.snapshot().stats.run.totals.deaths, 1u) << "the death before the gap counts once";

    ASSERT_TRUE(tracker.WaitForFrame(standin.WaitForDone(20s), 2s)) << "the last frame read";
    EXPECT_EQ(messages().size(), 5u) << Since(5);
    const TrackerStats& stats = tracker.snapshot().stats;
    ASSERT_EQ(stats.run.recordCount, 1);
    const LevelRecord& record = stats.run.records[0];
    EXPECT_EQ(record.levelIndex, 0u);
    EXPECT_EQ(record.minutes, 0);
    EXPECT_EQ(record.seconds, 12);
    EXPECT_NEAR(record.centiseconds, 83.33, 0.01);
    EXPECT_EQ(record.counts.deaths, 1u);
    EXPECT_EQ(record.counts.pauses, 1u);
    EXPECT_EQ(record.counts.lagFrames, 0u);
    EXPECT_EQ(record.counts.rings, 12u);
    EXPECT_EQ(stats.run.totals.deaths, 1u);
    EXPECT_EQ(stats.run.totals.pauses, 1u);
    EXPECT_EQ(stats.run.totalSeconds, 12);
    EXPECT_EQ(stats.run.totalTimerFrames, 50);
    EXPECT_EQ(stats.trackerState, TrackerState::LevelEnd);
}

}  // namespace

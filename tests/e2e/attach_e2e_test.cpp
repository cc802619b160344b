// Finding the emulator and identifying the game, against the stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/standin_test.h"
#include "emulator/emulator_connection.h"
#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;

const std::string kNotFound = NotFoundMessage();
const std::string kChecksumIncorrect =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";
const std::string kGameFound = "Game found: Sonic 2";

std::string Loaded() { return "SUCCESS: Loaded " + StandinPath("genesis_plus_gx_libretro.dll") + " in retroarch.exe."; }

class Emulator : public StandinTest {};

// Without an emulator every pass reports it once, 2400 ms apart, and leaves
// no descriptor or handle open behind it. Handles are counted from the second
// message on: on Windows the tracker's thread makes its timer at its first
// sleep, which may come after the first pass's message is seen.
TEST_F(Emulator, NotRunning) {
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() >= 2; }, 6s));
    const int descriptors = OpenHandleCount();
    ASSERT_GT(descriptors, 0) << "this process's handles can't be counted";
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() >= 4; }, 7s));
    EXPECT_EQ(OpenHandleCount(), descriptors);
    EXPECT_FALSE(tracker.ready());
    const auto& messages = tracker.messages();
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].text, kNotFound);
        if (i == 0) continue;
        double apart = tracker.Seconds(messages[i].stamp - messages[i - 1].stamp);
        EXPECT_GE(apart, 2.4);
        EXPECT_LT(apart, 3.4) << "one attempt per pass";
    }
}

// An emulator without the core: a warning on every pass, one handle at a time.
TEST_F(Emulator, RunningWithoutTheCore) {
    ASSERT_TRUE(standin.Start({"--no-core"}));
    tracker.Start();
    const std::string warning =
        "WARNING: retroarch.exe did not have module genesis_plus_gx_libretro.dll loaded. Retrying.";
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() >= 2; }, 6s));
    const int descriptors = OpenHandleCount();
    ASSERT_GT(descriptors, 0) << "this process's handles can't be counted";
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() >= 4; }, 7s));
    EXPECT_EQ(OpenHandleCount(), descriptors);
    for (const Message& message : tracker.messages()) EXPECT_EQ(message.text, warning);
    EXPECT_FALSE(tracker.ready());
}

// The compilation's menu: the header is there, the signature is not. Once
// Sonic 2 starts, the next pass finds it.
TEST_F(Emulator, MenuThenGame) {
    ASSERT_TRUE(standin.Start({"--mode", "menu"}));
    tracker.Start();
    ASSERT_GE(tracker.WaitForMessage(kChecksumIncorrect, 0, 3s), 0);
    ASSERT_EQ(tracker.messages().size(), 2u);
    EXPECT_EQ(tracker.messages()[0].text, Loaded());
    EXPECT_FALSE(tracker.ready());

    standin.SwitchToGame();
    int found = tracker.WaitForMessage(kGameFound, 2, 4s);
    ASSERT_GE(found, 2);
    for (int i = 2; i < found; ++i) EXPECT_EQ(tracker.messages()[i].text, kChecksumIncorrect) << "scanned again";
    EXPECT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 1s)) << "Connected";
}

// Leaving Sonic 2 for the menu while connected drops the connection; the
// next attach skips the scan and finds the signature missing.
TEST_F(Emulator, GameThenMenu) {
    ASSERT_TRUE(standin.Start({}));
    tracker.Start();
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.ready(); }, 3s));
    EXPECT_EQ(tracker.messages().size(), 2u);
    EXPECT_EQ(tracker.messages()[1].text, kGameFound);

    standin.SwitchToMenu();
    int mismatch = tracker.WaitForMessage("Unknown checksum at end of RAM", 2, 2s);
    ASSERT_GE(mismatch, 2);
    tracker.Poll();
    EXPECT_FALSE(tracker.ready());
    int again = tracker.WaitForMessage(kChecksumIncorrect, static_cast<size_t>(mismatch), 4s);
    ASSERT_EQ(again, mismatch + 2);
    EXPECT_EQ(tracker.messages()[static_cast<size_t>(mismatch) + 1].text, Loaded());
}

// A core build that keeps work RAM elsewhere in its data: found by the
// signature inside the core's image, and the game decoded from there. Also
// with the core's zero-filled data in three mappings, work RAM's the second.
// BlastEm and Fusion keep it on the heap, Fusion (as reported) big-endian,
// beside a save state's copy that stands still.
TEST_F(Emulator, WorkRamWhereverTheEmulatorKeepsIt) {
    const struct {
        const char* program;
        std::vector<std::string> args;
        std::vector<std::string> said;   // the messages before "Game found: Sonic 2", as patterns
    } cases[] = {
        {"retroarch.exe", {"--ram-offset", "0x312340"}, {"SUCCESS: Loaded .*", "Work RAM found at core \\+ 0x312340"}},
        {"retroarch.exe", {"--split-data"}, {"SUCCESS: Loaded .*"}},
        {"retroarch.exe", {"--split-data", "--ram-offset", "0x312340"},
         {"SUCCESS: Loaded .*", "Work RAM found at core \\+ 0x312340"}},
        {"blastem.exe", {"--state-copy"},
         {"Emulator: BlastEm \\(blastem\\.exe, process [0-9]+\\)\\.",
          "Work RAM found at 0x[0-9A-F]+ \\(16-bit words in little-endian order, the one of 2 copies running\\), "
          "searched in [0-9]+ ms"}},
        {"Fusion.exe", {"--big-endian", "--state-copy"},
         {"Emulator: Kega Fusion \\(Fusion\\.exe, process [0-9]+\\), which Ringwatch has not been tried with: .*",
          "Work RAM found at 0x[0-9A-F]+ \\(the 68000's big-endian words, the one of 2 copies running\\), "
          "searched in [0-9]+ ms"}},
    };
    for (const auto& row : cases) {
        std::vector<std::string> args = row.args;
        SCOPED_TRACE(std::string(row.program) + " " + args.front());
        Standin emulator;
        TrackerRun run;
        args.push_back(ScenarioPath("restart_before.txt"));
        ASSERT_TRUE(emulator.StartProgram(StandinPath(row.program), args));
        run.Start();
        // The level as the scenario plays it, decoded in the emulator's byte order.
        const bool tracked = run.WaitUntil(
            [&] { return run.ready() && run.snapshot().ram.gameMode == 12 && run.snapshot().ram.lives == 3; }, 10s);
        // A pass that met the stand-in before its counter stepped waits for
        // the next: the copies it found stood still.
        std::string said;
        std::vector<std::string> texts;
        for (const Message& message : run.messages()) {
            said += std::string("\n  ") + message.text;
            if (message.text.rfind("Work RAM: 2 copies of the game's RAM, 0 of them running", 0) != 0) {
                texts.push_back(message.text);
            }
        }
        ASSERT_TRUE(tracked) << said;
        ASSERT_GE(texts.size(), row.said.size() + 1) << said;
        for (size_t i = 0; i < row.said.size(); ++i) {
            EXPECT_TRUE(std::regex_match(texts[i], std::regex(row.said[i]))) << texts[i];
        }
        EXPECT_EQ(texts[row.said.size()], kGameFound) << said;
    }
}

// Another cartridge: no copy of the header anywhere in the emulator's memory.
TEST_F(Emulator, AnotherCartridge) {
    ASSERT_TRUE(standin.Start({"--mode", "other"}));
    EXPECT_TRUE(HeaderCopiesIn(standin.pid()).empty()) << "the stand-in must hold no copy of the header";
    tracker.Start();
    // Each pass reads all of the emulator's memory: in sanitizer builds that
    // includes hundreds of MiB of the stand-in's shadow memory.
    ASSERT_TRUE(tracker.WaitUntil([&] { return tracker.messages().size() >= 3; }, 20s));
    EXPECT_EQ(tracker.messages()[0].text, Loaded());
    EXPECT_EQ(tracker.messages()[1].text, "Unknown game");
    EXPECT_EQ(tracker.messages()[2].text, "Unknown game") << "scanned again on the next pass";
    EXPECT_FALSE(tracker.ready());
}

// An emulator that has ended but is not yet reaped by its parent (a zombie on
// Linux, a process object its parent's handle keeps on Windows) is no
// emulator: taken as the first match, it would hide a live one behind it
// (opening it or listing its modules fails), pass after pass.
TEST_F(Emulator, EndedEmulatorWaitingForItsParentIsSkipped) {
    Standin ended;
    ASSERT_TRUE(ended.Start({}));
    ended.KillLeavingUnreaped();
    ASSERT_TRUE(standin.Start({}));
    // Without a scenario the game's state is in its RAM once it says "done".
    ASSERT_TRUE(standin.WaitForLine("done", 10s));
    auto scanner = std::make_unique<EmulatorLink>();
    auto log = std::make_unique<LogBuffer>();
    EmulatorLinkReset(*scanner, kPlatformProcessApi);
    Attach(*scanner, *log);
    ASSERT_EQ(log->count, 2) << log->entries[0].text;
    EXPECT_STREQ(log->entries[1].text, kGameFound.c_str());
    EXPECT_TRUE(scanner->identified);
    Disconnect(*scanner);
}

// An emulator whose executable and core were replaced on disk while it runs
// (rebuilt, updated) still goes by the names it was started with.
TEST_F(Emulator, FilesReplacedWhileRunning) {
    const std::string directory = MakeTemporaryDirectory();
    ASSERT_FALSE(directory.empty());
    const std::string program = directory + "retroarch.exe";
    const std::string core = directory + "genesis_plus_gx_libretro.dll";
    std::filesystem::copy_file(StandinPath("retroarch.exe"), program);
    std::filesystem::copy_file(StandinPath("genesis_plus_gx_libretro.dll"), core);
    ASSERT_TRUE(standin.StartProgram(program, {}));
    ASSERT_TRUE(standin.WaitForLine("done", 10s));
    for (const std::string& file : {program, core}) {
        ASSERT_TRUE(MoveAsideWhileRunning(file)) << file;
        std::filesystem::copy_file(StandinPath(file == program ? "retroarch.exe" : "genesis_plus_gx_libretro.dll"),
                                   file);
    }

    auto scanner = std::make_unique<EmulatorLink>();
    auto log = std::make_unique<LogBuffer>();
    EmulatorLinkReset(*scanner, kPlatformProcessApi);
    Attach(*scanner, *log);
    ASSERT_EQ(log->count, 2) << log->entries[0].text;
    EXPECT_EQ(std::string(log->entries[0].text), "SUCCESS: Loaded " + core + " in retroarch.exe.");
    EXPECT_STREQ(log->entries[1].text, kGameFound.c_str());
    Disconnect(*scanner);
    standin.Kill();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

// The header scan of the stand-in with the real backend: what it reads and
// how long it takes (reported, not asserted).
TEST_F(Emulator, HeaderScanFigures) {
    ASSERT_TRUE(standin.Start({"--mode", "menu"}));
    const std::vector<uint64_t> copies = HeaderCopiesIn(standin.pid());
    ASSERT_EQ(copies.size(), 1u) << "one copy, in the cartridge ROM";

    auto scanner = std::make_unique<EmulatorLink>();
    auto log = std::make_unique<LogBuffer>();
    EmulatorLinkReset(*scanner, CountingProcessApi());
    TakeReadFigures();
    const uint64_t start = ClockNow();
    Attach(*scanner, *log);
    const double seconds = static_cast<double>(ClockNow() - start) / static_cast<double>(ClockFrequency());
    ASSERT_EQ(log->count, 2);
    EXPECT_STREQ(log->entries[1].text, kChecksumIncorrect.c_str());
    const ReadFigures figures = TakeReadFigures();
    EXPECT_EQ(figures.walks, 1u);
    EXPECT_GE(figures.bytesRead, 4u << 20) << "the whole cartridge ROM region";
    std::printf("header scan of the stand-in: %u ranges listed, %u read, %llu bytes, %.1f ms (attach included)\n",
                figures.rangesListed, figures.regionsRead, static_cast<unsigned long long>(figures.bytesRead),
                seconds * 1000.0);
    RecordProperty("scan_bytes", std::to_string(figures.bytesRead));
    RecordProperty("scan_ms", std::to_string(seconds * 1000.0));
    Disconnect(*scanner);
}

}  // namespace

// The whole program on a terminal (tmux) beside the stand-in playing the
// scripted play-through: what the player sees during the run and at its end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/ground_truth.h"

namespace {

using namespace std::chrono_literals;

TEST(Screen, WholeProgramFollowsThePlayThrough) {
    if (!Terminal::Available()) GTEST_SKIP() << "tmux is not installed";
    std::string others = WaitForNoForeignEmulators(120s);
    ASSERT_TRUE(others.empty()) << "another retroarch.exe is running:\n" << others;

    Standin standin;
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, ScenarioPath("playthrough.txt")}));
    Terminal terminal;
    ASSERT_TRUE(terminal.Start(RINGWATCH_PROGRAM_LAUNCHER + ShellQuoted(RINGWATCH_PROGRAM), 120, 40));

    // During the run: the status line names the level and the state, and the
    // log below shows the identification (for 20 seconds).
    bool sawLevelActive = false;
    bool sawGameFound = false;
    auto deadline = std::chrono::steady_clock::now() + 60s;
    std::string screen;
    while (std::chrono::steady_clock::now() < deadline) {
        screen = terminal.Capture();
        if (screen.rfind("Tracking active: EH1 - Game state: level active\n", 0) == 0) sawLevelActive = true;
        if (screen.find("] Game found: Sonic 2\n") != std::string::npos) sawGameFound = true;
        if (standin.WaitForLine("done", 200ms)) break;
    }
    EXPECT_TRUE(sawLevelActive) << "last screen:\n" << screen;
    EXPECT_TRUE(sawGameFound) << "last screen:\n" << screen;

    // At the end: the statistics and one line per level record.
    const auto& kFinal = kPlayThroughFinalScreen;
    bool all = false;
    for (int attempt = 0; attempt < 20 && !all; ++attempt) {
        std::this_thread::sleep_for(200ms);
        screen = terminal.Capture();
        all = true;
        for (const char* line : kFinal) all = all && HasLine(screen, line);
    }
    for (const char* line : kFinal) EXPECT_TRUE(HasLine(screen, line)) << "missing: \"" << line << "\"";
    if (!all) std::printf("last screen:\n%s\n", screen.c_str());
}

// The emulator stops on a lag frame: while it stays there, the screen counts it.
TEST(Screen, TheLagFrameTheEmulatorStopsOnIsCounted) {
    if (!Terminal::Available()) GTEST_SKIP() << "tmux is not installed";
    ASSERT_EQ(WaitForNoForeignEmulators(120s), "");
    Standin standin;
    ASSERT_TRUE(standin.Start({ScenarioPath("stop_on_lag.txt")}));
    Terminal terminal;
    ASSERT_TRUE(terminal.Start(RINGWATCH_PROGRAM_LAUNCHER + ShellQuoted(RINGWATCH_PROGRAM), 120, 40));
    ASSERT_TRUE(standin.WaitForLine("done", 60s));
    const char* kTotal = " Total IGT: 00:00, Adjusted: 00:00.00 - Pauses  0, Deaths 0, Lag  2, Rings    0 (0)";
    std::string screen;
    for (int i = 0; i < 50 && !HasLine(screen, kTotal); ++i) {
        std::this_thread::sleep_for(100ms);
        screen = terminal.Capture();
    }
    EXPECT_TRUE(HasLine(screen, kTotal)) << "last screen:\n" << screen;
}

}  // namespace

// The overlay page in a real browser: the whole program with -overlay on a
// terminal beside the stand-in playing the play-through; at its end, headless
// Chromium (the network shut off but for the loopback) opens the page, and
// its figures are the screen's. Leaves a picture of the page as
// overlay-example.png in the working folder, the README's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/ground_truth.h"
#include "e2e/wire_client.h"

namespace {

using namespace std::chrono_literals;

// The figures of every match of `pattern` in `text`, its groups joined by blanks.
std::string Figures(const std::string& text, const std::string& pattern) {
    std::string out;
    const std::regex expression(pattern);
    for (std::sregex_iterator at(text.begin(), text.end(), expression), end; at != end; ++at)
        for (size_t group = 1; group < at->size(); ++group) out += (*at)[group].str() + " ";
    return out;
}

TEST(OverlayPage, AHeadlessBrowserShowsTheScreensStatistics) {
    std::string found;
    if (!Terminal::Available() || !RunShell("command -v chromium", &found)) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "chromium or tmux is missing";
        GTEST_SKIP() << "chromium or tmux is missing: scripts/setup.sh test installs them";
    }
    ASSERT_EQ(WaitForNoForeignEmulators(120s), "");
    const std::string port = std::to_string(WireClient::FreePort());
    Standin standin;
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, ScenarioPath("playthrough.txt")}));
    Terminal terminal;
    ASSERT_TRUE(terminal.Start(std::string(RINGWATCH_PROGRAM) + " -overlay " + port, 120, 40));

    // The checkpoint: the play-through's end, all its statistics on the screen.
    ASSERT_TRUE(standin.WaitForLine("done", 120s));
    std::string screen;
    bool all = false;
    for (int attempt = 0; attempt < 30 && !all; ++attempt) {
        std::this_thread::sleep_for(200ms);
        screen = terminal.Capture();
        all = true;
        for (const char* line : kPlayThroughFinalScreen) all = all && HasLine(screen, line);
    }
    ASSERT_TRUE(all) << screen << "\nmissing the last lines of the play-through's screen";

    const std::string folder = MakeTemporaryDirectory();
    const std::string chromium =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --proxy-server=socks5://127.0.0.1:9 "
        "--host-resolver-rules='MAP * ~NOTFOUND, EXCLUDE 127.0.0.1' --user-data-dir=" + folder + "profile ";
    const std::string page = "'http://127.0.0.1:" + port + "/?show=level,run,counts,spindash,best,levels'";
    std::string dom;
    ASSERT_TRUE(RunShell(chromium + "--dump-dom " + page + " 2>/dev/null", &dom));

    // The same figures from both, in the screen's order: the totals, the spindashes, each level's time.
    const std::string shown =
        Figures(screen, "Total IGT: (\\d+:\\d+), Adjusted: (\\S+) - Pauses +(\\d+), Deaths (\\d+), Lag +(\\d+), "
                        "Rings +(\\d+) \\((\\d+)\\)") +
        Figures(screen, "P1 times hit: (\\d+)") +
        Figures(screen, "Average spindash speed +(\\S+)% - Average actual speed: +(\\S+)%") +
        Figures(screen, "6-tap attempts: (\\d+) - Perfect spindashes: (\\d+)") +
        Figures(screen, "\n ([A-Z]{2}[0-9]?) +- IGT: (\\S+)");
    std::string onPage;
    for (const char* id : {"igt", "adjusted", "pauses", "deaths", "lag", "rings", "collected", "hits", "charge",
                           "speed", "attempts", "perfect"})
        onPage += Figures(dom, std::string("id=\"") + id + "\">([^<]*)<");
    onPage += Figures(dom, "<tr><td>([A-Z]{2}[0-9]?)(?: \\(SS\\))?</td><td>([^<]+)</td>");
    EXPECT_EQ(onPage, shown) << dom << "\n" << screen;
    EXPECT_EQ(shown, "02:32 02:33.73 2 1 6 113 87 2 100.00 100.00 1 1 EH1 00:45.50 EH2 00:45.73 EH2 01:02.50 ");

    // The README's picture: the page as a browser source shows it, on a transparent background.
    ASSERT_TRUE(RunShell(chromium + "--hide-scrollbars --window-size=720,150 --default-background-color=00000000 "
                                    "--screenshot=" + folder + "overlay.png http://127.0.0.1:" + port + "/ 2>/dev/null",
                         &found));
    RunShell("cp " + folder + "overlay.png overlay-example.png; rm -rf " + folder, &found);
}

}  // namespace

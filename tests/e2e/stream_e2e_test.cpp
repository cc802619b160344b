// The whole program with -overlay and -livesplit-one on a terminal beside the
// stand-in playing the play-through, while clients do what no browser or
// timer should: one table of bad inputs against both servers. The play-through
// ends at its ground truth on the screen and in /stats.json, the program still
// answers, and headless Chromium (no network but the loopback) shows the
// screen's figures on the overlay page. The page's picture is left as
// overlay-example.png in the working folder, the README's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

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

const std::string kUpgrade =
    "GET /anywhere HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

struct BadInput {
    const char* name;
    std::string bytes;
    const char* answers[2];       // how the overlay's answer starts, and LiveSplit One's
    std::string ending = "";      // what LiveSplit One's answer holds besides
    bool byteASecond = false;     // sent a byte a second
};

TEST(StreamServers, BadInputsLeaveThePlayThroughWholeAndThePageShowsTheScreen) {
    if (!Terminal::Available()) GTEST_SKIP() << "tmux is not installed";
    ASSERT_EQ(WaitForNoForeignEmulators(120s), "");
    const uint16_t overlay = WireClient::FreePort(), one = WireClient::FreePort();
    ASSERT_TRUE(overlay != 0 && one != 0 && overlay != one);
    Standin standin;
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, ScenarioPath("playthrough.txt")}));
    Terminal terminal;
    ASSERT_TRUE(terminal.Start(RINGWATCH_PROGRAM_LAUNCHER + ShellQuoted(RINGWATCH_PROGRAM) +
                                   " -refresh 60 -overlay 127.0.0.1:" +
                                   std::to_string(overlay) + " -livesplit-one " + std::to_string(one),
                               200, 80));
    std::string answer;
    for (int i = 0; i < 100 && answer.rfind("HTTP/1.1 200 OK", 0) != 0; ++i) {
        std::this_thread::sleep_for(200ms);
        answer = WireClient::Get(overlay, "/stats.json");
    }
    ASSERT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << terminal.Capture();

    // An event stream kept open throughout: its last event is the statistics at the end.
    WireClient events;
    ASSERT_TRUE(events.Connect(overlay) && events.Send("GET /events HTTP/1.1\r\n\r\n"));
    std::atomic<bool> ended{false};
    std::thread eventReader([&] { events.ReadUntil([&] { return ended.load(); }, 300s); });

    // Each kind of refusal is told once (the log keeps a message for 20 s, so it is looked for soon after).
    auto toldOnce = [&terminal](const std::string& told) {
        const std::string screen = terminal.Capture();
        const size_t at = screen.find(told + " (not told again).");
        EXPECT_NE(at, std::string::npos) << told << "\n" << screen;
        EXPECT_EQ(screen.find(told, at + 1), std::string::npos) << told;
    };
    // Every row to both servers at once, each client on a thread of its own.
    const std::string lying = kUpgrade + std::string("\x81\xff\x7f\xff\xff\xff\xff\xff\xff\xff\1\2\3\4", 14);
    const BadInput table[] = {
        // Closed about 10 s after it connected, unanswered.
        {"a request sent a byte a second", kUpgrade, {"", ""}, "", true},
        {"an oversized head", "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n",
         {"HTTP/1.1 431", "HTTP/1.1 431"}},
        {"a method other than GET", "POST / HTTP/1.1\r\n\r\n", {"HTTP/1.1 405", "HTTP/1.1 405"}},
        {"a path outside those named", "GET /secret HTTP/1.1\r\n\r\n", {"HTTP/1.1 404", "HTTP/1.1 404"}},
        // The overlay has no WebSocket at any path; LiveSplit One takes it, then closes with 1009.
        {"a WebSocket frame that lies about its length", lying, {"HTTP/1.1 404", "HTTP/1.1 101"},
         std::string("\x88\x02\x03\xf1", 4)},
    };
    struct Result {
        std::string got;
        double seconds = 0;
        bool closed = false;
    } results[std::size(table)][2];
    std::vector<std::thread> clients;
    for (size_t r = 0; r < std::size(table); ++r) {
        for (int s = 0; s < 2; ++s) {
            clients.emplace_back([&, r, s] {
                const BadInput& row = table[r];
                const auto start = std::chrono::steady_clock::now();
                WireClient client;
                if (!client.Connect(s == 0 ? overlay : one)) return;
                for (size_t i = 0; row.byteASecond && client.Read() && client.Send(row.bytes.substr(i, 1)); ++i)
                    std::this_thread::sleep_for(1s);
                results[r][s].closed = (row.byteASecond || client.Send(row.bytes)) &&
                                       !client.ReadUntil([] { return false; }, 20s);
                results[r][s].got = client.received();
                results[r][s].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            });
        }
    }
    for (std::thread& thread : clients) thread.join();
    for (size_t r = 0; r < std::size(table); ++r) {
        for (int s = 0; s < 2; ++s) {
            SCOPED_TRACE(std::string(table[r].name) + (s == 0 ? ", overlay" : ", LiveSplit One"));
            EXPECT_TRUE(results[r][s].closed) << "the server closes the connection";
            EXPECT_EQ(results[r][s].got.substr(0, 12), table[r].answers[s]);
            EXPECT_TRUE(s == 0 || results[r][s].got.find(table[r].ending) != std::string::npos);
            EXPECT_LE(results[r][s].seconds, table[r].byteASecond ? 14.0 : 5.0);
            EXPECT_GE(results[r][s].seconds, table[r].byteASecond ? 9.0 : 0.0);
        }
    }
    toldOnce("Overlay: answered a request head over 8 KiB with 431");
    toldOnce("LiveSplit One: closed a WebSocket that sent a frame too large or malformed");
    toldOnce("LiveSplit One: closed a connection whose request head was not complete in time");

    // 100 connections at once to each: the first 8 are taken (LiveSplit One keeps its
    // WebSockets open, the overlay answers and frees its places), the others closed.
    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(s == 0 ? "100 at once, overlay" : "100 at once, LiveSplit One");
        std::vector<std::unique_ptr<WireClient>> clients;
        for (int i = 0; i < 100; ++i) {
            clients.push_back(std::make_unique<WireClient>());
            if (clients.back()->Connect(s == 0 ? overlay : one, 10s))
                clients.back()->Send(s == 0 ? "GET /stats.json HTTP/1.1\r\n\r\n" : kUpgrade);
        }
        int answered = 0, open = 0;
        for (auto& client : clients) {
            client->ReadUntil([&] { return client->received().find("\r\n\r\n") != std::string::npos; }, 3s);
            answered += client->received().rfind(s == 0 ? "HTTP/1.1 200" : "HTTP/1.1 101", 0) == 0;
            open += s == 1 && !client->received().empty() && client->Read();
        }
        EXPECT_GE(answered, 8);
        EXPECT_EQ(open, s == 1 ? 8 : 0) << "LiveSplit One keeps the 8 it took";
        EXPECT_TRUE(s == 0 || answered == 8);
    }
    toldOnce("LiveSplit One: closed a connection past the limit of 8 at once");

    // The play-through's end: the statistics at their ground truth on the screen, and in /stats.json as the
    // last event gave them (the page, served with them, shows the screen's figures below).
    ASSERT_TRUE(standin.WaitForLine("done", 120s));
    std::string screen;
    bool all = false;
    for (int attempt = 0; attempt < 20 && !all; ++attempt) {
        std::this_thread::sleep_for(200ms);
        screen = terminal.Capture();
        all = true;
        for (const char* line : kPlayThroughFinalScreen) all = all && HasLine(screen, line);
    }
    EXPECT_TRUE(all) << screen;
    const std::string stats = WireClient::Get(overlay, "/stats.json");
    ended = true;
    eventReader.join();
    const std::string& stream = events.received();
    const size_t last = stream.rfind("data: ");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(stream.substr(last + 6, stream.size() - last - 8), stats.substr(stats.find("\r\n\r\n") + 4));

    std::string dom;
    if (!RunShell("command -v chromium", &dom)) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "chromium is missing";
        GTEST_SKIP() << "chromium is missing (scripts/setup.sh test installs it): the page was not opened";
    }
    const std::string chromium =
        "p=$(mktemp -d) && timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=$p "
        "--proxy-server=socks5://127.0.0.1:9 --host-resolver-rules='MAP * ~NOTFOUND, EXCLUDE 127.0.0.1' ";
    const std::string page = "http://127.0.0.1:" + std::to_string(overlay) + "/";
    ASSERT_TRUE(RunShell(chromium + "--dump-dom '" + page + "?show=level,run,counts,spindash,best,levels' " +
                             "2>/dev/null; rm -rf $p",
                         &dom));
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
    EXPECT_NE(shown.find("02:32 02:33.73 2 1 6 113 87 2"), std::string::npos) << "the figures were found";
    // The README's picture: the page as a browser source shows it, on a transparent background.
    EXPECT_TRUE(RunShell(chromium + "--hide-scrollbars --window-size=720,150 --default-background-color=00000000 "
                                    "--screenshot=overlay-example.png " + page + " 2>/dev/null; rm -rf $p",
                         &dom));
}

}  // namespace

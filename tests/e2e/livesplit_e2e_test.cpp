// The link to LiveSplit as the program drives it, against a fake server on the
// loopback: the tracker thread beside the stand-in, and on this thread a frame
// every 200 ms (the default 5 Hz) that collects and runs LiveSplitFrame.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "livesplit/livesplit_link.h"
#include "e2e/fake_livesplit.h"
#include "e2e/ground_truth.h"
#include "e2e/standin_test.h"
#include "e2e/wire_client.h"
#include "stream/stream_server.h"
#include "tracking/game_time.h"

namespace {

using namespace std::chrono_literals;

// The passes that closed a level (not a part before a special stage); read once the tracker has stopped.
struct Closes {
    int32_t seen = 0;
    std::vector<uint64_t> stamps;
    static void AfterPass(void* context, uint64_t passStart, bool, const GameSnapshot& snapshot, const FrameWatch&) {
        for (auto& c = *static_cast<Closes*>(context); c.seen < snapshot.stats.run.recordCount; ++c.seen)
            if (!snapshot.stats.run.records[c.seen].specialStage) c.stamps.push_back(passStart);
    }
};

// With `fault` the server stops reading at the first level's close and goes away 2 s later; with `late`
// the link looks for it on another port until 2 s into the run, after the game's start. With `one`
// LiveSplit One connects to our server instead (2 s into the run when `late`), and what it is sent is
// read as the same lines. With `overlay` the overlay's event stream is read: a level closed in an event
// is read as its adjusted time and a split.
struct ServerCase {
    const char* name;
    std::string scenario;
    bool fault;
    bool late;
    bool one = false;
    bool overlay = false;
};

// LiveSplit One's JSON as the line LiveSplit is sent for it ("" for the two that set up the game time).
std::string AsLine(const std::string& json) {
    const size_t name = json.find("\"command\":\"") + 11, time = json.find("\"time\":\"");
    const std::string command = json.substr(name, json.find('"', name) - name);
    if (command == "setGameTime") return "setgametime " + json.substr(time + 8, json.find('"', time + 8) - time - 8);
    if (command == "initializeGameTime" || command == "pauseGameTime") return "";
    return command == "start" ? "starttimer" : command;
}
void PrintTo(const ServerCase& row, std::ostream* out) { *out << row.name; }

class LiveSplitServer : public StandinTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(LiveSplitServer, OneSplitPerLevelAtTheScreensTotal) {
    std::vector<double> latencies;   // ms from the pass that closed a level to its split at the server
    const std::string& scenario = GetParam().scenario;
    const bool fault = GetParam().fault, late = GetParam().late, overlay = GetParam().overlay;
    const bool one = GetParam().one || overlay;
    FakeLiveSplit server;
    ASSERT_TRUE(server.Start());
    auto oneServer = std::make_unique<StreamServer>();
    StreamServerInit(*oneServer, overlay ? StreamServerKind::Overlay : StreamServerKind::LiveSplitOne, "127.0.0.1", 0);
    FakeLiveSplitOne timer;
    std::vector<FakeLiveSplit::Line> shown;   // the overlay's events as lines
    std::atomic<bool> stop{false};
    std::thread page;
    auto readPage = [&](uint16_t port) {
        WireClient client;
        size_t at = 0, closed = 0;
        if (!client.Connect(port) || !client.Send("GET /events HTTP/1.1\r\n\r\n")) return;
        client.ReadUntil([&] {
            for (size_t end; (end = client.received().find("\n\n", at)) != std::string::npos; at = end + 2) {
                const std::string event = client.received().substr(at, end - at);
                size_t levels = 0;
                for (size_t p = 0; (p = event.find("\"specialStage\":false", p)) != std::string::npos; ++p) ++levels;
                if (levels > closed) {
                    const size_t time = event.find("\"adjusted\":\"") + 12;
                    shown.push_back({"setgametime 0:" + event.substr(time, event.find('"', time) - time), ClockNow()});
                    shown.push_back({"split", ClockNow()});
                }
                closed = levels;
            }
            return stop.load();
        }, 600s);
    };
    // The statistics are compared where every frame must be seen: at the functional pace.
    const std::string path = ScenarioPath(scenario.c_str());
    ASSERT_TRUE(standin.Start(fault ? std::vector<std::string>{"--fps", kFunctionalFps, path} : std::vector{path}));
    Closes closes;
    TrackerRun tracker;
    tracker.Start(PassObserver{&Closes::AfterPass, &closes});
    auto link = std::make_unique<LiveSplitLink>();
    auto log = std::make_unique<LogBuffer>();
    LiveSplitLinkInit(*link, "127.0.0.1", late ? 1 : server.port());
    const double frequency = static_cast<double>(ClockFrequency());
    std::vector<std::string> atCloses;   // the screen's adjusted total in each frame that saw a level close
    int32_t recordsSeen = 0, framesSinceFirstClose = 0;
    uint32_t lastFrame = 0;
    double longestFrame = 0;   // seconds of the longest LiveSplitFrame
    for (int frame = 0; frame < 600 && (lastFrame == 0 || tracker.snapshot().ram.globalFrame != lastFrame);
         ++frame) {
        tracker.Poll();
        const uint64_t start = ClockNow();
        if (one)
            StreamServerFrame(*oneServer, tracker.snapshot(), "", *log, start, frequency);
        else
            LiveSplitFrame(*link, tracker.snapshot(), *log, start, frequency);
        longestFrame = std::max(longestFrame, static_cast<double>(ClockNow() - start) / frequency);
        const TrackerStats& stats = tracker.snapshot().stats;
        for (char line[kLiveSplitLineSize]; recordsSeen < stats.run.recordCount; ++recordsSeen) {
            const LiveSplitCommand time{LiveSplitCommandKind::SetGameTime, AdjustedTotalHundredths(stats)};
            const size_t length = FormatLiveSplitCommand(time, line, sizeof line);
            if (!stats.run.records[recordsSeen].specialStage) atCloses.push_back(std::string(line, length - 2));
        }
        if (fault && !atCloses.empty() && ++framesSinceFirstClose == 1) server.StopReading();
        if (fault && framesSinceFirstClose == 10) server.GoAway();
        if (frame == 10) link->port = server.port();
        if (one && !overlay && frame == (late ? 10 : 0)) timer.Start(oneServer->boundPort);
        if (overlay && frame == 0) page = std::thread(readPage, oneServer->boundPort);
        if (lastFrame == 0) lastFrame = standin.WaitForDone(10ms);
        std::this_thread::sleep_for(200ms);
    }
    tracker.Stop();
    EXPECT_LT(longestFrame, 0.05) << "a frame never waits on the server (a busy machine may delay one a little)";
    if (fault) {
        ExpectPlayThroughGroundTruth(tracker.snapshot().stats);
        return;
    }
    timer.Stop();
    stop = true;
    if (page.joinable()) page.join();
    auto lines = overlay ? shown : server.Lines();
    if (one && !overlay) {
        // Each attempt's game time initialised and paused after its start, for it to move only when set.
        const auto messages = timer.Messages();
        ASSERT_GE(messages.size(), 5u);
        EXPECT_EQ(messages[0].json + messages[1].json + messages[2].json + messages[3].json +
                      messages[4].json.substr(0, 33),
                  "{\"command\":\"reset\"}{\"command\":\"start\"}{\"command\":\"initializeGameTime\"}"
                  "{\"command\":\"pauseGameTime\"}{\"command\":\"setGameTime\",\"time\":\"");
        lines = {{"alwayspausegametime", 0}};   // LiveSplit's line for those two, to compare the rest alike
        for (const FakeLiveSplitOne::Message& message : messages)
            if (!AsLine(message.json).empty()) lines.push_back({AsLine(message.json), message.stamp});
    }
    ASSERT_GE(lines.size(), 4u);
    EXPECT_TRUE(overlay || lines[0].text + "|" + lines[1].text + "|" + lines[2].text + "|" +
                                   lines[3].text.substr(0, 12) == "alwayspausegametime|reset|starttimer|setgametime ")
        << lines[0].text << "|" << lines[1].text << "|" << lines[2].text << "|" << lines[3].text;
    if (!late && !overlay) {
        EXPECT_EQ(lines[3].text, "setgametime 0:00:00.00");
    }
    std::vector<std::string> beforeSplits;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].text != "split") continue;
        beforeSplits.push_back(lines[i - 1].text);
        if (beforeSplits.size() > closes.stamps.size()) continue;
        const uint64_t closed = closes.stamps[beforeSplits.size() - 1];
        latencies.push_back(static_cast<double>(lines[i].stamp - closed) / frequency * 1000);
    }
    EXPECT_EQ(beforeSplits, atCloses) << "the time of each split is the screen's total at the close";
    EXPECT_EQ(closes.stamps.size(), scenario == "every_level.txt" ? 20u : 2u);
    if (scenario == "playthrough.txt") {
        EXPECT_EQ(atCloses, (std::vector<std::string>{"setgametime 0:00:45.50", "setgametime 0:02:33.73"}));
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty())
        std::printf("close to %s on the loopback at 5 Hz: median %.1f ms, 99th percentile %.1f ms, %zu splits\n",
                    overlay ? "the overlay's event" : one ? "LiveSplit One's split" : "split",
                    latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100], latencies.size());
}

INSTANTIATE_TEST_SUITE_P(WhateverTheServerDoes, LiveSplitServer,
                         ::testing::Values(ServerCase{"Listening", "playthrough.txt", false, false},
                                           ServerCase{"StopsReadingThenGoesAway", "playthrough.txt", true, false},
                                           ServerCase{"StartedLate", "playthrough.txt", false, true},
                                           ServerCase{"EveryLevel", "every_level.txt", false, false},
                                           ServerCase{"LiveSplitOne", "every_level.txt", false, false, true},
                                           ServerCase{"LiveSplitOneStartedLate", "playthrough.txt", false, true, true},
                                           ServerCase{"Overlay", "every_level.txt", false, false, false, true}),
                         [](const ::testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.name); });

}  // namespace

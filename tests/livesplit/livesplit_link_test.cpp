#include "livesplit/livesplit_link.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tracking/tracker_states.h"

namespace {

// LiveSplit as the link's socket calls see it: it takes a connection when
// `listening`, at most `takes` bytes a send, and what reaches it is `got`
// ("<closed>" where the link closed its socket).
struct FakeServer {
    bool listening = true;
    size_t takes = 1000;
    bool closes = false;  // closes the connection at the next drain
    std::string got;
} server;

SocketResult Ok() { return {true, 0, ""}; }
const SocketApi kFakeSocketApi = {
    [] { return Ok(); },
    [](const char*, uint16_t, bool, SocketAddress* address) { return address->length = 4, Ok(); },
    [](const SocketAddress&, SocketHandle* socket) { return *socket = 7, Ok(); },
    [](SocketHandle, bool* done) {
        return server.listening ? (*done = true, Ok()) : SocketResult{false, 111, "connect"};
    },
    [](SocketHandle, const char* data, size_t size, size_t* sent) {
        *sent = std::min(size, server.takes);
        return server.got.append(data, *sent), Ok();
    },
    [](SocketHandle, bool* closed) { return *closed = server.closes, server.closes = false, Ok(); },
    [](SocketHandle socket) { server.got += socket == kSocketNone ? "" : "<closed>"; },
};

// One frame a second: the tracker's state, the timer's seconds, a level closed
// in it (10 s more in the run's totals), and what LiveSplit does. A refused
// connection is tried again 2.4 s later.
struct Frame {
    TrackerState state;
    uint32_t seconds = 0;
    bool close = false;
    bool listening = true;
    size_t takes = 1000;
    bool closes = false;
};

TEST(LiveSplitFrame, TheLinkJoinsLateRetriesAndSendsWithoutWaiting) {
    using S = TrackerState;
    const struct {
        const char* name;
        std::vector<Frame> frames;
        std::string got;   // what LiveSplit received, lines ended by '|'
        const char* line;  // a log line expected, "" for none
    } cases[] = {
        {"there from the start",
         {{S::SegaLogo}, {S::GameStarting}, {S::LevelActive, 5}, {S::LevelEnd, 5, true}},
         "alwayspausegametime|reset|starttimer|setgametime 0:00:00.00|setgametime 0:00:05.00|"
         "setgametime 0:00:10.00|split|",
         "LiveSplit: connected to 127.0.0.1:16834; its game time now comes from the game."},
        {"started late, while the first level runs",
         {{S::SegaLogo, 0, false, false},
          {S::GameStarting, 0, false, false},
          {S::LevelActive, 2, false, false},
          {S::LevelActive, 3},
          {S::LevelActive, 4},
          {S::LevelEnd, 4, true}},
         "<closed>alwayspausegametime|reset|starttimer|setgametime 0:00:03.00|setgametime 0:00:03.00|setgametime "
         "0:00:04.00|"
         "setgametime 0:00:10.00|split|",
         "LiveSplit: connected after the run began: its run starts now, at the game's time."},
        {"started after a level's end: left alone",
         {{S::SegaLogo, 0, false, false},
          {S::GameStarting, 0, false, false},
          {S::LevelEnd, 0, true, false},
          {S::LevelActive, 1},
          {S::LevelActive, 3},
          {S::LevelEnd, 3, true}},
         "<closed>alwayspausegametime|",
         "LiveSplit: connected after a level of this run had ended: left alone until the next new game."},
        {"a send buffer of 5 bytes: every line whole, in order",
         {{S::SegaLogo, 0, false, true, 5},
          {S::GameStarting, 0, false, true, 5},
          {S::LevelActive, 1, false, true, 5},
          {S::LevelActive, 1}},
         "alwayspausegametime|reset|starttimer|setgametime 0:00:00.00|setgametime 0:00:01.00|",
         ""},
        {"closed by LiveSplit with a split unsent: back 2.4 s later, left alone",
         {{S::SegaLogo},
          {S::GameStarting},
          {S::LevelActive, 1},
          {S::LevelEnd, 1, true, true, 0, true},
          {S::LevelActive, 2},
          {S::LevelActive, 3},
          {S::LevelActive, 4}},
         "alwayspausegametime|reset|starttimer|setgametime 0:00:00.00|setgametime 0:00:01.00|<closed>"
         "alwayspausegametime|",
         "LiveSplit: lost the connection to 127.0.0.1:16834 (closed by LiveSplit). Tried again every 2.4 s."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server = FakeServer{};
        auto link = std::make_unique<LiveSplitLink>();
        LiveSplitLinkInit(*link, "127.0.0.1", 16834, kFakeSocketApi);
        auto snapshot = std::make_unique<GameSnapshot>();
        LogBuffer log{};
        bool logged = c.line[0] == 0;
        uint64_t now = 0;
        for (const Frame& frame : c.frames) {
            TrackerStats& stats = snapshot->stats;
            stats.trackerState = frame.state;
            snapshot->ram.timerSeconds = frame.seconds;
            stats.latches.levelClosed = frame.close;
            if (frame.close) {
                stats.run.records[stats.run.recordCount++].closed = 1;
                stats.run.totalSeconds += 10;
            }
            server.listening = frame.listening;
            server.takes = frame.takes;
            server.closes = frame.closes;
            LiveSplitFrame(*link, *snapshot, log, now += 1000, 1000.0);
            for (int i = 0; i < log.count; ++i) logged = logged || std::string(log.entries[i].text) == c.line;
        }
        std::string got = server.got;
        for (size_t at = 0; (at = got.find("\r\n", at)) != std::string::npos;) got.replace(at, 2, "|");
        EXPECT_EQ(got, c.got);
        EXPECT_TRUE(logged) << c.line;
    }
}

}  // namespace

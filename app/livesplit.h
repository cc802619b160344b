// The link to LiveSplit's server component (its TCP server; one command a
// line, each ended by "\r\n"): the run in LiveSplit follows the game's time as
// the screen's total line counts it, one split at each level's end.
//
// [SECTION] The commands: a pure function of the collected snapshot and what
//           the last frames showed (LiveSplitStep)
// [SECTION] The outgoing queue: fixed, the oldest game time dropped first
// [SECTION] The link: connecting, retrying, sending without waiting (LiveSplitFrame)
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "app/command_line.h"
#include "log/log_buffer.h"
#include "platform/socket.h"
#include "tracking/game_snapshot.h"

inline constexpr int kLiveSplitQueueCapacity = 64;       // commands waiting for the socket
inline constexpr int kLiveSplitStepCommands = 8;         // commands one frame can give rise to at most
inline constexpr int kLiveSplitLineSize = 48;            // bytes of one command line, NUL included
inline constexpr double kLiveSplitRetrySeconds = 2.4;    // between two connection attempts, as for the emulator

// [SECTION] The commands

enum class LiveSplitCommandKind : uint8_t {
    PauseGameTime,   // "alwayspausegametime": the game time moves only when told
    Reset,           // "reset"
    StartTimer,      // "starttimer"
    SetGameTime,     // "setgametime H:MM:SS.cc"
    Split,           // "split"
};

struct LiveSplitCommand {
    LiveSplitCommandKind kind;
    int64_t hundredths;          // SetGameTime: the run's game time
};

// What a frame tells the log besides the commands.
enum class LiveSplitNote : uint8_t {
    None,
    Practice,                    // a state load or a rewind: the run is no run any more, LiveSplit is let go
};

// What the commands follow between frames: the last frame's view of the game
// and where the run in LiveSplit stands.
struct LiveSplitRun {
    uint8_t seen;                // a frame has been taken (the first only sets the last values)
    TrackerState lastState;      // trackerState of the last frame
    int32_t lastRecordCount;     // recordCount of the last frame
    uint8_t lastLevelClosed;     // levelClosed of the last frame
    uint8_t driving;             // a run started by a new game is followed
    uint8_t started;             // LiveSplit has a run of ours since the last reset
    int64_t lastGameTime;        // hundredths last sent; -1: none since the run started
};

// The commands one collected snapshot gives rise to, into `out` (at most
// kLiveSplitStepCommands); returns how many. At a new game (the tracker's
// "game starting" from the logo or the level select): reset, starttimer,
// setgametime 0. While a run is followed: its game time when it changed; at
// each level's end, the time of that moment and a split; a record closed on
// the way to a special stage is no level's end. A state load or a rewind stops
// the following (`*note` says so once) until the next new game. The Sega logo
// or the title after a run: reset.
int LiveSplitStep(LiveSplitRun& run, const GameSnapshot& snapshot, LiveSplitCommand* out, LiveSplitNote* note);

// The command's line, "\r\n" included, into `out`; returns its length.
size_t FormatLiveSplitCommand(const LiveSplitCommand& command, char* out, size_t size);

// [SECTION] The outgoing queue

struct LiveSplitQueue {
    LiveSplitCommand commands[kLiveSplitQueueCapacity];
    int32_t start;
    int32_t count;
    uint32_t gameTimesDropped;   // setgametime commands dropped because the queue was full
};

// Appends `command`. A full queue drops its oldest setgametime to make room
// (a later one says more); with none in it, a new setgametime is dropped
// instead. Returns false only for a split or a reset that finds the queue
// full of splits and resets: LiveSplit has read nothing for that long.
bool LiveSplitQueuePush(LiveSplitQueue& queue, const LiveSplitCommand& command);

// [SECTION] The link

enum class LiveSplitPhase : uint8_t {
    Idle,          // no socket; a connection is tried when the retry is due
    Resolving,     // a name is being looked up on a thread of its own
    Connecting,    // the connection is under way
    Connected,
};

// The main thread's link to LiveSplit; allocated once, zero-filled, then
// LiveSplitLinkInit.
struct LiveSplitLink {
    char host[kHostNameSize];
    uint16_t port;
    LiveSplitPhase phase;
    SocketHandle socket;
    SocketAddress address;             // the resolved address, once known
    std::atomic<int> resolving;        // 1 while the look-up thread runs; 2 when it succeeded, 3 when it failed
    SocketAddress resolved;            // written by the look-up thread before `resolving` changes
    SocketResult resolveResult;        // the same
    uint8_t justConnected;             // the connection was made in this frame
    uint8_t inStep;                    // LiveSplit holds the followed run as sent: its start and every split reached it
    uint8_t failureReported;           // the current streak of failed attempts has been logged
    uint8_t attempted;
    uint64_t lastAttempt;              // counter ticks
    LiveSplitRun run;
    LiveSplitQueue queue;
    char line[kLiveSplitLineSize];     // the command being sent; its first `lineSent` bytes are gone
    size_t lineLength;
    size_t lineSent;
    uint8_t slowReported;              // dropped game times have been logged on this connection
};

void LiveSplitLinkInit(LiveSplitLink& link, const char* host, uint16_t port);

// The main thread's step after every collect: advances the connection (a
// failed attempt is logged once and retried every kLiveSplitRetrySeconds; a
// lost connection is logged once and retried), takes the commands of the
// snapshot, queues them while connected and sends what the socket takes
// without waiting. A run whose start or a split LiveSplit missed (not
// connected then, or the connection lost with them unsent) is started late
// while its first level runs, else left alone until the next new game.
void LiveSplitFrame(LiveSplitLink& link, const GameSnapshot& snapshot, LogBuffer& log, uint64_t now,
                    double counterFrequency);

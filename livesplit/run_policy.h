// What a runner's timer is told of the run: the run in LiveSplit follows the
// game's time as the screen's total line counts it, one split at each level's
// end. Pure: the commands come from the collected snapshots alone, and the
// link (livesplit/livesplit_link.h) sends them.
//
// [SECTION] The commands: a pure function of the collected snapshot and what
//           the last frames showed (LiveSplitStep)
// [SECTION] The outgoing queue: fixed, the oldest game time dropped first
#pragma once

#include <cstddef>
#include <cstdint>

#include "tracking/game_snapshot.h"

inline constexpr int kLiveSplitQueueCapacity = 64;       // commands waiting for the socket
inline constexpr int kLiveSplitStepCommands = 8;         // commands one frame can give rise to at most
inline constexpr int kLiveSplitLineSize = 48;            // bytes of one command line, NUL included

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


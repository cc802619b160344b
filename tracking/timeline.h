// The game's timeline as the reads see it. The game steps its global frame
// counter once per vertical blank and never sets it back while it runs, so the
// counter tells how each read relates to the frames already taken:
//
// - the same frame, or the next ones at the game's pace: play, taken as it
//   comes (frames that no read saw are counted as unseen);
// - a read racing the game's writes of a frame (see MayBeUnfinished in
//   timeline.cpp): the next frame begun but its global frame counter not yet
//   stepped is ignored; a new frame that may not be written far enough to
//   classify is held, and dropped if the next read is of the same frame,
//   unless that frame has stood unchanged for kStoppedFrameSeconds since it
//   was first seen: the emulator stopped on it, and it is taken as it stands;
// - two frames or more ahead: held until the next read. With run-ahead the
//   emulator rests on the real frame, and on every frame it shows runs the
//   next real frame, the frames ahead, then loads the real frame back: a read
//   inside that burst sees frames ahead for a moment. A held read that the
//   next read falls back from is dropped; otherwise it is taken, late by one
//   read;
// - up to kLookBackFramesMax frames behind the furthest frame taken: a look
//   back (a frame ahead that was taken, then the real frame again). Nothing
//   in such a read is counted and the tracker does not move;
// - further ahead than the time since the last read allows: fast-forward, when
//   the game is still where it was with its level counters moved on with the
//   global one, or when the advance is one a core can run in that time
//   (kFastForwardRateMax); the frames between are unseen frames;
// - further back than a look back, or ahead beyond fast-forward: a jump (a
//   state loaded, a rewind, a reset). It is taken once a later read shows the
//   game running on from where it landed, so that a read racing the load, and
//   the small steps back of a rewind, make one jump. The landing is yielded,
//   and the tracker takes its state from it (TakeStateFromRam,
//   tracking/classifier.h).
//
// [SECTION] FrameWatch
// [SECTION] The reads
#pragma once

#include <cstdint>

#include "emulator/ram_mirror.h"
#include "log/log_buffer.h"
#include "tracking/frames_unseen.h"

// A read this many frames behind the furthest frame taken, or fewer, is a look
// back inside a run-ahead burst: the emulator runs ahead by at most this many.
inline constexpr uint32_t kLookBackFramesMax = 12;
// Fast-forward runs the game at most this many times its own pace between two
// reads, when the game has moved on to another place on the way.
inline constexpr double kFastForwardRateMax = 100.0;
// A frame read unchanged this long after it was first seen is finished: the
// emulator writes a frame in a burst of well under a millisecond, so a frame
// that stays the newest this long is the one the emulator stopped on (paused,
// its menu open). Fifteen of the game's frames, a quarter of a second: far
// longer than a frame, so that an emulator that a busy machine holds up in the
// middle of a frame (the tracker's own thread was seen held up 117 ms at a load
// of 9 on 2 cores) is not taken for one that stopped; and no longer than the
// screen's default refresh period plus a little.
inline constexpr double kStoppedFrameSeconds = 0.25;
// Where the emulator writes a frame across its time, a frame read over less
// than this, from its first read to its last, may have been read before its
// main loop ran: the main loop steps the level frame counter a few lines
// after the vertical blank.
inline constexpr double kFrameReadSpanSeconds = 0.005;
// Seconds between two warnings of unseen game frames at most.
inline constexpr double kUnseenWarningSeconds = 10.0;
// Seconds between two lines about jumps at most; jumps in between are told
// together.
inline constexpr double kJumpLineSeconds = 1.0;

// [SECTION] FrameWatch: what the passes keep of the reads.

// Where the game was at a read, for the lines about jumps.
struct GamePlace {
    uint32_t gameMode;
    uint32_t levelIndex;
    uint32_t timerMinutes;
    uint32_t timerSeconds;
    uint32_t timerFrame;
};

struct FrameWatch {
    double counterFrequency;     // ticks per second of the passes' stamps
    uint8_t chained;             // the last pass read a good window, and no pass broke off since
    uint8_t lastRead;            // a frame is taken from its last read: the emulator writes it across its time
    uint32_t globalFrame;        // the furthest frame taken since
    uint64_t stamp;              // the stamp of the last read taken
    // Unseen frames no warning has told yet: the machine was busy, or the
    // emulator fast-forwarded.
    uint32_t unwarned;
    uint32_t unwarnedFast;
    uint8_t warned;              // a warning has been given
    uint64_t warnedAt;           // the stamp of the last one
    // A jump seen but not yet taken.
    uint8_t jumpPending;
    uint32_t jumpFirst;          // the counter of the read that showed it
    uint32_t jumpLanding;        // the lowest counter seen since (a rewind goes on stepping back)
    GamePlace jumpFrom;
    // Jumps taken and not yet told.
    uint32_t jumpsUntold;
    uint8_t jumpsRewind;         // one of them was a rewind
    GamePlace toldFrom;          // where the first of them left
    GamePlace toldTo;            // where the last of them landed
    uint8_t jumpTold;            // a line about jumps has been given
    uint64_t jumpToldAt;         // the stamp of the last one
    // The last frame taken and the one taken before it, in turn
    // (TakenFrame, FrameTakenBefore): what each yielded frame follows.
    RamMirror taken[2];
    uint8_t takenAt;             // which of the two is the last
    // A read two frames or more ahead of the last one taken, waiting for the
    // next read to say whether the game was really there.
    uint8_t held;
    uint8_t heldUnfinished;      // it may have come before its frame was written far enough to classify
    uint64_t heldAt;             // the stamp of the last read of its frame while it was held
    uint64_t heldSince;          // the stamp of the first read of its frame while it was held
    RamMirror heldRam;
};

// [SECTION] The reads

// How a good window relates to the frames already taken.
enum class ReadKind : uint8_t {
    First,        // the first after a (re)connection: taken as it is
    Play,         // the same frame, or the next ones at the game's pace
    FastForward,  // ahead of the game's pace, the game running on
    LookBack,     // a look back from the furthest frame taken: ignored
    Held,         // two frames or more ahead, or a frame not yet written far enough: waits for the next read
    Unfinished,   // the next frame's vertical blank part-way: ignored
    Jump,         // a jump seen, or still going on: nothing taken until it settles
    Landed,       // a jump settled: the tracker takes its state from the RAM
};

// What the timeline needs of the tracker's state to judge a read
// (FactsOf, tracking/classifier.h).
struct TrackerFacts {
    bool trackingActive;   // frames no read saw count for the run
    bool levelRuns;        // a level runs: its last frame taken was active, its results not begun
};

// A frame to take, in the order yielded (TakeFrame, tracking/classifier.h).
struct TimelineFrame {
    const RamMirror* ram = nullptr;   // its values (the timeline's last frame taken): valid until the next step
    const RamMirror* last = nullptr;  // the frame taken before it; for a landing, the landing itself
    uint32_t unseen = 0;   // frames before it that no read saw, counted for the run
    uint8_t landed = 0;    // a jump settled on it: the tracker takes its state from it
    // Stopped before the water line, in a level whose timer the line steps:
    // its level frame counter moved and its timer step is still to come.
    uint8_t timerStepDue = 0;
};

// What one step of the timeline yields.
struct TimelineStep {
    ReadKind kind;         // how the read, or the read held before it, related to the frames taken
    uint8_t take;          // `frame` is to be taken
    uint8_t again;         // `frame` is a read held before this one: once it is taken, step this read again
    TimelineFrame frame;
};

// One good window's values, `read`, at the pass's stamp `now`; `facts`: the
// tracker's state after every frame taken so far. A read yields no frame, one,
// or two (a read held before it, then itself): when a step says `again`, take
// its frame, then step the same read again with the facts that follow. A jump
// is yielded once it settles, as a landing. Never classifies: the frames go to
// the tracker.
TimelineStep StepTimeline(FrameWatch& watch, const RamMirror& read, uint64_t now, const TrackerFacts& facts);

inline const RamMirror& TakenFrame(const FrameWatch& watch) { return watch.taken[watch.takenAt]; }
inline const RamMirror& FrameTakenBefore(const FrameWatch& watch) { return watch.taken[watch.takenAt ^ 1]; }

// The link to the game broke with a read held: the game was there, and the
// read is yielded to be taken. Yields nothing when no read is held.
TimelineStep ReleaseHeldRead(FrameWatch& watch, const TrackerFacts& facts);

// The pass's lines: unseen frames at once, then at most once every
// kUnseenWarningSeconds; jumps at once, then at most once every
// kJumpLineSeconds.
void SayTimeline(FrameWatch& watch, LogBuffer& log, uint64_t now);

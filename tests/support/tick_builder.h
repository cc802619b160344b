// Play sequences for the tracking tests. `game` is what the console's RAM holds
// right now; the setters and frame steppers change it as the game would, and
// Sample() is one tracker pass without the timeline: `game` taken as a frame,
// classified against the last one taken.
// Sampling twice without a frame in between is the repeated pass the tracker
// makes when it reads faster than the game runs.
#pragma once

#include <cstdint>

#include "tracking/game_snapshot.h"
#include "tracking/timeline.h"

class TickBuilder {
public:
    TickBuilder();

    GameSnapshot snapshot{};  // the tracker's record, as after thread start
    RamMirror game{};         // the game's RAM now
    FrameWatch watch{};       // what the passes keep of the reads, for Read()
    uint64_t now = 0;         // the passes' clock, in microseconds
    uint64_t framePeriod = 16689;   // microseconds the clock moves on per game frame

    const TrackerStats& stats() const { return snapshot.stats; }
    const LevelRecord& record(int i) const { return snapshot.stats.run.records[i]; }

    // What the RAM holds.
    TickBuilder& Mode(uint32_t gameMode);
    TickBuilder& Level(uint32_t zone, uint32_t act);
    TickBuilder& Timer(uint32_t minutes, uint32_t seconds, uint32_t sixtieths);
    TickBuilder& Lives(uint32_t lives);
    TickBuilder& Pause(bool paused);
    TickBuilder& Pressed(uint32_t p1, uint32_t p2 = 0);  // the controllers' newly-down buttons (0x80: Start)
    TickBuilder& Rings(uint32_t rings);
    TickBuilder& Collected(uint32_t a, uint32_t b);
    TickBuilder& ObjectId(int slot, uint32_t id);
    TickBuilder& P1HitTimer(uint32_t timer);
    TickBuilder& P2HitTimer(uint32_t timer);
    TickBuilder& P1Spindash(uint32_t flag, uint32_t count);
    TickBuilder& P2Spindash(uint32_t flag, uint32_t count);

    // One game frame: the global frame counter always advances.
    TickBuilder& ActiveFrame();  // level frame and timer advance too
    TickBuilder& StillFrame();   // level frame advances, the timer stands (results screen)
    TickBuilder& LagFrame();     // neither advances

    // One tracker pass over `game`, `times` times in a row.
    TickBuilder& Sample(int times = 1);

    // One tracker pass over `game` as the tracker thread makes it: through the
    // game's timeline (tracking/timeline.h), `times` times in a row.
    TickBuilder& Read(int times = 1);

    // A frame of each kind followed by one pass, n times.
    TickBuilder& Active(int n = 1);
    TickBuilder& Still(int n = 1);
    TickBuilder& Lag(int n = 1);

    // A new game up to its first active level frame (state 4): logo, the
    // pre-level passes, then the level with three lives.
    TickBuilder& StartGame(uint32_t zone = 0, uint32_t act = 0);

    uint32_t state() const { return static_cast<uint32_t>(snapshot.stats.trackerState); }
};

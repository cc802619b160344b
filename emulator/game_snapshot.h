// The record of everything the tracker knows about the game, copied whole from
// the tracker thread to the main thread on every pass. Plain data only: it is
// copied with one assignment, never by field.
//
// [SECTION] LevelRecord
// [SECTION] TrackerStats   (state, counters, run totals, level records)
// [SECTION] RamMirror      (decoded game variables and their previous values)
// [SECTION] GameSnapshot
#pragma once

#include <cstdint>
#include <type_traits>

inline constexpr int kLevelRecordCapacity = 21;   // records shown on the screen at most
inline constexpr int kSpeedTableSize = 9;         // spindash charge levels 0..8
inline constexpr int kObjectIdSlots = 256;        // room reserved for object ids
inline constexpr int kObjectIdsSampled = 150;     // object records actually sampled
inline constexpr int kButtonCount = 8;            // bits of a controller's button byte

// [SECTION] LevelRecord: one level of the run.
struct LevelRecord {
    uint32_t levelIndex;         // row of the level name table, taken at the close
    int32_t minutes;             // level time, minutes (may end negative after odd restarts)
    int32_t seconds;             // level time, seconds; 0..59 once closed
    float centiseconds;          // level time, hundredths; below 100 once closed
    uint32_t perfectSpindashes;  // open: running total at the opening; closed: this level's share
    uint32_t rings;              // ring count at the close
    uint32_t collected;          // open: totalCollected at the opening; closed: this level's share
    uint32_t p1Hits;             // like perfectSpindashes
    uint32_t deaths;             // like perfectSpindashes
    uint32_t pauses;             // like perfectSpindashes
    uint32_t lagFrames;          // like perfectSpindashes
    uint8_t closed;              // 1 once the record is complete
};

// [SECTION] TrackerStats: the classifier's state and the run's statistics.
struct TrackerStats {
    uint32_t trackerState;       // 0..14, see the state name table
    int32_t p1TapCount;          // taps seen in P1's current spindash
    uint32_t p1ReleaseSpeed;     // table speed of P1's last release
    float p1ChargeFraction;      // P1 charge count / 2048
    float p1SpeedFraction;       // (P1 release speed - 2048) / 1024
    uint32_t p2ReleaseSpeed;     // table speed of P2's last release
    float p2ChargeFraction;      // P2 charge count / 2048
    float p2SpeedFraction;       // (P2 release speed - 2048) / 1024
    float chargeFractionSum;     // sum of charge fractions over counted P1 releases
    float speedFractionSum;      // sum of speed fractions over counted P1 releases
    uint32_t sixTapAttempts;     // counted P1 releases
    uint32_t perfectSpindashes;  // P1 releases at top speed (3072)
    uint8_t levelClosed;         // the current level's record has been closed
    uint32_t pauses;             // pauses counted
    uint32_t specialPauseStamp;  // globalFrame when a special-stage pause was counted
    uint8_t pauseLatch;          // a counted pause is still held
    uint32_t deaths;             // deaths counted
    uint32_t p1Hits;             // times P1 was hit
    uint32_t p2Hits;             // times P2 was hit
    uint32_t totalRings;         // rings summed over closed levels
    uint32_t totalCollected;     // collected count summed at closes, deaths, special stages
    int32_t totalMinutes;        // timer minutes summed
    int32_t totalSeconds;        // timer seconds summed, not normalised (may be <0 or >59)
    int32_t totalTimerFrames;    // timer sixtieths summed
    uint32_t lagFrames;          // lag frames counted
    int32_t levelEndTicks;       // ticks since the last active tick with one level counter moving
    uint8_t levelEndSeen;        // the level end was recognised for the current level
    uint8_t specialStageSeen;    // the current special-stage entry has been accounted
    uint32_t levelIndex;         // 0..20, row of the level name table
    int32_t recordCount;         // closed records; the current record is records[recordCount]
    uint32_t runNumber;          // the play-through the statistics belong to; raised when a new game resets them
    LevelRecord records[kLevelRecordCapacity];
    uint32_t spindashSpeedTable[kSpeedTableSize];  // release speed by charge level, fixed
};

// [SECTION] RamMirror: game variables decoded from the RAM window. Every
// numeric field is widened to 32 bits; a field ending in Prev holds its
// partner's value from before the latest decode.
struct RamMirror {
    uint32_t levelFramePrev;
    uint32_t levelFrame;          // level frame counter (16-bit in RAM)
    uint32_t timerFramePrev;
    uint32_t timerFrame;          // game timer sixtieths, 0..59
    uint32_t globalFramePrev;
    uint32_t globalFrame;         // global frame counter (32-bit in RAM)
    uint32_t timerSeconds;        // game timer seconds
    uint32_t timerMinutes;        // game timer minutes
    uint32_t zone;                // zone number
    uint32_t act;                 // act number, from 0
    uint32_t rings;               // ring count
    uint32_t collectedA;          // collected figure, first addend
    uint32_t collectedB;          // collected figure, second addend
    uint32_t livesPrev;
    uint32_t lives;               // lives
    uint32_t continues;           // continues
    uint32_t gameMode;            // the game's main mode byte
    uint32_t p1PosX;              // pixels
    uint32_t p1PosXSub;           // 256ths of a pixel
    uint32_t p1PosY;              // pixels
    uint32_t p1PosYSub;           // 256ths of a pixel
    int32_t p1VelX;
    int32_t p1VelY;
    int32_t p1Inertia;
    uint32_t p1HitTimerPrev;
    uint32_t p1HitTimer;          // 120 on the frame P1 is hit
    uint32_t p1SpindashFlagPrev;
    uint32_t p1SpindashFlag;      // non-zero while P1 charges a spindash
    uint32_t p1SpindashCountPrev;
    uint32_t p1SpindashCount;     // P1 spindash charge count
    uint32_t p2PosX;
    uint32_t p2PosXSub;
    uint32_t p2PosY;
    uint32_t p2PosYSub;
    int32_t p2VelX;
    int32_t p2VelY;
    int32_t p2Inertia;            // one byte in RAM, sign-extended
    uint32_t p2HitTimerPrev;
    uint32_t p2HitTimer;
    uint32_t p2SpindashFlagPrev;
    uint32_t p2SpindashFlag;
    uint32_t p2SpindashCount;     // no Prev partner
    uint32_t objectCount;         // 150, set once at creation
    uint32_t objectIds[kObjectIdSlots];   // first objectCount entries filled
    uint32_t p1HoldFrames[kButtonCount];  // level frames each P1 button has been held, by bit
    uint32_t p2HoldFrames[kButtonCount];  // same for P2
    uint8_t pauseFlag;            // game paused
    uint8_t debugFlag;            // the game's debug mode is on
};

// [SECTION] GameSnapshot
struct GameSnapshot {
    TrackerStats stats;
    RamMirror ram;
};

static_assert(std::is_trivially_copyable_v<GameSnapshot>, "GameSnapshot is copied whole with one assignment");

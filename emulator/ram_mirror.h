// RamMirror: the game's variables as one read of the RAM window found them:
// one frame's values, nothing of the reads before. Plain data only: copied
// whole, never by field.
#pragma once

#include <cstdint>

inline constexpr int kObjectIdsSampled = 150;     // object records sampled
inline constexpr int kButtonCount = 8;            // bits of a controller's button byte

// Every numeric field is widened to 32 bits.
struct RamMirror {
    uint32_t levelFrame;          // level frame counter (16-bit in RAM)
    uint32_t timerFrame;          // game timer sixtieths, 0..59
    uint32_t globalFrame;         // global frame counter (32-bit in RAM)
    uint32_t timerSeconds;        // game timer seconds
    uint32_t timerMinutes;        // game timer minutes
    uint32_t zone;                // zone number
    uint32_t act;                 // act number, from 0
    uint32_t rings;               // ring count
    uint32_t collectedA;          // collected figure, first addend
    uint32_t collectedB;          // collected figure, second addend
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
    uint32_t p1HitTimer;          // 120 on the frame P1 is hit
    uint32_t p1SpindashFlag;      // non-zero while P1 charges a spindash
    uint32_t p1SpindashCount;     // P1 spindash charge count
    uint32_t p2PosX;
    uint32_t p2PosXSub;
    uint32_t p2PosY;
    uint32_t p2PosYSub;
    int32_t p2VelX;
    int32_t p2VelY;
    int32_t p2Inertia;            // one byte in RAM, sign-extended
    uint32_t p2HitTimer;
    uint32_t p2SpindashFlag;
    uint32_t p2SpindashCount;
    uint32_t objectCount;         // 150, set once at creation
    uint32_t objectIds[kObjectIdsSampled];  // first objectCount entries filled
    uint32_t p1Buttons;           // controller 1's buttons held (bit k: button k)
    uint32_t p2Buttons;           // the same for controller 2
    uint32_t p1Pressed;           // controller 1's buttons newly down when the game last read it (bit 7: Start)
    uint32_t p2Pressed;           // the same for controller 2
    uint8_t pauseFlag;            // game paused
    uint8_t debugFlag;            // the game's debug mode is on

    bool operator==(const RamMirror&) const = default;
};

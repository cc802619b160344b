// The game's state as a scenario drives it, one frame at a time: the work RAM
// composed privately in the core's byte order, and the clocks that each frame
// advances. The stand-in copies the composed RAM into its core module; the test
// cartridge's generator turns the frame-to-frame changes into 68000 writes.
#pragma once

#include <cstdint>

#include "emulator/core_layout.h"
#include "tools/standin/scenario.h"

struct GameState {
    uint8_t image[kWorkRamSize];   // work RAM in the core's byte order
    uint32_t globalFrame;
    uint16_t levelFrame;
    uint8_t timerMinutes;
    uint8_t timerSeconds;
    uint8_t timerFrame;
    uint8_t pause;        // the game's pause flag
    uint8_t startPress;   // the Start press that changed the pause, until a vertical blank reads the controller again
};

// A step's setting (on its first frame) or NAME+=DELTA (on each frame).
void GameApply(GameState& game, const Assignment& assignment);

// The pause as the game changes it, between a frame and the next one, of kind
// `next`: at the top of its main loop, once the frame before has run, on the
// Start press that frame's vertical blank read. True when the pause changes:
// the flag and the press are then in the composed RAM, ahead of the frame.
bool GamePauseBetweenFrames(GameState& game, StepKind next);

// The pause flag and the press from the composed RAM into `ram`, a copy of
// work RAM in the core's byte order.
void GameCopyPause(const GameState& game, uint8_t* ram);

// The clocks of one frame of a step of this kind (and the pause before it).
void GameAdvance(GameState& game, StepKind kind);

// The clocks into the composed RAM, as the frame shows them.
void GameWriteClocks(GameState& game);

// The game's own check at the end of RAM: there while Sonic 2 runs.
void GameWriteSignature(GameState& game, bool present);

// A value of the composed RAM by 68000 address (width 1, 2 or 4).
uint32_t GameRead(const GameState& game, uint32_t address, uint8_t width);

// The frame stream of the test cartridge: a scenario of the stand-in turned
// into the 68000 code that the cartridge runs, in the order and at the moments
// in which Sonic 2 writes a frame. The frames are the stand-in's own
// (GameState); the stream holds only the changes from one frame to the next,
// split into the parts README.md describes: the vertical-blank handler's, the
// horizontal interrupt's (levels with water) and the main loop's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulator/game_variables.h"
#include "tools/standin/scenario.h"

// What a part does, in order.
enum StreamOp : uint16_t {
    kOpByte,       // a byte, word or long into `address`
    kOpWord,
    kOpLong,
    kOpSay,        // the say line's number `value` (from 1) into kSayMarkerAddress
    kOpWaitLine,   // the main loop waits for display line `value` (the VDP's V counter)
    kOpDelay,      // about `value` scanlines of work that writes nothing (a counted loop)
};

// What the vertical blank of a record is.
enum RecordKind : uint8_t {
    kRecordFrame,   // a game frame begins: the handler runs the record's vblank part
    kRecordLag,     // the main loop is still busy: the handler only increments the global frame counter
    kRecordBlank,   // no frame on this blank (fps below 60, freeze): the handler writes nothing
};

// The cartridge's own RAM, which no scenario may write (cartridge.s spells the
// same addresses).
inline constexpr uint32_t kStackFirstAddress = kWorkRamFirstAddress;      // the stack: work RAM's first 256 bytes
inline constexpr uint32_t kStackEndAddress = kStackFirstAddress + 0x100;
inline constexpr uint32_t kDoneMarkerAddress = kWindowFirstAddress;       // word: vertical blanks handled, written last
inline constexpr uint32_t kSayMarkerAddress = kDoneMarkerAddress + 2;     // word: say lines passed
inline constexpr uint32_t kBegunMarkerAddress = kWorkRamFirstAddress + kWorkRamSize - 2;   // word: vertical blanks
                                                                                          // begun, written first

// The display line at which a level with water has its horizontal interrupt.
inline constexpr uint32_t kWaterLine = 80;

struct StreamWrite {
    uint16_t op;        // a StreamOp
    uint32_t address;   // 68000 address (kOpByte, kOpWord, kOpLong)
    uint32_t value;     // the value; kOpSay: the line's number; kOpWaitLine: the line; kOpDelay: scanlines
};

// One vertical blank.
struct StreamRecord {
    uint8_t kind = kRecordBlank;        // a RecordKind
    std::vector<StreamWrite> vblank;    // kRecordFrame: run by the vertical-blank handler
    std::vector<StreamWrite> hblank;    // kRecordFrame in a level with water: run at kWaterLine
    std::vector<StreamWrite> main;      // the main loop's writes after this vertical blank, until the next one
};

struct SayMoment {
    uint32_t number;        // from 1, the value the cartridge stores at kSayMarkerAddress
    uint32_t vblank;        // the vertical blank (from 1) after which the main loop stores it
    uint32_t globalFrame;   // the game's global frame counter at that moment
    std::string text;
};

struct FrameStream {
    std::vector<StreamRecord> records;   // records[v]: vertical blank v + 1
    std::vector<SayMoment> says;
};

struct StreamOptions {
    bool signature = true;   // false: another cartridge, the RAM signature never appears
    uint32_t passes = 1;     // the scenario played this many times over, as the stand-in's --loop
    uint32_t fps = 0;        // frames a second in place of the scenario's own, as the stand-in's --fps; 0: the scenario's
};

// Called with the work RAM (core byte order) that the stand-in shows when the
// cartridge's main loop waits for the vertical blank of the next frame: what
// the cartridge's RAM must hold after record `vblank` (from 1), before the
// next frame begins. Called for the last record before each frame and at the end.
using RecordImageFunction = std::function<void(uint32_t vblank, const uint8_t* image)>;

// Plays the scenario as the stand-in does. False with a message for what the
// cartridge can't play: more than 60 frames a second, or writes to its own RAM.
bool BuildFrameStream(const Scenario& scenario, const StreamOptions& options, FrameStream* stream,
                      std::string* error, const RecordImageFunction& onRecord = {});

// The records as the 68000 code the cartridge runs (README.md lists the
// instructions): per frame a vblank part, which points a6 at the main loop's
// part (and a4 at the horizontal interrupt's), and the main loop's part, which
// runs through the lag and blank records after it and points a5 at the next
// frame's vblank part. The stream ends in two parts that point at each other
// and write nothing.
std::vector<uint8_t> EncodeFrameStream(const FrameStream& stream);

// The frame stream of the test cartridge: a scenario of the stand-in turned
// into the 68000 writes that the cartridge's vertical-blank handler makes, one
// record of code per vertical blank. The frames are the stand-in's own (GameState);
// the stream holds only the changes from one frame to the next, in the order
// described in README.md.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/standin/scenario.h"

// What a record does, in order.
enum StreamOp : uint16_t {
    kOpByte,       // a byte, word or long into `address`
    kOpWord,
    kOpLong,
    kOpCounters,   // the words of 0xFFFE04..0xFFFE0F, stored by one instruction
    kOpSay,        // the say line's number `value` (from 1) into kSayMarkerAddress
};

// The cartridge's own RAM, which no scenario may write.
inline constexpr uint32_t kStackFirstAddress = 0xFF0000;     // the stack, 0xFF0000..0xFF00FF
inline constexpr uint32_t kStackEndAddress = 0xFF0100;
inline constexpr uint32_t kDoneMarkerAddress = 0xFFA000;     // word: vertical blanks handled, written last
inline constexpr uint32_t kSayMarkerAddress = 0xFFA002;      // word: say lines passed
inline constexpr uint32_t kBegunMarkerAddress = 0xFFFFFE;    // word: vertical blanks begun, written first
inline constexpr uint32_t kCountersAddress = 0xFFFE04;       // the block kOpCounters stores
inline constexpr uint32_t kCountersSize = 12;

struct StreamWrite {
    uint16_t op;                     // a StreamOp
    uint32_t address;                // 68000 address (kOpByte, kOpWord, kOpLong)
    uint32_t value;                  // kOpByte, kOpWord, kOpLong; kOpSay: the line's number
    uint16_t counters[kCountersSize / 2];   // kOpCounters
};

struct SayMoment {
    uint32_t number;        // from 1, the value the cartridge stores at kSayMarkerAddress
    uint32_t vblank;        // the vertical blank (from 1) whose handler stores it
    uint32_t globalFrame;   // the game's global frame counter at that moment
    std::string text;
};

struct FrameStream {
    std::vector<std::vector<StreamWrite>> records;   // records[v]: the writes of vertical blank v + 1
    std::vector<SayMoment> says;
};

struct StreamOptions {
    bool signature = true;   // false: another cartridge, the RAM signature never appears
    uint32_t passes = 1;     // the scenario played this many times over, as the stand-in's --loop
};

// Called at the end of each record that has writes with the work RAM (core
// byte order) that the stand-in shows at that moment: what the cartridge's RAM
// must hold once that vertical blank's handler is done.
using RecordImageFunction = std::function<void(uint32_t vblank, const uint8_t* image)>;

// Plays the scenario as the stand-in does. False with a message for what the
// cartridge can't play: more than 60 frames a second, or writes to its own RAM.
bool BuildFrameStream(const Scenario& scenario, const StreamOptions& options, FrameStream* stream,
                      std::string* error, const RecordImageFunction& onRecord = {});

// The records as the 68000 code the cartridge calls, one after another: each
// stores its writes with immediates, points a6 at the next one and returns.
// The last returns without moving a6, so every later vertical blank finds it
// again and writes nothing. README.md lists the instructions.
std::vector<uint8_t> EncodeFrameStream(const FrameStream& stream);

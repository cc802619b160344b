// The test cartridge's frame stream: played as the cartridge's handlers and
// main loop run it, it composes the stand-in's RAM before every frame, and each
// frame's writes come in the game's order and parts.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/core_layout.h"
#include "tools/standin/scenario.h"
#include "tools/testrom/frame_stream.h"

namespace {

Scenario Parse(const std::string& text) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, &scenario, &error)) << error;
    return scenario;
}

std::string ReadScenario(const std::string& name) {
    std::ifstream file(std::string(RINGWATCH_SCENARIO_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The cartridge running the stream: its vertical-blank handler, horizontal
// interrupt and main loop, in the order the console runs them. The stores go
// into RAM in the core's byte order (the say marker aside); `record` gets the
// vertical blank's number (from 1) when the main loop waits for the next one.
template <typename F>
void Play(const std::vector<uint8_t>& code, uint8_t* ram, F record) {
    auto word = [&](size_t at) { return static_cast<uint32_t>(code.at(at) << 8 | code.at(at + 1)); };
    auto put = [&](uint32_t address, uint32_t value) {
        ASSERT_GE(address, kWorkRamFirstAddress);
        const uint32_t at = address - kWorkRamFirstAddress;
        if (address != kSayMarkerAddress) { ram[at] = static_cast<uint8_t>(value); ram[at + 1] = static_cast<uint8_t>(value >> 8); }
    };
    // An absolute short address is sign-extended onto the 24-bit bus.
    constexpr uint32_t kBus = (1u << 24) - 1;
    auto Short = [](uint32_t w) { return static_cast<uint32_t>(static_cast<int16_t>(w)) & kBus; };
    size_t a4 = 0, a5 = 0, a6 = 0;
    enum { kFrame, kLag, kBlank } waiting = kFrame;   // the main loop's d6
    // Runs from pc to an rts, or in the main loop to a wait for a vertical blank.
    auto run = [&](size_t pc) {
        for (;;) {
            const uint32_t op = word(pc);
            if (op == 0x4E75) return;
            if (op == 0x4E91 || op == 0x4E92) { waiting = op == 0x4E91 ? kBlank : kLag; a6 = pc + 2; return; }
            if ((op & 0xF1FF) == 0x41FA) {   // lea d16(pc),An
                const size_t target = pc + 2 + static_cast<int16_t>(word(pc + 2));
                (op == 0x49FA ? a4 : op == 0x4BFA ? a5 : a6) = target;
                if (op == 0x4BFA) waiting = kFrame;
                pc += 4;
                continue;
            }
            if (op == 0x303C) { pc += word(pc + 4) == 0x51C8 ? 8 : 6; continue; }   // a delay or a wait for a line
            const bool isLong = (op & 0x0200) != 0;   // (xxx).l, else (xxx).w
            const bool isLongValue = (op & ~0x0200u) == 0x21FC;
            const uint32_t immediate = isLongValue ? word(pc + 2) << 16 | word(pc + 4) : word(pc + 2);
            const size_t at = pc + (isLongValue ? 6 : 4);
            const uint32_t address = isLong ? (word(at) << 16 | word(at + 2)) & kBus : Short(word(at));
            pc = at + (isLong ? 4 : 2);
            if ((op & ~0x0200u) == 0x11FC) {
                ram[(address - kWorkRamFirstAddress) ^ 1] = static_cast<uint8_t>(immediate);
            } else if ((op & ~0x0200u) == 0x31FC) {
                put(address, immediate);
            } else if ((op & ~0x0200u) == 0x21FC) {
                put(address, immediate >> 16);
                put(address + 2, immediate);
            } else {
                FAIL() << "unexpected instruction " << std::hex << op;
            }
        }
    };
    const size_t end = code.size() - 12;   // the two parts that point at each other
    for (uint32_t vblank = 1;; ++vblank) {
        if (waiting == kFrame && a5 == end) return;
        if (waiting == kFrame) {
            run(a5);
        } else if (waiting == kLag) {   // the handler: the global frame counter only
            const uint32_t g = GameAddress(kVarGlobalFrame) - kWorkRamFirstAddress;
            uint32_t global = ram[g] | ram[g + 1] << 8;
            global = (global << 16 | (ram[g + 2] | ram[g + 3] << 8)) + 1;
            put(GameAddress(kVarGlobalFrame), global >> 16);
            put(GameAddress(kVarGlobalFrame) + 2, global);
        }
        if (a4 != 0) run(a4);
        a4 = 0;
        run(a6);
        record(vblank);
    }
}

TEST(TestCartridgeStream, PlaysTheStandInsFramesRecordByRecord) {
    const std::string inline_scenarios[] = {
        "hold 3 gameMode=4 rings=7 long@0xFF4000=0x12345678\nfps 20\nrun 4 p1PosX+=3 byte@0xFFC123=9\nset rings=1\nmode menu\nsay a\nfreeze 2\n"
        "mode game\nfps 45\nlag 5 word@0xFF7FFE=0x1234 word@0xFF8000=0x4321\npause 2\nexit\nhold 9",
        "fps 60\nrun 3 zone=15 p1PosX+=2\nlag 2 rings=4\nrun 2 object5=3\nlag 1\npause 2\nrun 1",
    };
    std::vector<std::string> texts(std::begin(inline_scenarios), std::end(inline_scenarios));
    for (const char* name : {"playthrough.txt", "switches.txt", "signature_blink.txt"}) texts.push_back(ReadScenario(name));
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 60));
        std::map<uint32_t, std::vector<uint8_t>> expected;
        FrameStream stream;
        std::string error;
        ASSERT_TRUE(BuildFrameStream(Parse(text), {}, &stream, &error,
                                     [&](uint32_t vblank, const uint8_t* image) {
                                         expected[vblank].assign(image, image + kWorkRamSize);
                                     }))
            << error;
        ASSERT_FALSE(expected.empty());
        std::vector<uint8_t> ram(kWorkRamSize, 0);
        uint32_t checked = 0;
        Play(EncodeFrameStream(stream), ram.data(), [&](uint32_t number) {
            auto found = expected.find(number);
            if (found == expected.end()) return;
            ++checked;
            EXPECT_TRUE(ram == found->second) << "record " << number;
        });
        EXPECT_EQ(checked, expected.size());
    }
}

// One record's parts (vertical blank | horizontal interrupt | main loop), written out.
std::string Ops(const StreamRecord& record) {
    std::string text = record.kind == kRecordFrame ? "frame" : record.kind == kRecordLag ? "lag" : "blank";
    for (const std::vector<StreamWrite>* part : {&record.vblank, &record.hblank, &record.main}) {
        text += " |";
        char item[32];
        for (const StreamWrite& write : *part) {
            const char* name = write.op == kOpByte ? "byte" : write.op == kOpWord ? "word" : "long";
            if (write.op == kOpSay) std::snprintf(item, sizeof item, "say %u", write.value);
            else if (write.op == kOpWaitLine) std::snprintf(item, sizeof item, "wait %u", write.value);
            else if (write.op == kOpDelay) std::snprintf(item, sizeof item, "delay");
            else std::snprintf(item, sizeof item, "%s %X", name, write.address);
            text += (text.back() == '|' ? " " : ", ") + std::string(item);
        }
    }
    return text;
}

TEST(TestCartridgeStream, OrdersEachFramesWrites) {
    struct Case {
        const char* scenario;
        size_t record;   // from 1
        const char* ops;
    } cases[] = {
        // A running frame: the handler's controllers, timer and global frame
        // counter; the main loop's level frame counter, players, rings and lives.
        {"run 1\nrun 1 p1Buttons=R p1PosX=5 rings=3 lives=2 object5=9", 2,
         "frame | byte FFF604, delay, byte FFFE25, delay, long FFFE0C | | word FFFE04, delay, word FFB008, wait 60, "
         "byte FFFE12, word FFFE20, wait 140, byte FFB1C0"},
        // In a level with water the timer comes from the horizontal interrupt.
        {"run 1 zone=15\nrun 1", 2, "frame | delay, delay, long FFFE0C | byte FFFE25 | word FFFE04, delay, wait 60, wait 140"},
        // The level ends: its mode first, so the record closes with the level's values.
        {"run 1 gameMode=12 rings=5\nhold 1 gameMode=140 rings=0 timer=0:00:00", 2,
         "frame | delay, delay, long FFFE0C | | byte FFF600, word FFFE04, delay, wait 60, word FFFE20, wait 140, "
         "byte FFFE25"},
        // A checkpoint restart: the timer is in place before the level's mode.
        {"hold 1 gameMode=140 timer=0:25:20\nrun 1 gameMode=12 timer=0:10:00 rings=3", 2,
         "frame | delay, delay, long FFFE0C | | word FFFE04, delay, wait 60, word FFFE20, wait 140, byte FFFE25, "
         "byte FFFE24, byte FFF600"},
        // A pause: the Start press and the flag before the frame's vertical blank, at the end of the frame
        // before; the paused frame's vertical blank reads the controller again.
        {"run 1\npause 1 p1Buttons=S", 1,
         "frame | delay, byte FFFE25, delay, long FFFE0C | | word FFFE04, delay, wait 60, wait 140, long FFFFDC, "
         "long FFFFE0, long FFFFE4, byte FFF605, byte FFF63B"},
        {"run 1\npause 1 p1Buttons=S", 2, "frame | byte FFF604, byte FFF605, delay, delay, long FFFE0C | | delay, wait 60, wait 140"},
        // A lag frame: the frame before overruns; its object table comes after the lag's vertical blank.
        {"run 1\nrun 1 object5=1\nlag 1\nrun 1", 2,
         "frame | delay, byte FFFE25, delay, long FFFE0C | | word FFFE04, delay, wait 60"},
        {"run 1\nrun 1 object5=1\nlag 1\nrun 1", 3, "lag | | | wait 140, byte FFB1C0"},
        // A switch to the menu and a say line come right after the frame, in its main loop's part.
        {"hold 1\nmode menu\nsay gone\nhold 1", 1,
         "frame | delay, delay, long FFFE0C | | word FFFE04, delay, wait 60, wait 140, long FFFFDC, long FFFFE0, "
         "long FFFFE4, long FFFFDC, long FFFFE0, long FFFFE4, say 1"},
        // 30 frames a second: a frame every other vertical blank; a freeze writes nothing.
        {"fps 30\nhold 1\nhold 1\nfreeze 1\nhold 1", 2, "blank | | |"},
        {"fps 30\nhold 1\nhold 1\nfreeze 1\nhold 1", 7, "frame | delay, delay, long FFFE0C | | word FFFE04, delay, wait 60, wait 140"},
        // 45 frames a second: frame periods of 4/3 vertical blanks, each on the nearest one.
        {"fps 45\nhold 4", 3, "blank | | |"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        FrameStream stream;
        std::string error;
        ASSERT_TRUE(BuildFrameStream(Parse(c.scenario), {}, &stream, &error)) << error;
        ASSERT_GE(stream.records.size(), c.record);
        EXPECT_EQ(Ops(stream.records[c.record - 1]), c.ops);
    }
}

TEST(TestCartridgeStream, RefusesWhatTheCartridgeCantPlay) {
    for (const char* scenario : {"fps 61\nhold 1", "hold 1 byte@0xFFA001=1", "hold 1 word@0xFF00FE=1",
                                 "hold 1 word@0xFFFFFE=1"}) {
        FrameStream stream;
        std::string error;
        EXPECT_FALSE(BuildFrameStream(Parse(scenario), {}, &stream, &error)) << scenario;
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace

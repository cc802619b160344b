// The test cartridge's frame stream: decoded as the cartridge plays it, it
// composes the stand-in's RAM after every record, and each frame's writes come
// in the order that keeps a read in the middle from looking like another event.
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

// The 68000 running the records: the stores of each into RAM in the core's
// byte order (the say marker aside), then `record` with its number (from 1).
template <typename F>
void Play(const std::vector<uint8_t>& code, uint8_t* ram, F record) {
    auto word = [&](size_t at) { return static_cast<uint32_t>(code.at(at) << 8 | code.at(at + 1)); };
    auto put = [&](uint32_t address, uint32_t value) {
        ASSERT_GE(address, 0xFF0000u);
        if (address != kSayMarkerAddress) { ram[address - 0xFF0000] = static_cast<uint8_t>(value); ram[address - 0xFF0000 + 1] = static_cast<uint8_t>(value >> 8); }
    };
    // An absolute short address is sign-extended onto the 24-bit bus.
    auto Short = [](uint32_t w) { return static_cast<uint32_t>(static_cast<int16_t>(w)) & 0xFFFFFF; };
    uint32_t d[3] = {};
    for (size_t pc = 0, number = 1;; ++number) {
        for (;;) {
            const uint32_t op = word(pc);
            if (op == 0x4E75) return;   // the last record: a6 stays
            if (op == 0x4DFA) {         // lea next(pc),a6 and rts
                ASSERT_EQ(word(pc + 4), 0x4E75u);
                pc = pc + 2 + word(pc + 2);
                break;
            }
            const bool isLong = (op & 0x0200) != 0;   // (xxx).l, else (xxx).w
            const bool isLongValue = (op & ~0x0200u) == 0x21FC;
            const uint32_t immediate = isLongValue ? word(pc + 2) << 16 | word(pc + 4) : word(pc + 2);
            const size_t at = pc + (isLongValue ? 6 : 4);
            const size_t after = at + (isLong ? 4 : 2);
            const uint32_t address = op == 0x4CFA || op == 0x48F8 ? 0
                                     : isLong ? (word(at) << 16 | word(at + 2)) & 0xFFFFFF : Short(word(at));
            if (op == 0x4CFA) {
                for (int i = 0; i < 3; ++i) d[i] = word(pc + 4 + word(pc + 4) + 4 * i) << 16 | word(pc + 6 + word(pc + 4) + 4 * i);
                pc += 6;
            } else if (op == 0x48F8) {
                for (int i = 0; i < 3; ++i) { put(Short(word(pc + 4)) + 4 * i, d[i] >> 16); put(Short(word(pc + 4)) + 4 * i + 2, d[i]); }
                pc += 6;
            } else if ((op & ~0x0200u) == 0x11FC) {
                ASSERT_GE(address, 0xFF0000u);
                ram[(address - 0xFF0000) ^ 1] = static_cast<uint8_t>(immediate);
                pc = after;
            } else if ((op & ~0x0200u) == 0x31FC) {
                put(address, immediate);
                pc = after;
            } else if ((op & ~0x0200u) == 0x21FC) {
                put(address, immediate >> 16);
                put(address + 2, immediate);
                pc = after;
            } else {
                FAIL() << "unexpected instruction " << std::hex << op;
            }
        }
        record(static_cast<uint32_t>(number));
    }
}

TEST(TestCartridgeStream, PlaysTheStandInsFramesRecordByRecord) {
    const std::string inline_scenarios[] = {
        "hold 3 gameMode=4 rings=7 long@0xFF4000=0x12345678\nfps 20\nrun 4 p1PosX+=3 byte@0xFFC123=9\nset rings=1\nmode menu\nsay a\nfreeze 2\n"
        "mode game\nfps 45\nlag 5 word@0xFF7FFE=0x1234 word@0xFF8000=0x4321\npause 2\nexit\nhold 9",
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

// One record's operations, written out: "byte FFF600" etc.
std::string Ops(const std::vector<StreamWrite>& record) {
    std::string text;
    char item[32];
    for (const StreamWrite& write : record) {
        const char* name = write.op == kOpByte ? "byte" : write.op == kOpWord ? "word" : write.op == kOpLong ? "long" : "";
        if (write.op == kOpCounters) std::snprintf(item, sizeof item, "counters");
        else if (write.op == kOpSay) std::snprintf(item, sizeof item, "say %u", write.value);
        else std::snprintf(item, sizeof item, "%s %X", name, write.address);
        text += (text.empty() ? "" : ", ") + std::string(item);
    }
    return text;
}

TEST(TestCartridgeStream, OrdersEachFramesWrites) {
    struct Case {
        const char* scenario;
        size_t record;   // from 1
        const char* ops;
    } cases[] = {
        // The level ends: the title card's mode first, so the record closes with the level's values.
        {"run 1 gameMode=12 rings=5\nhold 1 gameMode=140 rings=0 timer=0:00:00", 2,
         "byte FFF600, word FFFE20, byte FFFE25, counters"},
        // A checkpoint restart: the timer is in place before the level's mode.
        {"hold 1 gameMode=140 timer=0:25:20\nrun 1 gameMode=12 timer=0:10:00 rings=3", 2,
         "word FFFE20, byte FFFE24, byte FFFE25, byte FFF600, counters"},
        // A pause: the flag before the frame counters; the clocks stand.
        {"run 1\npause 1 p1Buttons=S", 2, "byte FFF604, byte FFF63B, counters"},
        // A lag frame: the frame counters alone.
        {"run 1\nlag 1", 2, "counters"},
        // The first frame brings the signature; a switch to the menu and a say
        // line come right after the frame, in its record.
        {"hold 1\nmode menu\nsay gone\nhold 1", 1,
         "long FFFFDC, long FFFFE0, long FFFFE4, counters, long FFFFDC, long FFFFE0, long FFFFE4, say 1"},
        // 30 frames a second: a frame every other vertical blank; a freeze writes nothing.
        {"fps 30\nhold 1\nhold 1\nfreeze 1\nhold 1", 2, ""},
        {"fps 30\nhold 1\nhold 1\nfreeze 1\nhold 1", 3, "counters"},
        {"fps 30\nhold 1\nhold 1\nfreeze 1\nhold 1", 7, "counters"},
        // 45 frames a second: frame periods of 4/3 vertical blanks, each on the nearest one.
        {"fps 45\nhold 4", 3, ""},
        {"fps 45\nhold 4", 4, "counters"},
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

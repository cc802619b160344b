#include "tools/testrom/frame_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "emulator/core_layout.h"
#include "emulator/game_values.h"
#include "tools/ram/ram_writer.h"
#include "tools/standin/game_state.h"

namespace {

constexpr uint8_t kLevelMode = 12;   // gameMode while a level runs

// Where the game keeps what the parts write (68000 addresses).
constexpr uint32_t kControllersFirst = GameAddress(kVarP1Buttons);      // Ctrl_1 and Ctrl_2: held and pressed bytes
constexpr uint32_t kControllersEnd = GameAddress(kVarP2Buttons) + 2;
constexpr uint32_t kPlayersFirst = kPlayerRecordsAddress;               // the main character's and the sidekick's
constexpr uint32_t kPlayersEnd = kPlayerRecordsAddress + 2 * kObjectRecordStride;   // object records

// The main loop's lines: the players run a few lines after the vertical
// blank; the rings and lives follow later in the objects' run; the object
// table (the objects manager) and everything else near the end of the loop.
constexpr uint32_t kPlayersDelayLines = 8;
constexpr uint32_t kHudLine = 60;
constexpr uint32_t kObjectTableLine = 140;

// The handler's lines: the palette, scroll and sprite transfers between the
// controllers and the timer; the pattern loads and the sound driver between
// the timer and the global frame counter.
constexpr uint32_t kTransferLines = 6;
constexpr uint32_t kAfterTimerLines = 2;

struct Variable {
    uint32_t address;
    uint8_t width;
    bool operator<(const Variable& other) const {
        return address != other.address ? address < other.address : width < other.width;
    }
    bool operator==(const Variable& other) const { return address == other.address && width == other.width; }
};

bool Overlaps(uint32_t address, uint32_t width, uint32_t first, uint32_t end) {
    return address < end && first < address + width;
}

bool InCartridgeRam(uint32_t address, uint32_t width) {
    return Overlaps(address, width, kStackFirstAddress, kStackEndAddress) ||
           Overlaps(address, width, kDoneMarkerAddress, kSayMarkerAddress + 2) ||
           Overlaps(address, width, kBegunMarkerAddress, kBegunMarkerAddress + 2);
}

// The groups of a frame's writes, in the order the game makes them.
enum Group { kGroupControllers, kGroupPlayers, kGroupHud, kGroupRest, kGroupOwn };

// Bytes with a place of their own: the frame counters, the timer, the game
// mode and the pause flag.
bool Within(uint32_t address, GameVariable v) {
    return address >= GameAddress(v) && address < GameAddress(v) + GameWidth(v);
}

// In the word that holds the variable.
bool InWordOf(uint32_t address, GameVariable v) { return (address & ~1u) == (GameAddress(v) & ~1u); }

bool HasOwnPlace(uint32_t address) {
    return Within(address, kVarLevelFrame) || Within(address, kVarGlobalFrame) ||
           (address >= GameAddress(kVarTimerMinutes) && address <= GameAddress(kVarTimerFrame)) ||
           Within(address, kVarGameMode) || Within(address, kVarPause);
}

Group GroupOf(uint32_t address) {
    if (HasOwnPlace(address)) return kGroupOwn;
    if (address >= kControllersFirst && address < kControllersEnd) return kGroupControllers;
    if (address >= kPlayersFirst && address < kPlayersEnd) return kGroupPlayers;
    // Ring_count, Life_count, Continue_count and the two collected counters.
    if (Within(address, kVarRings) || Within(address, kVarLives) || Within(address, kVarContinues) ||
        InWordOf(address, kVarCollectedA) || InWordOf(address, kVarCollectedB)) {
        return kGroupHud;
    }
    return kGroupRest;
}

Group GroupOf(const Variable& variable) {
    Group group = GroupOf(variable.address);
    for (uint32_t i = 1; i < variable.width; ++i) {
        if (GroupOf(variable.address + i) != group) return kGroupOwn;   // straddles: written with the rest
    }
    return group;
}

class Builder {
public:
    Builder(const Scenario& scenario, const StreamOptions& options, FrameStream* stream,
            const RecordImageFunction& onRecord)
        : scenario_(scenario), options_(options), stream_(stream), onRecord_(onRecord),
          game_(std::make_unique<GameState>()), shown_(kWorkRamSize, 0), standin_(kWorkRamSize, 0) {
        for (const Assignment& assignment : scenario.assignments) {
            if (assignment.target == Target::Memory) data_.push_back({assignment.address, assignment.width});
        }
        for (uint32_t i = 0; i < kSignatureSize; i += 4) data_.push_back({GameAddress(kVarSignature) + i, 4});
        std::sort(data_.begin(), data_.end());
        data_.erase(std::unique(data_.begin(), data_.end()), data_.end());
        *game_ = GameState{};
        if (options_.fps != 0) fps_ = options_.fps;
        // The stand-in starts in the game: the signature is in the RAM it composes.
        GameWriteSignature(*game_, options_.signature);
    }

    bool Build(std::string* error) {
        for (const Assignment& assignment : scenario_.assignments) {
            if (assignment.target == Target::Memory && InCartridgeRam(assignment.address, assignment.width)) {
                char text[120];
                std::snprintf(text, sizeof text,
                              "the scenario writes the cartridge's own RAM (0x%06X..0x%06X, 0x%06X..0x%06X, 0x%06X..0x%06X)",
                              kStackFirstAddress, kStackEndAddress - 1, kDoneMarkerAddress, kSayMarkerAddress + 1,
                              kBegunMarkerAddress, kBegunMarkerAddress + 1);
                *error = text;
                return false;
            }
        }
        for (uint32_t pass = 0; pass < options_.passes; ++pass) {
            for (const Step& step : scenario_.steps) {
                if (!PlayStep(step, error)) return false;
                if (step.kind == StepKind::Exit) {
                    Finish();
                    return true;
                }
            }
        }
        Finish();
        return true;
    }

private:
    bool PlayStep(const Step& step, std::string* error) {
        switch (step.kind) {
        case StepKind::Fps:
            if (options_.fps == 0 && step.argument > 60) {
                *error = std::to_string(step.line) + ": fps " + std::to_string(step.argument) +
                         ": the console shows at most 60 frames a second";
                return false;
            }
            fps_ = options_.fps != 0 ? options_.fps : step.argument;
            return true;
        case StepKind::Mode:
            GameWriteSignature(*game_, options_.signature && step.argument == static_cast<uint32_t>(CartridgeMode::Game));
            // Before the first frame the change waits in the composed RAM, as in the stand-in.
            if (started_) {
                for (uint32_t i = 0; i < kSignatureSize; i += 4) EmitIfChanged(Tail(), GameAddress(kVarSignature) + i, 4);
                std::memcpy(standin_.data() + kSignatureRamOffset, game_->image + kSignatureRamOffset, kSignatureSize);
            }
            return true;
        case StepKind::Say: {
            const uint32_t number = static_cast<uint32_t>(stream_->says.size()) + 1;
            Tail().push_back({kOpSay, 0, number});
            stream_->says.push_back({number, static_cast<uint32_t>(stream_->records.size()), game_->globalFrame,
                                     scenario_.texts[step.argument]});
            return true;
        }
        case StepKind::Exit: return true;
        case StepKind::Set:
            for (uint32_t i = 0; i < step.assignmentCount; ++i)
                GameApply(*game_, scenario_.assignments[step.firstAssignment + i]);
            return true;
        case StepKind::Freeze:
            for (uint32_t frame = 0; frame < step.frames; ++frame) NextSlot(kRecordBlank);
            return true;
        default: break;
        }
        for (uint32_t frame = 0; frame < step.frames; ++frame) {
            // The game's pause routine runs at the top of the main loop, before
            // it waits for the vertical blank: the Start press the last
            // vertical blank read, and the flag, come before the frame.
            if (GamePauseBetweenFrames(*game_, step.kind)) {
                EmitIfChanged(Tail(), kVarP1Pressed);
                EmitIfChanged(Tail(), kVarPause);
                GameCopyPause(*game_, standin_.data());
            }
            GameAdvance(*game_, step.kind);
            for (uint32_t i = 0; i < step.assignmentCount; ++i) {
                const Assignment& assignment = scenario_.assignments[step.firstAssignment + i];
                if (frame == 0 || assignment.everyFrame) GameApply(*game_, assignment);
            }
            GameWriteClocks(*game_);
            // A lag frame as the game makes one: the main loop of the frame
            // before overruns, so this vertical blank only counts the frame.
            const bool lag = step.kind == StepKind::Lag && started_ &&
                             Next(kVarGlobalFrame) == Shown(kVarGlobalFrame) + 1;
            NextSlot(lag ? kRecordLag : kRecordFrame);
            if (lag) {
                EmitLag();
            } else {
                EmitFrame();
            }
            if (!Verify(0, kWorkRamSize)) {
                *error = std::to_string(step.line) + ": the frame's writes don't compose its RAM";
                return false;
            }
            std::memcpy(standin_.data(), game_->image, kWorkRamSize);
            started_ = true;
        }
        return true;
    }

    // Where writes between frames go: the main loop's part of the latest
    // record; before the first frame, the first vertical blank's part.
    std::vector<StreamWrite>& Tail() {
        if (stream_->records.empty()) stream_->records.emplace_back();
        if (!started_ && stream_->records.size() == 1) return stream_->records[0].vblank;
        return stream_->records.back().main;
    }

    // The stand-in's pacer: the first frame at once, each later one a frame
    // period (at the fps of that moment) after the one before. Frame periods
    // land on the console's vertical blanks, 60 a second.
    void NextSlot(uint8_t kind) {
        if (haveSlot_) {
            slot_ += 60.0 / fps_;
        }
        haveSlot_ = true;
        const size_t vblank = static_cast<size_t>(std::llround(slot_));
        if (vblank < stream_->records.size()) {   // the first frame, after a say line
            if (kind != kRecordBlank) stream_->records[vblank].kind = kind;
            return;
        }
        if (kind == kRecordFrame && started_) Report();
        while (stream_->records.size() < vblank + 1) stream_->records.emplace_back();
        stream_->records.back().kind = kind;
    }

    void Report() {
        if (onRecord_) onRecord_(static_cast<uint32_t>(stream_->records.size()), standin_.data());
    }

    void Finish() {
        if (started_) Report();
    }

    uint32_t Next(uint32_t address, uint8_t width) const { return GameRead(*game_, address, width); }

    RamWriter ShownRam() const { return RamWriter{const_cast<uint8_t*>(shown_.data()), kWorkRamSize, kWorkRamFirstAddress}; }

    uint32_t Shown(uint32_t address, uint8_t width) const { return RamRead(ShownRam(), address, width); }

    bool Changed(uint32_t address, uint8_t width) const {
        const uint32_t offset = CoreOffset(address, width, kWorkRamFirstAddress);
        return std::memcmp(shown_.data() + offset, game_->image + offset, width) != 0;
    }

    // The same by the game's variable.
    uint32_t Next(GameVariable v) const { return Next(GameAddress(v), GameWidth(v)); }
    uint32_t Shown(GameVariable v) const { return Shown(GameAddress(v), GameWidth(v)); }
    bool Changed(GameVariable v) const { return Changed(GameAddress(v), GameWidth(v)); }
    void Emit(std::vector<StreamWrite>& part, GameVariable v) { Emit(part, GameAddress(v), GameWidth(v)); }
    void EmitIfChanged(std::vector<StreamWrite>& part, GameVariable v) { EmitIfChanged(part, GameAddress(v), GameWidth(v)); }

    void Emit(std::vector<StreamWrite>& part, uint32_t address, uint8_t width) {
        const uint32_t value = Next(address, width);
        part.push_back({static_cast<uint16_t>(width == 1 ? kOpByte : width == 2 ? kOpWord : kOpLong), address, value});
        Store(address, width, value);
    }

    void Store(uint32_t address, uint8_t width, uint32_t value) {
        RamWrite(ShownRam(), address, width, value);
    }

    void EmitIfChanged(std::vector<StreamWrite>& part, uint32_t address, uint8_t width) {
        if (Changed(address, width)) Emit(part, address, width);
    }

    bool Verify(uint32_t offset, uint32_t size) const {
        return std::memcmp(shown_.data() + offset, game_->image + offset, size) == 0;
    }

    // The scenario's variables of a group by address, then any other changed
    // byte of it.
    void EmitGroup(std::vector<StreamWrite>& part, Group group) {
        for (const Variable& variable : data_) {
            if (GroupOf(variable) == group) EmitIfChanged(part, variable.address, variable.width);
        }
        constexpr uint32_t kBlock = 64;
        for (uint32_t block = 0; block < kWorkRamSize; block += kBlock) {
            if (Verify(block, kBlock)) continue;
            for (uint32_t address = kWorkRamFirstAddress + block; address < kWorkRamFirstAddress + block + kBlock; ++address) {
                if (GroupOf(address) == group) EmitIfChanged(part, address, 1);
            }
        }
    }

    // Whether the frame's timer is the shown one stepped by a sixtieth, as
    // the game's HUD update steps it.
    bool TimerStepped() const {
        uint32_t frame = Shown(kVarTimerFrame) + 1, seconds = Shown(kVarTimerSeconds),
                 minutes = Shown(kVarTimerMinutes);
        if (frame >= 60) {
            frame = 0;
            if (++seconds >= 60) {
                seconds = 0;
                ++minutes;
            }
        }
        return Next(kVarTimerFrame) == frame && Next(kVarTimerSeconds) == seconds &&
               Next(kVarTimerMinutes) == (minutes & 0xFFu);
    }

    void EmitTimer(std::vector<StreamWrite>& part) {
        EmitIfChanged(part, kVarTimerFrame);
        EmitIfChanged(part, kVarTimerSeconds);
        EmitIfChanged(part, kVarTimerMinutes);
    }

    // One frame in the game's order.
    //  Vertical-blank handler: the controllers; the timer (in a level with
    //  water, from the horizontal interrupt mid-screen instead); the global
    //  frame counter as its last act.
    //  Main loop, after the wait: a mode that ends (it closes with its own
    //  values); the level frame counter; the players; the rings and lives;
    //  the object table and everything else, with a timer or counter the
    //  loader set and the level's mode, once its values are in place, last.
    void EmitFrame() {
        StreamRecord& record = stream_->records.back();
        const bool timerStep = TimerStepped() && Changed(kVarTimerFrame);
        const bool levelStep = static_cast<uint16_t>(Next(kVarLevelFrame)) ==
                               static_cast<uint16_t>(Shown(kVarLevelFrame) + 1);
        const bool water = TimerAtWaterLine(Next(kVarZone), Next(kVarAct));

        std::vector<StreamWrite>& vblank = record.vblank;
        EmitGroup(vblank, kGroupControllers);
        vblank.push_back({kOpDelay, 0, kTransferLines});
        if (timerStep) EmitTimer(water ? record.hblank : vblank);
        vblank.push_back({kOpDelay, 0, kAfterTimerLines});
        EmitIfChanged(vblank, kVarGlobalFrame);

        std::vector<StreamWrite>& main = record.main;
        const bool modeChanged = Changed(kVarGameMode);
        const bool intoLevel = Next(kVarGameMode) == kLevelMode;
        if (modeChanged && !intoLevel) Emit(main, kVarGameMode);
        if (levelStep) Emit(main, kVarLevelFrame);
        main.push_back({kOpDelay, 0, kPlayersDelayLines});
        EmitGroup(main, kGroupPlayers);
        main.push_back({kOpWaitLine, 0, kHudLine});
        EmitGroup(main, kGroupHud);
        main.push_back({kOpWaitLine, 0, kObjectTableLine});
        EmitRest(main);
    }

    // A lag frame: the handler only increments the global frame counter; the
    // main loop's part of the frame before, from the object table on, comes
    // after it, and then whatever else the lag frame changes.
    void EmitLag() {
        std::vector<StreamRecord>& records = stream_->records;
        StreamRecord& record = records.back();
        if (records.size() >= 2 && records[records.size() - 2].kind != kRecordBlank) {
            std::vector<StreamWrite>& before = records[records.size() - 2].main;
            size_t from = 0;
            if (records[records.size() - 2].kind == kRecordFrame) {
                from = before.size();
                while (from > 0 && before[from - 1].op != kOpWaitLine) --from;
                if (from > 0) --from;   // the wait too
            }
            record.main.assign(before.begin() + static_cast<std::ptrdiff_t>(from), before.end());
            before.resize(from);
        }
        Store(GameAddress(kVarGlobalFrame), 4, Shown(kVarGlobalFrame) + 1);
        EmitIfChanged(record.main, kVarGameMode);
        EmitGroup(record.main, kGroupPlayers);
        EmitGroup(record.main, kGroupHud);
        EmitRest(record.main);
    }

    void EmitRest(std::vector<StreamWrite>& part) {
        const bool modeChanged = Changed(kVarGameMode);
        EmitGroup(part, kGroupRest);
        for (const Variable& variable : data_) {
            if (GroupOf(variable) == kGroupOwn && !HasOwnPlace(variable.address)) {
                EmitIfChanged(part, variable.address, variable.width);
            }
        }
        EmitGroup(part, kGroupControllers);   // a lag frame's
        EmitTimer(part);
        EmitIfChanged(part, kVarLevelFrame);
        EmitIfChanged(part, kVarGlobalFrame);
        if (modeChanged) Emit(part, kVarGameMode);
    }

    const Scenario& scenario_;
    const StreamOptions& options_;
    FrameStream* stream_;
    const RecordImageFunction& onRecord_;
    std::unique_ptr<GameState> game_;
    std::vector<uint8_t> shown_;   // what the cartridge's RAM holds after the writes so far
    std::vector<uint8_t> standin_; // what the stand-in's core RAM holds: each frame whole, the signature at a switch
    std::vector<Variable> data_;   // the scenario's variables, by address
    uint32_t fps_ = 60;
    double slot_ = 0;              // the latest frame period, in vertical blanks from the first
    bool haveSlot_ = false;
    bool started_ = false;         // a frame is in the RAM
};

void PutWord(std::vector<uint8_t>& bytes, uint32_t word) {
    bytes.push_back(static_cast<uint8_t>(word >> 8));
    bytes.push_back(static_cast<uint8_t>(word));
}

// 68000 instructions of the parts.
constexpr uint16_t kMoveByteShort = 0x11FC;   // move.b #imm,(xxx).w
constexpr uint16_t kMoveWordShort = 0x31FC;   // move.w #imm,(xxx).w
constexpr uint16_t kMoveLongShort = 0x21FC;   // move.l #imm,(xxx).w
constexpr uint16_t kToLongAddress = 0x0200;   // the same with (xxx).l
constexpr uint16_t kMoveWordD0 = 0x303C;      // move.w #imm,d0
constexpr uint16_t kDbfD0 = 0x51C8;           // dbf d0,*  (with displacement -2)
constexpr uint16_t kJsrA1 = 0x4E91;           // the cartridge's wait for a blank vertical blank
constexpr uint16_t kJsrA2 = 0x4E92;           // its wait through a lag vertical blank
constexpr uint16_t kJsrA3 = 0x4E93;           // its wait for the display line in d0
constexpr uint16_t kLeaPcA4 = 0x49FA;         // lea (d16,pc),a4: the horizontal interrupt's part
constexpr uint16_t kLeaPcA5 = 0x4BFA;         // lea (d16,pc),a5: the next vertical blank's part
constexpr uint16_t kLeaPcA6 = 0x4DFA;         // lea (d16,pc),a6: the main loop's part
constexpr uint16_t kRts = 0x4E75;
constexpr uint32_t kDbfPerLine = 48;          // a dbf loop takes 10 cycles, a scanline 488

// An absolute short address is sign-extended: it reaches the top 32 KiB.
constexpr uint32_t kShortAddressFirst = 0xFF8000;

// An immediate into an address, absolute short where it reaches.
void PutMove(std::vector<uint8_t>& bytes, uint16_t shortForm, uint32_t value, uint8_t width, uint32_t address) {
    const bool isShort = address >= kShortAddressFirst;
    PutWord(bytes, isShort ? shortForm : shortForm | kToLongAddress);
    if (width == 4) PutWord(bytes, value >> 16);
    PutWord(bytes, width == 1 ? value & 0xFFu : value & 0xFFFFu);
    if (!isShort) PutWord(bytes, address >> 16);
    PutWord(bytes, address & 0xFFFFu);
}

void PutWrites(std::vector<uint8_t>& bytes, const std::vector<StreamWrite>& writes) {
    for (const StreamWrite& write : writes) {
        switch (write.op) {
        case kOpByte: PutMove(bytes, kMoveByteShort, write.value, 1, write.address); break;
        case kOpWord: PutMove(bytes, kMoveWordShort, write.value, 2, write.address); break;
        case kOpLong: PutMove(bytes, kMoveLongShort, write.value, 4, write.address); break;
        case kOpSay: PutMove(bytes, kMoveWordShort, write.value, 2, kSayMarkerAddress); break;
        case kOpWaitLine:
            PutWord(bytes, kMoveWordD0);
            PutWord(bytes, write.value);
            PutWord(bytes, kJsrA3);
            break;
        case kOpDelay:
            PutWord(bytes, kMoveWordD0);
            PutWord(bytes, std::min<uint32_t>(write.value * kDbfPerLine, 0xFFFF));
            PutWord(bytes, kDbfD0);
            PutWord(bytes, 0xFFFE);
            break;
        default: break;
        }
    }
}

// A lea (d16,pc) whose target is filled in later.
size_t PutLea(std::vector<uint8_t>& bytes, uint16_t lea) {
    PutWord(bytes, lea);
    PutWord(bytes, 0);
    return bytes.size() - 2;
}

void PointAt(std::vector<uint8_t>& bytes, size_t displacement, size_t target) {
    const uint16_t value = static_cast<uint16_t>(static_cast<int64_t>(target) - static_cast<int64_t>(displacement));
    bytes[displacement] = static_cast<uint8_t>(value >> 8);
    bytes[displacement + 1] = static_cast<uint8_t>(value);
}

}  // namespace

bool BuildFrameStream(const Scenario& scenario, const StreamOptions& options, FrameStream* stream,
                      std::string* error, const RecordImageFunction& onRecord) {
    *stream = FrameStream{};
    Builder builder(scenario, options, stream, onRecord);
    return builder.Build(error);
}

std::vector<uint8_t> EncodeFrameStream(const FrameStream& stream) {
    std::vector<uint8_t> bytes;
    const std::vector<StreamRecord>& records = stream.records;
    for (size_t i = 0; i < records.size();) {
        // The vertical blank's part, then the horizontal interrupt's.
        const StreamRecord& frame = records[i];
        PutWrites(bytes, frame.vblank);
        const size_t main = PutLea(bytes, kLeaPcA6);
        const size_t hblank = frame.hblank.empty() ? 0 : PutLea(bytes, kLeaPcA4);
        PutWord(bytes, kRts);
        if (hblank != 0) {
            PointAt(bytes, hblank, bytes.size());
            PutWrites(bytes, frame.hblank);
            PutWord(bytes, kRts);
        }
        // The main loop's part, through the lag and blank vertical blanks up to the next frame.
        PointAt(bytes, main, bytes.size());
        PutWrites(bytes, frame.main);
        for (++i; i < records.size() && records[i].kind != kRecordFrame; ++i) {
            PutWord(bytes, records[i].kind == kRecordLag ? kJsrA2 : kJsrA1);
            PutWrites(bytes, records[i].main);
        }
        const size_t next = PutLea(bytes, kLeaPcA5);
        PutWord(bytes, kRts);
        PointAt(bytes, next, bytes.size());
    }
    // The end: a vertical blank's part and a main loop's part that point at
    // each other and write nothing.
    const size_t end = bytes.size();
    PointAt(bytes, PutLea(bytes, kLeaPcA6), end + 6);
    PutWord(bytes, kRts);
    PointAt(bytes, PutLea(bytes, kLeaPcA5), end);
    PutWord(bytes, kRts);
    return bytes;
}

#include "tools/testrom/frame_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "emulator/core_layout.h"
#include "emulator/ram_writer.h"
#include "tools/standin/game_state.h"

namespace {

constexpr uint8_t kLevelMode = 12;   // gameMode while a level runs

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

// Bytes with a place of their own in a frame's order: the counters' block, the
// timer, the game mode and the pause flag.
bool HasOwnPlace(uint32_t address) {
    return (address >= kCountersAddress && address < kCountersAddress + kCountersSize) ||
           (address >= kTimerMinutesAddress && address <= kTimerFrameAddress) || address == kGameModeAddress ||
           address == kPauseAddress;
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
        for (uint32_t i = 0; i < kSignatureSize; i += 4) data_.push_back({kSignatureAddress + i, 4});
        std::sort(data_.begin(), data_.end());
        data_.erase(std::unique(data_.begin(), data_.end()), data_.end());
        *game_ = GameState{};
        // The stand-in starts in the game: the signature is in the RAM it composes.
        GameWriteSignature(*game_, options_.signature);
    }

    bool Build(std::string* error) {
        for (const Assignment& assignment : scenario_.assignments) {
            if (assignment.target == Target::Memory && InCartridgeRam(assignment.address, assignment.width)) {
                *error = "the scenario writes the cartridge's own RAM (0xFF0000..0xFF00FF, 0xFFA000..0xFFA003, "
                         "0xFFFFFE..0xFFFFFF)";
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
            if (step.argument > 60) {
                *error = std::to_string(step.line) + ": fps " + std::to_string(step.argument) +
                         ": the console shows at most 60 frames a second";
                return false;
            }
            fps_ = step.argument;
            return true;
        case StepKind::Mode:
            GameWriteSignature(*game_, options_.signature && step.argument == static_cast<uint32_t>(CartridgeMode::Game));
            // Before the first frame the change waits in the composed RAM, as in the stand-in.
            if (started_) {
                for (uint32_t i = 0; i < kSignatureSize; i += 4) EmitIfChanged(kSignatureAddress + i, 4);
                std::memcpy(standin_.data() + kSignatureRamOffset, game_->image + kSignatureRamOffset, kSignatureSize);
            }
            return true;
        case StepKind::Say: {
            if (stream_->records.empty()) stream_->records.emplace_back();
            const uint32_t number = static_cast<uint32_t>(stream_->says.size()) + 1;
            Current().push_back({kOpSay, 0, number, {}});
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
            for (uint32_t frame = 0; frame < step.frames; ++frame) NextSlot();
            return true;
        default: break;
        }
        for (uint32_t frame = 0; frame < step.frames; ++frame) {
            GameAdvance(*game_, step.kind);
            for (uint32_t i = 0; i < step.assignmentCount; ++i) {
                const Assignment& assignment = scenario_.assignments[step.firstAssignment + i];
                if (frame == 0 || assignment.everyFrame) GameApply(*game_, assignment);
            }
            GameWriteClocks(*game_);
            NextSlot();
            EmitFrame();
            if (!Verify(0, kWorkRamSize)) {
                *error = std::to_string(step.line) + ": the frame's writes don't compose its RAM";
                return false;
            }
            std::memcpy(standin_.data(), game_->image, kWorkRamSize);
            started_ = true;
        }
        return true;
    }

    std::vector<StreamWrite>& Current() { return stream_->records.back(); }

    // The stand-in's pacer: the first frame at once, each later one a frame
    // period (at the fps of that moment) after the one before. Frame periods
    // land on the console's vertical blanks, 60 a second.
    void NextSlot() {
        if (haveSlot_) {
            slot_ += 60.0 / fps_;
        }
        haveSlot_ = true;
        const size_t vblank = static_cast<size_t>(std::llround(slot_));
        if (vblank < stream_->records.size()) return;   // the first frame, after a say line
        if (!stream_->records.empty()) Report();
        while (stream_->records.size() < vblank + 1) stream_->records.emplace_back();
    }

    void Report() {
        if (onRecord_ && !Current().empty()) onRecord_(static_cast<uint32_t>(stream_->records.size()), standin_.data());
    }

    void Finish() {
        if (!stream_->records.empty()) Report();
    }

    uint32_t Next(uint32_t address, uint8_t width) const { return GameRead(*game_, address, width); }

    bool Changed(uint32_t address, uint8_t width) const {
        const uint32_t offset = address - kRamFirstAddress;
        if (width == 1) return shown_[offset ^ 1] != game_->image[offset ^ 1];
        return std::memcmp(shown_.data() + offset, game_->image + offset, width) != 0;
    }

    void Emit(uint32_t address, uint8_t width) {
        const uint32_t value = Next(address, width);
        Current().push_back({width == 1 ? kOpByte : width == 2 ? kOpWord : kOpLong, address, value, {}});
        RamWriter ram{shown_.data(), kWorkRamSize, kRamFirstAddress};
        if (width == 1) RamWriteByte(ram, address, static_cast<uint8_t>(value));
        if (width == 2) RamWriteWord(ram, address, static_cast<uint16_t>(value));
        if (width == 4) RamWriteLong(ram, address, value);
    }

    void EmitIfChanged(uint32_t address, uint8_t width) {
        if (Changed(address, width)) Emit(address, width);
    }

    bool Verify(uint32_t offset, uint32_t size) const {
        return std::memcmp(shown_.data() + offset, game_->image + offset, size) == 0;
    }

    // One frame's changes in the order a reader may see them stop at:
    //  1. the game mode, when it changes to anything but the level: the mode
    //     that ends is closed with its own values, the next one's follow;
    //  2. the game's variables by address, then any other changed byte;
    //  3. the timer;
    //  4. the game mode, when the level starts: the loader has put the
    //     level's values (a checkpoint's timer) in place first;
    //  5. the pause flag: a reader that sees the new frame sees it paused;
    //  6. the level and global frame counters, stored by one instruction: a
    //     reader that sees one move sees the other move too.
    void EmitFrame() {
        const bool modeChanged = Changed(kGameModeAddress, 1);
        const bool intoLevel = Next(kGameModeAddress, 1) == kLevelMode;
        if (modeChanged && !intoLevel) Emit(kGameModeAddress, 1);
        for (const Variable& variable : data_) {
            bool own = false;
            for (uint32_t i = 0; i < variable.width; ++i) own = own || HasOwnPlace(variable.address + i);
            if (!own) EmitIfChanged(variable.address, variable.width);
        }
        constexpr uint32_t kBlock = 64;
        for (uint32_t block = 0; block < kWorkRamSize; block += kBlock) {
            if (Verify(block, kBlock)) continue;
            for (uint32_t address = kRamFirstAddress + block; address < kRamFirstAddress + block + kBlock; ++address) {
                if (!HasOwnPlace(address)) EmitIfChanged(address, 1);
            }
        }
        EmitIfChanged(kTimerMinutesAddress, 1);
        EmitIfChanged(kTimerSecondsAddress, 1);
        EmitIfChanged(kTimerFrameAddress, 1);
        if (modeChanged && intoLevel) Emit(kGameModeAddress, 1);
        EmitIfChanged(kPauseAddress, 1);
        if (Changed(kCountersAddress, kCountersSize)) {
            StreamWrite counters{kOpCounters, kCountersAddress, 0, {}};
            for (uint32_t i = 0; i < kCountersSize / 2; ++i) {
                counters.counters[i] = static_cast<uint16_t>(Next(kCountersAddress + 2 * i, 2));
            }
            Current().push_back(counters);
            const uint32_t offset = kCountersAddress - kRamFirstAddress;
            std::memcpy(shown_.data() + offset, game_->image + offset, kCountersSize);
        }
    }

    const Scenario& scenario_;
    const StreamOptions& options_;
    FrameStream* stream_;
    const RecordImageFunction& onRecord_;
    std::unique_ptr<GameState> game_;
    std::vector<uint8_t> shown_;   // what the cartridge's RAM holds after the records so far
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

// 68000 instructions of the records.
constexpr uint16_t kMoveByteShort = 0x11FC;   // move.b #imm,(xxx).w
constexpr uint16_t kMoveWordShort = 0x31FC;   // move.w #imm,(xxx).w
constexpr uint16_t kMoveLongShort = 0x21FC;   // move.l #imm,(xxx).w
constexpr uint16_t kToLongAddress = 0x0200;   // the same with (xxx).l
constexpr uint16_t kMovemLoadPc = 0x4CFA;     // movem.l (d16,pc),regs
constexpr uint16_t kMovemStoreShort = 0x48F8; // movem.l regs,(xxx).w
constexpr uint16_t kD2ToD4 = 0x001C;
constexpr uint16_t kLeaPcA6 = 0x4DFA;         // lea (d16,pc),a6
constexpr uint16_t kRts = 0x4E75;

// An immediate into an address: absolute short reaches 0xFF8000 and up.
void PutMove(std::vector<uint8_t>& bytes, uint16_t shortForm, uint32_t value, uint8_t width, uint32_t address) {
    const bool isShort = address >= 0xFF8000;
    PutWord(bytes, isShort ? shortForm : shortForm | kToLongAddress);
    if (width == 4) PutWord(bytes, value >> 16);
    PutWord(bytes, width == 1 ? value & 0xFFu : value & 0xFFFFu);
    if (!isShort) PutWord(bytes, address >> 16);
    PutWord(bytes, address & 0xFFFFu);
}

void PutRecord(std::vector<uint8_t>& bytes, const std::vector<StreamWrite>& record) {
    const StreamWrite* counters = nullptr;
    for (const StreamWrite& write : record) {
        if (write.op == kOpCounters) counters = &write;
    }
    // The counters' words are loaded into registers before the first store.
    size_t loadDisplacement = 0;
    if (counters != nullptr) {
        PutWord(bytes, kMovemLoadPc);
        PutWord(bytes, kD2ToD4);
        loadDisplacement = bytes.size();
        PutWord(bytes, 0);
    }
    for (const StreamWrite& write : record) {
        switch (write.op) {
        case kOpByte: PutMove(bytes, kMoveByteShort, write.value, 1, write.address); break;
        case kOpWord: PutMove(bytes, kMoveWordShort, write.value, 2, write.address); break;
        case kOpLong: PutMove(bytes, kMoveLongShort, write.value, 4, write.address); break;
        case kOpSay: PutMove(bytes, kMoveWordShort, write.value, 2, kSayMarkerAddress); break;
        case kOpCounters:
            PutWord(bytes, kMovemStoreShort);
            PutWord(bytes, kD2ToD4);
            PutWord(bytes, kCountersAddress & 0xFFFFu);
            break;
        default: break;
        }
    }
    // The next record follows this one's data.
    PutWord(bytes, kLeaPcA6);
    const size_t leaDisplacement = bytes.size();
    PutWord(bytes, 0);
    PutWord(bytes, kRts);
    if (counters != nullptr) {
        const size_t data = bytes.size();
        for (uint16_t word : counters->counters) PutWord(bytes, word);
        const size_t displacement = data - loadDisplacement;
        bytes[loadDisplacement] = static_cast<uint8_t>(displacement >> 8);
        bytes[loadDisplacement + 1] = static_cast<uint8_t>(displacement);
    }
    const size_t displacement = bytes.size() - leaDisplacement;
    bytes[leaDisplacement] = static_cast<uint8_t>(displacement >> 8);
    bytes[leaDisplacement + 1] = static_cast<uint8_t>(displacement);
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
    for (const std::vector<StreamWrite>& record : stream.records) PutRecord(bytes, record);
    PutWord(bytes, kRts);   // the end: a record that leaves a6 on itself
    return bytes;
}

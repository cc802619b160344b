#include "tools/standin/game_state.h"

#include "emulator/ram_writer.h"

namespace {

void WriteMemory(GameState& game, uint32_t address, uint8_t width, uint32_t value) {
    RamWriter ram{game.image, kWorkRamSize, kRamFirstAddress};
    if (width == 1) RamWriteByte(ram, address, static_cast<uint8_t>(value));
    if (width == 2) RamWriteWord(ram, address, static_cast<uint16_t>(value));
    if (width == 4) RamWriteLong(ram, address, value);
}

}  // namespace

uint32_t GameRead(const GameState& game, uint32_t address, uint8_t width) {
    const uint32_t offset = address - kRamFirstAddress;
    auto word = [&](uint32_t at) { return static_cast<uint32_t>(game.image[at] | game.image[at + 1] << 8); };
    if (width == 1) return game.image[offset ^ 1];
    if (width == 2) return word(offset);
    return word(offset) << 16 | word(offset + 2);
}

void GameApply(GameState& game, const Assignment& assignment) {
    if (assignment.everyFrame) {
        uint32_t now = GameRead(game, assignment.address, assignment.width);
        WriteMemory(game, assignment.address, assignment.width, now + assignment.value);
        return;
    }
    switch (assignment.target) {
    case Target::GlobalFrame: game.globalFrame = assignment.value; break;
    case Target::LevelFrame: game.levelFrame = static_cast<uint16_t>(assignment.value); break;
    case Target::Timer:
        game.timerMinutes = static_cast<uint8_t>(assignment.value >> 16);
        game.timerSeconds = static_cast<uint8_t>(assignment.value >> 8);
        game.timerFrame = static_cast<uint8_t>(assignment.value);
        break;
    case Target::TimerMinutes: game.timerMinutes = static_cast<uint8_t>(assignment.value); break;
    case Target::TimerSeconds: game.timerSeconds = static_cast<uint8_t>(assignment.value); break;
    case Target::TimerFrame: game.timerFrame = static_cast<uint8_t>(assignment.value); break;
    case Target::Memory: WriteMemory(game, assignment.address, assignment.width, assignment.value); break;
    }
}

void GameAdvance(GameState& game, StepKind kind) {
    ++game.globalFrame;
    game.pause = kind == StepKind::Pause ? 1 : 0;
    if (kind == StepKind::Run || kind == StepKind::Hold) ++game.levelFrame;
    if (kind == StepKind::Run && ++game.timerFrame >= 60) {
        game.timerFrame = 0;
        if (++game.timerSeconds >= 60) {
            game.timerSeconds = 0;
            ++game.timerMinutes;
        }
    }
}

void GameWriteClocks(GameState& game) {
    RamWriter ram{game.image, kWorkRamSize, kRamFirstAddress};
    RamWriteWord(ram, kLevelFrameAddress, game.levelFrame);
    RamWriteByte(ram, kTimerMinutesAddress, game.timerMinutes);
    RamWriteByte(ram, kTimerSecondsAddress, game.timerSeconds);
    RamWriteByte(ram, kTimerFrameAddress, game.timerFrame);
    RamWriteByte(ram, kPauseAddress, game.pause);
    RamWriteLong(ram, kGlobalFrameAddress, game.globalFrame);
}

void GameWriteSignature(GameState& game, bool present) {
    RamWriter ram{game.image, kWorkRamSize, kRamFirstAddress};
    RamWriteLong(ram, kSignatureAddress, present ? 0x696E6974u : 0u);       // "init"
    RamWriteLong(ram, kSignatureAddress + 4, present ? 0x00020000u : 0u);
    RamWriteLong(ram, kSignatureAddress + 8, present ? 0x53454741u : 0u);   // "SEGA"
}

#include "tools/standin/game_state.h"

#include "tools/ram/ram_writer.h"

namespace {

RamWriter Image(const GameState& game) {
    return RamWriter{const_cast<uint8_t*>(game.image), kWorkRamSize, kWorkRamFirstAddress};
}

void WriteMemory(GameState& game, uint32_t address, uint8_t width, uint32_t value) {
    RamWrite(Image(game), address, width, value);
}

void WritePause(GameState& game) {
    const RamWriter ram = Image(game);
    const uint32_t pressed = RamReadVariable(ram, kVarP1Pressed) & ~kStartButton;
    RamWriteVariable(ram, kVarP1Pressed, pressed | (game.startPress ? kStartButton : 0));
    RamWriteVariable(ram, kVarPause, game.pause);
}

}  // namespace

uint32_t GameRead(const GameState& game, uint32_t address, uint8_t width) {
    return RamRead(Image(game), address, width);
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

bool GamePauseBetweenFrames(GameState& game, StepKind next) {
    const uint8_t pause = next == StepKind::Pause ? 1 : 0;
    if (pause == game.pause) return false;
    game.pause = pause;
    game.startPress = 1;
    WritePause(game);
    return true;
}

void GameCopyPause(const GameState& game, uint8_t* ram) {
    for (GameVariable v : {kVarP1Pressed, kVarPause}) {
        const uint32_t offset = CoreOffset(GameAddress(v), 1, kWorkRamFirstAddress);
        ram[offset] = game.image[offset];
    }
}

void GameAdvance(GameState& game, StepKind kind) {
    GamePauseBetweenFrames(game, kind);
    ++game.globalFrame;
    // A lag frame's vertical blank leaves the controllers alone.
    if (kind != StepKind::Lag) game.startPress = 0;
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
    const RamWriter ram = Image(game);
    RamWriteVariable(ram, kVarLevelFrame, game.levelFrame);
    RamWriteVariable(ram, kVarTimerMinutes, game.timerMinutes);
    RamWriteVariable(ram, kVarTimerSeconds, game.timerSeconds);
    RamWriteVariable(ram, kVarTimerFrame, game.timerFrame);
    RamWriteVariable(ram, kVarGlobalFrame, game.globalFrame);
    WritePause(game);
}

void GameWriteSignature(GameState& game, bool present) {
    const RamWriter ram = Image(game);
    const uint32_t at = GameAddress(kVarSignature);
    RamWriteLong(ram, at, present ? 0x696E6974u : 0u);       // "init"
    RamWriteLong(ram, at + 4, present ? 0x00020000u : 0u);
    RamWriteLong(ram, at + 8, present ? 0x53454741u : 0u);   // "SEGA"
}

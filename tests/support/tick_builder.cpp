#include "support/tick_builder.h"

#include "tracking/classifier.h"

TickBuilder::TickBuilder() {
    watch.counterFrequency = 1e6;
    snapshot.ram.objectCount = kObjectIdsSampled;
    game.objectCount = kObjectIdsSampled;
}

TickBuilder& TickBuilder::Mode(uint32_t gameMode) { game.gameMode = gameMode; return *this; }

TickBuilder& TickBuilder::Level(uint32_t zone, uint32_t act) {
    game.zone = zone;
    game.act = act;
    return *this;
}

TickBuilder& TickBuilder::Timer(uint32_t minutes, uint32_t seconds, uint32_t sixtieths) {
    game.timerMinutes = minutes;
    game.timerSeconds = seconds;
    game.timerFrame = sixtieths;
    return *this;
}

TickBuilder& TickBuilder::Lives(uint32_t lives) { game.lives = lives; return *this; }
TickBuilder& TickBuilder::Pause(bool paused) { game.pauseFlag = paused ? 1 : 0; return *this; }
TickBuilder& TickBuilder::Pressed(uint32_t p1, uint32_t p2) {
    game.p1Pressed = p1;
    game.p2Pressed = p2;
    return *this;
}
TickBuilder& TickBuilder::Rings(uint32_t rings) { game.rings = rings; return *this; }

TickBuilder& TickBuilder::Collected(uint32_t a, uint32_t b) {
    game.collectedA = a;
    game.collectedB = b;
    return *this;
}

TickBuilder& TickBuilder::ObjectId(int slot, uint32_t id) { game.objectIds[slot] = id; return *this; }
TickBuilder& TickBuilder::P1HitTimer(uint32_t timer) { game.p1HitTimer = timer; return *this; }
TickBuilder& TickBuilder::P2HitTimer(uint32_t timer) { game.p2HitTimer = timer; return *this; }

TickBuilder& TickBuilder::P1Spindash(uint32_t flag, uint32_t count) {
    game.p1SpindashFlag = flag;
    game.p1SpindashCount = count;
    return *this;
}

TickBuilder& TickBuilder::P2Spindash(uint32_t flag, uint32_t count) {
    game.p2SpindashFlag = flag;
    game.p2SpindashCount = count;
    return *this;
}

TickBuilder& TickBuilder::ActiveFrame() {
    StillFrame();
    // The game timer: sixtieths, seconds, minutes.
    if (++game.timerFrame == 60) {
        game.timerFrame = 0;
        if (++game.timerSeconds == 60) {
            game.timerSeconds = 0;
            ++game.timerMinutes;
        }
    }
    return *this;
}

TickBuilder& TickBuilder::StillFrame() {
    LagFrame();
    game.levelFrame = (game.levelFrame + 1) & 0xFFFF;
    return *this;
}

TickBuilder& TickBuilder::LagFrame() {
    ++game.globalFrame;
    now += framePeriod;
    return *this;
}

TickBuilder& TickBuilder::Sample(int times) {
    for (int i = 0; i < times; ++i) {
        const RamMirror last = snapshot.ram;
        TakeFrame(snapshot, TimelineFrame{.ram = &game, .last = &last});
    }
    return *this;
}

TickBuilder& TickBuilder::Read(int times) {
    for (int i = 0; i < times; ++i) TrackRead(watch, snapshot, game, now);
    return *this;
}

TickBuilder& TickBuilder::Active(int n) {
    for (int i = 0; i < n; ++i) ActiveFrame().Sample();
    return *this;
}

TickBuilder& TickBuilder::Still(int n) {
    for (int i = 0; i < n; ++i) StillFrame().Sample();
    return *this;
}

TickBuilder& TickBuilder::Lag(int n) {
    for (int i = 0; i < n; ++i) LagFrame().Sample();
    return *this;
}

TickBuilder& TickBuilder::StartGame(uint32_t zone, uint32_t act) {
    Lives(3).Timer(0, 0, 0).Pause(false);
    Mode(0).LagFrame().Sample().LagFrame().Sample();
    Mode(140).LagFrame().Sample().LagFrame().Sample();
    return Mode(12).Level(zone, act).Active();
}

#include "app/tracker_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "emulator/ram_decode.h"
#include "platform/clock.h"
#include "support/fake_process_api.h"
#include "tools/ram/ram_writer.h"
#include "tracking/classifier.h"

namespace {

using Messages = std::vector<std::string>;

const std::string kChecksumIncorrect =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";

std::string Loaded() {
    return "SUCCESS: Loaded " + FakeModulePath(kCoreModuleName) + " in retroarch.exe.";
}

enum class State { Detached, Attached, Connected };

// The tracker thread's passes without the thread: a fake emulator, the
// tracker's own snapshot and log, and the state each pass ends in.
struct Passes {
    FakeSystem system;
    std::unique_ptr<EmulatorLink> tracker = std::make_unique<EmulatorLink>();
    std::unique_ptr<GameSnapshot> snapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> log = std::make_unique<LogBuffer>();
    FrameWatch watch{};

    explicit Passes(const FakeEmulatorSetup& setup = {}) {
        watch.counterFrequency = 1000.0;
        FakeEmulator(system, setup);
        InitRamDecode(snapshot->ram);
        EmulatorLinkReset(*tracker, FakeProcessApi(system));
    }
    // One pass; returns its messages.
    Messages Pass() {
        system.clock += 6;   // milliseconds
        TrackerPass(*tracker, *snapshot, *log, watch, FakeClock);
        Messages texts;
        for (int i = 0; i < log->count; ++i) texts.emplace_back(log->entries[i].text);
        LogClear(*log);
        return texts;
    }
    State state() const {
        if (tracker->attached && tracker->identified) return State::Connected;
        return tracker->attached ? State::Attached : State::Detached;
    }
    RamWriter Ram() {
        return RamWriter{system.regions.back().bytes.data() + kWorkRamOffsetInModule, kWorkRamSize, kWorkRamFirstAddress};
    }
    void Signature(bool present) {
        uint8_t* at = system.regions.back().bytes.data() + kWorkRamOffsetInModule + kSignatureRamOffset;
        if (present) {
            std::memcpy(at, kRamSignature, kSignatureSize);
        } else {
            std::memset(at, 0, kSignatureSize);
            at[-1] = 0x4D;   // the menu's own RAM is not cleared
        }
    }
};

TEST(TrackerPass, SleepsSixMillisecondsAfterAConnectedPassElse2400) {
    EXPECT_EQ(PassSleepMs(true, true), 6u);
    EXPECT_EQ(PassSleepMs(true, false), 2400u);
    EXPECT_EQ(PassSleepMs(false, false), 2400u);

    // And the 6 ms lasts about 6 ms, not a whole 15.625 ms tick as a plain
    // Windows sleep does: the median of a few, so that one late wake-up of a
    // busy machine does not count.
    uint64_t lasted[7];
    for (uint64_t& ticks : lasted) {
        const uint64_t start = ClockNow();
        ClockSleepMs(PassSleepMs(true, true));
        ticks = ClockNow() - start;
    }
    std::sort(std::begin(lasted), std::end(lasted));
    const double medianMs = static_cast<double>(lasted[3]) * 1e3 / static_cast<double>(ClockFrequency());
    EXPECT_GT(medianMs, 5.5);
    EXPECT_LT(medianMs, 12.0);
}

// The thread held up between the start of a pass and its read while the game
// plays on: the pass is timed from its read, so the frames it missed are
// unseen frames of a busy machine, not fast-forward.
TEST(TrackerPass, HeldUpBeforeItsReadCountsTheMissedFramesAsUnseen) {
    Passes p;
    uint32_t frame = 1000;
    auto play = [&](uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i) {
            RamWriteVariable(p.Ram(), kVarGlobalFrame, ++frame);
            RamWriteVariable(p.Ram(), kVarLevelFrame, frame & 0xFFFFu);
            RamWriteVariable(p.Ram(), kVarTimerFrame, frame % 60);
        }
    };
    RamWriteVariable(p.Ram(), kVarGameMode, kModeLevel);
    RamWriteVariable(p.Ram(), kVarLives, 3);
    p.Pass();
    for (int pass = 0; pass < 3; ++pass) {
        play(1);
        p.Pass();
    }
    ASSERT_EQ(p.snapshot->stats.trackerState, TrackerState::LevelActive);

    int holdUps = 1;   // 200 ms, in which twelve frames go by
    p.system.beforeRead = [&] {
        if (holdUps-- <= 0) return;
        p.system.clock += 200;
        play(12);
    };
    EXPECT_EQ(p.Pass(), Messages{}) << "twelve frames on: held for the next read";
    EXPECT_EQ(p.Pass(), Messages{"WARNING: 11 game frames went unseen in the last 10 s (the machine was busy); a lag "
                                 "frame, pause or spindash release in them may be missing."});
    EXPECT_EQ(p.watch.unwarnedFast, 0u);
}

TEST(TrackerPass, ThePassThatIdentifiesTheGameDecodesNothing) {
    Passes p;
    RamWriteVariable(p.Ram(), kVarGameMode, 36);   // options menu
    EXPECT_EQ(p.Pass(), (Messages{Loaded(), "Game found: Sonic 2"}));
    EXPECT_EQ(p.state(), State::Connected);
    EXPECT_EQ(p.snapshot->ram.gameMode, 0u);
    EXPECT_EQ(p.snapshot->stats.trackerState, TrackerState::SegaLogo);

    EXPECT_EQ(p.Pass(), Messages{}) << "a good window logs nothing";
    EXPECT_EQ(p.state(), State::Connected);
    EXPECT_EQ(p.snapshot->ram.gameMode, 36u) << "decoded on the next pass";
    EXPECT_EQ(p.snapshot->stats.trackerState, TrackerState::OptionsMenu) << "and classified";
}

TEST(TrackerPass, FailedWindowReadDisconnectsWithoutDecodeOrClassifier) {
    Passes p;
    RamWriteVariable(p.Ram(), kVarGameMode, 4);   // title screen: the classifier resets the run's statistics
    p.Pass();
    p.Pass();
    p.snapshot->stats.run.totals.pauses = 7;
    const GameSnapshot before = *p.snapshot;

    p.system.readFailure = {ProcessStatus::Gone, 3};
    EXPECT_EQ(p.Pass(), Messages{"ReadProcessMemory failed with error code '3' -- Disconnecting from retroarch.exe"});
    EXPECT_EQ(p.state(), State::Detached);
    EXPECT_EQ(std::memcmp(&before, p.snapshot.get(), sizeof before), 0) << "the snapshot is kept as it was";
    EXPECT_EQ(p.system.handlesOpen, 0);
    EXPECT_EQ(p.tracker->connection.window, nullptr);
}

TEST(TrackerPass, SignatureMismatchDisconnectsAndClassifiesThePreviousValues) {
    Passes p;
    RamWriteVariable(p.Ram(), kVarGameMode, 4);
    p.Pass();
    p.Pass();
    p.snapshot->stats.run.totals.pauses = 7;
    const RamMirror before = p.snapshot->ram;

    p.Signature(false);
    RamWriteVariable(p.Ram(), kVarGameMode, 12);   // not decoded: the window is rejected
    for (uint32_t i = 0; i < kCopyReadsMax; ++i) EXPECT_EQ(p.Pass(), Messages{}) << "a state's RAM may be copied in";
    EXPECT_EQ(p.Pass(), Messages{"Unknown checksum at end of RAM"});
    EXPECT_EQ(p.state(), State::Detached);
    EXPECT_EQ(std::memcmp(&before, &p.snapshot->ram, sizeof before), 0) << "nothing decoded";
    EXPECT_EQ(p.snapshot->stats.run.totals.pauses, 0u) << "the classifier ran once more on the title screen";
}

TEST(TrackerPass, LeavingTheGameForTheMenuAndComingBack) {
    Passes p({.signature = false});
    struct Expected {
        Messages messages;
        State state;
        uint32_t scans;
    };
    auto check = [&](const char* what, const Expected& expected) {
        SCOPED_TRACE(what);
        EXPECT_EQ(p.Pass(), expected.messages);
        EXPECT_EQ(p.state(), expected.state);
        EXPECT_EQ(p.system.walks, expected.scans);
        EXPECT_EQ(p.system.handlesOpen, expected.state == State::Detached ? 0 : 1);
    };
    check("menu at the first attach", {{Loaded(), kChecksumIncorrect}, State::Attached, 1});
    check("menu again: scanned again", {{kChecksumIncorrect}, State::Attached, 2});
    p.Signature(true);
    check("Sonic 2 started", {{"Game found: Sonic 2"}, State::Connected, 3});
    check("playing", {{}, State::Connected, 3});
    p.Signature(false);
    for (uint32_t i = 0; i < kCopyReadsMax; ++i) check("a state's RAM may be copied in", {{}, State::Connected, 3});
    check("back to the menu", {{"Unknown checksum at end of RAM"}, State::Detached, 3});
    check("attached again without a scan", {{Loaded(), kChecksumIncorrect}, State::Attached, 3});
    check("scanning again until the game runs", {{kChecksumIncorrect}, State::Attached, 4});
}

TEST(TrackerPass, EmulatorClosedWhileConnected) {
    Passes p;
    p.Pass();
    ASSERT_EQ(p.state(), State::Connected);
    p.system.readFailure = {ProcessStatus::Gone, 299};
    EXPECT_EQ(p.Pass(), Messages{"ReadProcessMemory failed with error code '299' -- Disconnecting from retroarch.exe"});
    EXPECT_EQ(p.state(), State::Detached);
    p.system.processes.erase(p.system.processes.begin() + 2);
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(p.Pass(), Messages{kNotFoundMessage});
        EXPECT_EQ(p.system.handlesOpen, 0);
    }
}

TEST(TrackerPass, EmulatorClosedDuringIdentification) {
    Passes p({.signature = false});
    p.Pass();
    ASSERT_EQ(p.state(), State::Attached);
    p.system.listFailure = {ProcessStatus::Gone, 3};
    EXPECT_EQ(p.Pass(), Messages{"Lost connection to 'retroarch.exe' -- Disconnecting"});
    EXPECT_EQ(p.state(), State::Detached);
    EXPECT_EQ(p.system.handlesOpen, 0);
}

TEST(TrackerPass, AnotherCartridgeStaysAttachedAndScansEveryPass) {
    Passes p({.header = false});
    EXPECT_EQ(p.Pass(), (Messages{Loaded(), "Unknown game"}));
    for (uint32_t pass = 2; pass <= 4; ++pass) {
        EXPECT_EQ(p.Pass(), Messages{"Unknown game"});
        EXPECT_EQ(p.state(), State::Attached);
        EXPECT_EQ(p.system.walks, pass);
    }
}

}  // namespace

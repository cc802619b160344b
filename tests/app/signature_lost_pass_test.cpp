// The pass on which the RAM signature is found missing runs the classifier once
// more on the values the pass before it decoded. That pass must not count the
// events of the previous pass a second time.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "emulator/ram_decode.h"
#include "tools/ram/ram_writer.h"
#include "app/tracker_thread.h"
#include "support/fake_process_api.h"
#include "support/stats_compare.h"
#include "tracking/classifier.h"

namespace {

struct Emulator {
    FakeSystem system;
    std::unique_ptr<EmulatorLink> tracker = std::make_unique<EmulatorLink>();
    std::unique_ptr<GameSnapshot> snapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> log = std::make_unique<LogBuffer>();
    uint32_t globalFrame = 1000;
    uint16_t levelFrame = 100;
    uint8_t timerFrame = 0;
    FrameWatch watch{};

    Emulator() {
        watch.counterFrequency = 1000.0;
        FakeEmulator(system);
        InitRamDecode(snapshot->ram);
        EmulatorLinkReset(*tracker, FakeProcessApi(system));
    }
    RamWriter Ram() {
        return RamWriter{system.regions.back().bytes.data() + kWorkRamOffsetInModule, kWorkRamSize, kWorkRamFirstAddress};
    }
    void Pass() {
        system.clock += 6;   // milliseconds
        TrackerPass(*tracker, *snapshot, *log, watch, FakeClock);
        LogClear(*log);
    }
    // One game frame into the RAM: the global frame counter always advances,
    // the level frame counter and the timer as told.
    void Frame(bool level, bool timer) {
        ++globalFrame;
        if (level) ++levelFrame;
        if (timer) timerFrame = static_cast<uint8_t>((timerFrame + 1) % 60);
        RamWriteVariable(Ram(), kVarGlobalFrame, globalFrame);
        RamWriteVariable(Ram(), kVarLevelFrame, levelFrame);
        RamWriteVariable(Ram(), kVarTimerFrame, timerFrame);
    }
    // A frame of the level running, then a pass.
    void Active(int n = 1) {
        for (int i = 0; i < n; ++i) {
            Frame(true, true);
            Pass();
        }
    }
    // The signature cleared, and the passes that take it for a state's RAM
    // being copied in made: the next pass finds the game gone.
    void SignatureGone() {
        std::memset(system.regions.back().bytes.data() + kWorkRamOffsetInModule + kSignatureRamOffset, 0,
                    kSignatureSize);
        for (uint32_t i = 0; i < kCopyReadsMax; ++i) Pass();
    }
};

struct Case {
    const char* name;
    // Writes the event into the RAM as a frame, before the last decoded pass.
    void (*event)(Emulator&);
};

const Case kCases[] = {
    {"death", [](Emulator& e) { RamWriteVariable(e.Ram(), kVarLives, 2); e.Frame(true, true); }},
    {"lag frame", [](Emulator& e) { e.Frame(false, false); }},
    {"P1 and P2 hit", [](Emulator& e) {
         RamWriteVariable(e.Ram(), kVarP1HitTimer, 120);
         RamWriteVariable(e.Ram(), kVarP2HitTimer, 120);
         e.Frame(true, true);
     }},
    {"perfect spindash release", [](Emulator& e) {
         RamWriteVariable(e.Ram(), kVarP1SpindashFlag, 0);
         RamWriteVariable(e.Ram(), kVarP1SpindashCount, 2048);
         e.Frame(true, true);
     }},
    {"results screen frame", [](Emulator& e) { e.Frame(true, false); }},
};

TEST(SignatureLostPass, CountsNoEventOfThePassBeforeAgain) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Emulator e;
        RamWriteVariable(e.Ram(), kVarGameMode, kModeLevel);
        RamWriteVariable(e.Ram(), kVarLives, 3);
        RamWriteVariable(e.Ram(), kVarP1SpindashFlag, 1);   // charging, for the release case
        RamWriteVariable(e.Ram(), kVarP1SpindashCount, 2048);
        RamWriteVariable(e.Ram(), kVarObjectIds, kResultsObjectId);
        e.Pass();   // attach and identify
        e.Active(3);
        ASSERT_TRUE(e.tracker->identified);
        ASSERT_EQ(e.snapshot->stats.trackerState, TrackerState::LevelActive);

        c.event(e);
        e.Pass();   // the event is decoded and counted once, or held for the next read
        auto counting = std::make_unique<GameSnapshot>(*e.snapshot);
        FrameWatch watch = e.watch;
        TakeHeldRead(watch, *counting);   // as the break of the link takes it
        const TrackerStats counted = counting->stats;

        // What a pass that read the same window once more would make of it.
        auto expected = std::make_unique<GameSnapshot>(*counting);
        RamMirror again;
        DecodeRamWindow(e.tracker->connection.window, again);
        const RamMirror before = expected->ram;
        TakeFrame(*expected, TimelineFrame{.ram = &again, .last = &before});

        e.SignatureGone();
        e.Pass();
        ASSERT_FALSE(e.tracker->attached) << "disconnected";
        const TrackerStats& after = e.snapshot->stats;
        EXPECT_EQ(after.run.totals.deaths, counted.run.totals.deaths);
        EXPECT_EQ(after.run.totals.lagFrames, counted.run.totals.lagFrames);
        EXPECT_EQ(after.run.totals.p1Hits, counted.run.totals.p1Hits);
        EXPECT_EQ(after.run.p2Hits, counted.run.p2Hits);
        EXPECT_EQ(after.run.totals.perfectSpindashes, counted.run.totals.perfectSpindashes);
        EXPECT_EQ(after.latches.levelEndTicks, counted.latches.levelEndTicks);
        EXPECT_EQ(StatsDifferences(after, expected->stats), "");
        EXPECT_EQ(e.snapshot->ram.lives, expected->ram.lives) << "the values themselves stay";
        EXPECT_EQ(std::memcmp(e.snapshot->holds.p1Frames, expected->holds.p1Frames,
                              sizeof expected->holds.p1Frames),
                  0);
    }
}

// The ending's frame closes the last record and shows the ending on its one
// pass; the pass that lost the signature leaves both as they are.
TEST(SignatureLostPass, KeepsTheEndingAfterTheLastRecordCloses) {
    Emulator e;
    RamWriteVariable(e.Ram(), kVarGameMode, kModeLevel);
    RamWriteVariable(e.Ram(), kVarLives, 3);
    e.Pass();
    e.Active(3);
    RamWriteVariable(e.Ram(), kVarGameMode, kModeEnding);
    e.Frame(true, false);
    e.Pass();
    ASSERT_EQ(e.snapshot->stats.trackerState, TrackerState::Ending);
    ASSERT_EQ(e.snapshot->stats.run.recordCount, 1);

    e.SignatureGone();
    e.Pass();
    EXPECT_FALSE(e.tracker->attached);
    EXPECT_EQ(e.snapshot->stats.trackerState, TrackerState::Ending);
    EXPECT_EQ(e.snapshot->stats.run.recordCount, 1);
}

// A read that looked like a jump (its lives from elsewhere), then a failed
// read: after the connection is made again, the game is compared with the last
// frame taken, never with the jump's read, which was not.
TEST(SignatureLostPass, AReadFailureInAJumpComparesWithTheLastFrameTaken) {
    Emulator e;
    RamWriteVariable(e.Ram(), kVarGameMode, kModeLevel);
    RamWriteVariable(e.Ram(), kVarLives, 3);
    e.Pass();
    e.Active(3);
    RamWriteVariable(e.Ram(), kVarLives, 4);
    RamWriteVariable(e.Ram(), kVarZone, 13);
    RamWriteVariable(e.Ram(), kVarGlobalFrame, e.globalFrame + 5000);
    e.Pass();
    ASSERT_TRUE(e.watch.jumpPending);
    e.system.readFailure = ProcessResult{ProcessStatus::Unreadable, 5};
    e.Pass();
    ASSERT_FALSE(e.tracker->attached);
    e.system.readFailure = kFakeOk;
    RamWriteVariable(e.Ram(), kVarLives, 3);
    RamWriteVariable(e.Ram(), kVarZone, 0);
    RamWriteVariable(e.Ram(), kVarGlobalFrame, e.globalFrame);
    for (int i = 0; i < 5; ++i) e.Active();
    EXPECT_EQ(e.snapshot->stats.run.totals.deaths, 0u);
    EXPECT_EQ(e.snapshot->stats.trackerState, TrackerState::LevelActive);
}

}  // namespace

// The tracker reads the RAM every few milliseconds: two to three times per
// game frame as a rule, but only once when it is slowed down (a coarse system
// timer, a busy machine, fast-forward, a short frame). However often a frame
// is read, it must leave the same statistics, records, tracker state and
// screen. Every scenario of the stand-in and random plays are classified with
// each frame read twice, and again with each frame read once and 1 to 4 times:
// after every frame the statistics agree, and at the end of every game mode
// the screen lines too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/layout.h"
#include "app/screen_buffer.h"
#include "emulator/core_layout.h"
#include "emulator/ram_decode.h"
#include "support/stats_compare.h"
#include "support/tick_builder.h"
#include "tools/standin/game_state.h"
#include "tools/standin/scenario.h"
#include "tracking/classifier.h"

namespace {

struct Frame {
    RamMirror ram;
    bool lastOfMode;  // the last frame of a run of one game mode
};

class PlayGenerator {
public:
    explicit PlayGenerator(uint32_t seed) : rng_(seed) {
        game_ = TickBuilder().game;
        game_.lives = 3;
    }

    std::vector<Frame> Generate(int modeRuns) {
        std::vector<Frame> frames;
        for (int run = 0; run < modeRuns; ++run) {
            const uint32_t mode = PickMode();
            game_.gameMode = mode;
            // Every game mode lasts at least two frames in the game, but a
            // slowed tracker may see only one of them.
            const int length = Uniform(Chance(0.15) ? 1 : 2, mode == kModeLevel ? 90 : 8);
            const bool results = mode == kModeLevel && Chance(0.3);
            if (mode == kModePreLevel && Chance(0.5)) Timer(0, 0, 0);
            for (int i = 0; i < length; ++i) {
                ++game_.globalFrame;
                switch (mode) {
                    case kModeLevel: LevelFrame(); break;
                    case kModeSpecialStage: SpecialStageFrame(); break;
                    default: OtherFrame(); break;
                }
                frames.push_back({game_, false});
            }
            // The level ends: the results object shows while the timer stands.
            for (int i = results ? Uniform(5, 30) : 0; i > 0; --i) {
                ++game_.globalFrame;
                game_.pauseFlag = 0;
                game_.objectIds[Uniform(0, kObjectIdsSampled - 1)] = kResultsObjectId;
                if (!Chance(0.1)) game_.levelFrame = (game_.levelFrame + 1) & 0xFFFF;
                frames.push_back({game_, false});
            }
            frames.back().lastOfMode = true;
            if (results) ClearObjects();
        }
        return frames;
    }

private:
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    uint32_t PickMode() {
        static const uint32_t modes[] = {12, 12, 12, 12, 12, 12, 140, 140, 140, 16, 16, 0,
                                         4,  20, 32, 32, 36, 40, 1,   8,   141, 255};
        return modes[Uniform(0, static_cast<int>(std::size(modes)) - 1)];
    }

    void Timer(uint32_t minutes, uint32_t seconds, uint32_t sixtieths) {
        game_.timerMinutes = minutes;
        game_.timerSeconds = seconds;
        game_.timerFrame = sixtieths;
    }

    void AdvanceTimer() {
        if (++game_.timerFrame == 60) {
            game_.timerFrame = 0;
            if (++game_.timerSeconds == 60) {
                game_.timerSeconds = 0;
                ++game_.timerMinutes;
            }
        }
    }

    void ClearObjects() {
        for (uint32_t& id : game_.objectIds) id = 0;
    }

    void TogglePause() {
        if (game_.pauseFlag ? Chance(0.2) : Chance(0.03)) game_.pauseFlag ^= 1;
    }

    void HitTimer(uint32_t& timer) {
        if (timer == 0) {
            if (Chance(0.03)) timer = 120;
        } else {
            timer = Chance(0.05) ? 0 : timer - 1;
        }
    }

    void Spindash(uint32_t& flag, uint32_t& count) {
        if (flag == 0) {
            if (Chance(0.05)) {
                flag = 1;
                count = Chance(0.8) ? 0 : static_cast<uint32_t>(Uniform(0, 300));
            }
            return;
        }
        const int r = Uniform(0, 99);
        if (r < 15) {
            flag = 0;
        } else if (r < 70) {
            count = count + 0x200 > 0x800 ? 0x800 : count + 0x200;
        } else if (r < 90) {
            count -= count >> 5;
        } else {
            count = static_cast<uint32_t>(Uniform(0, 3000));
        }
    }

    void Sometimes() {
        if (Chance(0.1)) game_.rings = static_cast<uint32_t>(Uniform(0, 300));
        if (Chance(0.05)) game_.collectedA = static_cast<uint32_t>(Uniform(0, 20));
        if (Chance(0.05)) game_.collectedB = static_cast<uint32_t>(Uniform(0, 20));
        if (Chance(0.02)) {
            game_.zone = static_cast<uint32_t>(Uniform(0, 17));
            game_.act = static_cast<uint32_t>(Uniform(0, 3));
        }
        if (Chance(0.02) && game_.lives > 0) --game_.lives;
        if (Chance(0.005)) ++game_.lives;
    }

    void LevelFrame() {
        TogglePause();
        Sometimes();
        if (game_.pauseFlag) return;
        const int kind = Uniform(0, 99);
        if (kind < 70) {
            game_.levelFrame = (game_.levelFrame + 1) & 0xFFFF;
            AdvanceTimer();
        } else if (kind < 85) {
            game_.levelFrame = (game_.levelFrame + 1) & 0xFFFF;
        } else if (kind < 95) {
            // a lag frame: nothing moves
        } else {
            AdvanceTimer();
        }
        if (Chance(0.01)) Timer(0, static_cast<uint32_t>(Uniform(0, 59)), 0);  // restored at a checkpoint
        if (Chance(0.01)) game_.objectIds[Uniform(0, kObjectIdsSampled - 1)] = kResultsObjectId;
        if (Chance(0.01)) ClearObjects();
        HitTimer(game_.p1HitTimer);
        HitTimer(game_.p2HitTimer);
        Spindash(game_.p1SpindashFlag, game_.p1SpindashCount);
        Spindash(game_.p2SpindashFlag, game_.p2SpindashCount);
    }

    void SpecialStageFrame() {
        TogglePause();
        if (Chance(0.05)) game_.collectedA = static_cast<uint32_t>(Uniform(0, 20));
        if (!game_.pauseFlag) game_.levelFrame = (game_.levelFrame + 1) & 0xFFFF;
    }

    void OtherFrame() {
        game_.pauseFlag = 0;
        Sometimes();
        if (Chance(0.3)) game_.levelFrame = (game_.levelFrame + 1) & 0xFFFF;
    }

    std::mt19937 rng_;
    RamMirror game_;
};

// Totals over the generated plays, to show that they reach what they are meant to test.
struct Reached {
    uint64_t pauses = 0, deaths = 0, lagFrames = 0, records = 0, levelEnds = 0, attempts = 0,
             perfect = 0, hits = 0, specialStages = 0, samples = 0;
};

void Count(Reached& reached, const Frame& frame, bool lastFrame, TrackerState previousState, const TrackerStats& s) {
    if (s.trackerState == TrackerState::LevelEnd && previousState != TrackerState::LevelEnd && s.latches.levelEndSeen) ++reached.levelEnds;
    if (s.trackerState == TrackerState::SpecialStage && previousState != TrackerState::SpecialStage) ++reached.specialStages;
    if (frame.ram.gameMode == kModeSegaLogo || frame.ram.gameMode == kModeTitle || lastFrame) {
        // Collect before a reset empties them.
        reached.pauses += s.run.totals.pauses;
        reached.deaths += s.run.totals.deaths;
        reached.lagFrames += s.run.totals.lagFrames;
        reached.records += static_cast<uint64_t>(s.run.recordCount);
        reached.attempts += s.run.sixTapAttempts;
        reached.perfect += s.run.totals.perfectSpindashes;
        reached.hits += s.run.totals.p1Hits + s.run.p2Hits;
    }
}

// The frames of a stand-in scenario as the tracker decodes them, one a frame
// while the game's cartridge runs (its RAM signature present).
std::vector<Frame> ScenarioFrames(const std::string& name) {
    std::ifstream file(std::string(RINGWATCH_SCENARIO_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    Scenario scenario;
    std::string error;
    if (!file || !ParseScenario(text.str(), &scenario, &error)) {
        ADD_FAILURE() << name << ": " << error;
        return {};
    }
    static GameState game;
    game = GameState{};
    GameWriteSignature(game, true);
    bool running = true;
    RamMirror ram{};
    InitRamDecode(ram);
    std::vector<Frame> frames;
    for (const Step& step : scenario.steps) {
        const Assignment* assignments = scenario.assignments.data() + step.firstAssignment;
        switch (step.kind) {
            case StepKind::Mode: running = step.argument == static_cast<uint32_t>(CartridgeMode::Game); continue;
            case StepKind::Set:
                for (uint32_t i = 0; i < step.assignmentCount; ++i) GameApply(game, assignments[i]);
                continue;
            case StepKind::Run: case StepKind::Hold: case StepKind::Lag: case StepKind::Pause: break;
            default: continue;  // no frame: frozen, the rate, a line said, the end
        }
        for (uint32_t frame = 0; frame < step.frames; ++frame) {
            GameAdvance(game, step.kind);
            for (uint32_t i = 0; i < step.assignmentCount; ++i) {
                if (frame == 0 || assignments[i].everyFrame) GameApply(game, assignments[i]);
            }
            GameWriteClocks(game);
            if (!running) continue;
            DecodeRamWindow(game.image + kWindowRamOffset, ram);
            if (!frames.empty() && frames.back().ram.gameMode != ram.gameMode) frames.back().lastOfMode = true;
            frames.push_back({ram, false});
        }
    }
    if (!frames.empty()) frames.back().lastOfMode = true;
    return frames;
}

// The screen's lines above the log, one under the other.
std::string ScreenText(const GameSnapshot& snapshot) {
    static ScreenBuffer screen{};
    if (screen.cells == nullptr) {
        EXPECT_TRUE(ScreenResize(screen, 160, 60));
    }
    ScreenFillBlank(screen);
    screen.row = 0;
    ComposeScreenLayout(screen, snapshot);
    std::string text;
    for (int row = 0; row < screen.row; ++row) text.append(screen.cells + row * screen.width, screen.width) += '\n';
    return text;
}

// The frames leading up to a difference, for the failure message.
std::string RecentFrames(const std::vector<Frame>& frames, size_t last) {
    std::string text;
    char line[160];
    for (size_t k = last >= 8 ? last - 8 : 0; k <= last; ++k) {
        const RamMirror& r = frames[k].ram;
        std::snprintf(line, sizeof(line), "frame %zu: mode %u global %u level %u timer %u lives %u pause %u\n",
                      k, r.gameMode, r.globalFrame, r.levelFrame, r.timerFrame, r.lives, r.pauseFlag);
        text += line;
    }
    return text;
}

// Reads per frame, compared with two reads per frame. RunAhead: as the
// tracker thread reads while RetroArch runs two frames ahead: the RAM rests on
// each frame, and a read may land in the burst that ran it and the two frames
// after it.
enum class Reads { Once, OneToFour, RunAhead };

// The first difference between the play read twice per frame and read
// `reads` per frame: "" when there is none.
std::string FirstDifference(const std::vector<Frame>& frames, Reads reads, uint32_t seed, Reached* reached) {
    std::mt19937 rng(seed ^ 0x5EED);
    TickBuilder twice;
    TickBuilder other;
    TrackerState previousState = TrackerState::SegaLogo;
    for (size_t i = 0; i < frames.size(); ++i) {
        twice.game = frames[i].ram;
        other.game = frames[i].ram;
        twice.Sample(2);
        const int times = reads == Reads::Once ? 1 : std::uniform_int_distribution<int>(1, 4)(rng);
        if (reads == Reads::RunAhead) {
            // Now and then a read lands in the burst that runs frame i, then
            // the frames ahead of it, before the emulator rests on frame i.
            other.now += other.framePeriod;
            const size_t burst = std::uniform_int_distribution<size_t>(0, 3)(rng);
            if (burst > 0 && i > 0) {
                other.game = frames[std::min(i + burst - 1, frames.size() - 1)].ram;
                other.Read();
            }
            other.game = frames[i].ram;
            other.Read(times);
        } else {
            other.Sample(times);
        }

        if (other.watch.held) continue;   // a read held: compared once it is taken
        std::string difference = StatsDifferences(twice.stats(), other.stats());
        if (difference.empty() && frames[i].lastOfMode && ScreenText(twice.snapshot) != ScreenText(other.snapshot)) {
            difference = "the screen:\n" + ScreenText(twice.snapshot) + "against:\n" + ScreenText(other.snapshot);
        }
        if (!difference.empty()) {
            return "after frame " + std::to_string(i) + " (twice != " + std::to_string(times) + " reads):\n" +
                   difference + RecentFrames(frames, i);
        }
        if (reached != nullptr) {
            reached->samples += 2 + static_cast<uint64_t>(times);
            Count(*reached, frames[i], i + 1 == frames.size(), previousState, twice.stats());
        }
        previousState = twice.stats().trackerState;
    }
    return "";
}

constexpr uint32_t kGeneratedPlays = 200;

// Each stand-in scenario and the generated plays, read once and 1 to 4 times per frame.
const struct {
    const char* source;  // a scenario's file, or nullptr for the generated plays
    Reads reads;
} kCases[] = {
    {"playthrough.txt", Reads::Once},      {"playthrough.txt", Reads::OneToFour},
    {"sample.txt", Reads::Once},           {"sample.txt", Reads::OneToFour},
    {"switches.txt", Reads::Once},         {"switches.txt", Reads::OneToFour},
    {"signature_blink.txt", Reads::Once},  {"signature_blink.txt", Reads::OneToFour},
    {"restart_before.txt", Reads::Once},   {"restart_before.txt", Reads::OneToFour},
    {"restart_after.txt", Reads::Once},    {"restart_after.txt", Reads::OneToFour},
    {nullptr, Reads::Once},                {nullptr, Reads::OneToFour},
    {"playthrough.txt", Reads::RunAhead},  {"sample.txt", Reads::RunAhead},
    {"restart_after.txt", Reads::RunAhead}, {nullptr, Reads::RunAhead},
};

TEST(RepeatedSamples, AFrameReadOnceOrManyTimesLeavesTheSameStatisticsAndScreen) {
    Reached reached;
    for (const auto& c : kCases) {
        const char* reads = c.reads == Reads::Once        ? "once"
                            : c.reads == Reads::RunAhead ? "with two frames run ahead"
                                                         : "1 to 4 times";
        if (c.source != nullptr) {
            const std::vector<Frame> frames = ScenarioFrames(c.source);
            EXPECT_GT(frames.size(), 50u) << c.source;
            EXPECT_EQ(FirstDifference(frames, c.reads, 1, nullptr), "") << c.source << " read " << reads;
            continue;
        }
        uint32_t differing = 0;
        std::string first;
        for (uint32_t seed = 1; seed <= kGeneratedPlays; ++seed) {
            const std::string difference =
                FirstDifference(PlayGenerator(seed).Generate(60), c.reads, seed, c.reads == Reads::Once ? &reached : nullptr);
            if (difference.empty()) continue;
            if (differing++ == 0) first = "seed " + std::to_string(seed) + ", " + difference;
        }
        std::printf("generated plays read %s per frame: %u of %u differ from two reads per frame\n", reads,
                    differing, kGeneratedPlays);
        EXPECT_EQ(differing, 0u) << first;
    }
    EXPECT_GT(reached.pauses, 0u);
    EXPECT_GT(reached.deaths, 0u);
    EXPECT_GT(reached.lagFrames, 0u);
    EXPECT_GT(reached.records, 0u);
    EXPECT_GT(reached.levelEnds, 0u);
    EXPECT_GT(reached.attempts, 0u);
    EXPECT_GT(reached.perfect, 0u);
    EXPECT_GT(reached.hits, 0u);
    EXPECT_GT(reached.specialStages, 0u);
    std::printf("samples %llu, pauses %llu, deaths %llu, lag %llu, records %llu, level ends %llu, "
                "6-tap attempts %llu, perfect %llu, hits %llu, special stages %llu\n",
                (unsigned long long)reached.samples, (unsigned long long)reached.pauses,
                (unsigned long long)reached.deaths, (unsigned long long)reached.lagFrames,
                (unsigned long long)reached.records, (unsigned long long)reached.levelEnds,
                (unsigned long long)reached.attempts, (unsigned long long)reached.perfect,
                (unsigned long long)reached.hits, (unsigned long long)reached.specialStages);
}

}  // namespace

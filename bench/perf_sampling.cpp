// Sampling: the tracker thread as the program runs it, against a generated
// play-through at 60 frames a second that is full of one-frame events (a lag
// frame, a pause, a lag frame right before a pause, two pauses or two lag
// frames one frame apart). A tracker that misses a single frame miscounts.
// The figures: the run's statistics against the script's ground truth, the
// game frames that no decode saw, and the gaps between passes, measured on
// the tracker thread through its pass hook, against one frame (1/60 s).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "app/layout.h"
#include "app/screen_buffer.h"
#include "bench/frame_count.h"
#include "bench/perf.h"
#include "e2e/child_process.h"
#include "e2e/e2e_support.h"
#include "e2e/real/retroarch.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"
#include "tools/testrom/frame_stream.h"
#include "tracking/classifier.h"

namespace {

constexpr uint32_t kFps = 60;
constexpr uint32_t kCartridgeDoneMarker = kDoneMarkerAddress;   // vertical blanks played
constexpr double kFrameSeconds = 1.0 / kFps;

// Levels of the play-through: zone, act and their row of the level names.
struct Level {
    uint32_t zone;
    uint32_t act;
    uint32_t levelIndex;
};
constexpr Level kLevels[] = {{0, 0, 0}, {0, 1, 1}, {13, 0, 2}, {13, 1, 3}, {15, 0, 4}, {15, 1, 5}};
constexpr uint32_t kLevelCount = sizeof kLevels / sizeof kLevels[0];

// One block of play, two seconds. Lag and pause frames come alone or one
// frame apart: each is seen only by a pass that falls within its 16.7 ms.
struct BlockStep {
    const char* kind;
    uint32_t frames;
};
constexpr BlockStep kBlock[] = {
    {"run", 40}, {"lag", 1}, {"run", 1}, {"lag", 1},    // two lag frames one frame apart
    {"run", 30}, {"pause", 1}, {"run", 1}, {"pause", 1}, // two pauses one frame apart
    {"run", 20}, {"lag", 1}, {"pause", 1},               // a lag frame, then a pause
    {"run", 22},
};
constexpr uint32_t kIntroFrames = 120;     // Sega logo and title screen
constexpr uint32_t kTitleCardFrames = 30;  // before every level
constexpr uint32_t kResultsFrames = 60;    // after every level: the results object is shown
constexpr uint32_t kEndingFrames = 60;

uint32_t BlockFrames(const char* kind) {
    uint32_t frames = 0;
    for (const BlockStep& step : kBlock) {
        if (kind == nullptr || std::string(step.kind) == kind) frames += step.frames;
    }
    return frames;
}

// Where the time of one gap went, for the longest gaps: the work of the pass
// before it, and the waiting for a core (the thread was runnable but another
// task ran) and the involuntary switches of the tracker thread around it.
struct GapDetail {
    uint64_t gap;              // counter ticks from one pass start to the next
    uint64_t at;               // counter ticks since the first Connected pass
    uint64_t previousWork;     // counter ticks of the pass before the gap
    uint64_t runQueueWaitNs;   // from the end of that pass to the end of the next
    uint64_t involuntarySwitches;
};

// Gaps between the starts of consecutive Connected passes, and the game
// frames that the decodes saw; filled on the tracker thread, read after it ended.
struct PassTiming {
    static constexpr int kDetails = 5;
    GapDetail longest[kDetails];           // the longest gaps, longest first
    uint64_t firstStart;
    uint64_t previousEnd;
    uint64_t previousWaitNs;               // the thread's run-queue wait so far (schedstat)
    uint64_t previousSwitches;             // its involuntary context switches so far
    int schedstat;                         // /proc/thread-self/schedstat, opened on the tracker thread
    static constexpr int kBuckets = 500;   // 0.1 ms each; the last holds 50 ms and more
    uint64_t previousStart;                // counter ticks; 0 before the first Connected pass
    uint64_t passes;                       // Connected passes
    uint64_t longestGap;                   // counter ticks
    uint64_t gapsOverFrame;                // gaps of one frame or more
    uint64_t buckets[kBuckets];
    double ticksPerBucket;
    FrameCount frames;                     // frames no decode saw, by the bench and by the tracker
    uint64_t frameTicks;                   // counter ticks of one game frame
    std::atomic<uint64_t> observed;        // calls of the hook, so its start can be awaited
};

// Nanoseconds the calling thread has waited on a run queue (the second field
// of its schedstat), 0 where unknown.
uint64_t RunQueueWaitNs(int& fd) {
    if (fd < 0) fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t got = fd >= 0 ? ::pread(fd, text, sizeof text - 1, 0) : -1;
    if (got <= 0) return 0;
    text[got] = '\0';
    char* end = nullptr;
    std::strtoull(text, &end, 10);
    return std::strtoull(end, nullptr, 10);
}

uint64_t InvoluntarySwitches() {
    rusage usage{};
    return getrusage(RUSAGE_THREAD, &usage) == 0 ? static_cast<uint64_t>(usage.ru_nivcsw) : 0;
}

void KeepIfLongest(PassTiming& timing, const GapDetail& detail) {
    GapDetail* slot = std::min_element(std::begin(timing.longest), std::end(timing.longest),
                                       [](const GapDetail& a, const GapDetail& b) { return a.gap < b.gap; });
    if (detail.gap > slot->gap) *slot = detail;
}

void AfterPass(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot, const FrameWatch& watch) {
    PassTiming& timing = *static_cast<PassTiming*>(context);
    const uint64_t passEnd = ClockNow();
    const uint64_t waitNs = RunQueueWaitNs(timing.schedstat);
    const uint64_t switches = InvoluntarySwitches();
    if (!connected) {
        timing.previousStart = 0;
        return;
    }
    ++timing.passes;
    if (timing.previousStart != 0) {
        const uint64_t gap = passStart - timing.previousStart;
        timing.longestGap = std::max(timing.longestGap, gap);
        if (gap >= timing.frameTicks) ++timing.gapsOverFrame;
        const auto bucket = static_cast<uint64_t>(static_cast<double>(gap) / timing.ticksPerBucket);
        ++timing.buckets[std::min<uint64_t>(bucket, PassTiming::kBuckets - 1)];
        KeepIfLongest(timing, {gap, passStart - timing.firstStart, timing.previousEnd - timing.previousStart,
                               waitNs - timing.previousWaitNs, switches - timing.previousSwitches});
    } else {
        timing.firstStart = passStart;
    }
    timing.previousStart = passStart;
    timing.previousEnd = passEnd;
    timing.previousWaitNs = waitNs;
    timing.previousSwitches = switches;
    CountFrames(timing.frames, snapshot, watch);
}

// Milliseconds below which `share` of the gaps lie.
double GapPercentile(const PassTiming& timing, double share) { return GapPercentileMs(timing.buckets, PassTiming::kBuckets, share); }

double Milliseconds(uint64_t ticks) { return static_cast<double>(ticks) * 1e3 / static_cast<double>(ClockFrequency()); }

// The load averages, as /proc/loadavg has them.
std::string LoadAverages() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

int Compare(const char* what, int64_t seen, int64_t truth) {
    std::printf("  %-34s %8lld %8lld  %s\n", what, static_cast<long long>(seen), static_cast<long long>(truth),
                seen == truth ? "equal" : "DIFFERENT");
    return seen == truth ? 0 : 1;
}

// The shim's switch, when bench/tick_shim.cpp is preloaded: a thread that
// calls it with 1 keeps the precise sleep.
using ExemptCall = void (*)(int);
ExemptCall TickShimExempt() { return reinterpret_cast<ExemptCall>(dlsym(RTLD_DEFAULT, "TickShimExemptThisThread")); }

void KeepPreciseSleep() {
    if (ExemptCall exempt = TickShimExempt()) exempt(1);
}

// The baseline of the pass gaps, measured beside the tracker: a thread that
// does nothing but the tracker's 6 ms sleep, its longest gap between two
// wake-ups and when it happened. What the machine does to a sleeping thread
// (a late timer, a virtual CPU not scheduled) shows in both.
struct SleepFloor {
    std::atomic<bool> stop{false};
    uint64_t firstStart = 0;
    uint64_t longestGap = 0;   // counter ticks
    uint64_t longestAt = 0;    // counter ticks since the first wake-up
    uint64_t gapsOverFrame = 0;
    uint64_t frameTicks = 0;
};

void RunSleepFloor(SleepFloor& floor) {
    KeepPreciseSleep();
    uint64_t previous = ClockNow();
    floor.firstStart = previous;
    while (!floor.stop.load(std::memory_order_relaxed)) {
        ClockSleepMs(6);
        const uint64_t now = ClockNow();
        const uint64_t gap = now - previous;
        if (gap > floor.longestGap) {
            floor.longestGap = gap;
            floor.longestAt = now - floor.firstStart;
        }
        if (gap >= floor.frameTicks) ++floor.gapsOverFrame;
        previous = now;
    }
}

// The machine's steal time so far, in clock ticks (USER_HZ): the time its
// virtual CPUs were ready to run but the host ran something else.
uint64_t StealTicks() {
    std::ifstream file("/proc/stat");
    std::string cpu;
    uint64_t fields[8] = {};
    file >> cpu;
    for (uint64_t& field : fields) file >> field;
    return cpu == "cpu" ? fields[7] : 0;
}

// The 6 ms tracker's hook: its thread keeps the precise sleep from its first
// pass on, before its first sleep.
void AfterPassPrecise(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot,
                      const FrameWatch& watch) {
    PassTiming& timing = *static_cast<PassTiming*>(context);
    if (timing.observed.fetch_add(1, std::memory_order_release) == 0) KeepPreciseSleep();
    AfterPass(context, passStart, connected, snapshot, watch);
}

void AfterPassTicked(void* context, uint64_t passStart, bool connected, const GameSnapshot& snapshot,
                     const FrameWatch& watch) {
    static_cast<PassTiming*>(context)->observed.fetch_add(1, std::memory_order_release);
    AfterPass(context, passStart, connected, snapshot, watch);
}

std::unique_ptr<PassTiming> NewPassTiming() {
    auto timing = std::make_unique<PassTiming>();
    timing->schedstat = -1;
    timing->frameTicks = static_cast<uint64_t>(kFrameSeconds * static_cast<double>(ClockFrequency()));
    timing->ticksPerBucket = 1e-4 * static_cast<double>(ClockFrequency());
    return timing;
}

// Starts a tracker with its hook and waits until the hook has seen its first
// pass.
bool StartObserved(TrackerRun& tracker, PassTiming& timing, PassObserver observer) {
    tracker.Start(observer);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (timing.observed.load(std::memory_order_acquire) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One tracker's statistics against the script's, its frames unseen and its
// pass gaps. Returns the number of statistics that differ.
int ReportTracker(const TrackerStats& stats, PassTiming& timing, const SamplingScenario& scenario) {
    int differences = 0;
    uint32_t lagTruth = 0;
    uint32_t pauseTruth = 0;
    std::printf("  %-34s %8s %8s\n", "statistic", "tracker", "script");
    differences += Compare("records closed", stats.run.recordCount, static_cast<int64_t>(scenario.levels.size()));
    differences += Compare("tracker state (8: ending)", static_cast<int64_t>(stats.trackerState),
                           static_cast<int64_t>(TrackerState::Ending));
    for (size_t i = 0; i < scenario.levels.size(); ++i) {
        const LevelTruth& truth = scenario.levels[i];
        lagTruth += truth.lagFrames;
        pauseTruth += truth.pauses;
        if (i >= static_cast<size_t>(stats.run.recordCount) || i >= kLevelRecordCapacity) continue;
        const LevelRecord& record = stats.run.records[i];
        const std::string name = "level " + std::to_string(i + 1) + " ";
        differences += Compare((name + "index").c_str(), record.levelIndex, truth.levelIndex);
        differences += Compare((name + "lag frames").c_str(), record.counts.lagFrames, truth.lagFrames);
        differences += Compare((name + "pauses").c_str(), record.counts.pauses, truth.pauses);
        // The level's time in sixtieths, back from minutes, seconds and hundredths.
        const double sixtieths = (record.minutes * 60.0 + record.seconds) * 60.0 + record.centiseconds * 0.6;
        const int64_t timeSeen = std::llround(sixtieths);
        const bool whole = std::fabs(sixtieths - static_cast<double>(timeSeen)) < 0.001;
        differences += Compare((name + "time, sixtieths").c_str(), whole ? timeSeen : -1, truth.timerFrames);
    }
    differences += Compare("lag frames", stats.run.totals.lagFrames, lagTruth);
    differences += Compare("pauses", stats.run.totals.pauses, pauseTruth);
    // Not statistics: the caller weighs them. The tracker counts only the
    // frames while a game is tracked, not those of the logo and title.
    Compare("game frames no decode saw", static_cast<int64_t>(timing.frames.skipped), 0);
    std::printf("  %-34s %8llu %8llu  %s\n", "the same, as the tracker counts them",
                static_cast<unsigned long long>(timing.frames.counted),
                static_cast<unsigned long long>(timing.frames.skippedTracked),
                timing.frames.counted == timing.frames.skippedTracked ? "equal" : "DIFFERENT");

    std::printf("passes: %llu Connected; gap between pass starts: median %.1f ms, 99%% %.1f, 99.9%% %.1f, longest "
                "%.2f ms; %llu gaps of a frame or more\n",
                static_cast<unsigned long long>(timing.passes), GapPercentile(timing, 0.5),
                GapPercentile(timing, 0.99), GapPercentile(timing, 0.999), Milliseconds(timing.longestGap),
                static_cast<unsigned long long>(timing.gapsOverFrame));
    std::sort(std::begin(timing.longest), std::end(timing.longest),
              [](const GapDetail& a, const GapDetail& b) { return a.gap > b.gap; });
    std::printf("  longest gaps: %8s %10s %14s %18s %12s\n", "ms", "at s", "pass before ms", "run-queue wait ms",
                "preempted");
    for (const GapDetail& detail : timing.longest) {
        if (detail.gap == 0) continue;
        std::printf("  %14s %8.2f %10.1f %14.3f %18.2f %12llu\n", "", Milliseconds(detail.gap),
                    Milliseconds(detail.at) / 1e3, Milliseconds(detail.previousWork), detail.runQueueWaitNs / 1e6,
                    static_cast<unsigned long long>(detail.involuntarySwitches));
    }
    if (timing.schedstat >= 0) close(timing.schedstat);
    return differences;
}

// Whether RetroArch really runs ahead: it says so when the core can't, and
// otherwise shows it in its memory (a second copy of the core, or the global
// frame counter stepping back within a burst).
bool RunAheadOn(const RetroArch& retroarch, const SamplingOptions& options) {
    const bool refused = retroarch.LogTail(1 << 22).find("Run-Ahead unavailable") != std::string::npos;
    const bool seen = options.secondInstance ? retroarch.CoreCopies() == 2
                                             : retroarch.SeesCounterStepBack(std::chrono::seconds(10));
    if (refused || !seen) {
        std::fprintf(stderr, "RetroArch does not run ahead%s\n%s", refused ? "" : " (not seen in its memory)",
                     retroarch.LogTail().c_str());
        return false;
    }
    return true;
}

}  // namespace

bool TickShimLoaded() { return TickShimExempt() != nullptr; }

int RestartWithTickShim(char** argv) {
    setenv("LD_PRELOAD", RINGWATCH_TICK_SHIM, 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "could not run again with %s preloaded\n", RINGWATCH_TICK_SHIM);
    return 2;
}

SamplingScenario BuildSamplingScenario(uint32_t minutes) {
    const uint64_t wanted = uint64_t{minutes} * 60 * kFps;
    const uint64_t perLevel = (wanted - kIntroFrames - kEndingFrames) / kLevelCount;
    const uint64_t blockFrames = BlockFrames(nullptr);
    const uint64_t fixed = kTitleCardFrames + kResultsFrames;
    const uint32_t blocks = perLevel > fixed + blockFrames ? static_cast<uint32_t>((perLevel - fixed) / blockFrames) : 1;

    SamplingScenario scenario;
    std::string& text = scenario.text;
    text += "# Generated by ringwatch_perf sampling: " + std::to_string(kLevelCount) + " levels of " +
            std::to_string(blocks) + " two-second blocks at 60 frames a second.\n";
    text += "fps 60\n";
    text += "hold 60 gameMode=0 zone=0 act=0 lives=3 rings=0 collectedA=0 collectedB=0 debug=0 object5=0\n";
    text += "hold 60 gameMode=4\n";
    for (const Level& level : kLevels) {
        text += "hold " + std::to_string(kTitleCardFrames) + " gameMode=140 zone=" + std::to_string(level.zone) +
                " act=" + std::to_string(level.act) + " object5=0 levelFrame=0 timer=0:00:00\n";
        for (uint32_t block = 0; block < blocks; ++block) {
            for (size_t i = 0; i < sizeof kBlock / sizeof kBlock[0]; ++i) {
                text += std::string(kBlock[i].kind) + " " + std::to_string(kBlock[i].frames);
                if (block == 0 && i == 0) text += " gameMode=12";
                text += "\n";
            }
        }
        text += "hold " + std::to_string(kResultsFrames) + " object5=58\n";   // the results screen
        scenario.levels.push_back(
            {level.levelIndex, blocks * BlockFrames("run"), blocks * BlockFrames("lag"), blocks * BlockFrames("pause")});
    }
    text += "hold " + std::to_string(kEndingFrames) + " gameMode=32\n";
    scenario.frames = kIntroFrames + kLevelCount * (fixed + uint64_t{blocks} * blockFrames) + kEndingFrames;
    return scenario;
}

int RunSamplingFigures(const SamplingOptions& options) {
    const std::string others = ForeignEmulators();
    if (!others.empty()) {
        std::fprintf(stderr, "another retroarch.exe is running; sampling needs the machine to itself:\n%s",
                     others.c_str());
        return 2;
    }
    const SamplingScenario scenario = BuildSamplingScenario(options.minutes);
    char path[] = "/tmp/ringwatch-sampling-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || !WriteText(path, scenario.text)) {
        std::fprintf(stderr, "could not write the scenario\n");
        return 2;
    }
    close(fd);

    // With --tick a second tracker reads the same play beside the first, its
    // sleeps ending on 15.625 ms ticks; this thread and the baseline's keep
    // the precise sleep, as the first tracker does.
    const bool ticked = options.tick && TickShimExempt() != nullptr;
    if (options.tick && !ticked) {
        std::fprintf(stderr, "--tick: the tick shim is not preloaded\n");
        unlink(path);
        return 2;
    }
    KeepPreciseSleep();
    auto timing = NewPassTiming();
    auto tickTiming = NewPassTiming();

    Standin standin;
    std::unique_ptr<RetroArch> retroarch;
    Cartridge cartridge;
    TrackerRun tracker;
    TrackerRun tickTracker;
    if (options.real) {
        // The cartridge marks the vertical blanks it has played in a word of work RAM.
        if (!MakeCartridge(scenario.text, false, "sampling", &cartridge) || cartridge.endVblank > 0xFFFF) {
            std::fprintf(stderr, "no cartridge of the play-through (at most 65535 frames)\n");
            unlink(path);
            return 2;
        }
        retroarch = std::make_unique<RetroArch>(RINGWATCH_REAL_CORE);
        std::vector<std::string> settings;
        if (options.runAhead > 0) settings = RunAheadSettings(options.runAhead, options.secondInstance);
        if (!retroarch->Start(cartridge.path, settings)) {
            std::fprintf(stderr, "RetroArch did not start: %s\n", retroarch->error().c_str());
            unlink(path);
            return 2;
        }
        if (options.runAhead > 0 && !RunAheadOn(*retroarch, options)) {
            unlink(path);
            return 2;
        }
    } else if (!standin.Start({path})) {
        std::fprintf(stderr, "the stand-in did not start\n");
        unlink(path);
        return 2;
    }
    SleepFloor sleepFloor;
    sleepFloor.frameTicks = timing->frameTicks;
    std::thread sleeper(RunSleepFloor, std::ref(sleepFloor));
    const uint64_t stealBefore = StealTicks();
    if (!StartObserved(tracker, *timing, {AfterPassPrecise, timing.get()}) ||
        (ticked && !StartObserved(tickTracker, *tickTiming, {AfterPassTicked, tickTiming.get()}))) {
        std::fprintf(stderr, "a tracker thread did not start\n");
        unlink(path);
        return 2;
    }
    const double seconds = static_cast<double>(scenario.frames) / kFps;
    const std::string runAhead = options.runAhead == 0 ? ""
                                 : " running " + std::to_string(options.runAhead) + " frame" +
                                       (options.runAhead == 1 ? "" : "s") + " ahead" +
                                       (options.secondInstance ? " in a second instance" : " in one instance");
    std::printf("sampling: %llu frames at %u frames a second (%.0f s), %u levels, played by %s%s%s; load average %s\n",
                static_cast<unsigned long long>(scenario.frames), kFps, seconds, kLevelCount,
                options.real ? "the test cartridge in RetroArch" : "the stand-in", runAhead.c_str(),
                ticked ? ", read by two trackers at once (6 ms sleeps; sleeps on 15.625 ms ticks)" : "",
                LoadAverages().c_str());
    std::fflush(stdout);

    // The main thread's side, as the render loop does it at the default 5 Hz:
    // collect, then compose a 200x60 screen from the copy.
    ScreenBuffer screen{};
    ScreenResize(screen, 200, 60);
    auto copy = std::make_unique<GameSnapshot>();
    // RetroArch headless falls behind on a busy machine (53 to 57 frames a
    // second here) rather than catching up.
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::duration<double>((options.real ? seconds * 1.3 : seconds) + 60);
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        done = options.real ? retroarch->WaitForRamWord(kCartridgeDoneMarker, static_cast<uint16_t>(cartridge.endVblank),
                                                        std::chrono::milliseconds(200))
                            : standin.WaitForLine("done", std::chrono::milliseconds(200));
        if (ticked) tickTracker.Poll();
        if (tracker.Poll()) {
            *copy = tracker.snapshot();
            ScreenFillBlank(screen);
            screen.row = 0;
            ComposeScreenLayout(screen, *copy);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));   // the last frame decoded and published
    tracker.Poll();
    tracker.Stop();
    tickTracker.Poll();
    tickTracker.Stop();
    sleepFloor.stop = true;
    sleeper.join();
    const uint64_t stealTicks = StealTicks() - stealBefore;
    standin.Kill();
    retroarch.reset();
    unlink(path);
    delete[] screen.cells;
    if (!done) {
        std::fprintf(stderr, "the play-through did not end in time\n");
        return 2;
    }

    const double played = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("played in %.1f s, %.2f frames a second; load average at the end %s\n", played,
                static_cast<double>(scenario.frames) / played, LoadAverages().c_str());
    std::printf("-- the tracker as the program runs it (6 ms sleeps)\n");
    const int differences = ReportTracker(tracker.snapshot().stats, *timing, scenario);
    const double longest = Milliseconds(timing->longestGap);
    const double frameMs = kFrameSeconds * 1e3;
    const bool gapMet = longest < frameMs;
    int tickDifferences = 0;
    if (ticked) {
        std::printf("-- beside it, a tracker whose every sleep ends on a 15.625 ms tick (Windows' default)\n");
        tickDifferences = ReportTracker(tickTracker.snapshot().stats, *tickTiming, scenario);
    }
    const double floorLongest = Milliseconds(sleepFloor.longestGap);
    std::printf("baseline, at the same time: a thread that only sleeps 6 ms a pass: longest gap %.2f ms at %.1f s, "
                "%llu gaps of a frame or more; the tracker's longest / the baseline's: %.3f\n",
                floorLongest, Milliseconds(sleepFloor.longestAt) / 1e3,
                static_cast<unsigned long long>(sleepFloor.gapsOverFrame), longest / floorLongest);
    std::printf("steal time during the run (virtual CPUs ready but not run by the host): %.2f s\n",
                static_cast<double>(stealTicks) / static_cast<double>(sysconf(_SC_CLK_TCK)));
    std::printf("longest gap / frame (%.2f ms): %.3f: %s\n", frameMs, longest / frameMs, gapMet ? "met" : "MISSED");
    // The play-through has no jump in it: a line about one is a look back or
    // a read racing the emulator taken for a jump.
    uint32_t jumps = 0;
    for (const Message& message : tracker.messages()) {
        if (message.text.rfind("State loaded", 0) == 0 || message.text.rfind("Rewound", 0) == 0) {
            if (++jumps <= 5) std::printf("  said: %s\n", message.text.c_str());
        }
    }
    std::printf("lines about jumps (a state loaded, a rewind): %u, target 0: %s\n", jumps, jumps == 0 ? "met" : "MISSED");
    const bool truthMet = differences == 0 && timing->frames.skipped == 0 && jumps == 0;
    std::printf("statistics equal the script's ground truth: %s\n", truthMet ? "met" : "MISSED");
    // The summary: frames unseen by the tracker's own count (while a game is
    // tracked) and by the bench's (all, and while tracked), in one table.
    std::printf("\n%-36s %12s %18s %12s %11s %11s\n", "sleeps, same play, same time", "unseen: own",
                "bench: all/tracked", "stats diff", "period p50", "period p99");
    const auto row = [](const char* what, const PassTiming& t, int diff) {
        std::printf("%-36s %12llu %9llu/%-8llu %12d %8.1f ms %8.1f ms\n", what,
                    static_cast<unsigned long long>(t.frames.counted), static_cast<unsigned long long>(t.frames.skipped),
                    static_cast<unsigned long long>(t.frames.skippedTracked), diff, GapPercentile(t, 0.5),
                    GapPercentile(t, 0.99));
    };
    row("6 ms, as the program sleeps", *timing, differences);
    if (ticked) row("6 ms rounded up to 15.625 ms ticks", *tickTiming, tickDifferences);
    return truthMet && gapMet ? 0 : 1;
}

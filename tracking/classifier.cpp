#include "tracking/classifier.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "emulator/game_variables.h"
#include "tracking/level_records.h"
#include "tracking/spindash_stats.h"

namespace {

// A level end is looked for only after this many passes on which exactly one
// of the level frame counter and the timer moved: the results screen runs the
// level frame counter with the timer stopped.
constexpr int32_t kLevelEndSearchAfter = 10;

// The end check: a pass that leaves the state at "level end" with the record
// still open closes it.
void EndCheck(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    if (stats.trackerState == TrackerState::LevelEnd && !stats.latches.levelClosed) CloseLevelRecord(snapshot);
}

bool ResultsObjectPresent(const RamMirror& ram) {
    const uint32_t count = std::min<uint32_t>(ram.objectCount, kObjectIdsSampled);
    for (uint32_t i = 0; i < count; ++i) {
        if (ram.objectIds[i] == kResultsObjectId) return true;
    }
    return false;
}

bool StartPressPending(const RamMirror& ram) {
    return ((ram.p1Pressed | ram.p2Pressed) & kStartButton) != 0;
}

// The lag, active and level-end steps of a new frame. `stillIsLag`: whether a
// frame on which neither level counter moved is a lag frame; `timerStepDue`:
// the frame's timer step is still to come (ClassifyFrame).
void FrameProgress(GameSnapshot& snapshot, const RamMirror& last, bool stillIsLag, bool timerStepDue) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;

    const bool levelFrameMoved = ram.levelFrame != last.levelFrame;
    const bool timerMoved = ram.timerFrame != last.timerFrame || timerStepDue;
    if (!levelFrameMoved && !timerMoved) {
        if (stillIsLag) ++stats.run.totals.lagFrames;  // the console showed a frame the game did not finish
        return;
    }
    if (stats.trackerState == TrackerState::Death) return;

    if (levelFrameMoved && timerMoved) {
        stats.latches.levelClosed = 0;
        stats.latches.levelEndTicks = 0;
        stats.trackerState = TrackerState::LevelActive;
        stats.latches.specialStageSeen = 0;
        ActiveTickStatistics(snapshot, last);
        return;
    }
    const int32_t before = stats.latches.levelEndTicks;
    if (before < std::numeric_limits<int32_t>::max()) stats.latches.levelEndTicks = before + 1;
    if (before >= kLevelEndSearchAfter && !stats.latches.levelEndSeen && ram.objectCount > 0 &&
        ResultsObjectPresent(ram)) {
        stats.trackerState = TrackerState::LevelEnd;
        stats.latches.levelEndSeen = 1;
    }
}

// The pause, lag, active and level-end steps of a level pass, up to the death
// check.
void LevelProgress(GameSnapshot& snapshot, const RamMirror& last, bool timerStepDue) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    const bool newFrame = ram.globalFrame > last.globalFrame;

    if (ram.pauseFlag) {
        if (!stats.latches.pauseLatch) {
            ++stats.run.totals.pauses;
            stats.latches.pauseLatch = 1;
            // The game pauses at the top of its main loop, once the frame
            // before the pause has run, on the Start press its vertical blank
            // read: a read may see that frame only with the flag already set.
            // A level counter that moved since the last read says a frame
            // before the pause ran. Neither moved is a lag frame only while
            // the press is still there: the first paused vertical blank reads
            // the controller again, and from then on the frame may as well be
            // the first paused one.
            if (newFrame) FrameProgress(snapshot, last, StartPressPending(ram), timerStepDue);
        }
        // A death stays a death until the pre-level passes account it. Shown as
        // paused, it would run on as a level whose record the pre-level passes
        // close instead; and the pass after a death on a paused frame sees that
        // frame again, still paused.
        if (stats.trackerState != TrackerState::Death) stats.trackerState = TrackerState::Paused;
        return;
    }
    // The game leaves its pause in the main loop, after the vertical blank of
    // the frame on which Start was pressed has already counted that frame
    // (the pause loop waits for it): the first new frame seen without the
    // pause flag may have neither level counter moved and is no lag.
    const bool resumed = stats.latches.pauseLatch != 0;
    stats.latches.pauseLatch = 0;

    // Several passes per game frame: only a pass that sees a new frame counts.
    if (newFrame) FrameProgress(snapshot, last, !resumed, timerStepDue);
}

// Game mode 12.
void LevelTick(GameSnapshot& snapshot, const RamMirror& last, bool timerStepDue) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;

    stats.levelIndex = LevelIndexFor(ram.zone, ram.act);

    if (stats.trackerState == TrackerState::PostDeathTransition) {
        stats.trackerState = TrackerState::LevelActive;
        AccountRestart(snapshot);
    }

    LevelProgress(snapshot, last, timerStepDue);

    // A lives drop is noticed on every pass, paused or not.
    if (static_cast<int32_t>(ram.lives) < static_cast<int32_t>(last.lives)) {
        stats.trackerState = TrackerState::Death;
        ++stats.run.totals.deaths;
        return;
    }
    EndCheck(snapshot);
}

// Game mode 140: the title card and loading before a level runs.
void PreLevelTick(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    switch (stats.trackerState) {
        case TrackerState::PostDeathTransition:
        case TrackerState::ContinueScreen:
        case TrackerState::GameStarting:
            return;
        case TrackerState::SegaLogo:
        case TrackerState::LevelSelect:
            stats.trackerState = TrackerState::GameStarting;
            return;
        case TrackerState::Death:
            stats.trackerState = TrackerState::PostDeathTransition;
            AccountDeathTime(snapshot);
            return;
        default:
            break;
    }
    if (!stats.latches.levelClosed) {
        stats.trackerState = TrackerState::LevelEnd;
        EndCheck(snapshot);
        return;
    }
    stats.trackerState = TrackerState::LevelTransition;
    stats.latches.levelEndSeen = 0;
    // Runs on every pre-level pass, so the record keeps the totals of the last one.
    const bool currentClosed = stats.run.recordCount >= 0 && stats.run.recordCount < kLevelRecordCapacity &&
                               stats.run.records[stats.run.recordCount].closed;
    if (!currentClosed) OpenLevelRecord(snapshot);
}

// Game mode 16.
void SpecialStageTick(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;

    // A counted pause is released only once the pause flag is clear and the
    // global frame counter has moved past the frame on which it was counted.
    if (!stats.latches.pauseLatch && ram.pauseFlag) {
        ++stats.run.totals.pauses;
        stats.latches.pauseLatch = 1;
        stats.latches.specialPauseStamp = ram.globalFrame;
    } else if (stats.latches.specialPauseStamp < ram.globalFrame && !ram.pauseFlag) {
        stats.latches.pauseLatch = 0;
        stats.latches.specialPauseStamp = 0;
    }

    if (!stats.latches.specialStageSeen) {
        stats.trackerState = TrackerState::SpecialStage;
        AccountSpecialStageEntry(snapshot);
    }
    stats.latches.specialStageSeen = 1;

    EndCheck(snapshot);
}

// One frame, snapshot.ram, after `last`, as the rules take it.
void ClassifyRead(GameSnapshot& snapshot, const RamMirror& last, bool timerStepDue) {
    TrackerStats& stats = snapshot.stats;
    switch (snapshot.ram.gameMode) {
        case kModeSegaLogo:
        case kModeTitle:
            // The statistics are reset on every such pass; the first of them
            // begins a new play-through.
            if (stats.trackerState != TrackerState::SegaLogo) ++stats.runNumber;
            stats.trackerState = TrackerState::SegaLogo;
            ResetStatistics(snapshot);
            // A reset during a level's results leaves the end seen; the next
            // level's results must be looked for again.
            stats.latches.levelEndSeen = 0;
            return;
        case kModeLevel:
            LevelTick(snapshot, last, timerStepDue);
            return;
        case kModeSpecialStage:
            SpecialStageTick(snapshot);
            return;
        case kModeContinue:
            stats.trackerState = TrackerState::ContinueScreen;
            return;
        case kModeEnding:
            if (stats.latches.levelClosed) {
                stats.trackerState = TrackerState::Ending;
                return;
            }
            stats.trackerState = TrackerState::LevelEnd;
            EndCheck(snapshot);
            return;
        case kModeOptions:
            stats.trackerState = TrackerState::OptionsMenu;
            return;
        case kModeLevelSelect:
            stats.trackerState = TrackerState::LevelSelect;
            return;
        case kModePreLevel:
            PreLevelTick(snapshot);
            return;
        default:
            stats.trackerState = TrackerState::Other;
            return;
    }
}

// Reads of one frame that can each still move the state: a pre-level frame
// closes the open record, then opens the next; an ending frame closes the last
// record, then shows the ending. The second read settles it (a third finds
// nothing left to do); the bound only guards against a loop.
constexpr int kSettleReadsMax = 4;

}  // namespace

void ClassifyFrame(GameSnapshot& snapshot, const RamMirror& last, bool timerStepDue) {
    TrackerState before = snapshot.stats.trackerState;
    ClassifyRead(snapshot, last, timerStepDue);

    // Some steps of the rules finish only on a second read of the same frame,
    // which a tracker slowed down (a coarse timer, a busy machine, fast-
    // forward) may never make. Those reads are made here, so a frame read once
    // leaves what a frame read many times leaves: the frame seen again, for as
    // long as that moves the state.
    for (int read = 1; read < kSettleReadsMax && snapshot.stats.trackerState != before; ++read) {
        before = snapshot.stats.trackerState;
        ClassifyRead(snapshot, snapshot.ram, false);
    }
}

TrackerFacts FactsOf(const TrackerStats& stats) {
    return {.trackingActive = TrackingActive(stats.trackerState),
            .levelRuns = stats.trackerState == TrackerState::LevelActive && stats.latches.levelEndTicks == 0};
}

void TakeFrame(GameSnapshot& snapshot, const TimelineFrame& frame) {
    const RamMirror& last = *frame.last;   // kept by the timeline: snapshot.ram is overwritten next
    snapshot.ram = *frame.ram;
    snapshot.stats.run.totals.framesUnseen += frame.unseen;   // the open record takes its share at its close
    // Both readings are zero-extended 16-bit values; going back (a restart, or
    // the wrap from 65535 to 0) gives a negative step, kept modulo 2^32. A
    // landing is the frame seen again.
    const uint32_t step = frame.landed ? 0 : snapshot.ram.levelFrame - last.levelFrame;
    UpdateHoldCounters(static_cast<uint8_t>(snapshot.ram.p1Buttons), step, snapshot.holds.p1Frames);
    UpdateHoldCounters(static_cast<uint8_t>(snapshot.ram.p2Buttons), step, snapshot.holds.p2Frames);
    if (frame.landed) {
        TakeStateFromRam(snapshot);
    } else {
        ClassifyFrame(snapshot, last, frame.timerStepDue);
    }
}

void UpdateHoldCounters(uint8_t buttons, uint32_t levelFrameStep, uint32_t counters[kButtonCount]) {
    for (int k = 0; k < kButtonCount; ++k) {
        counters[k] = (buttons >> k & 1u) != 0 ? counters[k] + levelFrameStep : 0;
    }
}

namespace {

// A level is being played and its record is open: what a jump into the same
// level leaves open. Every state of playing a level but the transition into
// the next one and the continue screen; "game starting" is a level's title
// card, its record opened (or empty, after a reset).
bool LevelRecordOpen(const TrackerStats& stats) {
    const TrackerState state = stats.trackerState;
    return !stats.latches.levelClosed && TrackingActive(state) && state != TrackerState::LevelTransition &&
           state != TrackerState::ContinueScreen;
}

}  // namespace

void TakeStateFromRam(GameSnapshot& snapshot) {
    TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    const uint32_t mode = ram.gameMode;
    if (mode == kModeSegaLogo || mode == kModeTitle) {
        ClassifyFrame(snapshot, snapshot.ram);  // the game's own reset
        return;
    }
    const bool inLevel = mode == kModeLevel || mode == kModePreLevel || mode == kModeSpecialStage;
    const uint32_t landing = LevelIndexFor(ram.zone, ram.act);
    stats.latches.levelEndSeen = 0;
    stats.latches.levelEndTicks = 0;
    stats.latches.pauseLatch = ram.pauseFlag;

    if (inLevel && LevelRecordOpen(stats) && landing == stats.levelIndex) {
        // The same level: its record stays open.
        ++stats.run.totals.stateLoads;
        if (mode == kModeLevel) {
            // A restart the game had begun after a death is taken as done.
            if (stats.trackerState == TrackerState::PostDeathTransition) AccountRestart(snapshot);
            stats.trackerState = ram.pauseFlag ? TrackerState::Paused : TrackerState::LevelActive;
        } else if (mode == kModePreLevel) {
            // Its title card: the level runs from there as from a start of its
            // own, and a death's restart still to come keeps its account.
            if (stats.trackerState != TrackerState::PostDeathTransition) stats.trackerState = TrackerState::GameStarting;
        }
    } else {
        // Another level, a finished one again, or no level: the record that
        // was open is left, and a new one opens where the game now is.
        LeaveLevelRecord(snapshot);
        OpenLevelRecord(snapshot);
        ++stats.run.totals.stateLoads;   // after the opening: the new record counts the jump that opened it
        if (inLevel) {
            stats.levelIndex = landing;
            stats.latches.levelClosed = 0;
            stats.latches.specialStageSeen = 0;
            stats.trackerState = mode == kModePreLevel ? TrackerState::GameStarting
                                 : ram.pauseFlag       ? TrackerState::Paused
                                                       : TrackerState::LevelActive;
        } else {
            stats.latches.levelClosed = 1;   // nothing to close: the ending shows, menus start afresh
        }
    }
    if (mode == kModeLevel && ResultsObjectPresent(ram)) {
        // Landed on the results: the next results frame ends the level.
        stats.latches.levelEndTicks = kLevelEndSearchAfter;
    }
    if (mode != kModeLevel && mode != kModePreLevel) ClassifyFrame(snapshot, snapshot.ram);
}

ReadKind TrackRead(FrameWatch& watch, GameSnapshot& snapshot, const RamMirror& read, uint64_t now) {
    TimelineStep step;
    do {
        step = StepTimeline(watch, read, now, FactsOf(snapshot.stats));
        if (step.take) TakeFrame(snapshot, step.frame);
    } while (step.again);
    return step.kind;
}

void TakeHeldRead(FrameWatch& watch, GameSnapshot& snapshot) {
    const TimelineStep step = ReleaseHeldRead(watch, FactsOf(snapshot.stats));
    if (step.take) TakeFrame(snapshot, step.frame);
}

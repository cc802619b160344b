#include "tracking/timeline.h"

#include <cmath>
#include <cstdio>

#include "tracking/frames_unseen.h"
#include "tracking/game_time.h"
#include "tracking/level_names.h"
#include "tracking/tracker_states.h"

namespace {

GamePlace PlaceOf(const RamMirror& ram) {
    return {ram.gameMode, LevelIndexFor(ram.zone, ram.act), ram.timerMinutes, ram.timerSeconds, ram.timerFrame};
}

uint64_t TimerSixtieths(const RamMirror& ram) {
    return (uint64_t{ram.timerMinutes} * 60 + ram.timerSeconds) * 60 + ram.timerFrame;
}

// Frames the game can run at its own pace in `seconds`, with the margin that
// unseen frames are counted within.
double PaceFrames(double seconds) {
    return (seconds > 0.0 ? seconds : 0.0) * kGameFramesPerSecond * kGameFrameRateMargin + kGameFrameSlack;
}

// Frames past the lowest point of a jump that say the game runs on from it.
constexpr uint32_t kLandedFrames = 2;

// `frame` is a look back from `at`, `at` itself, or at most `pace` frames on.
bool Near(uint32_t frame, uint32_t at, double pace) {
    if (frame <= at) return at - frame <= kLookBackFramesMax;
    return static_cast<double>(frame - at) <= pace;
}

// An advance beyond the game's pace that fast-forward explains: the game is
// where it was, its level frame counter and timer moved on by no more than the
// global counter; or it moved on to another place at a rate a core can run.
bool FastForwardExplains(const RamMirror& before, const RamMirror& now, uint32_t advance, double seconds) {
    if (static_cast<double>(advance) <= (seconds > 0.0 ? seconds : 0.0) * kGameFramesPerSecond * kFastForwardRateMax +
                                            kGameFrameSlack) {
        return true;
    }
    if (now.gameMode != before.gameMode || now.zone != before.zone || now.act != before.act) return false;
    const uint32_t levelStep = (now.levelFrame - before.levelFrame) & 0xFFFFu;  // a 16-bit counter
    const uint64_t timerBefore = TimerSixtieths(before);
    const uint64_t timerNow = TimerSixtieths(now);
    return levelStep <= advance && timerNow >= timerBefore && timerNow - timerBefore <= advance;
}

void Take(FrameWatch& watch, const RamMirror& read, uint64_t now) {
    watch.globalFrame = read.globalFrame;
    watch.stamp = now;
    watch.takenAt ^= 1;
    watch.taken[watch.takenAt] = read;
}

// The read is taken: it is the frame to take, with `unseen` frames before it.
TimelineStep Taken(ReadKind kind, FrameWatch& watch, uint32_t unseen = 0, bool landed = false,
                   bool timerStepDue = false) {
    return {.kind = kind,
            .take = 1,
            .again = 0,
            .frame = {.ram = &TakenFrame(watch),
                      .last = landed ? &TakenFrame(watch) : &FrameTakenBefore(watch),
                      .unseen = unseen,
                      .landed = static_cast<uint8_t>(landed),
                      .timerStepDue = static_cast<uint8_t>(timerStepDue)}};
}

TimelineStep Nothing(ReadKind kind) { return {.kind = kind, .take = 0, .again = 0, .frame = {}}; }

void TellJump(FrameWatch& watch, const GamePlace& to) {
    if (watch.jumpsUntold == 0) watch.toldFrom = watch.jumpFrom;
    watch.toldTo = to;
    // A rewind steps back a frame at a time, and on further than a run-ahead
    // burst looks back.
    if (watch.jumpFirst - watch.jumpLanding > kLookBackFramesMax) watch.jumpsRewind = 1;
    ++watch.jumpsUntold;
}

// A jump settles on this read: the game runs on from where it landed. The
// landing is taken as the RAM shows it, as the same frame seen again: nothing
// is counted between the last frame taken and the landing.
TimelineStep Land(FrameWatch& watch, const RamMirror& read, uint64_t now) {
    watch.jumpPending = 0;
    if (read.gameMode != kModeSegaLogo && read.gameMode != kModeTitle) TellJump(watch, PlaceOf(read));
    Take(watch, read, now);
    return Taken(ReadKind::Landed, watch, 0, true);
}

// How far the main loop and the interrupts have written a frame. The vertical
// blank steps the timer and, as its last act, the global frame counter; the
// main loop steps the level frame counter as its first. In a level with water
// the timer is left to the horizontal interrupt at the water line, part-way
// down the screen. A read racing those writes sees a frame not yet written
// far enough to classify.

// A read of the frame after `taken` with neither level counter moved (a lag
// frame, or the main loop yet to run), or, while the level runs, one of them
// alone (the results screen, the main loop or the water line yet to come):
// held, and dropped if the next read is of the same frame.
bool MayBeUnfinished(const RamMirror& taken, const RamMirror& now, const TrackerFacts& facts) {
    if (now.gameMode != kModeLevel || now.pauseFlag) return false;
    const bool levelMoved = now.levelFrame != taken.levelFrame;
    const bool timerMoved = now.timerFrame != taken.timerFrame;
    if (!levelMoved && !timerMoved) return true;
    return levelMoved != timerMoved && facts.levelRuns;
}

// A read of the same frame as `before` with the timer moved and the level frame
// counter not, outside a level with water: the next frame's vertical blank,
// before its step of the global frame counter. Ignored: the read of the next
// frame sees the step.
bool NextFrameBegun(const RamMirror& before, const RamMirror& now) {
    return now.gameMode == kModeLevel && !TimerAtWaterLine(now.zone, now.act) &&
           now.globalFrame == before.globalFrame && now.timerFrame != before.timerFrame &&
           now.levelFrame == before.levelFrame;
}

// A frame taken from a read that came after the next frame's vertical blank
// stepped the timer and before it stepped the global frame counter, outside a
// level with water: the emulator ran the whole frame between two reads, so
// this was its only read and NextFrameBegun had nothing to compare it with.
// The game steps the timer once a frame; this one moved two sixtieths over
// one global frame since `before`, the frame taken before it. The next
// frame's vertical blank has then been seen: that frame is no lag frame,
// whose vertical blank steps only the global counter.
bool NextTimerStepTaken(const RamMirror& taken, const RamMirror& before) {
    return taken.gameMode == kModeLevel && !taken.pauseFlag && !TimerAtWaterLine(taken.zone, taken.act) &&
           taken.globalFrame - before.globalFrame == 1 && (taken.timerFrame + 60 - before.timerFrame) % 60 == 2;
}

// A read of the frame held that shows the same values, kStoppedFrameSeconds
// or more after the frame was first seen: the emulator stopped on that frame,
// and its writes are done.
bool StoodStill(const FrameWatch& watch, const RamMirror& now, uint64_t stamp) {
    if (static_cast<double>(stamp - watch.heldSince) < kStoppedFrameSeconds * watch.counterFrequency) return false;
    return watch.heldRam == now;
}

// A read that follows the last frame taken: play, fast-forward, a look back or
// the start of a jump. With `mayHold`, a read two frames or more ahead waits
// for the next (in a run-ahead burst the emulator shows the frames ahead for a
// moment and then rests on the real frame again), and so does a new frame
// that may not be written far enough to classify. `stopped`: the read is of a
// frame the emulator stopped on (StoodStill), taken as it stands.
TimelineStep Follow(FrameWatch& watch, const RamMirror& read, uint64_t now, const TrackerFacts& facts, bool mayHold,
                    bool stopped = false) {
    const RamMirror& last = TakenFrame(watch);
    const uint32_t frame = read.globalFrame;
    const double seconds = static_cast<double>(now - watch.stamp) / watch.counterFrequency;
    ReadKind kind = ReadKind::Play;
    if (frame < watch.globalFrame) {
        if (watch.globalFrame - frame <= kLookBackFramesMax) return Nothing(ReadKind::LookBack);
        kind = ReadKind::Jump;
    } else if (static_cast<double>(frame - watch.globalFrame) > PaceFrames(seconds)) {
        kind = FastForwardExplains(last, read, frame - watch.globalFrame, seconds) ? ReadKind::FastForward
                                                                                 : ReadKind::Jump;
    }
    if (kind == ReadKind::Jump) {
        watch.jumpPending = 1;
        watch.jumpLanding = frame;
        watch.jumpFirst = frame;
        watch.jumpFrom = PlaceOf(last);
        return Nothing(kind);
    }

    const uint32_t advance = frame - watch.globalFrame;
    if (advance == 0 && NextFrameBegun(last, read)) return Nothing(ReadKind::Unfinished);
    const bool unfinished = advance > 0 && (watch.lastRead || MayBeUnfinished(last, read, facts));
    if (mayHold && (advance > 1 || unfinished)) {
        watch.held = 1;
        watch.heldUnfinished = unfinished;
        watch.heldRam = read;
        watch.heldAt = now;
        watch.heldSince = now;
        return Nothing(ReadKind::Held);
    }
    uint32_t unseen = 0;
    if (advance > 1 && facts.trackingActive) {
        unseen = advance - 1;
        (kind == ReadKind::FastForward ? watch.unwarnedFast : watch.unwarned) += unseen;
    }
    // Stopped before the water line, in a level whose timer the line steps:
    // the frame ran, and its timer step comes when the emulator goes on.
    const bool timerStepDue = stopped && unfinished && TimerAtWaterLine(read.zone, read.act) &&
                              read.levelFrame != last.levelFrame && read.timerFrame == last.timerFrame;
    Take(watch, read, now);
    return Taken(kind, watch, unseen, false, timerStepDue);
}

// The read held is taken, at the stamp of its last read.
TimelineStep TakeHeld(FrameWatch& watch, const TrackerFacts& facts, bool stopped = false) {
    watch.held = 0;
    return Follow(watch, watch.heldRam, watch.heldAt, facts, false, stopped);
}

TimelineStep WatchJump(FrameWatch& watch, const RamMirror& read, uint64_t now, const TrackerFacts& facts) {
    const uint32_t frame = read.globalFrame;
    const double pace = PaceFrames(static_cast<double>(now - watch.stamp) / watch.counterFrequency);
    // Back where the game was before: the read that looked like a jump raced
    // something (a load half copied). The jump is dropped and this read
    // follows the last frame taken.
    if (Near(frame, watch.globalFrame, pace) && !Near(frame, watch.jumpLanding, pace)) {
        watch.jumpPending = 0;
        return Follow(watch, read, now, facts, true);
    }
    // Further back: a rewind stepping on back, or a run-ahead burst looking
    // back from where the game landed. A rewind's step loads a frame and runs
    // it, so one frame on is still the rewind: the game runs on from where it
    // landed once it is two frames past it.
    if (frame < watch.jumpLanding) watch.jumpLanding = frame;
    if (frame < watch.jumpLanding + kLandedFrames) return Nothing(ReadKind::Jump);
    return Land(watch, read, now);
}

}  // namespace

TimelineStep ReleaseHeldRead(FrameWatch& watch, const TrackerFacts& facts) {
    if (!watch.held) return Nothing(ReadKind::Held);
    return TakeHeld(watch, facts);
}

TimelineStep StepTimeline(FrameWatch& watch, const RamMirror& read, uint64_t now, const TrackerFacts& facts) {
    if (!watch.chained) {
        watch.chained = 1;
        watch.jumpPending = 0;
        watch.held = 0;
        Take(watch, read, now);
        return Taken(ReadKind::First, watch);
    }
    if (watch.jumpPending) return WatchJump(watch, read, now, facts);
    if (!watch.held) return Follow(watch, read, now, facts, true);

    const uint32_t heldFrame = watch.heldRam.globalFrame;
    if (read.globalFrame == heldFrame && watch.heldUnfinished && NextFrameBegun(watch.heldRam, read)) {
        return Nothing(ReadKind::Unfinished);   // the read held stands for its frame
    }
    const RamMirror& taken = TakenFrame(watch);
    const bool readEarly =
        static_cast<double>(watch.heldAt - watch.heldSince) < kFrameReadSpanSeconds * watch.counterFrequency;
    // The frame after the one taken, its timer step already seen in that one
    // (NextTimerStepTaken) and neither level counter moved: read only before
    // its main loop ran.
    const bool mainLoopUnseen = heldFrame == watch.globalFrame + 1 &&
                                NextTimerStepTaken(taken, FrameTakenBefore(watch)) &&
                                watch.heldRam.levelFrame == taken.levelFrame &&
                                watch.heldRam.timerFrame == taken.timerFrame;
    if (read.globalFrame > heldFrame && watch.lastRead && (readEarly || mainLoopUnseen) &&
        MayBeUnfinished(taken, watch.heldRam, facts)) {
        // Read only right after it began, or only before its main loop ran,
        // not finished, in a frame that the emulator writes across its time,
        // and passed over: how the frame ended was not seen (a lag frame, or
        // the main loop yet to run). It counts as unseen, and this read
        // follows the last frame taken.
        watch.held = 0;
        return Follow(watch, read, now, facts, true);
    }
    const bool stopped = read.globalFrame == heldFrame && StoodStill(watch, read, now);
    if (read.globalFrame > heldFrame || (read.globalFrame == heldFrame && (!watch.heldUnfinished || stopped))) {
        // The game was there (the tracker was held up, or the emulator
        // fast-forwards, or the frame held was a lag frame): the read held is
        // taken, then this one follows it.
        TimelineStep step = TakeHeld(watch, facts, stopped);
        step.again = step.take;
        return step;
    }
    // The frames ahead of a run-ahead burst, or a frame read again further
    // written: the read held is dropped, and this one follows the last frame
    // taken. Held again, the frame keeps the stamp of its first read.
    const uint64_t since = watch.heldSince;
    watch.held = 0;
    const TimelineStep step = Follow(watch, read, now, facts, true);
    if (step.kind == ReadKind::Held && watch.heldRam.globalFrame == heldFrame) watch.heldSince = since;
    return step;
}

namespace {

// The screen a game mode shows, by the tracker state's name.
TrackerState ScreenState(uint32_t gameMode) {
    switch (gameMode) {
        case kModeSegaLogo: return TrackerState::SegaLogo;
        case kModeTitle: return TrackerState::TitleScreen;
        case kModeSpecialStage: return TrackerState::SpecialStage;
        case kModeContinue: return TrackerState::ContinueScreen;
        case kModeEnding: return TrackerState::Ending;
        case kModeOptions: return TrackerState::OptionsMenu;
        case kModeLevelSelect: return TrackerState::LevelSelect;
        default: return TrackerState::Other;
    }
}

void FormatPlace(const GamePlace& place, char* out, size_t size) {
    if (place.gameMode == kModeLevel || place.gameMode == kModePreLevel) {
        const int64_t sixtieths = (int64_t{place.timerMinutes} * 60 + place.timerSeconds) * 60 + place.timerFrame;
        char time[32];
        FormatHundredths(std::llround(TimerHundredths(sixtieths)), time, sizeof time);   // rounded, as the screen
        std::snprintf(out, size, "%s %s", LevelName(place.levelIndex), time);
        return;
    }
    std::snprintf(out, size, "%s", TrackerStateName(ScreenState(place.gameMode)));
}

// One line about unseen frames: `what` takes the count, " went" or "s went",
// and the period; what may be missing follows.
void SayUnseen(LogBuffer& log, uint64_t now, const char* what, unsigned frames) {
    char text[160];
    std::snprintf(text, sizeof text, what, frames, frames == 1 ? " went" : "s went",
                  static_cast<unsigned>(kUnseenWarningSeconds));
    LogAppend(log, now, "%sa lag frame, pause or spindash release in them may be missing.", text);
}

bool Due(uint8_t said, uint64_t saidAt, uint64_t now, double period, double frequency) {
    return !said || static_cast<double>(now - saidAt) >= period * frequency;
}

}  // namespace

void SayTimeline(FrameWatch& watch, LogBuffer& log, uint64_t now) {
    if (watch.jumpsUntold > 0 && Due(watch.jumpTold, watch.jumpToldAt, now, kJumpLineSeconds, watch.counterFrequency)) {
        char from[48];
        char to[48];
        FormatPlace(watch.toldFrom, from, sizeof from);
        FormatPlace(watch.toldTo, to, sizeof to);
        const char* what = watch.jumpsRewind ? "Rewound" : "State loaded";
        if (watch.jumpsUntold == 1) {
            LogAppend(log, now, "%s: %s -> %s", what, from, to);
        } else {
            LogAppend(log, now, "%s (%u times): %s -> %s", what, watch.jumpsUntold, from, to);
        }
        watch.jumpsUntold = 0;
        watch.jumpsRewind = 0;
        watch.jumpTold = 1;
        watch.jumpToldAt = now;
    }
    if ((watch.unwarned > 0 || watch.unwarnedFast > 0) &&
        Due(watch.warned, watch.warnedAt, now, kUnseenWarningSeconds, watch.counterFrequency)) {
        if (watch.unwarnedFast > 0) {
            SayUnseen(log, now, "Fast-forward: %u game frame%s by unseen in the last %u s; ", watch.unwarnedFast);
        }
        if (watch.unwarned > 0) {
            SayUnseen(log, now, "WARNING: %u game frame%s unseen in the last %u s (the machine was busy); ",
                      watch.unwarned);
        }
        watch.unwarned = 0;
        watch.unwarnedFast = 0;
        watch.warned = 1;
        watch.warnedAt = now;
    }
}

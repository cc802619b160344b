#include "livesplit/run_policy.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tracking/game_time.h"
#include "tracking/tracker_states.h"

// [SECTION] The commands

namespace {

bool AtTheLogo(TrackerState state) { return state == TrackerState::SegaLogo || state == TrackerState::TitleScreen; }

// Level ends among what closed since the last frame: each closed record but
// those closed on the way to a special stage; once the 21 records are used
// up, a level close seen by the tracker's flag alone.
int LevelEnds(const LiveSplitRun& run, const TrackerStats& stats) {
    const int32_t from = run.lastRecordCount < 0 ? 0 : run.lastRecordCount;
    const int32_t to = StoredRecordCount(stats);
    int ends = 0;
    for (int32_t i = from; i < to; ++i) {
        if (stats.run.records[i].closed && !stats.run.records[i].specialStage) ++ends;
    }
    if (to >= kLevelRecordCapacity && to == run.lastRecordCount && stats.latches.levelClosed && !run.lastLevelClosed &&
        !stats.latches.specialStageSeen)
        ++ends;
    return ends;
}

}  // namespace

int LiveSplitStep(LiveSplitRun& run, const GameSnapshot& snapshot, LiveSplitCommand* out, LiveSplitNote* note) {
    const TrackerStats& stats = snapshot.stats;
    const TrackerState state = stats.trackerState;
    *note = LiveSplitNote::None;
    int count = 0;
    auto add = [&](LiveSplitCommandKind kind, int64_t hundredths) {
        if (count < kLiveSplitStepCommands) out[count++] = LiveSplitCommand{kind, hundredths};
    };

    if (run.seen) {
        const bool practice = stats.run.totals.stateLoads > 0;
        if (AtTheLogo(state) && !AtTheLogo(run.lastState)) {
            if (run.started) add(LiveSplitCommandKind::Reset, 0);
            run.started = 0;
            run.driving = 0;
        }
        if (state == TrackerState::GameStarting && run.lastState != TrackerState::GameStarting && !practice &&
            stats.run.recordCount == 0) {
            add(LiveSplitCommandKind::Reset, 0);
            add(LiveSplitCommandKind::StartTimer, 0);
            add(LiveSplitCommandKind::SetGameTime, 0);
            run.driving = 1;
            run.started = 1;
            run.lastGameTime = 0;
        }
        if (run.driving && practice) {
            // A loaded state or a rewind: what LiveSplit holds is no run any more.
            run.driving = 0;
            *note = LiveSplitNote::Practice;
        }
        if (run.driving) {
            const int64_t time = RunGameHundredths(stats, snapshot.ram);
            const int ends = LevelEnds(run, stats);
            if (ends > 0 || time != run.lastGameTime) add(LiveSplitCommandKind::SetGameTime, time);
            for (int i = 0; i < ends; ++i) add(LiveSplitCommandKind::Split, 0);
            run.lastGameTime = time;
            // The last level's split was the run's end: the game's end follows its close.
            if (state == TrackerState::Ending) run.driving = 0;
        }
    }
    run.seen = 1;
    run.lastState = state;
    run.lastRecordCount = stats.run.recordCount;
    run.lastLevelClosed = stats.latches.levelClosed;
    return count;
}

size_t FormatLiveSplitCommand(const LiveSplitCommand& command, char* out, size_t size) {
    int length = 0;
    switch (command.kind) {
        case LiveSplitCommandKind::PauseGameTime:
            length = std::snprintf(out, size, "alwayspausegametime\r\n");
            break;
        case LiveSplitCommandKind::Reset:
            length = std::snprintf(out, size, "reset\r\n");
            break;
        case LiveSplitCommandKind::StartTimer:
            length = std::snprintf(out, size, "starttimer\r\n");
            break;
        case LiveSplitCommandKind::Split:
            length = std::snprintf(out, size, "split\r\n");
            break;
        case LiveSplitCommandKind::SetGameTime: {
            // LiveSplit reads [hours:]minutes:seconds[.fraction].
            const int64_t t = command.hundredths < 0 ? 0 : command.hundredths;
            length = std::snprintf(out, size, "setgametime %" PRId64 ":%02d:%02d.%02d\r\n", t / 360000,
                                   static_cast<int>(t / 6000 % 60), static_cast<int>(t / 100 % 60),
                                   static_cast<int>(t % 100));
            break;
        }
    }
    if (length < 0 || static_cast<size_t>(length) >= size) return 0;
    return static_cast<size_t>(length);
}

// [SECTION] The outgoing queue

bool LiveSplitQueuePush(LiveSplitQueue& queue, const LiveSplitCommand& command) {
    if (queue.count >= kLiveSplitQueueCapacity) {
        int32_t oldest = -1;
        for (int32_t i = 0; i < queue.count && oldest < 0; ++i) {
            const int32_t at = (queue.start + i) % kLiveSplitQueueCapacity;
            if (queue.commands[at].kind == LiveSplitCommandKind::SetGameTime) oldest = i;
        }
        if (oldest < 0) {
            if (command.kind != LiveSplitCommandKind::SetGameTime) return false;
            ++queue.gameTimesDropped;
            return true;
        }
        // Close the gap: the commands after it move one place towards the front.
        for (int32_t i = oldest; i + 1 < queue.count; ++i) {
            queue.commands[(queue.start + i) % kLiveSplitQueueCapacity] =
                queue.commands[(queue.start + i + 1) % kLiveSplitQueueCapacity];
        }
        --queue.count;
        ++queue.gameTimesDropped;
    }
    queue.commands[(queue.start + queue.count) % kLiveSplitQueueCapacity] = command;
    ++queue.count;
    return true;
}


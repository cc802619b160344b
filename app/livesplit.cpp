#include "app/livesplit.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

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

// [SECTION] The link

namespace {

void Disconnect(LiveSplitLink& link, uint64_t now) {
    // A start, a split or a reset that goes unsent leaves LiveSplit's run out of step with the game.
    for (int32_t i = 0; i < link.queue.count; ++i) {
        const LiveSplitCommand& command = link.queue.commands[(link.queue.start + i) % kLiveSplitQueueCapacity];
        if (command.kind != LiveSplitCommandKind::SetGameTime) link.inStep = 0;
    }
    if (link.lineSent < link.lineLength && std::strncmp(link.line, "setgametime", 11) != 0) link.inStep = 0;
    SocketClose(link.socket);
    link.socket = kSocketNone;
    link.phase = LiveSplitPhase::Idle;
    link.lastAttempt = now;
    link.queue.start = 0;
    link.queue.count = 0;
    link.lineLength = 0;
    link.lineSent = 0;
}

void ReportFailure(LiveSplitLink& link, LogBuffer& log, uint64_t now, const SocketResult& result) {
    if (!link.failureReported) {
        link.failureReported = 1;
        LogAppend(log, now,
                  "LiveSplit: could not connect to %s:%u (%s failed, error %d). Is its server started? Tried again "
                  "every %.1f s.",
                  link.host, static_cast<unsigned>(link.port), result.step, static_cast<int>(result.error),
                  kLiveSplitRetrySeconds);
    }
    Disconnect(link, now);
}

void Lose(LiveSplitLink& link, LogBuffer& log, uint64_t now, const char* why) {
    LogAppend(log, now, "LiveSplit: lost the connection to %s:%u (%s). Tried again every %.1f s.", link.host,
              static_cast<unsigned>(link.port), why, kLiveSplitRetrySeconds);
    link.failureReported = 1;   // the attempts that follow are not told again until one succeeds
    Disconnect(link, now);
}

void StartConnecting(LiveSplitLink& link, LogBuffer& log, uint64_t now) {
    const SocketResult started = SocketConnectStart(link.address, &link.socket);
    if (!started.ok) {
        ReportFailure(link, log, now, started);
        return;
    }
    link.phase = LiveSplitPhase::Connecting;
}

// A name is looked up on a thread of its own, which may wait on the network;
// the frame only looks at `resolving`. The link outlives the thread: it is
// the program's, allocated once and never freed.
void StartResolving(LiveSplitLink& link) {
    link.phase = LiveSplitPhase::Resolving;
    link.resolving.store(1, std::memory_order_release);
    std::thread([&link] {
        SocketAddress address{};
        const SocketResult result = SocketResolve(link.host, link.port, false, &address);
        link.resolved = address;
        link.resolveResult = result;
        link.resolving.store(result.ok ? 2 : 3, std::memory_order_release);
    }).detach();
}

void Attempt(LiveSplitLink& link, LogBuffer& log, uint64_t now) {
    link.attempted = 1;
    link.lastAttempt = now;
    const SocketResult loaded = SocketStartup();
    if (!loaded.ok) {
        ReportFailure(link, log, now, loaded);
        return;
    }
    if (SocketResolve(link.host, link.port, true, &link.address).ok) {
        StartConnecting(link, log, now);
    } else {
        StartResolving(link);
    }
}

void AdvanceConnection(LiveSplitLink& link, LogBuffer& log, uint64_t now, double counterFrequency) {
    if (link.phase == LiveSplitPhase::Idle) {
        const double since = static_cast<double>(now - link.lastAttempt) / counterFrequency;
        if (!link.attempted || since >= kLiveSplitRetrySeconds) Attempt(link, log, now);
    }
    if (link.phase == LiveSplitPhase::Resolving) {
        const int resolving = link.resolving.load(std::memory_order_acquire);
        if (resolving == 1) return;
        link.resolving.store(0, std::memory_order_relaxed);
        if (resolving != 2) {
            ReportFailure(link, log, now, link.resolveResult);
            return;
        }
        link.address = link.resolved;
        StartConnecting(link, log, now);
    }
    if (link.phase == LiveSplitPhase::Connecting) {
        bool done = false;
        const SocketResult result = SocketConnectDone(link.socket, &done);
        if (!result.ok) {
            ReportFailure(link, log, now, result);
            return;
        }
        if (!done) return;
        link.phase = LiveSplitPhase::Connected;
        link.justConnected = 1;
        link.failureReported = 0;
        link.slowReported = 0;
        link.queue.gameTimesDropped = 0;
        LogAppend(log, now, "LiveSplit: connected to %s:%u; its game time now comes from the game.", link.host,
                  static_cast<unsigned>(link.port));
        LiveSplitQueuePush(link.queue, LiveSplitCommand{LiveSplitCommandKind::PauseGameTime, 0});
        return;
    }
    if (link.phase == LiveSplitPhase::Connected) {
        bool closed = false;
        const SocketResult drained = SocketDrain(link.socket, &closed);
        if (!drained.ok || closed) {
            char why[64] = "closed by LiveSplit";
            if (!closed)
                std::snprintf(why, sizeof why, "%s failed, error %d", drained.step, static_cast<int>(drained.error));
            Lose(link, log, now, why);
        }
    }
}

// Sends what the socket takes, a line at a time, never waiting.
void Flush(LiveSplitLink& link, LogBuffer& log, uint64_t now) {
    while (link.phase == LiveSplitPhase::Connected) {
        if (link.lineSent >= link.lineLength) {
            if (link.queue.count == 0) return;
            const LiveSplitCommand& next = link.queue.commands[link.queue.start];
            link.lineLength = FormatLiveSplitCommand(next, link.line, sizeof link.line);
            link.lineSent = 0;
            link.queue.start = (link.queue.start + 1) % kLiveSplitQueueCapacity;
            --link.queue.count;
            continue;
        }
        size_t sent = 0;
        const SocketResult result =
            SocketSend(link.socket, link.line + link.lineSent, link.lineLength - link.lineSent, &sent);
        if (!result.ok) {
            char why[64];
            std::snprintf(why, sizeof why, "%s failed, error %d", result.step, static_cast<int>(result.error));
            Lose(link, log, now, why);
            return;
        }
        if (sent == 0) return;   // its buffer is full: the rest waits for the next frame
        link.lineSent += sent;
    }
}

// Connected while a run is followed that LiveSplit does not hold as sent: while
// no level has ended its run can start now at the game's time, and every
// split will reach it; after that it is left alone. Returns whether the
// frame's own commands still go.
bool JoinRunLate(LiveSplitLink& link, const GameSnapshot& snapshot, LogBuffer& log, uint64_t now) {
    if (snapshot.stats.run.recordCount != 0 || snapshot.stats.latches.levelClosed) {
        link.run.driving = 0;
        LogAppend(log, now,
                  "LiveSplit: connected after a level of this run had ended: left alone until the next new game.");
        return false;
    }
    const LiveSplitCommand start[] = {{LiveSplitCommandKind::Reset, 0},
                                      {LiveSplitCommandKind::StartTimer, 0},
                                      {LiveSplitCommandKind::SetGameTime, link.run.lastGameTime}};
    for (const LiveSplitCommand& command : start) LiveSplitQueuePush(link.queue, command);
    link.inStep = 1;
    LogAppend(log, now, "LiveSplit: connected after the run began: its run starts now, at the game's time.");
    return true;
}

}  // namespace

void LiveSplitLinkInit(LiveSplitLink& link, const char* host, uint16_t port) {
    std::snprintf(link.host, sizeof link.host, "%s", host);
    link.port = port;
    link.phase = LiveSplitPhase::Idle;
    link.socket = kSocketNone;
    link.resolving.store(0, std::memory_order_relaxed);
    link.run.lastGameTime = -1;
}

void LiveSplitFrame(LiveSplitLink& link, const GameSnapshot& snapshot, LogBuffer& log, uint64_t now,
                    double counterFrequency) {
    AdvanceConnection(link, log, now, counterFrequency);

    LiveSplitCommand commands[kLiveSplitStepCommands];
    LiveSplitNote note = LiveSplitNote::None;
    const int count = LiveSplitStep(link.run, snapshot, commands, &note);
    if (note == LiveSplitNote::Practice) {
        LogAppend(log, now,
                  "LiveSplit: a state was loaded or the game rewound, so this run is practice: no more splits. "
                  "LiveSplit is left alone until the next new game.");
    }
    bool starts = false;
    for (int i = 0; i < count; ++i) starts = starts || commands[i].kind == LiveSplitCommandKind::StartTimer;
    if (link.phase != LiveSplitPhase::Connected) {
        for (int i = 0; i < count; ++i)
            if (commands[i].kind != LiveSplitCommandKind::SetGameTime) link.inStep = 0;
    } else {
        bool send = true;
        if (link.justConnected && link.run.driving && !link.inStep && !starts)
            send = JoinRunLate(link, snapshot, log, now);
        link.justConnected = 0;
        for (int i = 0; i < count && send; ++i) {
            if (!LiveSplitQueuePush(link.queue, commands[i])) {
                link.inStep = 0;
                Lose(link, log, now, "it has read nothing for too long");
                break;
            }
            if (commands[i].kind == LiveSplitCommandKind::StartTimer) link.inStep = 1;
        }
        if (link.queue.gameTimesDropped != 0 && !link.slowReported) {
            link.slowReported = 1;
            LogAppend(log, now, "WARNING: LiveSplit reads slowly: the oldest game times are dropped; splits wait.");
        }
    }
    Flush(link, log, now);
}

#include "livesplit/livesplit_link.h"

#include <cstdio>
#include <cstring>
#include <thread>

const SocketApi kPlatformSocketApi = {
    SocketStartup, SocketResolve, SocketConnectStart, SocketConnectDone, SocketSend, SocketDrain, SocketClose,
};

// [SECTION] The link

namespace {

void Disconnect(LiveSplitLink& link, uint64_t now) {
    // A start, a split or a reset that goes unsent leaves LiveSplit's run out of step with the game.
    for (int32_t i = 0; i < link.queue.count; ++i) {
        const LiveSplitCommand& command = link.queue.commands[(link.queue.start + i) % kLiveSplitQueueCapacity];
        if (command.kind != LiveSplitCommandKind::SetGameTime) link.inStep = 0;
    }
    if (link.lineSent < link.lineLength && std::strncmp(link.line, "setgametime", 11) != 0) link.inStep = 0;
    link.api->close(link.socket);
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
    const SocketResult started = link.api->connectStart(link.address, &link.socket);
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
        const SocketResult result = link.api->resolve(link.host, link.port, false, &address);
        link.resolved = address;
        link.resolveResult = result;
        link.resolving.store(result.ok ? 2 : 3, std::memory_order_release);
    }).detach();
}

void Attempt(LiveSplitLink& link, LogBuffer& log, uint64_t now) {
    link.attempted = 1;
    link.lastAttempt = now;
    const SocketResult loaded = link.api->startup();
    if (!loaded.ok) {
        ReportFailure(link, log, now, loaded);
        return;
    }
    if (link.api->resolve(link.host, link.port, true, &link.address).ok) {
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
        const SocketResult result = link.api->connectDone(link.socket, &done);
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
        const SocketResult drained = link.api->drain(link.socket, &closed);
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
            link.api->send(link.socket, link.line + link.lineSent, link.lineLength - link.lineSent, &sent);
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

void LiveSplitLinkInit(LiveSplitLink& link, const char* host, uint16_t port, const SocketApi& api) {
    link.api = &api;
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

// The link to LiveSplit's server component (its TCP server; one command a
// line, each ended by "\r\n"): connecting, retrying, sending the run's
// commands (livesplit/run_policy.h) without waiting. The socket calls go
// through a SocketApi table: the platform backend, or another that answers as
// the OS and LiveSplit do (a connection refused, a send buffer full, a peer
// that closes), which no test can get from a real server on demand.
//
// [SECTION] SocketApi
// [SECTION] The link (LiveSplitFrame)
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "livesplit/run_policy.h"
#include "log/log_buffer.h"
#include "platform/socket.h"
#include "tracking/game_snapshot.h"

inline constexpr double kLiveSplitRetrySeconds = 2.4;    // between two connection attempts, as for the emulator

// [SECTION] SocketApi: the calls of platform/socket.h, replaceable.
struct SocketApi {
    SocketResult (*startup)();
    SocketResult (*resolve)(const char* host, uint16_t port, bool numericOnly, SocketAddress* address);
    SocketResult (*connectStart)(const SocketAddress& address, SocketHandle* socket);
    SocketResult (*connectDone)(SocketHandle socket, bool* done);
    SocketResult (*send)(SocketHandle socket, const char* data, size_t size, size_t* sent);
    SocketResult (*drain)(SocketHandle socket, bool* closed);
    void (*close)(SocketHandle socket);
};

// The platform backend.
extern const SocketApi kPlatformSocketApi;

// [SECTION] The link

enum class LiveSplitPhase : uint8_t {
    Idle,          // no socket; a connection is tried when the retry is due
    Resolving,     // a name is being looked up on a thread of its own
    Connecting,    // the connection is under way
    Connected,
};

// The main thread's link to LiveSplit; allocated once, zero-filled, then
// LiveSplitLinkInit.
struct LiveSplitLink {
    const SocketApi* api;              // the socket calls
    char host[kHostNameSize];
    uint16_t port;
    LiveSplitPhase phase;
    SocketHandle socket;
    SocketAddress address;             // the resolved address, once known
    std::atomic<int> resolving;        // 1 while the look-up thread runs; 2 when it succeeded, 3 when it failed
    SocketAddress resolved;            // written by the look-up thread before `resolving` changes
    SocketResult resolveResult;        // the same
    uint8_t justConnected;             // the connection was made in this frame
    uint8_t inStep;                    // LiveSplit holds the followed run as sent: its start and every split reached it
    uint8_t failureReported;           // the current streak of failed attempts has been logged
    uint8_t attempted;
    uint64_t lastAttempt;              // counter ticks
    LiveSplitRun run;
    LiveSplitQueue queue;
    char line[kLiveSplitLineSize];     // the command being sent; its first `lineSent` bytes are gone
    size_t lineLength;
    size_t lineSent;
    uint8_t slowReported;              // dropped game times have been logged on this connection
};

void LiveSplitLinkInit(LiveSplitLink& link, const char* host, uint16_t port,
                       const SocketApi& api = kPlatformSocketApi);

// The main thread's step after every collect: advances the connection (a
// failed attempt is logged once and retried every kLiveSplitRetrySeconds; a
// lost connection is logged once and retried), takes the commands of the
// snapshot, queues them while connected and sends what the socket takes
// without waiting. A run whose start or a split LiveSplit missed (not
// connected then, or the connection lost with them unsent) is started late
// while its first level runs, else left alone until the next new game.
void LiveSplitFrame(LiveSplitLink& link, const GameSnapshot& snapshot, LogBuffer& log, uint64_t now,
                    double counterFrequency);

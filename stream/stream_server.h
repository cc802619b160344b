// The two servers a stream uses, run from the main thread's frames without
// ever waiting: the overlay (HTTP: the page, its Server-Sent Events and the
// statistics as JSON) and LiveSplit One's server (a WebSocket that the timer
// connects to and is sent the run policy's commands through). Non-blocking
// sockets, at most kStreamClientLimit clients, each with buffers of a fixed
// size allocated with the server: a client that reads too slowly loses
// events, never delays a frame.
//
// [SECTION] The server record
// [SECTION] The frame (StreamServerFrame)
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "livesplit/run_policy.h"
#include "log/log_buffer.h"
#include "platform/socket.h"
#include "stream/http_wire.h"
#include "stream/overlay.h"
#include "tracking/game_snapshot.h"

inline constexpr int kStreamClientLimit = 8;               // connections at once; those past it are closed
inline constexpr size_t kStreamClientOutSize = 32 * 1024;  // bytes waiting for one client's socket
inline constexpr double kStreamHeadSeconds = 10.0;         // a request head must be complete within this
inline constexpr uint16_t kOverlayDefaultPort = 16836;
inline constexpr uint16_t kLiveSplitOneDefaultPort = 16835;

// [SECTION] The server record

enum class StreamServerKind : uint8_t {
    Overlay,        // GET / (the page), /events (Server-Sent Events), /stats.json
    LiveSplitOne,   // a WebSocket at any path
};

// What a server refuses, each logged once per server.
enum class StreamRefusal : uint8_t {
    NotFound,        // 404: a path not served
    NotGet,          // 405: a method other than GET
    HeadTooLarge,    // 431: a head over kHttpHeadLimit
    HeadTooSlow,     // closed: no complete head within the head time
    TooManyClients,  // closed: past kStreamClientLimit
    BadRequest,      // 400: not a request, or a WebSocket handshake without its key or version
    BadFrame,        // closed: a WebSocket frame too large, unmasked or malformed
    SlowClient,      // events dropped for a client that reads too slowly
    Count,
};

enum class StreamClientPhase : uint8_t {
    Free,
    Head,           // reading the request head
    Finishing,      // the answer goes out, then the connection is closed
    Events,         // an open event stream
    WebSocket,      // an open WebSocket
};

struct StreamClient {
    SocketHandle socket;
    StreamClientPhase phase;
    uint8_t inStep;               // LiveSplit One: it holds the followed run as sent (its start reached it)
    uint8_t fresh;                // an event stream opened in this frame: it is sent the statistics whatever changed
    uint64_t since;               // counter ticks when accepted, or when the answer began to go out
    size_t inLength;
    size_t outStart;              // the first byte of `out` not yet sent
    size_t outLength;             // bytes of `out` in use, from 0
    char in[kHttpHeadLimit];      // the request head; then a WebSocket's incoming frames
    char out[kStreamClientOutSize];
};

enum class StreamServerPhase : uint8_t {
    Starting,       // the address is worked out, then the listener opened, at the first frame
    Resolving,      // a host name is being looked up on a thread of its own
    Listening,
    Off,            // it could not listen; said in the log, the program goes on without it
};

// Allocated once, zero-filled, then StreamServerInit.
struct StreamServer {
    StreamServerKind kind;
    StreamServerPhase phase;
    char host[kHostNameSize];
    uint16_t port;                    // asked for; 0 lets the OS choose (the tests)
    uint16_t boundPort;               // listened on
    SocketHandle listener;
    std::atomic<int> resolving;       // 1 while the look-up thread runs; 2 when it succeeded, 3 when it failed
    SocketAddress resolved;           // written by the look-up thread before `resolving` changes
    SocketResult resolveResult;
    double headSeconds;               // kStreamHeadSeconds; shorter in tests
    uint32_t refused[static_cast<int>(StreamRefusal::Count)];   // how many of each, since the start
    uint32_t reported;                // a bit per StreamRefusal logged
    uint32_t eventsDropped;           // events not queued for a slow client
    uint32_t answered;                // requests answered 200 or 101
    size_t jsonLength;                // the overlay's statistics last sent to the event streams
    char json[kStatsJsonSize];
    LiveSplitRun run;                 // LiveSplit One: the policy's view of the game
    StreamClient clients[kStreamClientLimit];
};

void StreamServerInit(StreamServer& server, StreamServerKind kind, const char* host, uint16_t port,
                      double headSeconds = kStreamHeadSeconds);

// [SECTION] The frame

// The main thread's step after every collect: opens the listener at the first
// frame (a port that is taken is logged once and the server stays off), takes
// new connections, reads what they sent, answers, and sends what each socket
// takes. The overlay sends the statistics to its event streams when they
// changed, at most once a frame; LiveSplit One's clients are sent the run
// policy's commands. `levelLine` is the log's latest comparison of a level
// with its best ("" before one).
void StreamServerFrame(StreamServer& server, const GameSnapshot& snapshot, const char* levelLine, LogBuffer& log,
                       uint64_t now, double counterFrequency);

// Closes every connection and the listener.
void StreamServerStop(StreamServer& server);

// "http://127.0.0.1:16836/" or "ws://[::1]:16835", with the port listened on.
void StreamServerAddress(const StreamServer& server, char* out, size_t size);

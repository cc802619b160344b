#include "stream/stream_server.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

const char* Name(const StreamServer& server) {
    return server.kind == StreamServerKind::Overlay ? "Overlay" : "LiveSplit One";
}

void Refuse(StreamServer& server, StreamRefusal why, LogBuffer& log, uint64_t now) {
    static const char* const kTold[] = {
        "answered a request for a path it does not serve with 404",
        "answered a method other than GET with 405",
        "answered a request head over 8 KiB with 431",
        "closed a connection whose request head was not complete in time",
        "closed a connection past the limit of 8 at once",
        "answered a request it could not read with 400",
        "closed a WebSocket that sent a frame too large or malformed",
        "a client reads too slowly: what it can't take is dropped",
    };
    const int kind = static_cast<int>(why);
    ++server.refused[kind];
    if ((server.reported & (1u << kind)) != 0) return;
    server.reported |= 1u << kind;
    LogAppend(log, now, "%s: %s (not told again).", Name(server), kTold[kind]);
}

void Release(StreamClient& client) {
    SocketClose(client.socket);
    client.socket = kSocketNone;
    client.phase = StreamClientPhase::Free;
    client.inStep = 0;
    client.fresh = 0;
    client.inLength = 0;
    client.outStart = 0;
    client.outLength = 0;
}

// Appends to what waits for the socket; false, and nothing appended, when it does not fit.
bool Queue(StreamClient& client, const void* data, size_t length) {
    if (client.outStart == client.outLength) client.outStart = client.outLength = 0;
    if (client.outLength + length > sizeof client.out && client.outStart > 0) {
        std::memmove(client.out, client.out + client.outStart, client.outLength - client.outStart);
        client.outLength -= client.outStart;
        client.outStart = 0;
    }
    if (client.outLength + length > sizeof client.out) return false;
    std::memcpy(client.out + client.outLength, data, length);
    client.outLength += length;
    return true;
}

// An answer that ends the connection once it is sent.
void Answer(StreamClient& client, uint64_t now, const char* status, const char* type, const char* extra,
            const char* const* parts, const size_t* lengths, int count) {
    size_t body = 0;
    for (int i = 0; i < count; ++i) body += lengths[i];
    char head[320];
    const int length = std::snprintf(head, sizeof head,
                                     "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                                     "Cache-Control: no-store\r\n%sConnection: close\r\n\r\n",
                                     status, type, body, extra);
    client.outStart = client.outLength = 0;
    bool fits = Queue(client, head, static_cast<size_t>(length));
    for (int i = 0; i < count && fits; ++i) fits = Queue(client, parts[i], lengths[i]);
    if (!fits) client.outLength = static_cast<size_t>(length);   // the page always fits; a head at least goes
    client.phase = StreamClientPhase::Finishing;
    client.since = now;
}

void AnswerText(StreamClient& client, uint64_t now, const char* status, const char* extra = "") {
    const char* parts[] = {status};
    const size_t lengths[] = {std::strlen(status)};
    Answer(client, now, status, "text/plain; charset=utf-8", extra, parts, lengths, 1);
}

bool QueueWebSocketText(StreamClient& client, const char* text, size_t length, WebSocketOpcode opcode) {
    uint8_t header[10];
    const size_t headerLength = WriteWebSocketHeader(opcode, length, header);
    if (client.outLength - client.outStart + headerLength + length > sizeof client.out) return false;
    return Queue(client, header, headerLength) && Queue(client, text, length);
}

// A WebSocket closed by the server: its close frame with `code`, then the connection.
void CloseWebSocket(StreamClient& client, uint64_t now, uint16_t code) {
    const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    QueueWebSocketText(client, payload, sizeof payload, WebSocketOpcode::Close);
    client.phase = StreamClientPhase::Finishing;
    client.since = now;
}

void SendLiveSplitOne(StreamServer& server, StreamClient& client, const LiveSplitCommand& command, LogBuffer& log,
                      uint64_t now) {
    char messages[kLiveSplitOneMessagesPerCommand][kLiveSplitOneMessageSize];
    const int count = LiveSplitOneMessages(command, messages);
    for (int i = 0; i < count; ++i) {
        if (QueueWebSocketText(client, messages[i], std::strlen(messages[i]), WebSocketOpcode::Text)) continue;
        // A game time is dropped (a later one says more); a start, a split or a reset that can't go
        // would leave its run out of step: the connection goes instead.
        Refuse(server, StreamRefusal::SlowClient, log, now);
        if (command.kind == LiveSplitCommandKind::SetGameTime) {
            ++server.eventsDropped;
        } else {
            Release(client);
        }
        return;
    }
}

// A LiveSplit One that connects while a run is followed: while no level has
// ended its run can start now at the game's time; after that it is left alone
// until the next new game, as the LiveSplit link does.
void JoinLiveSplitOne(StreamServer& server, StreamClient& client, LogBuffer& log, uint64_t now) {
    const LiveSplitRun& run = server.run;
    if (!run.driving) {
        LogAppend(log, now, "LiveSplit One: connected; its game time comes from the game from the next new game on.");
        return;
    }
    if (run.lastRecordCount != 0 || run.lastLevelClosed) {
        LogAppend(log, now, "LiveSplit One: connected after a level of this run had ended: left alone until the "
                            "next new game.");
        return;
    }
    const LiveSplitCommand start[] = {{LiveSplitCommandKind::Reset, 0},
                                      {LiveSplitCommandKind::StartTimer, 0},
                                      {LiveSplitCommandKind::SetGameTime, run.lastGameTime < 0 ? 0 : run.lastGameTime}};
    for (const LiveSplitCommand& command : start) SendLiveSplitOne(server, client, command, log, now);
    client.inStep = 1;
    LogAppend(log, now, "LiveSplit One: connected after the run began: its run starts now, at the game's time.");
}

void Route(StreamServer& server, StreamClient& client, const HttpRequest& request, const char* json,
           size_t jsonLength, LogBuffer& log, uint64_t now) {
    const char* data = client.in;
    if (!HttpMethodIs(data, request, "GET")) {
        Refuse(server, StreamRefusal::NotGet, log, now);
        AnswerText(client, now, "405 Method Not Allowed", "Allow: GET\r\n");
        return;
    }
    if (server.kind == StreamServerKind::LiveSplitOne) {
        if (!request.upgradeWebSocket) {
            Refuse(server, StreamRefusal::NotFound, log, now);
            AnswerText(client, now, "404 Not Found");
            return;
        }
        if (request.key[0] == '\0' || !request.versionThirteen) {
            Refuse(server, StreamRefusal::BadRequest, log, now);
            AnswerText(client, now, "400 Bad Request", "Sec-WebSocket-Version: 13\r\n");
            return;
        }
        char accept[kWebSocketAcceptSize + 1];
        WebSocketAcceptKey(request.key, accept);
        char head[160];
        const int length = std::snprintf(head, sizeof head,
                                         "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                         "Connection: Upgrade\r\nSec-WebSocket-Accept: %s\r\n\r\n",
                                         accept);
        // What came after the head is the first of its frames.
        std::memmove(client.in, client.in + request.headLength, client.inLength - request.headLength);
        client.inLength -= request.headLength;
        client.outStart = client.outLength = 0;
        Queue(client, head, static_cast<size_t>(length));
        client.phase = StreamClientPhase::WebSocket;
        ++server.answered;
        JoinLiveSplitOne(server, client, log, now);
        return;
    }
    if (HttpPathIs(data, request, "/")) {
        const char* parts[] = {kOverlayPageBefore, json, kOverlayPageAfter};
        const size_t lengths[] = {std::strlen(kOverlayPageBefore), jsonLength, std::strlen(kOverlayPageAfter)};
        Answer(client, now, "200 OK", "text/html; charset=utf-8", "", parts, lengths, 3);
    } else if (HttpPathIs(data, request, "/stats.json")) {
        const char* parts[] = {json};
        const size_t lengths[] = {jsonLength};
        Answer(client, now, "200 OK", "application/json", "Access-Control-Allow-Origin: *\r\n", parts, lengths, 1);
    } else if (HttpPathIs(data, request, "/events")) {
        static const char kHead[] =
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
            "Access-Control-Allow-Origin: *\r\n\r\nretry: 1000\n\n";
        client.outStart = client.outLength = 0;
        Queue(client, kHead, sizeof kHead - 1);
        client.phase = StreamClientPhase::Events;
        client.fresh = 1;
        client.inLength = 0;
    } else {
        Refuse(server, StreamRefusal::NotFound, log, now);
        AnswerText(client, now, "404 Not Found");
        return;
    }
    ++server.answered;
}

// A WebSocket's frames from the client: LiveSplit One's answers (thrown
// away), pings (answered), a close (answered, then the connection closed).
void ReadFrames(StreamServer& server, StreamClient& client, LogBuffer& log, uint64_t now) {
    while (client.phase == StreamClientPhase::WebSocket) {
        WebSocketFrame frame;
        auto* bytes = reinterpret_cast<uint8_t*>(client.in);
        const WebSocketFrameStatus status =
            ParseWebSocketFrame(bytes, client.inLength, sizeof client.in - 14, &frame);
        if (status == WebSocketFrameStatus::Incomplete) return;
        if (status != WebSocketFrameStatus::Complete) {
            Refuse(server, StreamRefusal::BadFrame, log, now);
            CloseWebSocket(client, now, status == WebSocketFrameStatus::TooLarge ? 1009 : 1002);
            return;
        }
        uint8_t* payload = bytes + frame.headerLength;
        UnmaskWebSocketPayload(frame, payload);
        const size_t used = frame.headerLength + static_cast<size_t>(frame.payloadLength);
        if (frame.opcode == WebSocketOpcode::Ping) {
            QueueWebSocketText(client, reinterpret_cast<const char*>(payload), frame.payloadLength,
                               WebSocketOpcode::Pong);
        } else if (frame.opcode == WebSocketOpcode::Close) {
            CloseWebSocket(client, now, frame.payloadLength >= 2 ? static_cast<uint16_t>(payload[0] << 8 | payload[1])
                                                                 : 1000);
            LogAppend(log, now, "LiveSplit One: a connection closed.");
        }
        std::memmove(client.in, client.in + used, client.inLength - used);
        client.inLength -= used;
    }
}

// Reads what the client sent and acts on it; false when the connection went.
void Read(StreamServer& server, StreamClient& client, const char* json, size_t jsonLength, LogBuffer& log,
          uint64_t now, double counterFrequency) {
    // Streams and answers on their way read only to notice a close; a head or a WebSocket keeps what it reads.
    const bool keeps = client.phase == StreamClientPhase::Head || client.phase == StreamClientPhase::WebSocket;
    for (int reads = 0; reads < 8; ++reads) {
        char scratch[2048];
        char* into = keeps ? client.in + client.inLength : scratch;
        const size_t room = keeps ? sizeof client.in - client.inLength : sizeof scratch;
        size_t got = 0;
        bool closed = false;
        const SocketResult result = SocketReceive(client.socket, into, room, &got, &closed);
        if (!result.ok || closed) {
            if (client.phase == StreamClientPhase::WebSocket)
                LogAppend(log, now, "LiveSplit One: a connection closed.");
            Release(client);
            return;
        }
        if (keeps) client.inLength += got;
        if (got == 0 || got < room) break;
        if (keeps) break;   // full: what it holds is looked at first
    }
    if (client.phase == StreamClientPhase::WebSocket) {
        ReadFrames(server, client, log, now);
        return;
    }
    if (client.phase != StreamClientPhase::Head) return;
    HttpRequest request;
    switch (ParseHttpHead(client.in, client.inLength, &request)) {
        case HttpHeadStatus::Complete:
            Route(server, client, request, json, jsonLength, log, now);
            break;
        case HttpHeadStatus::TooLarge:
            Refuse(server, StreamRefusal::HeadTooLarge, log, now);
            AnswerText(client, now, "431 Request Header Fields Too Large");
            break;
        case HttpHeadStatus::Bad:
            Refuse(server, StreamRefusal::BadRequest, log, now);
            AnswerText(client, now, "400 Bad Request");
            break;
        case HttpHeadStatus::Incomplete:
            if (static_cast<double>(now - client.since) / counterFrequency >= server.headSeconds) {
                Refuse(server, StreamRefusal::HeadTooSlow, log, now);
                Release(client);
            }
            break;
    }
}

// Sends what the socket takes; an answer sent in full ends its connection, as
// does one its client has not taken within the head time.
void Flush(StreamServer& server, StreamClient& client, uint64_t now, double counterFrequency) {
    while (client.outStart < client.outLength) {
        size_t sent = 0;
        const SocketResult result =
            SocketSend(client.socket, client.out + client.outStart, client.outLength - client.outStart, &sent);
        if (!result.ok) {
            Release(client);
            return;
        }
        if (sent == 0) break;
        client.outStart += sent;
    }
    if (client.phase != StreamClientPhase::Finishing) return;
    if (client.outStart >= client.outLength ||
        static_cast<double>(now - client.since) / counterFrequency >= server.headSeconds)
        Release(client);
}

void Listen(StreamServer& server, const SocketAddress& address, LogBuffer& log, uint64_t now) {
    SocketResult result = SocketListen(address, &server.listener);
    if (result.ok) result = SocketLocalPort(server.listener, &server.boundPort);
    if (!result.ok) {
        SocketClose(server.listener);
        server.listener = kSocketNone;
        server.phase = StreamServerPhase::Off;
        LogAppend(log, now, "%s: could not listen on %s:%u (%s failed, error %d)%s Going on without it.",
                  Name(server), server.host, static_cast<unsigned>(server.port), result.step,
                  static_cast<int>(result.error),
                  std::strcmp(result.step, "bind") == 0 ? ": is the port taken by another program, or the host "
                                                          "not this machine's?"
                                                        : ".");
        return;
    }
    server.phase = StreamServerPhase::Listening;
    char address_[kHostNameSize + 32];
    StreamServerAddress(server, address_, sizeof address_);
    if (server.kind == StreamServerKind::Overlay) {
        LogAppend(log, now, "Overlay: %s (a browser source in OBS; ?show=level,run,counts,spindash,best,levels).",
                  address_);
    } else {
        LogAppend(log, now, "LiveSplit One: connect it to %s (Connect to Server).", address_);
    }
}

void Advance(StreamServer& server, LogBuffer& log, uint64_t now) {
    if (server.phase == StreamServerPhase::Starting) {
        const SocketResult loaded = SocketStartup();
        SocketAddress address{};
        if (!loaded.ok) {
            server.phase = StreamServerPhase::Off;
            LogAppend(log, now, "%s: could not start the network (%s failed, error %d). Going on without it.",
                      Name(server), loaded.step, static_cast<int>(loaded.error));
        } else if (SocketResolve(server.host, server.port, true, &address).ok) {
            Listen(server, address, log, now);
        } else {
            // A name: looked up on a thread of its own, which may wait on the network. The
            // server is the program's, allocated once and never freed: it outlives the thread.
            server.phase = StreamServerPhase::Resolving;
            server.resolving.store(1, std::memory_order_release);
            std::thread([&server] {
                SocketAddress found{};
                const SocketResult result = SocketResolve(server.host, server.port, false, &found);
                server.resolved = found;
                server.resolveResult = result;
                server.resolving.store(result.ok ? 2 : 3, std::memory_order_release);
            }).detach();
        }
    }
    if (server.phase == StreamServerPhase::Resolving) {
        const int resolving = server.resolving.load(std::memory_order_acquire);
        if (resolving == 1) return;
        server.resolving.store(0, std::memory_order_relaxed);
        if (resolving == 2) {
            Listen(server, server.resolved, log, now);
        } else {
            server.phase = StreamServerPhase::Off;
            LogAppend(log, now, "%s: could not look up %s (%s failed, error %d). Going on without it.", Name(server),
                      server.host, server.resolveResult.step, static_cast<int>(server.resolveResult.error));
        }
    }
}

}  // namespace

void StreamServerInit(StreamServer& server, StreamServerKind kind, const char* host, uint16_t port,
                      double headSeconds) {
    server.kind = kind;
    server.phase = StreamServerPhase::Starting;
    std::snprintf(server.host, sizeof server.host, "%s", host);
    server.port = port;
    server.listener = kSocketNone;
    server.resolving.store(0, std::memory_order_relaxed);
    server.headSeconds = headSeconds;
    server.run.lastGameTime = -1;
    for (StreamClient& client : server.clients) {
        client.socket = kSocketNone;
        client.phase = StreamClientPhase::Free;
    }
}

void StreamServerFrame(StreamServer& server, const GameSnapshot& snapshot, const char* levelLine, LogBuffer& log,
                       uint64_t now, double counterFrequency) {
    Advance(server, log, now);
    const bool overlay = server.kind == StreamServerKind::Overlay;
    char json[kStatsJsonSize];
    const size_t jsonLength = overlay ? FormatStatsJson(snapshot, levelLine, json, sizeof json) : 0;
    if (server.phase != StreamServerPhase::Listening) {
        // The policy still follows the game, so that a server that starts late knows the run.
        if (!overlay) {
            LiveSplitCommand ignored[kLiveSplitStepCommands];
            LiveSplitNote note;
            LiveSplitStep(server.run, snapshot, ignored, &note);
        }
        return;
    }

    // New connections: each into a free place, those past the limit closed at once.
    for (int accepted = 0; accepted < 256; ++accepted) {
        SocketHandle socket = kSocketNone;
        if (!SocketAccept(server.listener, &socket).ok || socket == kSocketNone) break;
        StreamClient* place = nullptr;
        for (StreamClient& client : server.clients)
            if (client.phase == StreamClientPhase::Free && place == nullptr) place = &client;
        if (place == nullptr) {
            Refuse(server, StreamRefusal::TooManyClients, log, now);
            SocketClose(socket);
            continue;
        }
        Release(*place);
        place->socket = socket;
        place->phase = StreamClientPhase::Head;
        place->since = now;
    }
    for (StreamClient& client : server.clients)
        if (client.phase != StreamClientPhase::Free)
            Read(server, client, json, jsonLength, log, now, counterFrequency);

    if (overlay) {
        // The statistics to every event stream when they changed; a stream that has no room for
        // them loses this event, not the ones after it.
        const bool changed = jsonLength != server.jsonLength || std::memcmp(json, server.json, jsonLength) != 0;
        std::memcpy(server.json, json, jsonLength);
        server.jsonLength = jsonLength;
        for (StreamClient& client : server.clients) {
            if (client.phase != StreamClientPhase::Events || !(changed || client.fresh) || jsonLength == 0) continue;
            client.fresh = 0;
            if (client.outLength - client.outStart + jsonLength + 8 > sizeof client.out) {
                ++server.eventsDropped;
                Refuse(server, StreamRefusal::SlowClient, log, now);
                continue;
            }
            Queue(client, "data: ", 6);
            Queue(client, json, jsonLength);
            Queue(client, "\n\n", 2);
        }
    } else {
        LiveSplitCommand commands[kLiveSplitStepCommands];
        LiveSplitNote note = LiveSplitNote::None;
        const int count = LiveSplitStep(server.run, snapshot, commands, &note);
        if (note == LiveSplitNote::Practice) {
            LogAppend(log, now,
                      "LiveSplit One: a state was loaded or the game rewound, so this run is practice: no more "
                      "splits until the next new game.");
        }
        for (StreamClient& client : server.clients) {
            for (int i = 0; i < count && client.phase == StreamClientPhase::WebSocket; ++i) {
                const LiveSplitCommandKind kind = commands[i].kind;
                if (kind == LiveSplitCommandKind::Reset) client.inStep = 0;
                if (kind == LiveSplitCommandKind::StartTimer) client.inStep = 1;
                const bool ofTheRun = kind == LiveSplitCommandKind::SetGameTime || kind == LiveSplitCommandKind::Split;
                if (ofTheRun && !client.inStep) continue;
                SendLiveSplitOne(server, client, commands[i], log, now);
            }
        }
    }
    for (StreamClient& client : server.clients)
        if (client.phase != StreamClientPhase::Free) Flush(server, client, now, counterFrequency);
}

void StreamServerStop(StreamServer& server) {
    for (StreamClient& client : server.clients)
        if (client.phase != StreamClientPhase::Free) Release(client);
    SocketClose(server.listener);
    server.listener = kSocketNone;
    server.phase = StreamServerPhase::Off;
}

void StreamServerAddress(const StreamServer& server, char* out, size_t size) {
    const bool v6 = std::strchr(server.host, ':') != nullptr;
    const bool overlay = server.kind == StreamServerKind::Overlay;
    std::snprintf(out, size, "%s://%s%s%s:%u%s", overlay ? "http" : "ws", v6 ? "[" : "", server.host, v6 ? "]" : "",
                  static_cast<unsigned>(server.phase == StreamServerPhase::Listening ? server.boundPort : server.port),
                  overlay ? "/" : "");
}

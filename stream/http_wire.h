// What crosses the wire of the stream servers, as pure functions of bytes: a
// request head (HTTP/1.1, RFC 9112), a WebSocket frame from a client (RFC
// 6455, section 5.2), the handshake's accept key (SHA-1 and base64), and the
// frames the server writes. Nothing here allocates, waits or trusts a length
// it was sent.
//
// [SECTION] The request head (ParseHttpHead)
// [SECTION] WebSocket frames (ParseWebSocketFrame, WriteWebSocketFrame)
// [SECTION] The handshake's key (WebSocketAcceptKey)
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kHttpHeadLimit = 8192;          // bytes of a request head, its blank line included
inline constexpr size_t kWebSocketKeySize = 24;         // base64 of 16 bytes
inline constexpr size_t kWebSocketAcceptSize = 28;      // base64 of a 20-byte SHA-1

// [SECTION] The request head

enum class HttpHeadStatus : uint8_t {
    Incomplete,   // no blank line yet, and under the limit
    Complete,
    TooLarge,     // no blank line within kHttpHeadLimit bytes
    Bad,          // not a request line and headers
};

// The parts of a complete head, as offsets into the bytes parsed.
struct HttpRequest {
    size_t headLength;            // bytes up to and including the blank line
    size_t methodStart, methodLength;
    size_t pathStart, pathLength; // the target without its query
    size_t queryStart, queryLength;  // after '?', 0 length when none
    bool upgradeWebSocket;        // "Upgrade: websocket" and "Connection: ... upgrade ..."
    bool versionThirteen;         // "Sec-WebSocket-Version: 13"
    char key[kWebSocketKeySize + 1];  // "Sec-WebSocket-Key", "" when absent or not 24 base64 characters
};

// Reads the head at the start of `data`. Lines end in CRLF (a bare LF is
// taken too); header names are matched without regard to case.
HttpHeadStatus ParseHttpHead(const char* data, size_t length, HttpRequest* request);

// Whether the method (or path) of `request` in `data` is `text`.
bool HttpMethodIs(const char* data, const HttpRequest& request, const char* text);
bool HttpPathIs(const char* data, const HttpRequest& request, const char* text);

// [SECTION] WebSocket frames

enum class WebSocketOpcode : uint8_t {
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA,
};

enum class WebSocketFrameStatus : uint8_t {
    Incomplete,   // the header or the payload is not all there yet
    Complete,
    TooLarge,     // a payload over the limit given, whatever arrives after it
    Bad,          // unmasked, reserved bits or opcodes, a control frame over 125 bytes or fragmented,
                  // a length with its top bit set
};

struct WebSocketFrame {
    bool fin;
    WebSocketOpcode opcode;
    size_t headerLength;          // bytes before the payload
    uint64_t payloadLength;
    uint8_t mask[4];
};

// Reads the frame at the start of `data`, a client's (masked). A frame whose
// length says more than `payloadLimit` is TooLarge as soon as its header is in.
WebSocketFrameStatus ParseWebSocketFrame(const uint8_t* data, size_t length, uint64_t payloadLimit,
                                         WebSocketFrame* frame);

// Unmasks the payload of a complete frame in place.
void UnmaskWebSocketPayload(const WebSocketFrame& frame, uint8_t* payload);

// A server's frame (final, unmasked) of `payloadLength` bytes: writes its
// header into `out` (at least 10 bytes) and returns its length.
size_t WriteWebSocketHeader(WebSocketOpcode opcode, uint64_t payloadLength, uint8_t* out);

// [SECTION] The handshake's key

// The SHA-1 digest of `length` bytes (FIPS 180-4).
void Sha1(const uint8_t* data, size_t length, uint8_t digest[20]);

// Base64 (RFC 4648, with padding) of `length` bytes into `out`, NUL ended;
// `size` must hold 4 * ceil(length / 3) + 1. Returns the characters written.
size_t Base64Encode(const uint8_t* data, size_t length, char* out, size_t size);

// Sec-WebSocket-Accept for a client's key: base64 of the SHA-1 of the key and
// the protocol's fixed GUID. `out` holds kWebSocketAcceptSize + 1.
void WebSocketAcceptKey(const char* key, char* out);

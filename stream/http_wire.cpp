#include "stream/http_wire.h"

#include <cstring>

// [SECTION] The request head

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const char* a, size_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// Whether the comma-separated list `value` holds `token`, whatever its case.
bool ListHas(const char* value, size_t length, const char* token) {
    size_t at = 0;
    while (at < length) {
        size_t end = at;
        while (end < length && value[end] != ',') ++end;
        size_t from = at, to = end;
        while (from < to && (value[from] == ' ' || value[from] == '\t')) ++from;
        while (to > from && (value[to - 1] == ' ' || value[to - 1] == '\t')) --to;
        if (EqualNoCase(value + from, to - from, token)) return true;
        at = end + 1;
    }
    return false;
}

bool TokenCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '!' || c == '#' || c == '$' || c == '%' || c == '&' || c == '\'' || c == '*' ||
           c == '+' || c == '^' || c == '`' || c == '|' || c == '~';
}

bool Base64Character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}

// The end of the line starting at `at` (its CR or LF), or `length` when none.
size_t LineEnd(const char* data, size_t length, size_t at) {
    while (at < length && data[at] != '\n') ++at;
    if (at < length && at > 0 && data[at - 1] == '\r') return at - 1;
    return at;
}

size_t NextLine(const char* data, size_t length, size_t end) {
    if (end < length && data[end] == '\r') ++end;
    return end + 1;
}

}  // namespace

HttpHeadStatus ParseHttpHead(const char* data, size_t length, HttpRequest* request) {
    *request = HttpRequest{};
    // The head's end: the first empty line.
    size_t headEnd = 0;
    for (size_t at = 0; at < length && at < kHttpHeadLimit && headEnd == 0; ++at) {
        if (data[at] != '\n') continue;
        if (at >= 1 && data[at - 1] == '\n') headEnd = at + 1;
        if (at >= 2 && data[at - 1] == '\r' && data[at - 2] == '\n') headEnd = at + 1;
    }
    if (headEnd == 0) return length >= kHttpHeadLimit ? HttpHeadStatus::TooLarge : HttpHeadStatus::Incomplete;
    request->headLength = headEnd;

    // The request line: METHOD SP TARGET SP HTTP/1.x
    const size_t lineEnd = LineEnd(data, headEnd, 0);
    size_t at = 0;
    while (at < lineEnd && TokenCharacter(data[at])) ++at;
    if (at == 0 || at >= lineEnd || data[at] != ' ') return HttpHeadStatus::Bad;
    request->methodLength = at;
    request->pathStart = ++at;
    while (at < lineEnd && data[at] != ' ' && data[at] != '?') ++at;
    request->pathLength = at - request->pathStart;
    if (at < lineEnd && data[at] == '?') {
        request->queryStart = ++at;
        while (at < lineEnd && data[at] != ' ') ++at;
        request->queryLength = at - request->queryStart;
    }
    if (request->pathLength == 0 || data[request->pathStart] != '/') return HttpHeadStatus::Bad;
    if (at >= lineEnd || data[at] != ' ' || lineEnd - at - 1 != 8 || std::memcmp(data + at + 1, "HTTP/1.", 7) != 0)
        return HttpHeadStatus::Bad;

    bool upgrade = false, connectionUpgrade = false;
    for (size_t line = NextLine(data, headEnd, lineEnd); line < headEnd;) {
        const size_t end = LineEnd(data, headEnd, line);
        if (end == line) break;   // the blank line
        size_t colon = line;
        while (colon < end && TokenCharacter(data[colon])) ++colon;
        if (colon == line || colon >= end || data[colon] != ':') return HttpHeadStatus::Bad;
        size_t value = colon + 1, valueEnd = end;
        while (value < valueEnd && (data[value] == ' ' || data[value] == '\t')) ++value;
        while (valueEnd > value && (data[valueEnd - 1] == ' ' || data[valueEnd - 1] == '\t')) --valueEnd;
        const char* name = data + line;
        const size_t nameLength = colon - line;
        if (EqualNoCase(name, nameLength, "upgrade")) {
            upgrade = ListHas(data + value, valueEnd - value, "websocket");
        } else if (EqualNoCase(name, nameLength, "connection")) {
            connectionUpgrade = ListHas(data + value, valueEnd - value, "upgrade");
        } else if (EqualNoCase(name, nameLength, "sec-websocket-version")) {
            request->versionThirteen = EqualNoCase(data + value, valueEnd - value, "13");
        } else if (EqualNoCase(name, nameLength, "sec-websocket-key")) {
            request->key[0] = '\0';
            bool base64 = valueEnd - value == kWebSocketKeySize;
            for (size_t i = value; i < valueEnd && base64; ++i) base64 = Base64Character(data[i]);
            if (base64) {
                std::memcpy(request->key, data + value, kWebSocketKeySize);
                request->key[kWebSocketKeySize] = '\0';
            }
        }
        line = NextLine(data, headEnd, end);
    }
    request->upgradeWebSocket = upgrade && connectionUpgrade;
    return HttpHeadStatus::Complete;
}

bool HttpMethodIs(const char* data, const HttpRequest& request, const char* text) {
    return std::strlen(text) == request.methodLength &&
           std::memcmp(data + request.methodStart, text, request.methodLength) == 0;
}

bool HttpPathIs(const char* data, const HttpRequest& request, const char* text) {
    return std::strlen(text) == request.pathLength &&
           std::memcmp(data + request.pathStart, text, request.pathLength) == 0;
}

// [SECTION] WebSocket frames

WebSocketFrameStatus ParseWebSocketFrame(const uint8_t* data, size_t length, uint64_t payloadLimit,
                                         WebSocketFrame* frame) {
    *frame = WebSocketFrame{};
    if (length < 2) return WebSocketFrameStatus::Incomplete;
    frame->fin = (data[0] & 0x80) != 0;
    const uint8_t opcode = data[0] & 0x0F;
    frame->opcode = static_cast<WebSocketOpcode>(opcode);
    const bool known = opcode <= 0x2 || (opcode >= 0x8 && opcode <= 0xA);
    const bool control = opcode >= 0x8;
    if ((data[0] & 0x70) != 0 || !known || (data[1] & 0x80) == 0) return WebSocketFrameStatus::Bad;
    uint64_t payload = data[1] & 0x7F;
    size_t header = 2;
    if (payload == 126) {
        header = 4;
        if (length < header) return WebSocketFrameStatus::Incomplete;
        payload = static_cast<uint64_t>(data[2]) << 8 | data[3];
    } else if (payload == 127) {
        header = 10;
        if (length < header) return WebSocketFrameStatus::Incomplete;
        if ((data[2] & 0x80) != 0) return WebSocketFrameStatus::Bad;
        payload = 0;
        for (int i = 2; i < 10; ++i) payload = payload << 8 | data[i];
    }
    if (control && (payload > 125 || !frame->fin)) return WebSocketFrameStatus::Bad;
    header += 4;
    if (length < header) return WebSocketFrameStatus::Incomplete;
    std::memcpy(frame->mask, data + header - 4, 4);
    frame->headerLength = header;
    frame->payloadLength = payload;
    if (payload > payloadLimit) return WebSocketFrameStatus::TooLarge;
    if (length - header < payload) return WebSocketFrameStatus::Incomplete;
    return WebSocketFrameStatus::Complete;
}

void UnmaskWebSocketPayload(const WebSocketFrame& frame, uint8_t* payload) {
    for (uint64_t i = 0; i < frame.payloadLength; ++i) payload[i] ^= frame.mask[i % 4];
}

size_t WriteWebSocketHeader(WebSocketOpcode opcode, uint64_t payloadLength, uint8_t* out) {
    out[0] = static_cast<uint8_t>(0x80 | static_cast<uint8_t>(opcode));
    if (payloadLength < 126) {
        out[1] = static_cast<uint8_t>(payloadLength);
        return 2;
    }
    if (payloadLength <= 0xFFFF) {
        out[1] = 126;
        out[2] = static_cast<uint8_t>(payloadLength >> 8);
        out[3] = static_cast<uint8_t>(payloadLength);
        return 4;
    }
    out[1] = 127;
    for (int i = 0; i < 8; ++i) out[2 + i] = static_cast<uint8_t>(payloadLength >> (56 - 8 * i));
    return 10;
}

// [SECTION] The handshake's key

namespace {

uint32_t Rotate(uint32_t value, int bits) { return value << bits | value >> (32 - bits); }

void Sha1Block(uint32_t state[5], const uint8_t block[64]) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = static_cast<uint32_t>(block[4 * i]) << 24 | static_cast<uint32_t>(block[4 * i + 1]) << 16 |
               static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t next = Rotate(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rotate(b, 30);
        b = a;
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

}  // namespace

void Sha1(const uint8_t* data, size_t length, uint8_t digest[20]) {
    uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    size_t at = 0;
    for (; length - at >= 64; at += 64) Sha1Block(state, data + at);
    // The rest, the 0x80 marker and the length in bits fill one or two last blocks.
    uint8_t last[128] = {};
    const size_t rest = length - at;
    std::memcpy(last, data + at, rest);
    last[rest] = 0x80;
    const size_t blocks = rest + 9 <= 64 ? 1 : 2;
    const uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) last[blocks * 64 - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t i = 0; i < blocks; ++i) Sha1Block(state, last + 64 * i);
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
}

size_t Base64Encode(const uint8_t* data, size_t length, char* out, size_t size) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t needed = (length + 2) / 3 * 4;
    if (size < needed + 1) {
        if (size > 0) out[0] = '\0';
        return 0;
    }
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        const uint32_t group = static_cast<uint32_t>(data[i]) << 16 |
                               (i + 1 < length ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                               (i + 2 < length ? data[i + 2] : 0);
        out[o++] = kDigits[group >> 18 & 63];
        out[o++] = kDigits[group >> 12 & 63];
        out[o++] = i + 1 < length ? kDigits[group >> 6 & 63] : '=';
        out[o++] = i + 2 < length ? kDigits[group & 63] : '=';
    }
    out[o] = '\0';
    return o;
}

void WebSocketAcceptKey(const char* key, char* out) {
    static const char kGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    uint8_t joined[kWebSocketKeySize + sizeof kGuid];
    const size_t keyLength = std::strlen(key) > kWebSocketKeySize ? kWebSocketKeySize : std::strlen(key);
    std::memcpy(joined, key, keyLength);
    std::memcpy(joined + keyLength, kGuid, sizeof kGuid - 1);
    uint8_t digest[20];
    Sha1(joined, keyLength + sizeof kGuid - 1, digest);
    Base64Encode(digest, sizeof digest, out, kWebSocketAcceptSize + 1);
}

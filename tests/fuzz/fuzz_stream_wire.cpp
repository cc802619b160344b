// Arbitrary bytes from a client, as the stream servers read them: a request
// head, then, from where the head ends (or from the start), WebSocket frames
// one after another, as many as the bytes hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "stream/http_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char head[kHttpHeadLimit + 64];
    const size_t headBytes = size < sizeof head ? size : sizeof head;
    std::memcpy(head, data, headBytes);
    HttpRequest request;
    const HttpHeadStatus status = ParseHttpHead(head, headBytes, &request);
    size_t at = 0;
    if (status == HttpHeadStatus::Complete) {
        if (request.headLength > headBytes || request.headLength > kHttpHeadLimit) std::abort();
        if (request.methodStart + request.methodLength > request.headLength) std::abort();
        if (request.pathStart + request.pathLength > request.headLength) std::abort();
        if (request.queryStart + request.queryLength > request.headLength) std::abort();
        if (std::strlen(request.key) != 0 && std::strlen(request.key) != kWebSocketKeySize) std::abort();
        char accept[kWebSocketAcceptSize + 1];
        WebSocketAcceptKey(request.key, accept);
        if (std::strlen(accept) != kWebSocketAcceptSize) std::abort();
        at = request.headLength;
    }
    if (status == HttpHeadStatus::TooLarge && headBytes < kHttpHeadLimit) std::abort();

    static uint8_t frames[1 << 16];
    const size_t frameBytes = size - at < sizeof frames ? size - at : sizeof frames;
    std::memcpy(frames, data + at, frameBytes);
    for (size_t from = 0; from < frameBytes;) {
        WebSocketFrame frame;
        const WebSocketFrameStatus result = ParseWebSocketFrame(frames + from, frameBytes - from, 8178, &frame);
        if (result != WebSocketFrameStatus::Complete) break;
        if (frame.payloadLength > 8178 || frame.headerLength + frame.payloadLength > frameBytes - from) std::abort();
        UnmaskWebSocketPayload(frame, frames + from + frame.headerLength);
        from += frame.headerLength + static_cast<size_t>(frame.payloadLength);
    }
    return 0;
}

#include "stream/http_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The head's limit to the byte, what a head must have, and the handshake's fields.
TEST(HttpWire, HeadsAreReadWithinTheirLimit) {
    const std::string pad = "GET /?a=1 HTTP/1.1\r\nX: ";   // 23 bytes; 27 with the blank line
    const std::pair<std::string, HttpHeadStatus> cases[] = {
        {pad + std::string(kHttpHeadLimit - 27, 'a') + "\r\n\r\n", HttpHeadStatus::Complete},
        {pad + std::string(kHttpHeadLimit - 26, 'a') + "\r\n\r\n", HttpHeadStatus::TooLarge},
        {"GET / HTTP/1.1\r\nHost: a\r\n", HttpHeadStatus::Incomplete},
        {"GET /\r\n\r\n", HttpHeadStatus::Bad},
        {"GET nopath HTTP/1.1\r\n\r\n", HttpHeadStatus::Bad},
        {"GET / HTTP/1.1\nno colon\n\n", HttpHeadStatus::Bad},
    };
    HttpRequest request;
    for (const auto& [bytes, status] : cases) EXPECT_EQ(ParseHttpHead(bytes.data(), bytes.size(), &request), status);
    const std::string upgrade =
        "GET /any?x HTTP/1.1\r\nupgrade: WebSocket\r\nConnection: keep-alive, Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\nrest";
    ASSERT_EQ(ParseHttpHead(upgrade.data(), upgrade.size(), &request), HttpHeadStatus::Complete);
    EXPECT_TRUE(HttpMethodIs(upgrade.data(), request, "GET") && HttpPathIs(upgrade.data(), request, "/any"));
    EXPECT_TRUE(request.upgradeWebSocket && request.versionThirteen);
    EXPECT_EQ(upgrade.substr(request.headLength), "rest");
    char accept[kWebSocketAcceptSize + 1];
    WebSocketAcceptKey(request.key, accept);
    EXPECT_STREQ(accept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");   // the protocol's own example
}

TEST(HttpWire, AFrameIsTakenOnlyWhenWholeMaskedAndWithinItsLimit) {
    const std::string hello = "\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58";   // "Hello", masked
    const std::pair<std::string, WebSocketFrameStatus> cases[] = {
        {hello, WebSocketFrameStatus::Complete},
        {hello.substr(0, 8), WebSocketFrameStatus::Incomplete},
        {"\x81\x05Hello", WebSocketFrameStatus::Bad},                                             // unmasked
        {"\xc1\x80", WebSocketFrameStatus::Bad},                                                  // a reserved bit
        {"\x83\x80", WebSocketFrameStatus::Bad},                                                  // opcode 3
        {"\x09\x80", WebSocketFrameStatus::Bad},                                                  // a fragmented ping
        {std::string("\x89\xfe\x00\x7e\0\0\0\0", 8), WebSocketFrameStatus::Bad},                  // a ping of 126 bytes
        {std::string("\x82\xff\x80\0\0\0\0\0\0\0\0\0\0\0", 14), WebSocketFrameStatus::Bad},       // 2^63 bytes
        {std::string("\x82\xfe\x1f\x41\0\0\0\0", 8), WebSocketFrameStatus::TooLarge},             // 8001 bytes
        {std::string("\x82\xfe\x1f\x40\0\0\0\0", 8), WebSocketFrameStatus::Incomplete},           // 8000, on its way
    };
    WebSocketFrame frame;
    for (const auto& [bytes, status] : cases)
        EXPECT_EQ(ParseWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 8000, &frame),
                  status) << ::testing::PrintToString(bytes);
    std::string bytes = hello;
    ParseWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 8000, &frame);
    UnmaskWebSocketPayload(frame, reinterpret_cast<uint8_t*>(bytes.data()) + frame.headerLength);
    EXPECT_EQ(bytes.substr(frame.headerLength), "Hello");
}

}  // namespace

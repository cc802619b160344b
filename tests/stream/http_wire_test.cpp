#include "stream/http_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HttpWire, HeadsAreReadWithinTheirLimit) {
    const std::string upgrade =
        "GET /any/path?x=1 HTTP/1.1\r\nHost: a\r\nupgrade: WebSocket\r\nConnection: keep-alive, Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\nrest";
    const struct {
        std::string bytes;
        HttpHeadStatus status;
        std::string method = "", path = "", query = "";
        bool webSocket = false;
    } cases[] = {
        {upgrade, HttpHeadStatus::Complete, "GET", "/any/path", "x=1", true},
        {"GET / HTTP/1.1\nHost: a\n\n", HttpHeadStatus::Complete, "GET", "/", "", false},
        {"POST /stats.json HTTP/1.0\r\n\r\n", HttpHeadStatus::Complete, "POST", "/stats.json", "", false},
        {"GET / HTTP/1.1\r\nHost: a\r\n", HttpHeadStatus::Incomplete},
        {"GET / HTTP/1.1\r\nX: " + std::string(kHttpHeadLimit, 'a'), HttpHeadStatus::TooLarge},
        {"GET / HTTP/1.1\r\nX: " + std::string(kHttpHeadLimit - 23, 'a') + "\r\n\r\n", HttpHeadStatus::Complete, "GET",
         "/", "", false},
        {"GET / HTTP/1.1\r\nX: " + std::string(kHttpHeadLimit - 22, 'a') + "\r\n\r\n", HttpHeadStatus::TooLarge},
        {"GET /\r\n\r\n", HttpHeadStatus::Bad},
        {"GET nopath HTTP/1.1\r\n\r\n", HttpHeadStatus::Bad},
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", HttpHeadStatus::Bad},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        HttpRequest request;
        ASSERT_EQ(ParseHttpHead(c.bytes.data(), c.bytes.size(), &request), c.status);
        if (c.status != HttpHeadStatus::Complete) continue;
        EXPECT_EQ(c.bytes.substr(request.methodStart, request.methodLength), c.method);
        EXPECT_EQ(c.bytes.substr(request.pathStart, request.pathLength), c.path);
        EXPECT_EQ(c.bytes.substr(request.queryStart, request.queryLength), c.query);
        EXPECT_EQ(request.upgradeWebSocket && request.versionThirteen && request.key[0] != '\0', c.webSocket);
        EXPECT_LE(request.headLength, kHttpHeadLimit);
    }
    HttpRequest request;
    ASSERT_EQ(ParseHttpHead(upgrade.data(), upgrade.size(), &request), HttpHeadStatus::Complete);
    EXPECT_EQ(upgrade.substr(request.headLength), "rest");
    char accept[kWebSocketAcceptSize + 1];
    WebSocketAcceptKey(request.key, accept);
    EXPECT_STREQ(accept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");   // the protocol's own example
}

TEST(HttpWire, AFrameIsTakenOnlyWhenWholeAndWithinItsLimit) {
    // "Hello", masked with 37 fa 21 3d as in the protocol's example.
    const std::string hello = "\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58";
    const struct {
        std::string bytes;
        WebSocketFrameStatus status;
    } cases[] = {
        {hello, WebSocketFrameStatus::Complete},
        {hello.substr(0, 8), WebSocketFrameStatus::Incomplete},
        {"\x81\x05Hello", WebSocketFrameStatus::Bad},                                          // unmasked
        {"\xc1\x80\0\0\0\0", WebSocketFrameStatus::Bad},                                       // a reserved bit
        {"\x83\x80\0\0\0\0", WebSocketFrameStatus::Bad},                                       // opcode 3
        {"\x09\x80\0\0\0\0", WebSocketFrameStatus::Bad},                                       // a fragmented ping
        {std::string("\x89\xfe\x00\x7e\0\0\0\0", 8), WebSocketFrameStatus::Bad},               // a ping of 126 bytes
        {std::string("\x82\xff\x80\0\0\0\0\0\0\0\0\0\0\0", 14), WebSocketFrameStatus::Bad},    // 2^63 bytes
        {std::string("\x82\xff\0\0\0\0\0\0\x20\0\0\0\0\0", 14), WebSocketFrameStatus::TooLarge},  // 8 KiB: too large
        {std::string("\x82\xfe\x10\x00\0\0\0\0", 8), WebSocketFrameStatus::Incomplete},       // 4 KiB on its way
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        WebSocketFrame frame;
        EXPECT_EQ(ParseWebSocketFrame(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), 8000, &frame),
                  c.status);
    }
    std::string bytes = hello;
    WebSocketFrame frame;
    ParseWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 8000, &frame);
    UnmaskWebSocketPayload(frame, reinterpret_cast<uint8_t*>(bytes.data()) + frame.headerLength);
    EXPECT_EQ(bytes.substr(frame.headerLength), "Hello");
    uint8_t header[10];
    EXPECT_EQ(WriteWebSocketHeader(WebSocketOpcode::Text, 70000, header), 10u);
    EXPECT_EQ(header[1], 127);
    EXPECT_EQ(header[7] << 16 | header[8] << 8 | header[9], 70000);
}

}  // namespace

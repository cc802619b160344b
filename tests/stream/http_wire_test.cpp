#include "stream/http_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the servers' end-to-end table can't reach: the head's limit to the byte, and each rule a
// client's frame must keep (the handshake itself is LiveSplit One's test's).
TEST(HttpWire, HeadsAndFramesAreTakenOnlyWhole) {
    const std::string pad = "GET /?a=1 HTTP/1.1\r\nX: ";   // 23 bytes; 27 with the blank line
    const std::pair<std::string, HttpHeadStatus> heads[] = {
        {pad + std::string(kHttpHeadLimit - 27, 'a') + "\r\n\r\n", HttpHeadStatus::Complete},
        {pad + std::string(kHttpHeadLimit - 26, 'a') + "\r\n\r\n", HttpHeadStatus::TooLarge},
        {"GET /\r\n\r\n", HttpHeadStatus::Bad},
        {"GET / HTTP/1.1\nno colon\n\n", HttpHeadStatus::Bad},
    };
    HttpRequest request;
    for (const auto& [bytes, status] : heads) EXPECT_EQ(ParseHttpHead(bytes.data(), bytes.size(), &request), status);
    const std::pair<std::string, WebSocketFrameStatus> frames[] = {
        {"\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58", WebSocketFrameStatus::Complete},   // "Hello", masked
        {"\x81\x05Hello", WebSocketFrameStatus::Bad},                                       // unmasked
        {"\xc1\x80", WebSocketFrameStatus::Bad},                                            // a reserved bit
        {"\x83\x80", WebSocketFrameStatus::Bad},                                            // opcode 3
        {"\x09\x80", WebSocketFrameStatus::Bad},                                            // a fragmented ping
        {std::string("\x89\xfe\x00\x7e\0\0\0\0", 8), WebSocketFrameStatus::Bad},            // a ping of 126 bytes
        {std::string("\x82\xfe\x1f\x41\0\0\0\0", 8), WebSocketFrameStatus::TooLarge},       // 8001 bytes
        {std::string("\x82\xfe\x1f\x40\0\0\0\0", 8), WebSocketFrameStatus::Incomplete},     // 8000, on its way
    };
    WebSocketFrame frame;
    for (const auto& [bytes, status] : frames)
        EXPECT_EQ(ParseWebSocketFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 8000, &frame),
                  status) << ::testing::PrintToString(bytes);
}

}  // namespace

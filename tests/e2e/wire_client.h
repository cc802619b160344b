// A client of the stream servers for the tests, on the program's own
// non-blocking sockets (platform/socket.h), waiting by polling: HTTP requests
// written as raw bytes, and the WebSocket client that plays LiveSplit One.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"

class WireClient {
  public:
    WireClient() = default;
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;
    ~WireClient() { SocketClose(socket_); }

    // Connects to 127.0.0.1:port, waiting at most `timeout`.
    bool Connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        SocketAddress address{};
        if (!SocketStartup().ok || !SocketResolve("127.0.0.1", port, true, &address).ok) return false;
        if (!SocketConnectStart(address, &socket_).ok) return false;
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
            bool done = false;
            if (!SocketConnectDone(socket_, &done).ok) return false;
            if (done) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool Send(const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            size_t sent = 0;
            if (!SocketSend(socket_, bytes.data() + at, bytes.size() - at, &sent).ok) return false;
            at += sent;
            if (sent == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // Reads what arrived into received(); false once the server has closed the connection (or it failed).
    bool Read() {
        char buffer[8192];
        size_t got = 0;
        bool closed = false;
        if (!SocketReceive(socket_, buffer, sizeof buffer, &got, &closed).ok || closed) return false;
        received_.append(buffer, got);
        return true;
    }
    // Reads until `done` holds, the connection closes or the time is up; returns whether it was still open.
    template <typename Done>
    bool ReadUntil(Done done, std::chrono::milliseconds timeout) {
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
            if (!Read()) return false;
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // A GET, the answer read until the server closes: its whole text.
    static std::string Get(uint16_t port, const std::string& path) {
        WireClient client;
        if (!client.Connect(port) || !client.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) return "";
        client.ReadUntil([] { return false; }, std::chrono::seconds(5));
        return client.received_;
    }
    std::string& received() { return received_; }

  private:
    SocketHandle socket_ = kSocketNone;
    std::string received_;
};

// LiveSplit One as the tests play it: it connects to the server (again and
// again until it answers), keeps each command's JSON with the time it
// arrived, and answers each as the timer does, with a masked frame.
class FakeLiveSplitOne {
  public:
    struct Message {
        std::string json;
        uint64_t stamp;   // ClockNow when it arrived
    };
    void Start(uint16_t port) {
        running_ = true;
        thread_ = std::thread([this, port] { Run(port); });
    }
    ~FakeLiveSplitOne() { Stop(); }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }

  private:
    void Run(uint16_t port) {
        while (running_) {
            WireClient client;
            if (client.Connect(port, std::chrono::milliseconds(500)) &&
                client.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
                Talk(client);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void Talk(WireClient& client) {
        std::string& in = client.received();
        bool upgraded = false;
        while (running_ && client.Read()) {
            if (!upgraded) {
                const size_t end = in.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                if (in.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n") == std::string::npos) return;
                in.erase(0, end + 4);
                upgraded = true;
            }
            // The server's frames are short text frames, unmasked.
            while (in.size() >= 2 && (in[1] & 0x7F) < 126 && in.size() >= 2 + static_cast<size_t>(in[1] & 0x7F)) {
                const size_t length = in[1] & 0x7F;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    messages_.push_back({in.substr(2, length), ClockNow()});
                }
                in.erase(0, 2 + length);
                static const char kSuccess[] = "{\"success\":null}";
                std::string reply = {'\x81', static_cast<char>(0x80 | (sizeof kSuccess - 1)), 1, 2, 3, 4};
                for (size_t i = 0; i + 1 < sizeof kSuccess; ++i) reply += static_cast<char>(kSuccess[i] ^ (1 + i % 4));
                client.Send(reply);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Message> messages_;
};

// A client of the stream servers for the tests, on the program's own
// non-blocking sockets (platform/socket.h), waiting by polling: raw HTTP
// requests, and the WebSocket client that plays LiveSplit One.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"

class WireClient {
  public:
    ~WireClient() { SocketClose(socket_); }
    // Connects to 127.0.0.1:port, waiting at most `timeout`.
    bool Connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        SocketAddress address{};
        bool done = false;
        if (!SocketStartup().ok || !SocketResolve("127.0.0.1", port, true, &address).ok ||
            !SocketConnectStart(address, &socket_).ok)
            return false;
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end; Nap())
            if (!SocketConnectDone(socket_, &done).ok || done) return done;
        return false;
    }
    bool Send(const std::string& bytes) {
        for (size_t at = 0, sent = 0; at < bytes.size(); at += sent, Nap())
            if (!SocketSend(socket_, bytes.data() + at, bytes.size() - at, &sent).ok) return false;
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
    // Reads until `done` holds, the connection closes or the time is up; false when it closed without `done`.
    template <typename Done>
    bool ReadUntil(Done done, std::chrono::milliseconds timeout) {
        for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end; Nap())
            if (!Read() || done()) return done();
        return true;
    }
    // A GET, its answer read until the server closes.
    static std::string Get(uint16_t port, const std::string& path) {
        WireClient client;
        if (client.Connect(port) && client.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"))
            client.ReadUntil([] { return false; }, std::chrono::seconds(5));
        return client.received_;
    }
    // A port nobody listens on now (the OS's choice for port 0).
    static uint16_t FreePort() {
        SocketAddress address{};
        SocketHandle listener = kSocketNone;
        uint16_t port = 0;
        if (SocketStartup().ok && SocketResolve("127.0.0.1", 0, true, &address).ok && SocketListen(address, &listener).ok)
            SocketLocalPort(listener, &port);
        SocketClose(listener);
        return port;
    }
    std::string& received() { return received_; }
    static void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

  private:
    SocketHandle socket_ = kSocketNone;
    std::string received_;
};

// LiveSplit One as the tests play it: it connects (again and again until the
// server answers), keeps each command's JSON with the time it arrived, and
// answers each as the timer does, with a masked frame.
class FakeLiveSplitOne {
  public:
    struct Message {
        std::string json;
        uint64_t stamp;   // ClockNow when it arrived
    };
    void Start(uint16_t port) {
        running_ = true;
        thread_ = std::thread([this, port] {
            for (; running_; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
                WireClient client;
                if (client.Connect(port, std::chrono::milliseconds(500)) &&
                    client.Send("GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"))
                    Talk(client);
            }
        });
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
    void Talk(WireClient& client) {
        std::string& in = client.received();
        for (bool upgraded = false; running_ && client.Read(); WireClient::Nap()) {
            if (!upgraded && in.find("\r\n\r\n") == std::string::npos) continue;
            if (!upgraded && in.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n") == std::string::npos)
                return;
            if (!upgraded) in.erase(0, in.find("\r\n\r\n") + 4), upgraded = true;
            // The server's frames are short text frames, unmasked.
            for (size_t length; in.size() >= 2 && in.size() >= 2 + (length = in[1] & 0x7F);) {
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    messages_.push_back({in.substr(2, length), ClockNow()});
                }
                in.erase(0, 2 + length);
                const std::string success = "{\"success\":null}";
                std::string reply = {'\x81', static_cast<char>(0x80 | success.size()), 1, 2, 3, 4};
                for (size_t i = 0; i < success.size(); ++i) reply += static_cast<char>(success[i] ^ (1 + i % 4));
                client.Send(reply);
            }
        }
    }
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Message> messages_;
};

// A stand-in for LiveSplit's server: a loopback listener that takes one
// connection after another and keeps each line received, stamped with
// ClockNow. It can stop reading, or go away, mid-run.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

// The OS's part (posix/, win32/); -1 for no socket. Receive: bytes, 0 for none yet, -1 once closed.
intptr_t FakeServerListen(uint16_t* port);
intptr_t FakeServerAccept(intptr_t listener, int timeoutMs);
int FakeServerReceive(intptr_t connection, char* buffer, int size, int timeoutMs);
void FakeServerClose(intptr_t socket);

class FakeLiveSplit {
  public:
    struct Line {
        std::string text;
        uint64_t stamp;   // ClockNow when it arrived
    };
    bool Start() {
        listener_ = FakeServerListen(&port_);
        running_ = listener_ != -1;
        if (running_) thread_ = std::thread(&FakeLiveSplit::Serve, this);
        return running_;
    }
    ~FakeLiveSplit() { GoAway(); }
    uint16_t port() const { return port_; }
    void StopReading() { reading_ = false; }
    void GoAway() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        FakeServerClose(listener_);
        listener_ = -1;
    }
    std::vector<Line> Lines() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

  private:
    void Serve() {
        intptr_t connection = -1;
        std::string pending;
        char buffer[4096];
        while (running_) {
            const int got = connection != -1 && reading_ ? FakeServerReceive(connection, buffer, sizeof buffer, 20) : 0;
            if (connection == -1) connection = FakeServerAccept(listener_, 20);
            if (!reading_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (got < 0) FakeServerClose(connection), connection = -1;
            if (got <= 0) continue;
            pending.append(buffer, static_cast<size_t>(got));
            std::lock_guard<std::mutex> guard(lock_);
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos; pending.erase(0, end + 2))
                lines_.push_back({pending.substr(0, end), ClockNow()});
        }
        FakeServerClose(connection);
    }
    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{false}, reading_{true};
    std::thread thread_;
    std::mutex lock_;
    std::vector<Line> lines_;
};

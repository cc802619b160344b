#include "e2e/e2e_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "emulator/contract.h"
#include "emulator/header_search.h"
#include "emulator/tracker_thread.h"
#include "platform/clock.h"
#include "platform/process_memory.h"

extern char** environ;

// [SECTION] Standin

Standin::~Standin() { Kill(); }

bool Standin::Start(const std::vector<std::string>& args) { return StartProgram(StandinPath("retroarch.exe"), args); }

bool Standin::StartProgram(const std::string& path, const std::vector<std::string>& args) {
    std::string program = path;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (failed != 0) {
        close(pipeFds[0]);
        pid_ = -1;
        return false;
    }
    output_ = pipeFds[0];
    return WaitForLine("ready", std::chrono::seconds(10));
}

bool Standin::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (line.rfind(prefix, 0) == 0) return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || output_ < 0) return false;
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[512];
        ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0) return false;   // the stand-in ended
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

void Standin::Signal(int number) const {
    if (pid_ > 0) kill(pid_, number);
}

void Standin::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (output_ >= 0) close(output_);
    output_ = -1;
    pending_.clear();
}

void Standin::KillLeavingZombie() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    // Wait until it has ended; waitid with WNOWAIT leaves it unreaped.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
}

std::string StandinPath(const char* fileName) {
    std::string path = std::string(RINGWATCH_STANDIN_DIR) + "/" + fileName;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string ScenarioPath(const char* fileName) { return std::string(RINGWATCH_SCENARIO_DIR) + "/" + fileName; }

// [SECTION] TrackerRun

TrackerRun::TrackerRun()
    : shared_(std::make_unique<SharedState>()),
      sharedLog_(std::make_unique<LogBuffer>()),
      sharedSnapshot_(std::make_unique<GameSnapshot>()),
      mainLog_(std::make_unique<LogBuffer>()),
      mainSnapshot_(std::make_unique<GameSnapshot>()) {
    shared_->startStamp = ClockNow();
    shared_->counterFrequency = static_cast<double>(ClockFrequency());
    shared_->framePeriod = 0.2;
    shared_->debugFramePeriod = 1.0 / 60.0;
    shared_->running = true;
    shared_->ready = false;
    shared_->sharedLog = sharedLog_.get();
    shared_->sharedSnapshot = sharedSnapshot_.get();
}

TrackerRun::~TrackerRun() { Stop(); }

void TrackerRun::Start() { thread_ = std::thread(TrackerThreadMain, shared_.get()); }

void TrackerRun::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->running = false;
    }
    thread_.join();
}

bool TrackerRun::Poll() {
    ready_ = Collect(*shared_, *mainSnapshot_, *mainLog_);
    for (int i = 0; i < mainLog_->count; ++i) messages_.push_back({mainLog_->entries[i].text, mainLog_->entries[i].stamp});
    LogClear(*mainLog_);
    return ready_;
}

bool TrackerRun::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Poll();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int TrackerRun::WaitForMessage(const std::string& text, size_t from, std::chrono::milliseconds timeout) {
    int found = -1;
    WaitUntil(
        [&] {
            for (size_t i = from; i < messages_.size(); ++i) {
                if (messages_[i].text == text) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

double TrackerRun::Seconds(uint64_t ticks) const { return static_cast<double>(ticks) / shared_->counterFrequency; }

// [SECTION] Processes and memory

int OpenDescriptorCount() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return -1;
    while (dirent* entry = readdir(fds)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(fds);
    return count - 1;   // the directory's own descriptor
}

std::string ForeignEmulators() {
    std::string found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        size_t close = line.rfind(')');
        size_t open = line.find('(');
        if (close == std::string::npos || open == std::string::npos || close + 2 >= line.size()) continue;
        std::string name = line.substr(open + 1, close - open - 1);
        char state = line[close + 2];
        std::istringstream rest(line.substr(close + 4));
        long parent = 0;
        rest >> parent;
        if (name == kEmulatorProcessName && state != 'Z' && parent != getpid()) {
            found += std::to_string(pid) + " " + name + " (parent " + std::to_string(parent) + ")\n";
        }
    }
    closedir(proc);
    return found;
}

std::string WaitForNoForeignEmulators(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string others = ForeignEmulators();
    while (!others.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        others = ForeignEmulators();
    }
    return others;
}

std::vector<uint64_t> HeaderCopiesIn(pid_t pid) {
    std::vector<uint64_t> copies;
    ProcessHandle process = ProcessOpen(static_cast<uint32_t>(pid));
    if (process == nullptr) return copies;
    constexpr size_t kChunk = 16u << 20;
    // Sanitizer builds reserve terabytes of shadow memory that read as zeros;
    // the program's own memory lies in far smaller regions.
    constexpr uint64_t kRegionLimit = 64u << 20;
    std::vector<uint8_t> buffer(kChunk + kHeaderPatternSize);
    uint64_t address = 0;
    MemoryRegion region{};
    while (ProcessQueryRegion(process, address, &region)) {
        if (region.state == kMemCommit && region.protect != kPageNoAccess) {
            // Whole region, in chunks that overlap by the pattern's length.
            const uint64_t end = region.baseAddress + std::min(region.regionSize, kRegionLimit);
            for (uint64_t at = region.baseAddress; at < end; at += kChunk) {
                size_t size = static_cast<size_t>(std::min<uint64_t>(kChunk + kHeaderPatternSize - 1, end - at));
                if (!ProcessReadMemory(process, at, buffer.data(), size)) break;
                size_t from = 0;
                ptrdiff_t hit;
                while ((hit = FindHeaderPattern(buffer.data() + from, size - from)) != kHeaderNotFound) {
                    uint64_t where = at + from + static_cast<uint64_t>(hit);
                    if (copies.empty() || copies.back() != where) copies.push_back(where);
                    from += static_cast<size_t>(hit) + 1;
                }
            }
        }
        uint64_t next = region.baseAddress + region.regionSize;
        if (next <= address) break;
        address = next;
    }
    ProcessClose(process);
    return copies;
}

#include "e2e/e2e_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "emulator/core_layout.h"
#include "emulator/header_search.h"
#include "app/tracker_thread.h"
#include "platform/clock.h"
#include "platform/process_memory.h"

// [SECTION] Standin

Standin::~Standin() { Kill(); }

bool Standin::Start(const std::vector<std::string>& args) { return StartProgram(StandinPath("retroarch.exe"), args); }

bool Standin::StartProgram(const std::string& program, const std::vector<std::string>& args) {
    Kill();
    child_ = ChildStart(program, args);
    if (child_ == nullptr) return false;
    return WaitForLine("ready", std::chrono::seconds(10));
}

bool Standin::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout, std::string* found) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();   // a text-mode stdout on Windows
            if (line.rfind(prefix, 0) == 0) {
                if (found != nullptr) *found = line;
                return true;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || child_ == nullptr) return false;
        if (ChildReadOutput(child_, &pending_, static_cast<int>(left.count())) == ChildRead::Ended) return false;
    }
}

uint32_t Standin::WaitForDone(std::chrono::milliseconds timeout) {
    std::string line;
    if (!WaitForLine("done global-frame=", timeout, &line)) return 0;
    return static_cast<uint32_t>(std::strtoul(line.c_str() + std::strlen("done global-frame="), nullptr, 10));
}

void Standin::SwitchToGame() {
    if (child_ != nullptr) ChildCueMode(child_, true);
}

void Standin::SwitchToMenu() {
    if (child_ != nullptr) ChildCueMode(child_, false);
}

void Standin::Kill() {
    ChildKill(child_);
    child_ = nullptr;
    pending_.clear();
}

void Standin::KillLeavingUnreaped() {
    if (child_ != nullptr) ChildEndLeavingUnreaped(child_);
}

uint32_t Standin::pid() const { return child_ != nullptr ? ChildProcessId(child_) : 0; }

std::string StandinPath(const char* fileName) {
    return CanonicalPath(std::string(RINGWATCH_STANDIN_DIR) + "/" + fileName);
}

std::string ScenarioPath(const char* fileName) { return std::string(RINGWATCH_SCENARIO_DIR) + "/" + fileName; }

// [SECTION] TrackerRun

TrackerRun::TrackerRun()
    : shared_(std::make_unique<SharedState>()),
      sharedLog_(std::make_unique<LogBuffer>()),
      sharedSnapshot_(std::make_unique<GameSnapshot>()),
      mainLog_(std::make_unique<LogBuffer>()),
      mainSnapshot_(std::make_unique<GameSnapshot>()) {
    shared_->running = true;
    shared_->ready = false;
    shared_->sharedLog = sharedLog_.get();
    shared_->sharedSnapshot = sharedSnapshot_.get();
}

TrackerRun::~TrackerRun() { Stop(); }

void TrackerRun::Start(PassObserver observer) { thread_ = std::thread(TrackerThreadMain, shared_.get(), observer); }

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

bool TrackerRun::WaitForFrame(uint32_t globalFrame, std::chrono::milliseconds timeout) {
    return globalFrame != 0 && WaitUntil([&] { return ready_ && mainSnapshot_->ram.globalFrame == globalFrame; }, timeout);
}

double TrackerRun::Seconds(uint64_t ticks) const { return static_cast<double>(ticks) / static_cast<double>(ClockFrequency()); }

// [SECTION] Processes and memory

std::string WaitForNoForeignEmulators(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string others = ForeignEmulators();
    while (!others.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        others = ForeignEmulators();
    }
    return others;
}

// [SECTION] Counted process calls

namespace {

ReadFigures g_readFigures{};

ProcessResult CountedListReadable(ProcessHandle process, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity,
                                  int* count) {
    if (from == 0) ++g_readFigures.walks;
    const ProcessResult result = kPlatformProcessApi.listReadable(process, from, to, ranges, capacity, count);
    g_readFigures.rangesListed += static_cast<uint32_t>(*count);
    return result;
}

ProcessResult CountedRead(ProcessHandle process, uint64_t address, void* buffer, size_t size) {
    const ProcessResult result = kPlatformProcessApi.read(process, address, buffer, size);
    if (result.status == ProcessStatus::Ok) {
        ++g_readFigures.regionsRead;
        g_readFigures.bytesRead += size;
    }
    return result;
}

}  // namespace

std::string NotFoundMessage() {
    return kProgramFormCount == 2
               ? "ERROR: Could not find process 'retroarch', 'retroarch.exe', 'blastem', 'blastem.exe', "
                 "'EmuHawk.exe' or 'Fusion.exe'."
               : "ERROR: Could not find process 'retroarch.exe', 'blastem.exe', 'EmuHawk.exe' or 'Fusion.exe'.";
}

const ProcessApi& CountingProcessApi() {
    static const ProcessApi api = [] {
        ProcessApi counted = kPlatformProcessApi;
        counted.listReadable = CountedListReadable;
        counted.read = CountedRead;
        return counted;
    }();
    return api;
}

ReadFigures TakeReadFigures() {
    const ReadFigures figures = g_readFigures;
    g_readFigures = {};
    return figures;
}

std::vector<uint64_t> HeaderCopiesIn(uint32_t pid) {
    std::vector<uint64_t> copies;
    ProcessHandle process = nullptr;
    if (ProcessOpen(pid, &process).status != ProcessStatus::Ok) return copies;
    constexpr size_t kChunk = 16u << 20;
    // Sanitizer builds reserve terabytes of shadow memory that read as zeros;
    // the program's own memory lies in far smaller regions.
    constexpr uint64_t kRegionLimit = 64u << 20;
    std::vector<uint8_t> buffer(kChunk + kHeaderPatternSize);
    std::vector<MemoryRange> ranges(kRangeListCapacity);
    int count = kRangeListCapacity;
    for (uint64_t from = 0; count == kRangeListCapacity; from = ranges[count - 1].base + ranges[count - 1].size) {
        if (ProcessListReadable(process, from, UINT64_MAX, ranges.data(), kRangeListCapacity, &count).status !=
                ProcessStatus::Ok ||
            count == 0) {
            break;
        }
        for (int i = 0; i < count; ++i) {
            const MemoryRange& range = ranges[static_cast<size_t>(i)];
            // Whole range, in chunks that overlap by the pattern's length.
            const uint64_t end = range.base + std::min(range.size, kRegionLimit);
            for (uint64_t at = range.base; at < end; at += kChunk) {
                size_t size = static_cast<size_t>(std::min<uint64_t>(kChunk + kHeaderPatternSize - 1, end - at));
                if (ProcessRead(process, at, buffer.data(), size).status != ProcessStatus::Ok) break;
                size_t offset = 0;
                ptrdiff_t hit;
                while ((hit = FindHeaderPattern(buffer.data() + offset, size - offset)) != kHeaderNotFound) {
                    uint64_t where = at + offset + static_cast<uint64_t>(hit);
                    if (copies.empty() || copies.back() != where) copies.push_back(where);
                    offset += static_cast<size_t>(hit) + 1;
                }
            }
        }
    }
    ProcessClose(process);
    return copies;
}

// [SECTION] Terminal

Terminal::Terminal() : socket_(ProcessUniqueName("ringwatch-e2e-")) {}

Terminal::~Terminal() {
    std::string ignored;
    RunShell("tmux -L " + socket_ + " kill-server", &ignored);
}

bool Terminal::Available() {
    std::string version;
    return RunShell("tmux -V", &version);
}

bool Terminal::Start(const std::string& command, int columns, int rows) {
    std::string output;
    return RunShell("tmux -L " + socket_ + " new-session -d -s screen -x " + std::to_string(columns) + " -y " +
                        std::to_string(rows) + " " + ShellQuoted(command),
                    &output);
}

std::string Terminal::Capture() {
    std::string screen;
    RunShell("tmux -L " + socket_ + " capture-pane -p -t screen", &screen);
    return screen;
}

bool HasLine(const std::string& screen, const std::string& line) {
    return screen.find("\n" + line + "\n") != std::string::npos || screen.rfind(line + "\n", 0) == 0;
}

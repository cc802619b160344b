// The Windows frontend (tools/frontend) running the real core on a cartridge,
// as a child process of a test or a measurement: copied with the core into a
// directory of their own, so that the core lies beside retroarch.exe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "platform/process_memory.h"
#include "tools/testrom/frame_stream.h"

// A directory holding copies of the frontend and the core `coreDll`, with the
// separator after it; empty on failure.
std::string FrontendDirectory(const std::string& coreDll);

class Frontend {
  public:
    Frontend() = default;
    Frontend(const Frontend&) = delete;
    Frontend& operator=(const Frontend&) = delete;
    ~Frontend() { Kill(); }

    // Starts `directory`retroarch.exe with `args` and waits for its "ready"
    // line; false, with the reason in error(), on failure.
    bool Start(const std::string& directory, const std::vector<std::string>& args);
    // Waits for a line of its output starting with `prefix` and returns it
    // (empty when it did not come within `timeoutMs` or the frontend ended).
    std::string WaitForLine(const std::string& prefix, int timeoutMs);
    // A word of the console's work RAM (68000 address kWorkRamFirstAddress + `offset`); 0
    // when it can't be read.
    uint16_t RamWord(uint32_t offset) const;
    // Waits until that word is at least `atLeast`.
    bool WaitForRamWord(uint32_t offset, uint16_t atLeast, int timeoutMs) const;
    // Lets a frontend started with --hold go on.
    bool Resume() const;
    void Kill();

    uint32_t pid() const { return child_ != nullptr ? ChildProcessId(child_) : 0; }
    // Where the core keeps work RAM, from its load address, as the core
    // reports it: "0x" and upper-case hexadecimal digits.
    const std::string& ramOffset() const { return ramOffset_; }
    const std::string& error() const { return error_; }

  private:
    ChildProcess* child_ = nullptr;
    ProcessHandle process_ = nullptr;
    uint64_t ram_ = 0;
    std::string ramOffset_;
    std::string pending_;
    std::string error_;
};

// Marks the test cartridge keeps in work RAM (offsets from its first byte).
inline constexpr uint32_t kCartridgeDoneMarker = kDoneMarkerAddress - kWorkRamFirstAddress;   // vertical blanks handled
inline constexpr uint32_t kCartridgeSayMarker = kSayMarkerAddress - kWorkRamFirstAddress;     // say lines passed

// Debian's RetroArch running the real Genesis Plus GX core, headless, for the
// end-to-end tests: null video, audio and input drivers, paced at the core's
// 60 frames a second, its configuration, history, saves and system files in a
// directory of its own, commands on its standard input (nothing listens on the
// network), started under a session bus of its own (dbus-run-session), which
// it needs. The test reads and writes its memory through /proc/PID/mem.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class RetroArch {
  public:
    // `core`: the built genesis_plus_gx_libretro.so.
    explicit RetroArch(std::string core);
    RetroArch(const RetroArch&) = delete;
    RetroArch& operator=(const RetroArch&) = delete;
    ~RetroArch();

    // Starts it on `cartridge` and waits until the core is loaded and its
    // work RAM is mapped. False, with the reason in error(), otherwise.
    // `settings`: configuration lines ("key = \"value\"") that take the place
    // of its own for those keys.
    bool Start(const std::string& cartridge, const std::vector<std::string>& settings = {});
    // SIGKILL, then waits until the process is gone.
    void Kill();
    uint32_t pid() const { return pid_; }
    const std::string& error() const { return error_; }
    // The offset of work RAM from the core's load address in this build.
    uint64_t workRamOffset() const { return workRamOffset_; }
    // The end of its log (standard output and error), for failure messages.
    std::string LogTail(size_t bytes = 3000) const;

    // One command of its command interface (QUIT, RESET, PAUSE_TOGGLE, ...).
    bool Command(const std::string& command);
    // Closes the content; true once the core is unloaded (no longer mapped).
    bool CloseContent(std::chrono::milliseconds timeout);
    // Loads the last content again through the menu's history, as a player
    // would after closing it; true once the core is mapped again.
    bool LoadLastContent(std::chrono::milliseconds timeout);

    // The core module's load address (its lowest mapping), 0 when not loaded.
    uint64_t CoreBase() const;
    // Copies of the core mapped: two while run-ahead runs a second instance
    // (RetroArch loads a copy of the module for it).
    size_t CoreCopies() const;
    // Whether the global frame counter, read back to back for up to
    // `timeout`, steps back: single-instance run-ahead loads the last real
    // frame's state on every frame it shows.
    bool SeesCounterStepBack(std::chrono::milliseconds timeout) const;
    // The 16-bit word at 68000 address `address` of work RAM; false when it
    // can't be read.
    bool ReadRamWord(uint32_t address, uint16_t* value) const;
    // Waits until the word at `address` is at least `value`.
    bool WaitForRamWord(uint32_t address, uint16_t value, std::chrono::milliseconds timeout) const;

    // Where the cartridge header lies in its memory, in file order (the
    // frontend's copy of the file) and as the core keeps it (byte pairs
    // swapped).
    struct HeaderCopies {
        std::vector<uint64_t> fileOrder;
        std::vector<uint64_t> swapped;
    };
    HeaderCopies FindHeaderCopies() const;
    // Overwrites every file-order copy of the header with zeros, so that only
    // the core's swapped copy is left; returns how many it cleared, -1 when a
    // write failed.
    int ClearFileOrderHeaders();

  private:
    bool WaitForCore(bool loaded, std::chrono::milliseconds timeout) const;

    std::string core_;
    std::string dir_;
    uint64_t workRamOffset_;
    std::string error_;
    int session_ = -1;       // dbus-run-session's pid
    uint32_t pid_ = 0;       // RetroArch's
    int commands_ = -1;      // write end of its standard input
};

// The configuration lines of run-ahead by `frames` frames, in a second
// instance of the core or in the one instance.
std::vector<std::string> RunAheadSettings(uint32_t frames, bool secondInstance);

// The offset of the core's work RAM from its load address, from the core's
// symbol table (the symbol work_ram); 0 when it can't be read.
uint64_t CoreWorkRamOffset(const std::string& core);

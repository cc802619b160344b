// Debian's BlastEm for the end-to-end tests: /usr/games/blastem on the test
// cartridge, on an X display of its own (Xvfb on the display number the test
// chooses: tests side by side share the abstract sockets where X servers
// listen, so each case needs its own number), sound to SDL's dummy driver,
// its home in a directory of its own. The test reads its work RAM through
// /proc/PID/mem, found by the game's signature on its heap.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct ChildProcess;

inline constexpr const char* kBlastEmProgram = "/usr/games/blastem";

class BlastEm {
  public:
    explicit BlastEm(int display);
    BlastEm(const BlastEm&) = delete;
    BlastEm& operator=(const BlastEm&) = delete;
    ~BlastEm();   // ends BlastEm and its X server

    // Starts the X server once, then BlastEm on `cartridge`, and waits until
    // the cartridge's first frame is in work RAM. False, with the reason in
    // error(), otherwise.
    bool Start(const std::string& cartridge);
    // SIGKILL to BlastEm itself, then reaped; the X server stays.
    void Kill();
    // BlastEm's own soft reset: Tab, its default key, sent on its display.
    bool SoftReset();
    uint32_t pid() const;
    const std::string& error() const { return error_; }
    // What it has written so far (standard output).
    std::string Output();

    // The 16-bit word at 68000 address `address` of work RAM; false when it
    // can't be read.
    bool ReadRamWord(uint32_t address, uint16_t* value) const;

  private:
    bool FindWorkRam(std::chrono::milliseconds timeout);

    int display_;
    std::string dir_;
    std::string error_;
    std::string output_;
    ChildProcess* xvfb_ = nullptr;
    ChildProcess* blastem_ = nullptr;
    uint64_t ram_ = 0;   // work RAM in BlastEm's memory
};

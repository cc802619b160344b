// End-to-end tests against the stand-in emulator: the real process backend,
// the stand-in as a child process, and the tracker thread as the program runs
// it, observed through Collect as the main thread sees it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/shared_state.h"
#include "app/tracker_thread.h"
#include "e2e/child_process.h"
#include "emulator/emulator_connection.h"

// The stand-in (build/.../tools/standin/retroarch.exe) as a child process with
// its standard output on a pipe. Killed and reaped on destruction.
class Standin {
  public:
    Standin() = default;
    Standin(const Standin&) = delete;
    Standin& operator=(const Standin&) = delete;
    ~Standin();

    // Starts it with `args` and waits for its "ready" line (false on failure).
    bool Start(const std::vector<std::string>& args);
    // The same from another copy of the executable (its core beside it).
    bool StartProgram(const std::string& program, const std::vector<std::string>& args);
    // Waits for a line of its output starting with `prefix`.
    bool WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout, std::string* line = nullptr);
    // Waits for the scenario's end; returns the global frame counter of its
    // last frame, 0 when it did not end in time.
    uint32_t WaitForDone(std::chrono::milliseconds timeout);
    // Sonic 2 started (the signature appears) or left for the menu (it goes).
    void SwitchToGame();
    void SwitchToMenu();
    // Killed and reaped: afterwards the process is gone.
    void Kill();
    // Killed and ended, but left unreaped until Kill(): a zombie on POSIX, a
    // process still held by a handle on Windows.
    void KillLeavingUnreaped();
    uint32_t pid() const;

  private:
    ChildProcess* child_ = nullptr;
    std::string pending_;
};

// The stand-in's pace where a test counts one-frame events: each game frame
// stays in RAM for 67 ms, a dozen passes of the tracker, so that only a stall
// of four frames of the game's own pace could hide one.
inline const std::string kFunctionalFps = "15";

std::string StandinPath(const char* fileName);   // a file beside retroarch.exe, canonical
std::string ScenarioPath(const char* fileName);  // tools/standin/scenarios/...

struct Message {
    std::string text;
    uint64_t stamp;      // counter ticks
};

// The tracker thread running as in the program, with the main thread's side
// of the hand-off done by Collect in Poll.
class TrackerRun {
  public:
    TrackerRun();
    ~TrackerRun();
    // Starts the tracker thread, with `observer` called after every pass.
    void Start(PassObserver observer = {});
    // Ends the thread (it finishes its pass and its sleep) and joins it.
    void Stop();

    // One Collect: new messages are appended to messages(); returns `ready`.
    bool Poll();
    // Polls every 10 ms until `done` holds after a Poll, or the time is up.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Waits until a message equal to `text` arrives at index `from` or later;
    // returns its index or -1.
    int WaitForMessage(const std::string& text, size_t from, std::chrono::milliseconds timeout);
    // Waits until the published snapshot is of the game's frame `globalFrame`
    // (the emulator's last, from Standin::WaitForDone) and `ready`.
    bool WaitForFrame(uint32_t globalFrame, std::chrono::milliseconds timeout);

    const std::vector<Message>& messages() const { return messages_; }
    const GameSnapshot& snapshot() const { return *mainSnapshot_; }
    bool ready() const { return ready_; }
    double Seconds(uint64_t ticks) const;

  private:
    std::unique_ptr<SharedState> shared_;
    std::unique_ptr<LogBuffer> sharedLog_;
    std::unique_ptr<GameSnapshot> sharedSnapshot_;
    std::unique_ptr<LogBuffer> mainLog_;
    std::unique_ptr<GameSnapshot> mainSnapshot_;
    std::thread thread_;
    std::vector<Message> messages_;
    bool ready_ = false;
};

// Waits up to `timeout` for ForeignEmulators() to be empty (another suite's
// stand-in that is about to end); returns what is left.
std::string WaitForNoForeignEmulators(std::chrono::milliseconds timeout);

// Searches all readable memory of process `pid` (every region, whatever its
// address, the first 64 MiB of each) for the cartridge header pattern;
// returns the addresses.
std::vector<uint64_t> HeaderCopiesIn(uint32_t pid);

// What a pass logs when no emulator runs: every process name looked for.
std::string NotFoundMessage();

// What a tracker's calls read of the emulator through CountingProcessApi():
// the platform's process calls, counted.
struct ReadFigures {
    uint32_t walks;           // walks of the address space (listings from address 0): header scans
    uint32_t rangesListed;    // readable ranges listed
    uint32_t regionsRead;     // reads that succeeded
    uint64_t bytesRead;       // bytes they read
};
const ProcessApi& CountingProcessApi();
// The figures since the last call, then zeroed.
ReadFigures TakeReadFigures();

// A detached tmux session on a socket of its own, for the whole program on a
// terminal. On Windows the test runs under Wine, and tmux and the program's
// launcher are the host's.
class Terminal {
  public:
    Terminal();
    ~Terminal();
    static bool Available();
    // `command` is a shell command: its paths quoted (ShellQuoted).
    bool Start(const std::string& command, int columns, int rows);
    std::string Capture();

  private:
    std::string socket_;
};

// Whether the captured screen has `line` as a whole line.
bool HasLine(const std::string& screen, const std::string& line);

// What the end-to-end tests need of the OS besides the process backend: a
// child process with its standard output on a pipe, that never outlives the
// test binary; the cues that switch the stand-in between game and menu; a
// count of this process's open handles; other emulators on the machine; and
// files and shell commands. One implementation per OS: posix/ and win32/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ChildProcess;

// Starts `program` with `args`, its standard output on a pipe. Null when it
// can't be started, with the reason on standard error. On Windows the child
// runs in a job object that kills it when the test binary ends, however that
// happens.
ChildProcess* ChildStart(const std::string& program, const std::vector<std::string>& args);

enum class ChildRead { Data, TimeUp, Ended };
// Appends to `text` what the child writes within `timeoutMs`: Data as soon as
// something arrived, TimeUp if nothing did, Ended once its output is closed.
ChildRead ChildReadOutput(ChildProcess* child, std::string* text, int timeoutMs);

uint32_t ChildProcessId(const ChildProcess* child);

// Switches the stand-in to the game (`game`) or the compilation's menu.
void ChildCueMode(ChildProcess* child, bool game);

// Kills the child and waits until it has ended, but leaves it unreaped: a
// zombie on POSIX, a process object kept by an open handle on Windows.
void ChildEndLeavingUnreaped(ChildProcess* child);

// Kills the child, reaps it and frees everything; null is ignored.
void ChildKill(ChildProcess* child);

// Handles (descriptors on POSIX) open in this process; -1 when unknown.
int OpenHandleCount();

// Emulators this process did not start (retroarch.exe, and on Linux also a
// native retroarch, blastem and the stand-in's other names), which a tracker
// could take for its own, as
// "pid name (parent pid)" lines; empty when none.
std::string ForeignEmulators();

// The path as the OS names it when it reports the file back (canonical on
// POSIX, a full Windows path with a drive letter on Windows).
std::string CanonicalPath(const std::string& path);

// A new empty directory for this test, with the separator after its name.
std::string MakeTemporaryDirectory();

// Takes a file of a running program off its name, as an update that replaces
// it does: removed on POSIX; on Windows, where a running image can't be
// deleted, moved aside to NAME.old.
bool MoveAsideWhileRunning(const std::string& path);

// `text` as one word of a POSIX shell's command line, whatever it holds (a
// path with blanks, say): in single quotes, each single quote as '\''.
inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command (on Windows under Wine: the host's /bin/sh) and
// appends what it wrote, standard error included, to `output`. True when it
// ran and exited with status 0. The command holds no double quotes.
bool RunShell(const std::string& command, std::string* output);

// Gets the program ready to keep its data files in `folder` (a new empty
// directory) and returns the program to start: on Windows a copy of it in
// `folder`, whose files go beside it; elsewhere the program itself, with
// XDG_DATA_HOME set to `folder` for the children started from now on, whose
// files go to its ringwatch/ folder. `dataFolder` receives where they go.
std::string ProgramWithDataIn(const std::string& program, const std::string& folder, std::string* dataFolder);

// A name for files and sessions that is unique to this test process, also
// beside tests in PID namespaces of their own (whose process ids repeat).
std::string ProcessUniqueName(const char* prefix);

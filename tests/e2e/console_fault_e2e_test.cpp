// Faults of the console: standard output redirected to a file (no console to
// size, so nothing is drawn and every frame says so), and the terminal
// resized many times in a row under a running program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/render_loop.h"
#include "app/screen_buffer.h"
#include "app/shared_state.h"
#include "e2e/e2e_support.h"
#include "emulator/ram_decode.h"
#include "platform/clock.h"
#include "tracking/classifier.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

const char kNoConsole[] = "Could not get console buffer info.";

// The sanitizer runtimes keep memory of their own that grows while a program
// runs (ThreadSanitizer's event history, AddressSanitizer's quarantine of
// freed blocks), so a program's resident memory is judged in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / ProcessUniqueName((std::string(name) + "-").c_str())).string();
}

uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : UINT64_MAX;
}

// VmRSS of process `pid` in KiB, 0 when it can't be read.
uint64_t ResidentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

int DescriptorsOf(pid_t pid) {
    int count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

bool Alive(pid_t pid) {
    int status;
    return waitpid(pid, &status, WNOHANG) == 0;
}

// The main thread's frames, in this process, to the descriptor `fd`, of a
// tracked game with every block of the layout on.
struct Frames {
    std::unique_ptr<SharedState> shared = std::make_unique<SharedState>();
    std::unique_ptr<LogBuffer> sharedLog = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> sharedSnapshot = std::make_unique<GameSnapshot>();
    std::unique_ptr<LogBuffer> mainLog = std::make_unique<LogBuffer>();
    std::unique_ptr<GameSnapshot> mainSnapshot = std::make_unique<GameSnapshot>();
    ScreenBuffer screen{};
    RenderContext context;

    explicit Frames(int fd)
        : context{&screen, reinterpret_cast<ConsoleHandle>(static_cast<intptr_t>(fd)), mainLog.get(),
                  mainSnapshot.get(), shared.get(), FrameTiming{}, nullptr} {
        shared->running = true;
        shared->sharedLog = sharedLog.get();
        shared->sharedSnapshot = sharedSnapshot.get();
        InitRamDecode(sharedSnapshot->ram);
        sharedSnapshot->stats.trackerState = TrackerState::LevelActive;
        sharedSnapshot->stats.run.recordCount = kLevelRecordCapacity;
        sharedSnapshot->ram.debugFlag = 1;
        shared->ready = true;
        context.timing.startStamp = ClockNow();
        context.timing.counterFrequency = static_cast<double>(ClockFrequency());
        context.timing.framePeriod = 0.2;
        context.timing.debugFramePeriod = 1.0 / 60.0;
    }
};

// Standard output a file: composing the layout must not touch the grid that
// does not exist.
TEST(ConsoleFaults, OutputToAFileLogsOnceAFrameAndDrawsNothing) {
    const std::string path = TempPath("ringwatch-frames");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    Frames frames(fd);
    RenderContext& context = frames.context;
    const ScreenBuffer& screen = frames.screen;
    LogBuffer* mainLog = frames.mainLog.get();

    for (int frame = 1; frame <= 100; ++frame) {
        EXPECT_TRUE(DrawFrame(context));
        ASSERT_EQ(mainLog->count, frame) << "one message per frame";
        ASSERT_STREQ(mainLog->entries[frame - 1].text, kNoConsole);
    }
    EXPECT_EQ(screen.cells, nullptr) << "no grid without a console";

    // Many more frames than the log holds: it stays full, nothing grows. (The
    // kernel's resident count lags by up to 64 pages a thread, hence frames
    // enough that 16 bytes a frame would show.)
    for (int frame = 0; frame < kLogCapacity; ++frame) DrawFrame(context);
    EXPECT_EQ(mainLog->count, kLogCapacity);
    const uint64_t resident = ResidentKib(getpid());
    for (int frame = 0; frame < 50000; ++frame) DrawFrame(context);
    EXPECT_EQ(mainLog->count, kLogCapacity);
    EXPECT_LE(ResidentKib(getpid()), resident + 512);
    EXPECT_EQ(FileSize(path), 0u) << "a frame without a grid writes nothing";
    close(fd);
    std::filesystem::remove(path);
}

// A pseudo-terminal made without a size reports 0x0: the whole layout is
// drawn at 120x60 all the same, the terminal cleared once, and the log says
// so once.
TEST(ConsoleFaults, TerminalWithNoSizeDrawsTheWholeLayout) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    winsize size{};
    ASSERT_EQ(ioctl(terminal, TIOCGWINSZ, &size), 0);
    ASSERT_EQ(size.ws_col + size.ws_row, 0) << "the terminal was made with a size";
    ASSERT_EQ(fcntl(master, F_SETFL, O_NONBLOCK), 0);

    Frames frames(terminal);
    std::string drawn;
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_TRUE(DrawFrame(frames.context));
        char buffer[4096];
        ssize_t got;
        while ((got = read(master, buffer, sizeof buffer)) > 0) drawn.append(buffer, static_cast<size_t>(got));
    }
    const std::string told = "The terminal gave no size (0x0): drawing at 120x60.";
    ASSERT_EQ(frames.mainLog->count, 1);
    EXPECT_EQ(frames.mainLog->entries[0].text, told);
    EXPECT_EQ(frames.screen.width, 120);
    EXPECT_EQ(frames.screen.height, 60);
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = drawn.find(text); at != std::string::npos; at = drawn.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\x1b[2J"), 1u) << "cleared on the first frame only";
    EXPECT_EQ(count("P2 Spindash Count"), 5u) << "the whole layout on every frame";
    EXPECT_EQ(count(told), 5u) << "and the log below it";
    close(terminal);
    close(master);
}

// The whole program with its standard output redirected to a file: it runs
// on, writes nothing, and its memory and descriptors stay flat.
TEST(ConsoleFaults, WholeProgramWithOutputToAFile) {
    const std::string path = TempPath("ringwatch-stdout");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = RINGWATCH_PROGRAM;
    std::string rate = "-refresh";
    std::string value = "200";
    char* argv[] = {program.data(), rate.data(), value.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(Alive(pid)) << "ended within 1.5 s";
    const uint64_t residentEarly = ResidentKib(pid);
    const int descriptorsEarly = DescriptorsOf(pid);
    std::this_thread::sleep_for(5s);   // two more attach attempts, a thousand frames
    const bool alive = Alive(pid);
    const uint64_t residentLate = ResidentKib(pid);
    const int descriptorsLate = DescriptorsOf(pid);
    if (alive) kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);

    EXPECT_TRUE(alive) << "ended with status " << status;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    EXPECT_EQ(FileSize(path), 0u) << "nothing written to the file";
    EXPECT_EQ(descriptorsLate, descriptorsEarly);
    if (!kSanitizerBuild) {
        EXPECT_LE(residentLate, residentEarly + 256) << residentEarly << " KiB after 1.5 s, " << residentLate
                                                     << " KiB after 6.5 s";
    }
    std::printf("stdout to a file: resident %llu KiB after 1.5 s, %llu KiB after 6.5 s; descriptors %d, %d\n",
                static_cast<unsigned long long>(residentEarly), static_cast<unsigned long long>(residentLate),
                descriptorsEarly, descriptorsLate);
    std::filesystem::remove(path);
}

std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// The screen's top rows for the stand-in's first scenario half (Emerald Hill 1
// running after one pause), cut at `width`; the total line up to its lag count,
// which a torn read could change.
bool ShowsTheLevel(const std::vector<std::string>& rows, size_t width, std::string* problem) {
    const std::string expected[] = {
        "Tracking active: EH1 - Game state: level active",
        "",
        ". . . . . . . .",
        ". . . . . . . .",
        "",
        "Statistics:",
        " - Spindash 6-tap attempts: 0",
        "",
        " Total IGT: 00:00, Adjusted: 00:00.00 - Pauses  1, Deaths 0, Lag",
    };
    if (rows.size() < std::size(expected) + 4) {
        *problem = "only " + std::to_string(rows.size()) + " rows";
        return false;
    }
    for (size_t i = 0; i < std::size(expected); ++i) {
        const std::string want = expected[i].substr(0, width);
        const std::string& got = rows[i];
        const bool match = i + 1 == std::size(expected) ? got.rfind(want, 0) == 0 : got == want;
        if (!match) {
            *problem = "row " + std::to_string(i) + " is \"" + got + "\", expected \"" + want + "\"";
            return false;
        }
    }
    for (size_t i = std::size(expected); i < std::size(expected) + 3; ++i) {
        if (!rows[i].empty()) {
            *problem = "row " + std::to_string(i) + " should be blank: \"" + rows[i] + "\"";
            return false;
        }
    }
    if (rows[std::size(expected) + 3].rfind("[0", 0) != 0) {
        *problem = "no log line below the statistics: \"" + rows[std::size(expected) + 3] + "\"";
        return false;
    }
    for (const std::string& row : rows) {
        if (row.size() > width) {
            *problem = "a row wider than the window: \"" + row + "\"";
            return false;
        }
    }
    return true;
}

// The terminal resized 120 times in quick succession, down to a single cell
// and up to 400 columns, while the program tracks a level. Right after the
// last resize the screen is whole at the new size.
TEST(ConsoleFaults, ResizeStormInTmux) {
    if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    std::string others = ForeignEmulators();
    ASSERT_TRUE(others.empty()) << "another retroarch.exe is running:\n" << others;

    Standin standin;
    ASSERT_TRUE(standin.Start({ScenarioPath("restart_before.txt")}));
    const std::string socket = ProcessUniqueName("ringwatch-resize-");
    const std::string tmux = "tmux -L " + socket + " ";
    struct Server {
        std::string tmux;
        ~Server() { Shell(tmux + "kill-server 2>/dev/null"); }
    } server{tmux};
    ASSERT_EQ(std::system((tmux + "new-session -d -s storm -x 120 -y 40 " +
                           ShellQuoted("exec " + ShellQuoted(RINGWATCH_PROGRAM) + " -refresh 60") + " 2>&1")
                              .c_str()),
              0);
    const pid_t program = static_cast<pid_t>(std::atoi(Shell(tmux + "list-panes -t storm -F '#{pane_pid}'").c_str()));
    ASSERT_GT(program, 0);
    ASSERT_TRUE(standin.WaitForLine("paused-once", 10s));

    std::string problem;
    bool shown = false;
    for (int attempt = 0; attempt < 40 && !shown; ++attempt) {
        std::this_thread::sleep_for(100ms);
        shown = ShowsTheLevel(Lines(Shell(tmux + "capture-pane -p -t storm")), 120, &problem);
    }
    ASSERT_TRUE(shown) << problem;
    const uint64_t residentBefore = ResidentKib(program);

    // The storm: one resize every few milliseconds, sizes all over the place.
    std::string storm = "for size in";
    for (int i = 0; i < 120; ++i) {
        int columns = 1 + (i * 37) % 400;
        int rows = 1 + (i * 13) % 120;
        if (i % 10 == 0) columns = rows = 1;
        storm += " " + std::to_string(columns) + "x" + std::to_string(rows);
    }
    storm += "; do " + tmux + "resize-window -t storm -x ${size%x*} -y ${size#*x}; sleep 0.005; done";
    ASSERT_EQ(std::system(("bash -c '" + storm + "'").c_str()), 0);
    ASSERT_EQ(std::system((tmux + "resize-window -t storm -x 50 -y 25").c_str()), 0);
    const auto settled = std::chrono::steady_clock::now();

    shown = false;
    std::vector<std::string> rows;
    while (!shown && std::chrono::steady_clock::now() - settled < 3s) {
        rows = Lines(Shell(tmux + "capture-pane -p -t storm"));
        shown = ShowsTheLevel(rows, 50, &problem);
        if (!shown) std::this_thread::sleep_for(20ms);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - settled).count();
    ASSERT_EQ(kill(program, 0), 0) << "the program ended in the storm";
    ASSERT_TRUE(shown) << problem;
    EXPECT_LT(seconds, 1.0) << "the screen came back only after " << seconds << " s";
    EXPECT_EQ(rows.size(), 25u);
    const uint64_t residentAfter = ResidentKib(program);
    std::printf("resize storm: whole screen %.3f s after the last resize; resident %llu KiB before, %llu KiB after\n",
                seconds, static_cast<unsigned long long>(residentBefore),
                static_cast<unsigned long long>(residentAfter));
}

// Copies of what the unprivileged user runs and reads, in a new folder that
// user may enter: the stand-in with its core module, the scenarios and the
// program. The checkout may lie where that user may not (a home of mode 0700).
struct CopiesForAnotherUser {
    std::string folder;    // with the separator after its name
    std::string problem;   // why the user can't run them; empty when it can

    explicit CopiesForAnotherUser(const std::string& setpriv) : folder(MakeTemporaryDirectory()) {
        namespace fs = std::filesystem;
        if (folder.empty()) {
            problem = "no temporary folder could be made";
            return;
        }
        std::error_code error;
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec, error);
        std::vector<fs::path> files = {RINGWATCH_PROGRAM, ScenarioPath("restart_before.txt"),
                                       ScenarioPath("restart_after.txt")};
        for (const fs::directory_entry& entry : fs::directory_iterator(RINGWATCH_STANDIN_DIR, error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        for (const fs::path& file : files) {
            const std::string copy = folder + file.filename().string();
            if (!error) fs::copy_file(file, copy, error);
            if (!error) fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                                  fs::perms::others_read | fs::perms::others_exec, error);
            if (error) {
                problem = "can't copy " + file.string() + " to " + folder + ": " + error.message();
                return;
            }
        }
        const std::string check = "setpriv " + setpriv + " sh -c 'test -x \"$1\" && test -r \"$2\"' sh " +
                                  ShellQuoted(Path("retroarch.exe")) + " " + ShellQuoted(Path("restart_after.txt"));
        if (std::system(check.c_str()) != 0) {
            problem = "the unprivileged user can't run the copies in " + folder + ": a folder on the way is closed to it";
        }
    }
    ~CopiesForAnotherUser() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
    std::string Path(const char* name) const { return folder + name; }
};

// The program run as an unprivileged user (CI runs as root): it reads an
// emulator of its own user, then one that root started again in its place,
// which it may not read, then its own user's again. Meanwhile it says so once
// per attempt with the fixes, keeps running, and the run's statistics carry on.
TEST(ConsoleFaults, EmulatorOfAnotherUserInTmux) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to start an emulator that another user may not read";
    if (std::system("tmux -V >/dev/null 2>&1 && setpriv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux or setpriv";
    const std::string nobody = "--reuid=65534 --regid=65534 --clear-groups";
    const CopiesForAnotherUser copies(nobody);
    if (!copies.problem.empty()) GTEST_SKIP() << copies.problem;
    std::string others = ForeignEmulators();
    ASSERT_TRUE(others.empty()) << "another emulator is running:\n" << others;
    auto startAsNobody = [&](Standin& standin, const char* scenario) {
        return standin.StartProgram("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                         copies.Path("retroarch.exe"), copies.Path(scenario)});
    };
    const std::string tmux = "tmux -L " + ProcessUniqueName("ringwatch-unprivileged-") + " ";
    struct Server {
        std::string tmux;
        ~Server() { Shell(tmux + "kill-server 2>/dev/null"); }
    } server{tmux};
    auto screen = [&] { return Shell(tmux + "capture-pane -p -t unprivileged"); };
    auto waitForScreen = [&](const std::string& text) {
        for (int i = 0; i < 50 && screen().find(text) == std::string::npos; ++i) std::this_thread::sleep_for(100ms);
        return screen().find(text) != std::string::npos;
    };

    Standin standin;
    ASSERT_TRUE(startAsNobody(standin, "restart_before.txt"));
    ASSERT_EQ(std::system((tmux + "new-session -d -s unprivileged -x 400 -y 60 -c " + ShellQuoted(copies.folder) +
                           " " + ShellQuoted("exec setpriv " + nobody + " " + ShellQuoted(copies.Path("ringwatch"))))
                              .c_str()),
              0);
    const pid_t program = static_cast<pid_t>(std::atoi(Shell(tmux + "list-panes -F '#{pane_pid}'").c_str()));
    ASSERT_TRUE(standin.WaitForLine("paused-once", 10s));
    ASSERT_TRUE(waitForScreen("Pauses  1")) << screen();

    standin.Kill();
    ASSERT_TRUE(standin.Start({}));   // as root
    const std::string refused = "ERROR: Not allowed to read process 'retroarch.exe' (error 13). Reading another "
                                "process needs ptrace permission: run as root, or allow this program once with "
                                "'sudo setcap cap_sys_ptrace=eip " + CanonicalPath(copies.Path("ringwatch")) + "'";
    std::vector<double> stamps;   // seconds since the program started, of each refusal shown, newest first
    for (int i = 0; i < 100 && stamps.size() < 3; ++i) {
        std::this_thread::sleep_for(100ms);
        stamps.clear();
        for (const std::string& row : Lines(screen())) {
            int hours = 0, minutes = 0;
            double seconds = 0;
            if (row.find(refused) == std::string::npos) continue;
            ASSERT_EQ(std::sscanf(row.c_str(), "[%*d - %d:%d:%lf]", &hours, &minutes, &seconds), 3) << row;
            stamps.push_back(hours * 3600.0 + minutes * 60.0 + seconds);
        }
    }
    ASSERT_EQ(stamps.size(), 3u) << screen();
    for (size_t i = 1; i < stamps.size(); ++i) EXPECT_GT(stamps[i - 1] - stamps[i], 2.3) << "once per attempt";
    ASSERT_EQ(kill(program, 0), 0) << "the program ended";

    standin.Kill();
    ASSERT_TRUE(startAsNobody(standin, "restart_after.txt"));
    ASSERT_TRUE(standin.WaitForLine("done", 15s));
    EXPECT_TRUE(waitForScreen("Pauses  2")) << "the statistics carried on:\n" << screen();
}

// The program stopped for 100 ms (SIGSTOP) while the game runs at its own
// pace: the log on the screen says how many frames it did not see (within
// 10 s, should a busy machine have had it warn just before).
TEST(ConsoleFaults, StoppedProgramSaysTheFramesItMissed) {
    if (std::system("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    ASSERT_EQ(WaitForNoForeignEmulators(120s), "");
    Standin standin;
    ASSERT_TRUE(standin.Start({"--fps", "60", ScenarioPath("restart_before.txt")}));
    const std::string tmux = "tmux -L " + ProcessUniqueName("ringwatch-stopped-") + " ";
    struct Server {
        std::string tmux;
        ~Server() { Shell(tmux + "kill-server 2>/dev/null"); }
    } server{tmux};
    // A child of the pane's shell: tmux continues its own child when it stops.
    ASSERT_EQ(std::system((tmux + "new-session -d -s stopped -x 250 -y 40 " +
                           ShellQuoted(ShellQuoted(RINGWATCH_PROGRAM) + "; true")).c_str()), 0);
    const pid_t program = std::atoi(Shell("pgrep -P " + Shell(tmux + "list-panes -F '#{pane_pid}'")).c_str());
    ASSERT_GT(program, 0);
    ASSERT_TRUE(standin.WaitForLine("paused-once", 10s));
    const std::regex warning(R"(\[([0-9]+) - [^\]]*\] WARNING: ([0-9]+) game frames went unseen in the last 10 s \(the )"
                             R"(machine was busy\); a lag frame, pause or spindash release in them may be missing\.)");
    std::string screen;
    std::smatch newest;   // the log's newest warning: its number and its count
    auto number = [&] {
        screen = Shell(tmux + "capture-pane -p -t stopped");
        return std::regex_search(screen, newest, warning) ? std::stoi(newest[1]) : 0;
    };
    const int before = number();
    ASSERT_EQ(kill(program, SIGSTOP), 0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(kill(program, SIGCONT), 0);
    int after = before;
    for (int i = 0; i < 120 && (after = number()) == before; ++i) std::this_thread::sleep_for(100ms);
    ASSERT_GT(after, before) << screen;
    EXPECT_GE(std::stoi(newest[2]), 4) << "100 ms are five frames or six at 60 a second";
    std::printf("stopped 100 ms: the log said %s game frames went unseen\n", newest[2].str().c_str());
}

}  // namespace

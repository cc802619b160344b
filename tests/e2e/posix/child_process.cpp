// The tests' child processes on POSIX: posix_spawn with standard output on a
// pipe, SIGUSR1/SIGUSR2 as the stand-in's cues, SIGKILL and waitpid; /proc for
// descriptors and other emulators.
#include "e2e/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/core_layout.h"

extern char** environ;

struct ChildProcess {
    pid_t pid;
    int output;     // read end of its standard output, -1 once closed
};

ChildProcess* ChildStart(const std::string& program, const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::string path = program;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.push_back(path.data());
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (failed != 0) {
        std::fprintf(stderr, "can't start %s: error %d\n", path.c_str(), failed);
        close(pipeFds[0]);
        return nullptr;
    }
    return new ChildProcess{pid, pipeFds[0]};
}

ChildRead ChildReadOutput(ChildProcess* child, std::string* text, int timeoutMs) {
    if (child->output < 0) return ChildRead::Ended;
    pollfd ready{child->output, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return ChildRead::TimeUp;
    char buffer[512];
    ssize_t got = read(child->output, buffer, sizeof buffer);
    if (got <= 0) return ChildRead::Ended;
    text->append(buffer, static_cast<size_t>(got));
    return ChildRead::Data;
}

uint32_t ChildProcessId(const ChildProcess* child) { return static_cast<uint32_t>(child->pid); }

void ChildCueMode(ChildProcess* child, bool game) { kill(child->pid, game ? SIGUSR1 : SIGUSR2); }

void ChildEndLeavingUnreaped(ChildProcess* child) {
    kill(child->pid, SIGKILL);
    // Wait until it has ended; waitid with WNOWAIT leaves it unreaped.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
}

void ChildKill(ChildProcess* child) {
    if (child == nullptr) return;
    kill(child->pid, SIGKILL);
    int status;
    while (waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (child->output >= 0) close(child->output);
    delete child;
}

int OpenHandleCount() {
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
        const bool emulator = name == kEmulatorProcessName || name == kEmulatorProgramName || name == "blastem" ||
                              name == "blastem.exe" || name == "Fusion.exe";
        if (emulator && state != 'Z' && parent != getpid()) {
            found += std::to_string(pid) + " " + name + " (parent " + std::to_string(parent) + ")\n";
        }
    }
    closedir(proc);
    return found;
}

std::string CanonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string MakeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ringwatch-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    return pattern + "/";
}

bool MoveAsideWhileRunning(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RunShell(const std::string& command, std::string* output) {
    const std::string both = "{ " + command + " ; } 2>&1";
    FILE* pipe = popen(both.c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
    int status = pclose(pipe);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ProgramWithDataIn(const std::string& program, const std::string& folder, std::string* dataFolder) {
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    *dataFolder = folder + "ringwatch/";
    return program;
}

std::string ProcessUniqueName(const char* prefix) {
    static const std::string unique = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return std::to_string(getpid()) + "-" + std::to_string(now.tv_sec * 1000000000ll + now.tv_nsec);
    }();
    return prefix + unique;
}

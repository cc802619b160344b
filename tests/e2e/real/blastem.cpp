#include "e2e/real/blastem.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/child_process.h"
#include "emulator/core_layout.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Starts `args` with `log` as its output and `extra` added to the environment.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log, const std::vector<std::string>& extra) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const std::string& x : extra) replaced = replaced || std::strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
        if (!replaced) env.push_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<std::string> copy = args;
    std::vector<char*> argv, envp;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

void End(pid_t* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGKILL);
    int status;
    while (waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
    }
    *pid = -1;
}

}  // namespace

BlastEm::BlastEm(int display) : display_(display), dir_(MakeTemporaryDirectory()) {}

BlastEm::~BlastEm() {
    Kill();
    End(&xvfb_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool BlastEm::Start(const std::string& cartridge) {
    Kill();
    error_.clear();
    const std::string display = ":" + std::to_string(display_);
    if (xvfb_ <= 0) {
        xvfb_ = Spawn({"Xvfb", display, "-screen", "0", "640x480x24", "-nolisten", "tcp"}, dir_ + "xvfb.log", {});
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_);
        for (int i = 0; i < 500 && xvfb_ > 0 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(10ms);
        if (xvfb_ <= 0 || !std::filesystem::exists(socket)) {
            error_ = "Xvfb did not start on " + display;
            return false;
        }
    }
    pid_ = Spawn({kBlastEmProgram, "-g", cartridge}, dir_ + "blastem.log",
                 {"DISPLAY=" + display, "SDL_AUDIODRIVER=dummy", "HOME=" + dir_, "XDG_CONFIG_HOME=" + dir_,
                  "XDG_DATA_HOME=" + dir_});
    if (pid_ <= 0) {
        error_ = std::string("can't start ") + kBlastEmProgram;
        return false;
    }
    return FindWorkRam(20s);
}

void BlastEm::Kill() {
    End(&pid_);
    ram_ = 0;
}

bool BlastEm::SoftReset() {
    std::string output;
    return RunShell("DISPLAY=:" + std::to_string(display_) + " xdotool key Tab", &output);
}

std::string BlastEm::LogTail(size_t bytes) const {
    std::ifstream in(dir_ + "blastem.log");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

// The cartridge's first frame writes the signature: the one copy of it in
// BlastEm's anonymous writable memory, at the end of work RAM.
bool BlastEm::FindWorkRam(std::chrono::milliseconds timeout) {
    const std::string signature(reinterpret_cast<const char*>(kRamSignature), kSignatureSize);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream maps("/proc/" + std::to_string(pid_) + "/maps");
        std::ifstream mem("/proc/" + std::to_string(pid_) + "/mem", std::ios::binary);
        std::string line;
        while (ram_ == 0 && std::getline(maps, line)) {
            std::istringstream fields(line);
            std::string range, perms, offset, device, inode;
            fields >> range >> perms >> offset >> device >> inode;
            if (perms != "rw-p" || inode != "0") continue;
            const uint64_t start = std::strtoull(range.c_str(), nullptr, 16);
            const uint64_t end = std::strtoull(range.c_str() + range.find('-') + 1, nullptr, 16);
            std::string bytes(std::min<uint64_t>(end - start, 64u << 20), '\0');
            mem.clear();
            mem.seekg(static_cast<std::streamoff>(start));
            if (!mem.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) continue;
            for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) {
                if ((start + at) % 2 == 0 && at >= kSignatureRamOffset) ram_ = start + at - kSignatureRamOffset;
            }
        }
        if (ram_ != 0) return true;
        std::this_thread::sleep_for(50ms);
    }
    error_ = "no work RAM with the signature in BlastEm's memory\n" + LogTail();
    return false;
}

bool BlastEm::ReadRamWord(uint32_t address, uint16_t* value) const {
    if (ram_ == 0) return false;
    uint8_t bytes[2];
    std::ifstream mem("/proc/" + std::to_string(pid_) + "/mem", std::ios::binary);
    mem.seekg(static_cast<std::streamoff>(ram_ + (address - kWorkRamFirstAddress)));
    if (!mem.read(reinterpret_cast<char*>(bytes), 2)) return false;
    *value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);   // a little-endian word
    return true;
}

#include "e2e/real/retroarch.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/child_process.h"
#include "emulator/core_layout.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;


// What the menu needs to reach the history at once: the entries above it
// hidden, and no wrapping round from the top to the bottom.
const char kConfig[] =
    "video_driver = \"null\"\n"
    "audio_driver = \"null\"\n"
    "input_driver = \"null\"\n"
    "input_joypad_driver = \"null\"\n"
    "menu_driver = \"rgui\"\n"
    "vrr_runloop_enable = \"true\"\n"
    "pause_nonactive = \"false\"\n"
    "config_save_on_exit = \"false\"\n"
    "stdin_cmd_enable = \"true\"\n"
    "network_cmd_enable = \"false\"\n"
    "gamemode_enable = \"false\"\n"
    "history_list_enable = \"true\"\n"
    "menu_show_load_core = \"false\"\n"
    "menu_show_load_content = \"false\"\n"
    "menu_show_load_disc = \"false\"\n"
    "menu_show_dump_disc = \"false\"\n"
    "menu_navigation_wraparound_enable = \"false\"\n"
    "savestate_auto_save = \"false\"\n"
    "savestate_auto_load = \"false\"\n"
    // Save states and run-ahead need the core's info file (Debian's
    // libretro-core-info), found beside the core's folder; the cache of the
    // info files is not written into that system folder.
    "libretro_info_path = \"/usr/share/libretro/info\"\n"
    "core_info_cache_enable = \"false\"\n";

struct Mapping {
    uint64_t start;
    uint64_t end;
    std::string perms;
    std::string path;
};

std::vector<Mapping> MappingsOf(uint32_t pid) {
    std::vector<Mapping> mappings;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        Mapping m;
        std::istringstream fields(line);
        std::string range, offset, device, inode;
        fields >> range >> m.perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, m.path);
        size_t dash = range.find('-');
        m.start = std::strtoull(range.substr(0, dash).c_str(), nullptr, 16);
        m.end = std::strtoull(range.substr(dash + 1).c_str(), nullptr, 16);
        mappings.push_back(m);
    }
    return mappings;
}

// The parent pid and the name of process `pid`; false when it is gone.
bool ParentAndName(long pid, long* parent, std::string* name) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= line.size()) return false;
    *name = line.substr(open + 1, close - open - 1);
    *parent = std::strtol(line.c_str() + close + 4, nullptr, 10);
    return true;
}

// A child of `parent` named `name`, 0 when there is none.
uint32_t ChildNamed(long parent, const char* name) {
    uint32_t found = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        long ppid = 0;
        std::string comm;
        if (end == entry->d_name || *end != '\0' || !ParentAndName(pid, &ppid, &comm)) continue;
        if (ppid == parent && comm == name) found = static_cast<uint32_t>(pid);
    }
    closedir(proc);
    return found;
}

std::string SwappedPairs(const char* text, size_t size) {
    std::string swapped(text, size);
    for (size_t i = 0; i + 1 < size; i += 2) std::swap(swapped[i], swapped[i + 1]);
    return swapped;
}

}  // namespace

uint64_t CoreWorkRamOffset(const std::string& core) {
    std::string output;
    if (!RunShell("nm -- " + ShellQuoted(core) + " | grep -w work_ram", &output)) return 0;
    return std::strtoull(output.c_str(), nullptr, 16);
}

RetroArch::RetroArch(std::string core)
    : core_(std::move(core)), dir_(MakeTemporaryDirectory()), workRamOffset_(CoreWorkRamOffset(core_)) {}

RetroArch::~RetroArch() {
    Kill();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> RunAheadSettings(uint32_t frames, bool secondInstance) {
    return {"run_ahead_enabled = \"true\"", "run_ahead_frames = \"" + std::to_string(frames) + "\"",
            std::string("run_ahead_secondary_instance = \"") + (secondInstance ? "true" : "false") + "\""};
}

bool RetroArch::Start(const std::string& cartridge, const std::vector<std::string>& settings) {
    Kill();
    error_.clear();
    for (const char* sub : {"system", "saves", "states", "cache"}) std::filesystem::create_directories(dir_ + sub);
    const std::string config = dir_ + "retroarch.cfg";
    {
        std::ofstream out(config);
        // A key's first line wins: the caller's settings come first.
        for (const std::string& line : settings) out << line << "\n";
        out << kConfig << "libretro_directory = \"" << std::filesystem::path(core_).parent_path().string() << "\"\n"
            << "system_directory = \"" << dir_ << "system\"\n"
            << "savefile_directory = \"" << dir_ << "saves\"\n"
            << "savestate_directory = \"" << dir_ << "states\"\n"
            << "cache_directory = \"" << dir_ << "cache\"\n"
            << "playlist_directory = \"" << dir_ << "\"\n";
        if (!out) {
            error_ = "can't write " + config;
            return false;
        }
    }

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    const std::string log = dir_ + "retroarch.log";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // Its home is the test's directory too: nothing of the user's is read or written.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "HOME=", 5) != 0 && std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 &&
            std::strncmp(*e, "TMPDIR=", 7) != 0) {
            env.push_back(*e);
        }
    }
    env.push_back("HOME=" + dir_);
    env.push_back("XDG_CONFIG_HOME=" + dir_);
    // The copy of the core that a second run-ahead instance loads goes there too.
    env.push_back("TMPDIR=" + dir_);
    std::vector<std::string> args = {"dbus-run-session", "--", "retroarch", "--config", config, "-L", core_, cartridge};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t session = -1;
    int failed = posix_spawnp(&session, "dbus-run-session", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[0]);
    if (failed != 0) {
        close(pipeFds[1]);
        error_ = "can't start dbus-run-session: " + std::string(std::strerror(failed));
        return false;
    }
    session_ = session;
    commands_ = pipeFds[1];

    auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((pid_ = ChildNamed(session_, "retroarch")) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    if (pid_ == 0) {
        error_ = "no retroarch process under dbus-run-session";
        return false;
    }
    if (!WaitForCore(true, 20s)) {
        error_ = "the core was not loaded";
        return false;
    }
    return true;
}

void RetroArch::Kill() {
    if (pid_ != 0) kill(static_cast<pid_t>(pid_), SIGKILL);
    if (session_ > 0) {
        // dbus-run-session ends with its child, and ends its bus with it.
        int status;
        for (int i = 0; i < 500; ++i) {
            pid_t done = waitpid(session_, &status, WNOHANG);
            if (done == session_ || (done < 0 && errno != EINTR)) {
                session_ = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (session_ > 0) {
            // Ended by force, it would leave its bus behind.
            if (uint32_t bus = ChildNamed(session_, "dbus-daemon")) kill(static_cast<pid_t>(bus), SIGKILL);
            kill(session_, SIGKILL);
            waitpid(session_, &status, 0);
            session_ = -1;
        }
    }
    if (commands_ >= 0) close(commands_);
    commands_ = -1;
    pid_ = 0;
}

std::string RetroArch::LogTail(size_t bytes) const {
    std::ifstream in(dir_ + "retroarch.log");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

bool RetroArch::Command(const std::string& command) {
    if (commands_ < 0) return false;
    const std::string line = command + "\n";
    return write(commands_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

bool RetroArch::WaitForCore(bool loaded, std::chrono::milliseconds timeout) const {
    const uint64_t offset = workRamOffset_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint64_t base = CoreBase();
        bool mapped = false;
        if (base != 0) {
            // Work RAM lies in the zero-filled mapping after the module's file mappings.
            for (const Mapping& m : MappingsOf(pid_)) {
                if (m.start <= base + offset && base + offset + kWorkRamSize <= m.end) mapped = true;
            }
        }
        if (mapped == loaded) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

bool RetroArch::CloseContent(std::chrono::milliseconds timeout) {
    return Command("CLOSE_CONTENT") && WaitForCore(false, timeout);
}

bool RetroArch::LoadLastContent(std::chrono::milliseconds timeout) {
    // The main menu without content: History first. Its first entry is the
    // last content; the entry's first action runs it with its core.
    for (int i = 0; i < 8; ++i) Command("MENU_UP");
    for (const char* step : {"MENU_A", "MENU_A", "MENU_A"}) {
        std::this_thread::sleep_for(200ms);
        if (!Command(step)) return false;
    }
    return WaitForCore(true, timeout);
}

uint64_t RetroArch::CoreBase() const {
    uint64_t base = 0;
    for (const Mapping& m : MappingsOf(pid_)) {
        if (m.path == core_ || std::filesystem::path(m.path).filename() == "genesis_plus_gx_libretro.so") {
            if (base == 0 || m.start < base) base = m.start;
        }
    }
    return base;
}

size_t RetroArch::CoreCopies() const {
    std::vector<std::string> paths;
    for (const Mapping& m : MappingsOf(pid_)) {
        if (std::filesystem::path(m.path).filename() == "genesis_plus_gx_libretro.so" &&
            std::find(paths.begin(), paths.end(), m.path) == paths.end()) {
            paths.push_back(m.path);
        }
    }
    return paths.size();
}

bool RetroArch::SeesCounterStepBack(std::chrono::milliseconds timeout) const {
    // The low word of the global frame counter (0xFFFE0C, a long): a step back
    // within a burst is a few frames.
    // A burst lasts about half a millisecond of every frame: the word is read
    // back to back, through one open file, so that reads land inside it.
    constexpr uint32_t counterLow = 0xFFFE0E;
    const uint64_t base = CoreBase();
    const int mem = open(("/proc/" + std::to_string(pid_) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (base == 0 || workRamOffset_ == 0 || mem < 0) {
        if (mem >= 0) close(mem);
        return false;
    }
    const auto at = static_cast<off_t>(base + workRamOffset_ + (counterLow - kWorkRamFirstAddress));
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint16_t last = 0;
    bool read = false;
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        uint8_t bytes[2];
        if (pread(mem, bytes, 2, at) != 2) continue;
        const auto now = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
        seen = read && static_cast<uint16_t>(last - now) >= 1 && static_cast<uint16_t>(last - now) <= 12;
        last = now;
        read = true;
    }
    close(mem);
    return seen;
}

bool RetroArch::ReadRamWord(uint32_t address, uint16_t* value) const {
    const uint64_t offset = workRamOffset_;
    uint64_t base = CoreBase();
    if (base == 0 || offset == 0) return false;
    int mem = open(("/proc/" + std::to_string(pid_) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (mem < 0) return false;
    // Words in the host's (little-endian) order: the 68000's word at A is the
    // little-endian word at RAM offset A - kWorkRamFirstAddress.
    uint8_t bytes[2];
    bool ok = pread(mem, bytes, 2, static_cast<off_t>(base + offset + (address - kWorkRamFirstAddress))) == 2;
    close(mem);
    if (ok) *value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return ok;
}

bool RetroArch::WaitForRamWord(uint32_t address, uint16_t value, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint16_t now = 0;
        if (ReadRamWord(address, &now) && now >= value) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
}

RetroArch::HeaderCopies RetroArch::FindHeaderCopies() const {
    HeaderCopies copies;
    const std::string fileOrder(kHeaderPattern, kHeaderPatternSize);
    // The core's copy from the header's even start: the first 144 bytes in
    // swapped pairs (the 145th is one byte further, after one from outside).
    const std::string swapped = SwappedPairs(kHeaderPattern, kHeaderPatternSize - 1);
    int mem = open(("/proc/" + std::to_string(pid_) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (mem < 0) return copies;
    constexpr uint64_t kChunk = 16u << 20;
    std::string buffer;
    for (const Mapping& m : MappingsOf(pid_)) {
        if (m.perms[0] != 'r' || m.path == "[vvar]" || m.path == "[vsyscall]") continue;
        for (uint64_t at = m.start; at < m.end; at += kChunk) {
            uint64_t size = std::min<uint64_t>(kChunk + kHeaderPatternSize, m.end - at);
            buffer.resize(size);
            if (pread(mem, buffer.data(), size, static_cast<off_t>(at)) != static_cast<ssize_t>(size)) break;
            for (size_t hit = buffer.find(fileOrder); hit != std::string::npos && hit < kChunk;
                 hit = buffer.find(fileOrder, hit + 1)) {
                copies.fileOrder.push_back(at + hit);
            }
            for (size_t hit = buffer.find(swapped); hit != std::string::npos && hit < kChunk;
                 hit = buffer.find(swapped, hit + 1)) {
                copies.swapped.push_back(at + hit);
            }
        }
    }
    close(mem);
    return copies;
}

int RetroArch::ClearFileOrderHeaders() {
    HeaderCopies copies = FindHeaderCopies();
    int mem = open(("/proc/" + std::to_string(pid_) + "/mem").c_str(), O_RDWR | O_CLOEXEC);
    if (mem < 0) return -1;
    const std::string zeros(kHeaderPatternSize, '\0');
    int cleared = 0;
    for (uint64_t at : copies.fileOrder) {
        if (pwrite(mem, zeros.data(), zeros.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(zeros.size())) {
            close(mem);
            return -1;
        }
        ++cleared;
    }
    close(mem);
    return cleared;
}

#include "e2e/real/blastem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "e2e/child_process.h"
#include "emulator/core_layout.h"

using namespace std::chrono_literals;

BlastEm::BlastEm(int display) : display_(display), dir_(MakeTemporaryDirectory()) {}

BlastEm::~BlastEm() {
    Kill();
    ChildKill(xvfb_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool BlastEm::Start(const std::string& cartridge) {
    Kill();
    error_.clear();
    const std::string display = ":" + std::to_string(display_);
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_);
    if (xvfb_ == nullptr) {
        // An X server of an earlier run that was killed leaves its lock and
        // socket behind, in the /tmp that tests share when the checkout is
        // in /tmp; its pid in the lock may be a live process of this run's
        // namespace. The display is this case's own: they go.
        std::error_code ignored;
        std::filesystem::remove(socket, ignored);
        std::filesystem::remove("/tmp/.X" + std::to_string(display_) + "-lock", ignored);
        xvfb_ = ChildStart("/usr/bin/Xvfb", {display, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    }
    for (int i = 0; i < 500 && xvfb_ != nullptr && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(10ms);
    if (!std::filesystem::exists(socket)) {
        error_ = "Xvfb did not start on " + display;
        return false;
    }
    // env runs BlastEm in its own process: ending the child ends BlastEm.
    blastem_ = ChildStart("/usr/bin/env", {"DISPLAY=" + display, "SDL_AUDIODRIVER=dummy", "HOME=" + dir_,
                                  "XDG_CONFIG_HOME=" + dir_, "XDG_DATA_HOME=" + dir_, kBlastEmProgram, "-g", cartridge});
    if (blastem_ == nullptr) {
        error_ = std::string("can't start ") + kBlastEmProgram;
        return false;
    }
    return FindWorkRam(20s);
}

void BlastEm::Kill() {
    ChildKill(blastem_);
    blastem_ = nullptr;
    ram_ = 0;
}

uint32_t BlastEm::pid() const { return blastem_ != nullptr ? ChildProcessId(blastem_) : 0; }

bool BlastEm::SoftReset() {
    std::string output;
    return RunShell("DISPLAY=:" + std::to_string(display_) + " xdotool key Tab", &output);
}

std::string BlastEm::Output() {
    if (blastem_ != nullptr) ChildReadOutput(blastem_, &output_, 0);
    return output_;
}

// The cartridge's first frame writes the signature: the one copy of it in
// BlastEm's anonymous writable memory, at the end of work RAM.
bool BlastEm::FindWorkRam(std::chrono::milliseconds timeout) {
    const std::string signature(reinterpret_cast<const char*>(kRamSignature), kSignatureSize);
    const std::string proc = "/proc/" + std::to_string(pid()) + "/";
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(50ms)) {
        std::ifstream maps(proc + "maps");
        std::ifstream mem(proc + "mem", std::ios::binary);
        std::string line, range, perms, offset, device, inode;
        while (ram_ == 0 && std::getline(maps, line)) {
            std::istringstream(line) >> range >> perms >> offset >> device >> inode;
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
    }
    error_ = "no work RAM with the signature in BlastEm's memory\n" + Output();
    return false;
}

bool BlastEm::ReadRamWord(uint32_t address, uint16_t* value) const {
    uint8_t bytes[2];
    std::ifstream mem("/proc/" + std::to_string(pid()) + "/mem", std::ios::binary);
    mem.seekg(static_cast<std::streamoff>(ram_ + (address - kWorkRamFirstAddress)));
    if (ram_ == 0 || !mem.read(reinterpret_cast<char*>(bytes), 2)) return false;
    *value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);   // a little-endian word
    return true;
}

#include "e2e/win32/frontend.h"

#include <windows.h>

#include <cstdlib>
#include <regex>

#include "emulator/core_layout.h"

std::string FrontendDirectory(const std::string& coreDll) {
    const std::string directory = MakeTemporaryDirectory();
    if (directory.empty() || !CopyFileA(RINGWATCH_FRONTEND, (directory + "retroarch.exe").c_str(), FALSE) ||
        !CopyFileA(coreDll.c_str(), (directory + kCoreModuleName).c_str(), FALSE)) {
        return std::string();
    }
    return directory;
}

bool Frontend::Start(const std::string& directory, const std::vector<std::string>& args) {
    Kill();
    child_ = ChildStart(directory + "retroarch.exe", args);
    if (child_ == nullptr) {
        error_ = "can't start " + directory + "retroarch.exe";
        return false;
    }
    const std::string ready = WaitForLine("ready ", 20000);
    std::smatch match;
    static const std::regex pattern("ready pid=\\d+ core=0x[0-9a-f]+ ram=0x([0-9a-f]+) ram-offset=(0x[0-9A-F]+)");
    if (!std::regex_search(ready, match, pattern)) {
        error_ = "no ready line: " + ready + pending_;
        return false;
    }
    ram_ = std::strtoull(match[1].str().c_str(), nullptr, 16);
    ramOffset_ = match[2].str();
    if (ProcessOpen(ChildProcessId(child_), &process_).status != ProcessStatus::Ok) {
        error_ = "can't open the frontend's process";
    }
    return process_ != nullptr;
}

std::string Frontend::WaitForLine(const std::string& prefix, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(prefix, 0) == 0) return line;
        }
        const ULONGLONG now = GetTickCount64();
        if (child_ == nullptr || now >= deadline ||
            ChildReadOutput(child_, &pending_, static_cast<int>(deadline - now)) == ChildRead::Ended) {
            return std::string();
        }
    }
}

uint16_t Frontend::RamWord(uint32_t offset) const {
    uint16_t word = 0;
    return process_ != nullptr && ProcessRead(process_, ram_ + offset, &word, sizeof word).status == ProcessStatus::Ok
               ? word
               : 0;
}

bool Frontend::WaitForRamWord(uint32_t offset, uint16_t atLeast, int timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (RamWord(offset) < atLeast) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

bool Frontend::Resume() const {
    const std::string name = "Local\\ringwatch-frontend-" + std::to_string(pid()) + "-resume";
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    const bool set = event != nullptr && SetEvent(event);
    if (event != nullptr) CloseHandle(event);
    return set;
}

void Frontend::Kill() {
    ProcessClose(process_);
    process_ = nullptr;
    ChildKill(child_);
    child_ = nullptr;
    pending_.clear();
}

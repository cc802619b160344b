// The stand-in on Windows: VirtualAlloc at fixed addresses, LoadLibraryA, the
// PSAPI module calls a reader uses, the performance counter, and two named
// auto-reset events as cues, waited for between frames.
#include "tools/standin/platform.h"

#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>

#include <cstdio>

namespace {

HANDLE g_cueEvents[2];   // game, menu

std::string LastErrorText(const char* what) { return std::string(what) + ": error " + std::to_string(GetLastError()); }

}  // namespace

uint32_t StandinProcessId() { return GetCurrentProcessId(); }

void* StandinMapAt(uint64_t address, size_t size) {
    void* wanted = reinterpret_cast<void*>(address);
    void* got = VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (got == nullptr) return nullptr;
    if (got != wanted) {
        VirtualFree(got, 0, MEM_RELEASE);
        return nullptr;
    }
    return got;
}

bool StandinSplitMapping(void* start, size_t size) {
    // Pages of another protection are a region of their own.
    DWORD previous = 0;
    return VirtualProtect(start, size, PAGE_EXECUTE_READWRITE, &previous) != 0;
}

bool StandinExecutableDirectory(std::string* directory) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return false;
    std::string path(self, length);
    size_t separator = path.find_last_of("\\/");
    *directory = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    return true;
}

void* StandinLoadModuleSymbol(const std::string& path, const char* symbol, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *error = LastErrorText(("can't load the core " + path).c_str());
        return nullptr;
    }
    void* found = reinterpret_cast<void*>(GetProcAddress(module, symbol));
    if (found == nullptr) *error = std::string("the core has no ") + symbol;
    return found;
}

uint64_t StandinModuleBaseSeenByReaders(const std::string& path) {
    HANDLE self = GetCurrentProcess();
    HMODULE modules[1024];
    DWORD needed = 0;
    if (!K32EnumProcessModulesEx(self, modules, sizeof modules, &needed, LIST_MODULES_ALL)) return 0;
    const DWORD count = needed / sizeof(HMODULE) < 1024 ? needed / sizeof(HMODULE) : 1024;
    for (DWORD i = 0; i < count; ++i) {
        char name[MAX_PATH];
        if (K32GetModuleFileNameExA(self, modules[i], name, sizeof name) == 0) continue;
        // File names on Windows compare without case.
        if (lstrcmpiA(name, path.c_str()) != 0) continue;
        MODULEINFO info{};
        if (!K32GetModuleInformation(self, modules[i], &info, sizeof info)) return 0;
        return reinterpret_cast<uint64_t>(info.lpBaseOfDll);
    }
    return 0;
}

uint64_t StandinLoadAddressOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return 0;
    }
    return reinterpret_cast<uint64_t>(module);
}

bool StandinCuesOpen(std::string* error) {
    const uint32_t self = GetCurrentProcessId();
    const ModeCue cues[2] = {ModeCue::Game, ModeCue::Menu};
    for (int i = 0; i < 2; ++i) {
        g_cueEvents[i] = CreateEventA(nullptr, FALSE, FALSE, StandinCueEventName(self, cues[i]).c_str());
        if (g_cueEvents[i] == nullptr) {
            *error = LastErrorText("can't create the cue events");
            return false;
        }
    }
    // Frames are paced by waits of a few milliseconds: ask for a 1 ms timer.
    timeBeginPeriod(1);
    return true;
}

uint64_t StandinClockNs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000000000ull + ticks % frequency * 1000000000ull / frequency;
}

ModeCue StandinWaitForCue(uint64_t timeoutNs) {
    // Whole milliseconds, rounded up: the pacer waits again for what is left.
    const DWORD milliseconds = static_cast<DWORD>((timeoutNs + 999999) / 1000000);
    DWORD result = WaitForMultipleObjects(2, g_cueEvents, FALSE, milliseconds);
    if (result == WAIT_OBJECT_0) return ModeCue::Game;
    if (result == WAIT_OBJECT_0 + 1) return ModeCue::Menu;
    if (result == WAIT_FAILED) Sleep(milliseconds);   // no events: still keep the pace
    return ModeCue::None;
}

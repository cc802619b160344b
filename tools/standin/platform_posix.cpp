// The stand-in on Linux: mmap at fixed addresses, dlopen, /proc/self/maps as
// the process backend reads it, CLOCK_MONOTONIC, and SIGUSR1/SIGUSR2 as cues,
// blocked and taken synchronously with sigtimedwait between frames.
#include "tools/standin/platform.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

sigset_t CueSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    return signals;
}

}  // namespace

uint32_t StandinProcessId() { return static_cast<uint32_t>(getpid()); }

void* StandinMapAt(uint64_t address, size_t size) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_FIXED_NOREPLACE
    flags |= MAP_FIXED_NOREPLACE;
#endif
    void* wanted = reinterpret_cast<void*>(address);
    void* got = mmap(wanted, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (got == MAP_FAILED) return nullptr;
    if (got != wanted) {
        munmap(got, size);
        return nullptr;
    }
    return got;
}

bool StandinSplitMapping(void* start, size_t size) {
    // Advice that only keeps the pages out of core dumps: the kernel keeps
    // them in a mapping of their own.
    return madvise(start, size, MADV_DONTDUMP) == 0;
}

bool StandinExecutableDirectory(std::string* directory) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return false;
    self[length] = '\0';
    char* slash = std::strrchr(self, '/');
    *directory = std::string(self, slash != nullptr ? static_cast<size_t>(slash - self) : 0) + "/";
    return true;
}

void* StandinLoadModuleSymbol(const std::string& path, const char* symbol, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        *error = std::string("can't load the core: ") + dlerror();
        return nullptr;
    }
    void* found = dlsym(library, symbol);
    if (found == nullptr) *error = std::string("the core has no ") + symbol;
    return found;
}

uint64_t StandinModuleBaseSeenByReaders(const std::string& path) {
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return 0;
    char line[4608];
    uint64_t lowest = 0;
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        line[std::strcspn(line, "\n")] = '\0';
        const char* slash = std::strchr(line, '/');
        if (slash == nullptr || path != slash) continue;
        lowest = std::strtoull(line, nullptr, 16);
        break;   // maps is in address order
    }
    std::fclose(maps);
    return lowest;
}

uint64_t StandinLoadAddressOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return 0;
    return reinterpret_cast<uint64_t>(info.dli_fbase);
}

bool StandinCuesOpen(std::string* error) {
    const sigset_t signals = CueSignals();
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        *error = std::string("can't block SIGUSR1 and SIGUSR2: ") + std::strerror(errno);
        return false;
    }
    return true;
}

uint64_t StandinClockNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

ModeCue StandinWaitForCue(uint64_t timeoutNs) {
    const sigset_t signals = CueSignals();
    timespec timeout{static_cast<time_t>(timeoutNs / 1000000000ull), static_cast<long>(timeoutNs % 1000000000ull)};
    int number = sigtimedwait(&signals, nullptr, &timeout);
    if (number == SIGUSR1) return ModeCue::Game;
    if (number == SIGUSR2) return ModeCue::Menu;
    return ModeCue::None;   // the time is up, or another signal interrupted the wait
}

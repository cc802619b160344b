// The process interface on Windows: the Toolhelp process snapshot, the PSAPI
// module calls (their K32 names in KERNEL32, so no extra library), VirtualQueryEx
// and ReadProcessMemory, with the flags and sizes the emulator's users have
// always run it with.
#include "platform/process_memory.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>

const ProgramForm kProgramForms[] = {{".exe", ".dll"}};
const int kProgramFormCount = 1;

static_assert(sizeof(PROCESSENTRY32) == 304, "the ANSI process entry");
static_assert(sizeof(MODULEINFO) == 24, "MODULEINFO of a 64-bit process");
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48, "MEMORY_BASIC_INFORMATION of a 64-bit process");

namespace {

// Ringwatch only queries and reads the emulator: the module list, names and
// information, VirtualQueryEx and GetExitCodeProcess need
// PROCESS_QUERY_INFORMATION, reads need PROCESS_VM_READ. Without write,
// terminate or thread rights a fault here can neither change the emulator's
// memory nor end it.
constexpr DWORD kProcessReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kListModulesAll = 3;   // LIST_MODULES_ALL

constexpr ProcessResult kOk{ProcessStatus::Ok, 0};

// A call on an open process failed with GetLastError's code: the process has
// ended, or what was asked for can't be had. A process once opened for
// reading can't refuse access: ERROR_ACCESS_DENIED from a read means that it
// is gone too.
ProcessResult Failed(HANDLE process) {
    const DWORD error = GetLastError();
    DWORD exitCode = 0;
    const bool ended = GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE;
    return {ended ? ProcessStatus::Gone : ProcessStatus::Unreadable, static_cast<int>(error)};
}

bool FileNameIs(const char* path, const char* fileName) {
    const char* separator = std::strrchr(path, '\\');
    return std::strcmp(separator != nullptr ? separator + 1 : path, fileName) == 0;
}

}  // namespace

ProcessResult ProcessFind(const char* const* names, int count, uint32_t* processId, int* which) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return {ProcessStatus::Unreadable, static_cast<int>(GetLastError())};
    PROCESSENTRY32 entry{};
    entry.dwSize = 304;
    // The first entry is the idle process and is never compared.
    bool more = Process32First(snapshot, &entry) != FALSE;
    ProcessResult result{ProcessStatus::Gone, 0};
    while (more && result.status != ProcessStatus::Ok) {
        more = Process32Next(snapshot, &entry) != FALSE;
        entry.szExeFile[MAX_PATH - 1] = '\0';
        for (int i = 0; more && i < count && result.status != ProcessStatus::Ok; ++i) {
            if (std::strcmp(entry.szExeFile, names[i]) != 0) continue;
            *processId = entry.th32ProcessID;
            *which = i;
            result = kOk;
        }
    }
    if (result.status != ProcessStatus::Ok) result.error = static_cast<int>(GetLastError());   // ERROR_NO_MORE_FILES
    CloseHandle(snapshot);
    return result;
}

ProcessResult ProcessOpen(uint32_t processId, ProcessHandle* process) {
    *process = OpenProcess(kProcessReadAccess, FALSE, processId);
    if (*process != nullptr) return kOk;
    const DWORD error = GetLastError();
    // ERROR_INVALID_PARAMETER: no process has the id any more.
    return {error == ERROR_ACCESS_DENIED ? ProcessStatus::Denied : ProcessStatus::Gone, static_cast<int>(error)};
}

void ProcessClose(ProcessHandle process) {
    if (process != nullptr) CloseHandle(process);
}

ProcessResult ProcessFindModule(ProcessHandle process, const char* fileName, ModuleImage* image) {
    std::memset(image, 0, sizeof *image);
    HMODULE modules[kModuleListCapacity];
    DWORD needed = 0;
    if (!K32EnumProcessModulesEx(process, modules, sizeof modules, &needed, kListModulesAll)) return Failed(process);
    const DWORD count = needed / sizeof(HMODULE) < kModuleListCapacity ? needed / sizeof(HMODULE) : kModuleListCapacity;
    for (DWORD i = 0; i < count; ++i) {
        if (K32GetModuleFileNameExA(process, modules[i], image->path, sizeof image->path) == 0) {
            image->unnamed[i / 64] |= uint64_t{1} << (i % 64);
            continue;
        }
        image->path[sizeof image->path - 1] = '\0';
        if (!FileNameIs(image->path, fileName)) continue;
        MODULEINFO found{};
        if (!K32GetModuleInformation(process, modules[i], &found, sizeof found)) return Failed(process);
        image->base = reinterpret_cast<uint64_t>(found.lpBaseOfDll);
        image->size = found.SizeOfImage;
        return kOk;
    }
    image->path[0] = '\0';
    return kOk;
}

ProcessResult ProcessListReadable(ProcessHandle process, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity,
                                  int* count) {
    *count = 0;
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const uint64_t limit = reinterpret_cast<uint64_t>(system.lpMaximumApplicationAddress) + 1;
    if (to > limit) to = limit;
    for (uint64_t address = from; address < to && *count < capacity;) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(address), &region, sizeof region) == 0) {
            // Past the first region a failed query ends the list: the regions
            // above are out of reach; an ended process fails the next call.
            if (address == from) return Failed(process);
            break;
        }
        const uint64_t base = reinterpret_cast<uint64_t>(region.BaseAddress);
        const uint64_t end = base + region.RegionSize;
        if (region.State == MEM_COMMIT && region.Protect != PAGE_NOACCESS) {
            const uint64_t start = base > from ? base : from;
            const DWORD access = region.Protect & 0xFF;   // without PAGE_GUARD and the caching bits
            const bool ownMemory =
                region.Type == MEM_PRIVATE && (access == PAGE_READWRITE || access == PAGE_EXECUTE_READWRITE);
            ranges[(*count)++] = {start, (end < to ? end : to) - start, ownMemory};
        }
        // A region that doesn't move the list on (or wraps) would loop forever.
        if (end <= address) break;
        address = end;
    }
    return kOk;
}

ProcessResult ProcessRead(ProcessHandle process, uint64_t address, void* buffer, size_t size) {
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &read)) return Failed(process);
    if (read != size) {
        SetLastError(ERROR_PARTIAL_COPY);
        return Failed(process);
    }
    return kOk;
}

const char* ProcessAccessFixes() {
    return "RetroArch runs at a higher level than this program (as administrator, say): start both the same way.";
}

// The process interface on Windows: the Toolhelp process snapshot, the PSAPI
// module calls (their K32 names in KERNEL32, so no extra library), VirtualQueryEx
// and ReadProcessMemory, with the flags and sizes the emulator's users have
// always run it with.
#include "platform/process_memory.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>

const bool kWindowsProgramNames = true;
const char kModulePathSeparator = '\\';

static_assert(sizeof(HMODULE) == sizeof(ModuleHandle), "a module handle is its 64-bit load address");
static_assert(sizeof(PROCESSENTRY32) == 304, "the ANSI process entry");
static_assert(sizeof(MODULEINFO) == 24, "MODULEINFO of a 64-bit process");
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48, "MEMORY_BASIC_INFORMATION of a 64-bit process");

namespace {

// Ringwatch only queries and reads the emulator: the module list, names and
// information and VirtualQueryEx need PROCESS_QUERY_INFORMATION, reads need
// PROCESS_VM_READ. Without write, terminate or thread rights a fault here can
// neither change the emulator's memory nor end it.
constexpr DWORD kProcessReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kListModulesAll = 3;   // LIST_MODULES_ALL

bool CopyEntry(const PROCESSENTRY32& from, ProcessEntry* to) {
    to->processId = from.th32ProcessID;
    std::memcpy(to->exeFile, from.szExeFile, sizeof to->exeFile);
    to->exeFile[sizeof to->exeFile - 1] = '\0';
    return true;
}

}  // namespace

ProcessSnapshotHandle ProcessSnapshotTake() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
}

bool ProcessSnapshotFirst(ProcessSnapshotHandle snapshot, ProcessEntry* entry) {
    PROCESSENTRY32 found{};
    found.dwSize = 304;
    return Process32First(snapshot, &found) && CopyEntry(found, entry);
}

bool ProcessSnapshotNext(ProcessSnapshotHandle snapshot, ProcessEntry* entry) {
    PROCESSENTRY32 found{};
    found.dwSize = 304;
    return Process32Next(snapshot, &found) && CopyEntry(found, entry);
}

void ProcessSnapshotClose(ProcessSnapshotHandle snapshot) { CloseHandle(snapshot); }

ProcessHandle ProcessOpen(uint32_t processId) { return OpenProcess(kProcessReadAccess, FALSE, processId); }

void ProcessClose(ProcessHandle process) {
    if (process != nullptr) CloseHandle(process);
}

bool ProcessEnumModules(ProcessHandle process, ModuleHandle* modules, uint32_t arrayBytes, uint32_t* bytesNeeded) {
    DWORD needed = 0;
    BOOL ok = K32EnumProcessModulesEx(process, reinterpret_cast<HMODULE*>(modules), arrayBytes, &needed,
                                      kListModulesAll);
    *bytesNeeded = needed;
    return ok != FALSE;
}

uint32_t ProcessModuleFileName(ProcessHandle process, ModuleHandle module, char* path, uint32_t size) {
    return K32GetModuleFileNameExA(process, reinterpret_cast<HMODULE>(module), path, size);
}

bool ProcessModuleInformation(ProcessHandle process, ModuleHandle module, ModuleInfo* info) {
    MODULEINFO found{};
    if (!K32GetModuleInformation(process, reinterpret_cast<HMODULE>(module), &found, sizeof found)) return false;
    info->baseOfDll = reinterpret_cast<uint64_t>(found.lpBaseOfDll);
    info->sizeOfImage = found.SizeOfImage;
    info->entryPoint = reinterpret_cast<uint64_t>(found.EntryPoint);
    return true;
}

bool ProcessQueryRegion(ProcessHandle process, uint64_t address, MemoryRegion* region) {
    MEMORY_BASIC_INFORMATION found{};
    if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(address), &found, sizeof found) == 0) return false;
    region->baseAddress = reinterpret_cast<uint64_t>(found.BaseAddress);
    region->regionSize = found.RegionSize;
    region->state = found.State;
    region->protect = found.Protect;
    return true;
}

bool ProcessReadMemory(ProcessHandle process, uint64_t address, void* buffer, size_t size) {
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &read)) return false;
    if (read != size) {
        SetLastError(ERROR_PARTIAL_COPY);
        return false;
    }
    return true;
}

uint64_t ProcessAddressLimit(ProcessHandle) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    return reinterpret_cast<uint64_t>(system.lpMaximumApplicationAddress) + 1;
}

int ProcessLastError() { return static_cast<int>(GetLastError()); }

bool ProcessErrorIsAccessDenied(int code, bool opening) { return opening && code == ERROR_ACCESS_DENIED; }

const char* ProcessAccessFixes() {
    return "RetroArch runs at a higher level than this program (as administrator, say): start both the same way.";
}

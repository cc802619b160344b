// Finding another process and reading its memory, with the meaning of the
// Win32 calls (process snapshot, OpenProcess, module list, VirtualQueryEx,
// ReadProcessMemory, GetLastError). One backend per OS: Win32 itself, or
// /proc on Linux. Nothing here ever writes to the other process or stops it.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kProcessNameSize = 260;         // MAX_PATH, as szExeFile
inline constexpr uint32_t kMemCommit = 0x1000;       // MEM_COMMIT
inline constexpr uint32_t kMemFree = 0x10000;        // MEM_FREE
inline constexpr uint32_t kPageNoAccess = 0x01;      // PAGE_NOACCESS
inline constexpr uint32_t kPageReadOnly = 0x02;      // PAGE_READONLY
inline constexpr uint32_t kPageReadWrite = 0x04;     // PAGE_READWRITE
inline constexpr uint32_t kPageExecuteRead = 0x20;   // PAGE_EXECUTE_READ
inline constexpr uint32_t kPageExecuteReadWrite = 0x40;  // PAGE_EXECUTE_READWRITE

using ProcessSnapshotHandle = void*;   // null: no snapshot (INVALID_HANDLE_VALUE)
using ProcessHandle = void*;           // null: the open failed
using ModuleHandle = uint64_t;         // the module's load address (HMODULE)

struct ProcessEntry {
    uint32_t processId;                 // th32ProcessID
    char exeFile[kProcessNameSize];     // szExeFile: the image's file name
};

struct ModuleInfo {
    uint64_t baseOfDll;                 // lpBaseOfDll: load address
    uint32_t sizeOfImage;               // SizeOfImage: bytes from the load address to the image's end
    uint64_t entryPoint;                // EntryPoint (0 where unknown)
};

struct MemoryRegion {
    uint64_t baseAddress;               // BaseAddress
    uint64_t regionSize;                // RegionSize
    uint32_t state;                     // MEM_COMMIT, MEM_FREE, MEM_RESERVE
    uint32_t protect;                   // PAGE_* (0 when not committed)
};

// The separator before a module's file name in its path: '\\' on Windows, '/' on POSIX.
extern const char kModulePathSeparator;

// True where programs and libraries carry Windows names (.exe, .dll) as this
// OS's own; false on Linux, where they have ELF names and Windows programs
// may run beside them under Wine.
extern const bool kWindowsProgramNames;

// A snapshot of the running processes (CreateToolhelp32Snapshot), in the OS's
// order (ascending process id on Linux). Ended processes are left out (on
// Linux: zombies). The first entry is the system's own (the idle process on
// Windows, init on Linux); callers skip it.
ProcessSnapshotHandle ProcessSnapshotTake();
bool ProcessSnapshotFirst(ProcessSnapshotHandle snapshot, ProcessEntry* entry);
bool ProcessSnapshotNext(ProcessSnapshotHandle snapshot, ProcessEntry* entry);
void ProcessSnapshotClose(ProcessSnapshotHandle snapshot);

// Opens a process for querying and reading; null when it can't be opened
// (OpenProcess with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ only, so the
// handle can neither write to the process nor end it; /proc/PID/mem read-only
// on Linux, which needs ptrace permission but never stops the process).
ProcessHandle ProcessOpen(uint32_t processId);
void ProcessClose(ProcessHandle process);

// Fills `modules` (capacity `arrayBytes` bytes, 8 per handle) with the loaded
// modules and sets `bytesNeeded` to the bytes the whole list would need
// (K32EnumProcessModulesEx with LIST_MODULES_ALL). On Linux a module is a
// distinct file-backed mapping of /proc/PID/maps, in address order, its handle
// the lowest mapping of that file.
bool ProcessEnumModules(ProcessHandle process, ModuleHandle* modules, uint32_t arrayBytes, uint32_t* bytesNeeded);

// The module's full path, cut to `size` - 1 characters and terminated.
// Returns the characters copied, 0 on failure (K32GetModuleFileNameExA).
uint32_t ProcessModuleFileName(ProcessHandle process, ModuleHandle module, char* path, uint32_t size);

// The module's load address and extent (K32GetModuleInformation). On Linux
// the image runs from its first mapping through the last mapping of its file
// and every anonymous mapping that follows that without a gap: the loader maps
// the part of the writable data beyond the file (.bss) there, zero-filled, and
// a change of protection or advice on part of it splits it into several.
bool ProcessModuleInformation(ProcessHandle process, ModuleHandle module, ModuleInfo* info);

// The region containing `address` (VirtualQueryEx): a committed mapping, or
// the free gap from `address` up to the next mapping. On Linux a mapping that
// can't be read is PAGE_NOACCESS. False when the address lies past the last
// region or the process is gone.
bool ProcessQueryRegion(ProcessHandle process, uint64_t address, MemoryRegion* region);

// The end of the process's user address space: every region a program can
// have lies below it (lpMaximumApplicationAddress + 1 on Windows; on Linux
// the start of the kernel's half, 2^63, as /proc/PID/maps also lists the
// kernel's vsyscall page up there).
uint64_t ProcessAddressLimit(ProcessHandle process);

// Reads exactly `size` bytes: one system call; a short read is a failed read.
// The error code of a failure is kept for ProcessLastError.
bool ProcessReadMemory(ProcessHandle process, uint64_t address, void* buffer, size_t size);

// The OS error code of the calling thread's last failed call (GetLastError / errno).
int ProcessLastError();

// True when `code`, from a failed ProcessOpen (`opening`) or a failed query or
// read of an open process, says that the OS refused this program access to
// the process, not that the process is gone: on Linux EPERM or EACCES (no
// ptrace permission, checked at every call); on Windows ERROR_ACCESS_DENIED
// from OpenProcess only, as a process once opened for reading can't refuse
// a read: a read then fails so only because the process has ended.
bool ProcessErrorIsAccessDenied(int code, bool opening);

// What the user can do to be allowed to read another user's or a more
// privileged process, as one sentence for the log; names this program's path.
const char* ProcessAccessFixes();

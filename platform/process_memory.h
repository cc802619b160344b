// Finding another process and reading its memory, by job: find a process by
// name, open it for reading, find a module in it, list its readable memory,
// read. One backend per OS: Win32 itself, or /proc on Linux. Nothing here
// ever writes to the other process or stops it.
//
// Every call says what it came to as a ProcessResult: Ok, or why not, with
// the OS's own error code (GetLastError, errno) beside it for the message log.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ProcessStatus : uint8_t {
    Ok,
    Gone,         // the process has ended (or none of the names runs)
    Denied,       // the OS refuses this program access to the process
    Unreadable,   // the process runs on, but what was asked for can't be had
};

struct ProcessResult {
    ProcessStatus status;
    int error;    // the OS's error code of a failure; 0 when Ok
};

using ProcessHandle = void*;   // an open process; null: none

inline constexpr int kProcessPathSize = 260;       // bytes of a module's path, terminator included (MAX_PATH)
inline constexpr int kModuleListCapacity = 1024;   // modules a look-up examines at most, in the OS's order

// The kinds of program this OS runs, in the order they are looked for: the
// ending of a program's process name and of its libraries' file names (on
// Windows ".exe" and ".dll"; on Linux its own ELF programs, "" and ".so",
// then Windows programs run under Wine).
struct ProgramForm {
    const char* programEnding;
    const char* libraryEnding;
};
extern const ProgramForm kProgramForms[];
extern const int kProgramFormCount;

// A module loaded in the process.
struct ModuleImage {
    uint64_t base;                  // emulator address: where it is loaded; 0 when no module of the name is
    uint64_t size;                  // bytes of its image from base
    char path[kProcessPathSize];    // the file it was loaded from, cut to fit and terminated
    uint64_t unnamed[kModuleListCapacity / 64];   // bit i: module i of the OS's list had no path to be had
                                                  // and was passed over (only the Windows list does that)
};

// A run of the process's memory that can be read.
struct MemoryRange {
    uint64_t base;                  // emulator address
    uint64_t size;                  // bytes
    bool privateWritable;           // the process's own writable memory (its heap, anonymous mappings, private
                                    // committed pages), not a mapped file nor a library's image
};

// Finds the first live process, in the OS's order (ascending process id on
// Linux), whose image name is one of names[0, count), compared exactly; the
// first process of that order is the system's own (the idle process, init)
// and is never compared. Ok with `processId` and `which` (the index of the
// name) set; Gone when none runs; Unreadable when the processes can't be
// listed. On Linux a process whose executable is Wine's loader goes by the
// Windows program's name it runs, and an ended process waiting for its parent
// (a zombie) is none.
ProcessResult ProcessFind(const char* const* names, int count, uint32_t* processId, int* which);

// Opens a process for querying and reading only (OpenProcess with
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, so the handle can neither
// write to the process nor end it; /proc/PID/mem read-only on Linux, which
// needs ptrace permission but never stops the process). Ok with `process`
// set; Denied when the OS refuses; Gone when the process has ended.
ProcessResult ProcessOpen(uint32_t processId, ProcessHandle* process);
void ProcessClose(ProcessHandle process);

// Looks for the first module, in the OS's order, whose file name (its path
// after the last separator) is `fileName`, compared exactly. Ok: found when
// image->base is not 0. A failure says what stopped the look-up; image->path
// is set when the module was found but its extent could not be had. On Linux
// a module is a file-backed mapping of /proc/PID/maps, found at its lowest
// mapping, and its image runs from there through the last mapping of its file
// and every anonymous mapping that follows that without a gap: the loader
// maps the part of the writable data beyond the file (.bss) there,
// zero-filled, and a change of protection or advice on part of it splits it
// into several.
ProcessResult ProcessFindModule(ProcessHandle process, const char* fileName, ModuleImage* image);

// Lists the readable memory that overlaps [from, to), cut to it, in address
// order: committed regions that are not PAGE_NOACCESS on Windows, mappings
// with read permission on Linux, each as the OS keeps it (neighbours may
// touch). Only user address space is listed (below lpMaximumApplicationAddress
// + 1 on Windows; below 2^63 on Linux, where /proc/PID/maps also lists the
// kernel's vsyscall page up there). At most `capacity` ranges into `ranges`,
// their number in `count`: when the list is full, more may follow from the
// end of its last range. A range is private writable when Linux lists it
// "rw-p" without a file behind it, or Windows as MEM_PRIVATE and read-write.
// The POSIX backend reads the maps file once per call.
// Gone when the process has ended.
ProcessResult ProcessListReadable(ProcessHandle process, uint64_t from, uint64_t to, MemoryRange* ranges,
                                  int capacity, int* count);

// Reads exactly `size` bytes in one system call; a short read is a failed
// read (Unreadable, or Gone when the process has ended). On Windows a process
// once opened can't refuse a read: Denied comes from Linux only, where ptrace
// permission is checked at every call.
ProcessResult ProcessRead(ProcessHandle process, uint64_t address, void* buffer, size_t size);

// What the user can do to be allowed to read another user's or a more
// privileged process, as one sentence for the log; names this program's path.
const char* ProcessAccessFixes();

// The process interface on Linux, from /proc. A process snapshot lists the
// numeric entries of /proc in ascending order; an open process is a descriptor
// of its /proc/PID directory (so a reused process id can't redirect a later
// look-up) and one of its mem file. Memory is read with process_vm_readv,
// which copies straight from the other process's pages, where a pread of the
// mem file copies each page twice through a page it allocates for the call;
// where the kernel refuses process_vm_readv (a seccomp filter, say) the mem
// file is read instead. Modules and regions come from its maps file, read
// afresh on every call. Reading needs ptrace permission only; nothing here
// attaches to the process or stops it.
#include "platform/process_memory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

const bool kWindowsProgramNames = false;
const char kModulePathSeparator = '/';

namespace {

thread_local int t_lastError = 0;

bool Fail(int code) {
    t_lastError = code;
    return false;
}

struct PosixSnapshot {
    std::vector<uint32_t> processIds;   // ascending
    size_t next;                        // index of the next id to report
};

struct RegionWalk;

struct PosixProcess {
    int directoryFd;   // /proc/PID
    int memFd;         // /proc/PID/mem, read-only
    pid_t processId;   // for process_vm_readv: Linux hands ids out in turn, so
                       // the id of an ended process returns only after all others
    bool vmReadv;      // process_vm_readv is allowed; cleared when the kernel refuses it
    RegionWalk* walk;  // the maps file as region queries walk up through it; null until the first
};

PosixSnapshot* SnapshotOf(ProcessSnapshotHandle handle) { return static_cast<PosixSnapshot*>(handle); }
PosixProcess* ProcessOf(ProcessHandle handle) { return static_cast<PosixProcess*>(handle); }

// Reads a small /proc file whole (at most size - 1 bytes) and terminates it.
ssize_t ReadSmallFile(int directoryFd, const char* name, char* out, size_t size) {
    int fd = ::openat(directoryFd, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t total = 0;
    while (static_cast<size_t>(total) + 1 < size) {
        ssize_t got = ::read(fd, out + total, size - 1 - static_cast<size_t>(total));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += got;
    }
    ::close(fd);
    out[total] = '\0';
    return total;
}

// A file replaced or removed while mapped (a rebuilt emulator or core) keeps
// its name in /proc with " (deleted)" behind it; the name is the one it ran as.
void StripDeleted(char* path) {
    static const char kDeleted[] = " (deleted)";
    size_t length = std::strlen(path);
    size_t suffix = sizeof kDeleted - 1;
    if (length > suffix && std::strcmp(path + length - suffix, kDeleted) == 0) path[length - suffix] = '\0';
}

// Fills `entry` for a live process; false for a process that has ended (gone,
// or a zombie waiting for its parent) or can't be looked at.
bool ReadProcessEntry(uint32_t processId, ProcessEntry* entry) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u", processId);
    int directoryFd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) return false;

    // State: the field after the command name, which ends at the last ')'.
    char stat[512];
    bool live = false;
    if (ReadSmallFile(directoryFd, "stat", stat, sizeof stat) > 0) {
        const char* close = std::strrchr(stat, ')');
        if (close != nullptr && close[1] == ' ') live = close[2] != 'Z' && close[2] != 'X' && close[2] != 'x';
    }
    if (!live) {
        ::close(directoryFd);
        return false;
    }

    // The image name: the file name of the executable, or the command name
    // where the link can't be read (kernel threads, other users' processes)
    // or where the executable is Wine's loader (wine64, wine64-preloader, ...),
    // which names its process after the Windows program it runs.
    char target[4096];
    ssize_t linkLength = ::readlinkat(directoryFd, "exe", target, sizeof target - 1);
    const char* name = nullptr;
    if (linkLength > 0) {
        target[linkLength] = '\0';
        StripDeleted(target);
        const char* slash = std::strrchr(target, '/');
        name = slash != nullptr ? slash + 1 : target;
        if (std::strncmp(name, "wine", 4) == 0) name = nullptr;
    }
    if (name == nullptr && ReadSmallFile(directoryFd, "comm", target, sizeof target) > 0) {
        target[std::strcspn(target, "\n")] = '\0';
        name = target;
    }
    ::close(directoryFd);
    if (name == nullptr) return false;

    entry->processId = processId;
    size_t length = std::min(std::strlen(name), sizeof entry->exeFile - 1);
    std::memcpy(entry->exeFile, name, length);
    entry->exeFile[length] = '\0';
    return true;
}

bool SnapshotAdvance(PosixSnapshot* snapshot, ProcessEntry* entry) {
    while (snapshot->next < snapshot->processIds.size()) {
        uint32_t processId = snapshot->processIds[snapshot->next++];
        if (ReadProcessEntry(processId, entry)) return true;
    }
    return Fail(ENOENT);   // ERROR_NO_MORE_FILES
}

// [SECTION] /proc/PID/maps, one line at a time.

struct Mapping {
    uint64_t start;
    uint64_t end;
    bool readable;
    bool writable;
    bool executable;
    uint64_t device;      // major and minor packed, with the inode the file's identity
    uint64_t inode;
    const char* path;     // "" for anonymous memory; valid until the next line
};

struct MapsReader {
    int fd;
    size_t length;        // bytes in buffer
    size_t position;      // start of the next line
    bool endOfFile;
    char buffer[8192];    // a maps line is at most a path (4096) plus about 100 bytes
};

bool MapsOpen(const PosixProcess* process, MapsReader* reader) {
    reader->fd = ::openat(process->directoryFd, "maps", O_RDONLY | O_CLOEXEC);
    reader->length = 0;
    reader->position = 0;
    reader->endOfFile = false;
    if (reader->fd < 0) return Fail(errno);
    return true;
}

void MapsClose(MapsReader* reader) {
    if (reader->fd >= 0) ::close(reader->fd);
    reader->fd = -1;
}

// The next whole line, terminated in place, or null at the end.
char* MapsNextLine(MapsReader* reader) {
    for (;;) {
        char* begin = reader->buffer + reader->position;
        size_t available = reader->length - reader->position;
        char* newline = static_cast<char*>(std::memchr(begin, '\n', available));
        if (newline != nullptr) {
            *newline = '\0';
            reader->position += static_cast<size_t>(newline - begin) + 1;
            return begin;
        }
        if (reader->endOfFile) {
            if (available == 0) return nullptr;
            reader->buffer[reader->length] = '\0';   // a last line without newline
            reader->position = reader->length;
            return begin;
        }
        // Keep the partial line and fill the rest of the buffer behind it.
        std::memmove(reader->buffer, begin, available);
        reader->length = available;
        reader->position = 0;
        if (reader->length + 1 >= sizeof reader->buffer) {
            reader->length = 0;   // a line longer than any maps line: drop it
        }
        ssize_t got = ::read(reader->fd, reader->buffer + reader->length, sizeof reader->buffer - 1 - reader->length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            reader->endOfFile = true;
        } else {
            reader->length += static_cast<size_t>(got);
        }
    }
}

// "start-end perms offset major:minor inode   path"
bool ParseMapping(char* line, Mapping* mapping) {
    char* cursor = line;
    char* next = nullptr;
    mapping->start = std::strtoull(cursor, &next, 16);
    if (next == cursor || *next != '-') return false;
    cursor = next + 1;
    mapping->end = std::strtoull(cursor, &next, 16);
    if (next == cursor || *next != ' ') return false;
    cursor = next + 1;
    if (std::strlen(cursor) < 5) return false;
    mapping->readable = cursor[0] == 'r';
    mapping->writable = cursor[1] == 'w';
    mapping->executable = cursor[2] == 'x';
    cursor += 4;
    std::strtoull(cursor, &next, 16);   // file offset
    if (next == cursor) return false;
    cursor = next;
    uint64_t major = std::strtoull(cursor, &next, 16);
    if (next == cursor || *next != ':') return false;
    cursor = next + 1;
    uint64_t minor = std::strtoull(cursor, &next, 16);
    if (next == cursor) return false;
    mapping->device = major << 32 | minor;
    cursor = next;
    mapping->inode = std::strtoull(cursor, &next, 10);
    if (next == cursor) return false;
    cursor = next;
    while (*cursor == ' ' || *cursor == '\t') ++cursor;
    StripDeleted(cursor);
    mapping->path = cursor;
    return mapping->end > mapping->start;
}

bool MapsNext(MapsReader* reader, Mapping* mapping) {
    while (char* line = MapsNextLine(reader)) {
        if (ParseMapping(line, mapping)) return true;
    }
    return false;
}

bool IsFileBacked(const Mapping& mapping) { return mapping.path[0] == '/' && mapping.inode != 0; }

uint32_t ProtectionOf(const Mapping& mapping) {
    if (!mapping.readable) return kPageNoAccess;
    if (mapping.executable) return mapping.writable ? kPageExecuteReadWrite : kPageExecuteRead;
    return mapping.writable ? kPageReadWrite : kPageReadOnly;
}

struct ModuleKey {
    uint64_t device;
    uint64_t inode;
};

// Region queries come in rising order, one region after the other (the
// header scan walks the whole address space so): each query reads on in the
// maps file where the last one stopped, so that a walk reads the file once,
// not once per region (a thousand mappings, a thousand times, took seconds).
// A query below the last one opens the file afresh.
struct RegionWalk {
    MapsReader reader;
    uint64_t lastPage;    // of the last query
    bool hasAhead;        // `ahead` is the mapping read but not yet passed
    Mapping ahead;        // its path is not kept
};

void RegionWalkEnd(RegionWalk* walk) {
    MapsClose(&walk->reader);
    walk->hasAhead = false;
}

}  // namespace

ProcessSnapshotHandle ProcessSnapshotTake() {
    PosixSnapshot* snapshot = new (std::nothrow) PosixSnapshot();
    if (snapshot == nullptr) {
        Fail(ENOMEM);
        return nullptr;
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        Fail(errno);
        delete snapshot;
        return nullptr;
    }
    while (dirent* item = ::readdir(proc)) {
        char* end = nullptr;
        unsigned long processId = std::strtoul(item->d_name, &end, 10);
        if (end == item->d_name || *end != '\0' || processId == 0 || processId > UINT32_MAX) continue;
        snapshot->processIds.push_back(static_cast<uint32_t>(processId));
    }
    ::closedir(proc);
    std::sort(snapshot->processIds.begin(), snapshot->processIds.end());
    snapshot->next = 0;
    return snapshot;
}

bool ProcessSnapshotFirst(ProcessSnapshotHandle handle, ProcessEntry* entry) {
    PosixSnapshot* snapshot = SnapshotOf(handle);
    snapshot->next = 0;
    return SnapshotAdvance(snapshot, entry);
}

bool ProcessSnapshotNext(ProcessSnapshotHandle handle, ProcessEntry* entry) {
    return SnapshotAdvance(SnapshotOf(handle), entry);
}

void ProcessSnapshotClose(ProcessSnapshotHandle handle) { delete SnapshotOf(handle); }

ProcessHandle ProcessOpen(uint32_t processId) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u", processId);
    int directoryFd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) {
        Fail(errno);
        return nullptr;
    }
    int memFd = ::openat(directoryFd, "mem", O_RDONLY | O_CLOEXEC);
    if (memFd < 0) {
        Fail(errno);
        ::close(directoryFd);
        return nullptr;
    }
    PosixProcess* process =
        new (std::nothrow) PosixProcess{directoryFd, memFd, static_cast<pid_t>(processId), true, nullptr};
    if (process == nullptr) {
        Fail(ENOMEM);
        ::close(memFd);
        ::close(directoryFd);
    }
    return process;
}

void ProcessClose(ProcessHandle handle) {
    PosixProcess* process = ProcessOf(handle);
    if (process == nullptr) return;
    if (process->walk != nullptr) RegionWalkEnd(process->walk);
    delete process->walk;
    ::close(process->memFd);
    ::close(process->directoryFd);
    delete process;
}

bool ProcessEnumModules(ProcessHandle handle, ModuleHandle* modules, uint32_t arrayBytes, uint32_t* bytesNeeded) {
    MapsReader reader;
    if (!MapsOpen(ProcessOf(handle), &reader)) return false;
    std::vector<ModuleKey> seen;
    uint32_t capacity = arrayBytes / sizeof(ModuleHandle);
    Mapping mapping;
    while (MapsNext(&reader, &mapping)) {
        if (!IsFileBacked(mapping)) continue;
        bool known = std::any_of(seen.begin(), seen.end(), [&](const ModuleKey& key) {
            return key.device == mapping.device && key.inode == mapping.inode;
        });
        if (known) continue;
        if (seen.size() < capacity) modules[seen.size()] = mapping.start;
        seen.push_back({mapping.device, mapping.inode});
    }
    MapsClose(&reader);
    *bytesNeeded = static_cast<uint32_t>(std::min<size_t>(seen.size() * sizeof(ModuleHandle), UINT32_MAX));
    return true;
}

uint32_t ProcessModuleFileName(ProcessHandle handle, ModuleHandle module, char* path, uint32_t size) {
    if (size == 0) {
        Fail(EINVAL);
        return 0;
    }
    MapsReader reader;
    uint32_t copied = 0;
    bool found = false;
    if (MapsOpen(ProcessOf(handle), &reader)) {
        Mapping mapping;
        while (MapsNext(&reader, &mapping)) {
            if (mapping.start > module) break;
            if (mapping.start != module || !IsFileBacked(mapping)) continue;
            size_t length = std::min<size_t>(std::strlen(mapping.path), size - 1);
            std::memcpy(path, mapping.path, length);
            path[length] = '\0';
            copied = static_cast<uint32_t>(length);
            found = true;
            break;
        }
        MapsClose(&reader);
        if (!found) Fail(ENOENT);
    }
    return copied;
}

bool ProcessModuleInformation(ProcessHandle handle, ModuleHandle module, ModuleInfo* info) {
    MapsReader reader;
    if (!MapsOpen(ProcessOf(handle), &reader)) return false;
    bool found = false;
    bool extending = false;   // the mappings read so far run on from one of the module's file without a gap
    ModuleKey key{};
    uint64_t end = 0;
    Mapping mapping;
    while (MapsNext(&reader, &mapping)) {
        if (!found && mapping.start == module && IsFileBacked(mapping)) {
            found = true;
            key = {mapping.device, mapping.inode};
        }
        if (!found) continue;
        const bool isModule = IsFileBacked(mapping) && mapping.device == key.device && mapping.inode == key.inode;
        const bool anonymous = mapping.inode == 0 && mapping.path[0] == '\0';
        if (isModule) {
            end = mapping.end;
            extending = true;
        } else if (extending && anonymous && mapping.start == end) {
            // The zero-filled rest of the module's data, in as many pieces as
            // mprotect, madvise or mremap on parts of it have made.
            end = mapping.end;
        } else {
            extending = false;
        }
    }
    MapsClose(&reader);
    if (!found) return Fail(ENOENT);
    info->baseOfDll = module;
    info->sizeOfImage = static_cast<uint32_t>(std::min<uint64_t>(end - module, UINT32_MAX));
    info->entryPoint = 0;
    return true;
}

bool ProcessQueryRegion(ProcessHandle handle, uint64_t address, MemoryRegion* region) {
    PosixProcess* process = ProcessOf(handle);
    if (process->walk == nullptr) {
        process->walk = new (std::nothrow) RegionWalk();
        if (process->walk == nullptr) return Fail(ENOMEM);
        process->walk->reader.fd = -1;
    }
    RegionWalk* walk = process->walk;
    const uint64_t page = address & ~uint64_t{0xFFF};
    if (walk->reader.fd < 0 || page < walk->lastPage) {
        RegionWalkEnd(walk);
        if (!MapsOpen(process, &walk->reader)) return false;
    }
    walk->lastPage = page;
    for (;;) {
        if (!walk->hasAhead && !MapsNext(&walk->reader, &walk->ahead)) break;
        walk->hasAhead = true;
        const Mapping& mapping = walk->ahead;
        if (mapping.end <= page) {
            walk->hasAhead = false;
            continue;
        }
        if (mapping.start <= page) {
            *region = {page, mapping.end - page, kMemCommit, ProtectionOf(mapping)};
        } else {
            *region = {page, mapping.start - page, kMemFree, 0};
        }
        return true;
    }
    // Past the last mapping, or no mappings at all: the process has ended.
    RegionWalkEnd(walk);
    return Fail(EINVAL);
}

bool ProcessReadMemory(ProcessHandle handle, uint64_t address, void* buffer, size_t size) {
    if (size == 0) return true;
    PosixProcess* process = ProcessOf(handle);
    ssize_t got = -1;
    if (process->vmReadv) {
        iovec local{buffer, size};
        iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address)), size};
        do {
            got = ::process_vm_readv(process->processId, &local, 1, &remote, 1, 0);
        } while (got < 0 && errno == EINTR);
        // The mem file could be opened, so the process may be read: a refusal
        // is of the call itself, for good.
        if (got < 0 && (errno == ENOSYS || errno == EPERM)) process->vmReadv = false;
    }
    if (!process->vmReadv) {
        do {
            got = ::pread(process->memFd, buffer, size, static_cast<off_t>(address));
        } while (got < 0 && errno == EINTR);
    }
    if (got < 0) return Fail(errno);
    // A partial copy (an unreadable page on the way, or a process whose memory
    // is gone, which reads as 0 bytes) is a failed read.
    if (static_cast<size_t>(got) != size) return Fail(EIO);
    return true;
}

uint64_t ProcessAddressLimit(ProcessHandle) { return uint64_t{1} << 63; }

int ProcessLastError() { return t_lastError; }

bool ProcessErrorIsAccessDenied(int code, bool) { return code == EPERM || code == EACCES; }

const char* ProcessAccessFixes() {
    // Built once, on first use, from where this program lies.
    static const std::string fixes = [] {
        char self[4096];
        ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : "ringwatch";
        return "Reading another process needs ptrace permission: run as root, or allow this program once with "
               "'sudo setcap cap_sys_ptrace=eip " + path +
               "', or run it as the emulator's user with kernel.yama.ptrace_scope set to 0.";
    }();
    return fixes.c_str();
}

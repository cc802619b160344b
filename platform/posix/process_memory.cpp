// The process interface on Linux, from /proc. Processes are the numeric
// entries of /proc, which the kernel lists in ascending id order; an open
// process is a descriptor of its /proc/PID directory (so a reused process id
// can't redirect a later look-up) and one of its mem file. Memory is read
// with process_vm_readv, which copies straight from the other process's
// pages, where a pread of the mem file copies each page twice through a page
// it allocates for the call; where the kernel refuses process_vm_readv (a
// seccomp filter, say) the mem file is read instead. Modules and readable
// memory come from its maps file, read once per call. Reading needs ptrace
// permission only; nothing here attaches to the process or stops it.
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

const ProgramForm kProgramForms[] = {{"", ".so"}, {".exe", ".dll"}};
const int kProgramFormCount = 2;

namespace {

// The start of the kernel's half of the address space: no user mapping lies above.
constexpr uint64_t kUserAddressLimit = uint64_t{1} << 63;

struct PosixProcess {
    int directoryFd;   // /proc/PID
    int memFd;         // /proc/PID/mem, read-only
    pid_t processId;   // for process_vm_readv: Linux hands ids out in turn, so
                       // the id of an ended process returns only after all others
    bool vmReadv;      // process_vm_readv is allowed; cleared when the kernel refuses it
};

PosixProcess* ProcessOf(ProcessHandle handle) { return static_cast<PosixProcess*>(handle); }

constexpr ProcessResult kOk{ProcessStatus::Ok, 0};

// ESRCH: the process has ended; ENOENT: its /proc entry is gone with it.
ProcessResult Failed(int error) {
    if (error == ESRCH || error == ENOENT) return {ProcessStatus::Gone, error};
    if (error == EPERM || error == EACCES) return {ProcessStatus::Denied, error};
    return {ProcessStatus::Unreadable, error};
}

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

// The image name of a live process into `name` (kProcessPathSize bytes);
// false for a process that has ended (gone, or a zombie waiting for its
// parent) or can't be looked at.
bool ReadProcessName(uint32_t processId, char* name) {
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

    // The file name of the executable, or the command name where the link
    // can't be read (kernel threads, other users' processes) or where the
    // executable is Wine's loader (wine64, wine64-preloader, ...), which names
    // its process after the Windows program it runs.
    char target[4096];
    ssize_t linkLength = ::readlinkat(directoryFd, "exe", target, sizeof target - 1);
    const char* found = nullptr;
    if (linkLength > 0) {
        target[linkLength] = '\0';
        StripDeleted(target);
        const char* slash = std::strrchr(target, '/');
        found = slash != nullptr ? slash + 1 : target;
        if (std::strncmp(found, "wine", 4) == 0) found = nullptr;
    }
    if (found == nullptr && ReadSmallFile(directoryFd, "comm", target, sizeof target) > 0) {
        target[std::strcspn(target, "\n")] = '\0';
        found = target;
    }
    ::close(directoryFd);
    if (found == nullptr) return false;
    size_t length = std::min<size_t>(std::strlen(found), kProcessPathSize - 1);
    std::memcpy(name, found, length);
    name[length] = '\0';
    return true;
}

// [SECTION] /proc/PID/maps, one line at a time.

struct Mapping {
    uint64_t start;
    uint64_t end;
    bool readable;
    bool privateWritable;   // "rw-p"; a file behind it is told by the inode
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
    return reader->fd >= 0;
}

void MapsClose(MapsReader* reader) { ::close(reader->fd); }

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
    mapping->privateWritable = cursor[0] == 'r' && cursor[1] == 'w' && cursor[3] == 'p';
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

bool FileNameIs(const char* path, const char* fileName) {
    const char* slash = std::strrchr(path, '/');
    return std::strcmp(slash != nullptr ? slash + 1 : path, fileName) == 0;
}

}  // namespace

ProcessResult ProcessFind(const char* const* names, int count, uint32_t* processId, int* which) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return {ProcessStatus::Unreadable, errno};
    ProcessResult result{ProcessStatus::Gone, ESRCH};
    bool first = true;   // the lowest live process, init, is never compared
    char name[kProcessPathSize];
    while (result.status != ProcessStatus::Ok) {
        const dirent* item = ::readdir(proc);
        if (item == nullptr) break;
        char* end = nullptr;
        const unsigned long id = std::strtoul(item->d_name, &end, 10);
        if (end == item->d_name || *end != '\0' || id == 0 || id > UINT32_MAX) continue;
        if (!ReadProcessName(static_cast<uint32_t>(id), name)) continue;
        if (first) {
            first = false;
            continue;
        }
        for (int i = 0; i < count && result.status != ProcessStatus::Ok; ++i) {
            if (std::strcmp(name, names[i]) != 0) continue;
            *processId = static_cast<uint32_t>(id);
            *which = i;
            result = kOk;
        }
    }
    ::closedir(proc);
    return result;
}

ProcessResult ProcessOpen(uint32_t processId, ProcessHandle* process) {
    *process = nullptr;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u", processId);
    int directoryFd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) return Failed(errno);
    int memFd = ::openat(directoryFd, "mem", O_RDONLY | O_CLOEXEC);
    if (memFd < 0) {
        const int error = errno;
        ::close(directoryFd);
        return Failed(error);
    }
    PosixProcess* opened = new (std::nothrow) PosixProcess{directoryFd, memFd, static_cast<pid_t>(processId), true};
    if (opened == nullptr) {
        ::close(memFd);
        ::close(directoryFd);
        return Failed(ENOMEM);
    }
    *process = opened;
    return kOk;
}

void ProcessClose(ProcessHandle handle) {
    PosixProcess* process = ProcessOf(handle);
    if (process == nullptr) return;
    ::close(process->memFd);
    ::close(process->directoryFd);
    delete process;
}

ProcessResult ProcessFindModule(ProcessHandle handle, const char* fileName, ModuleImage* image) {
    std::memset(image, 0, sizeof *image);
    MapsReader reader;
    if (!MapsOpen(ProcessOf(handle), &reader)) return Failed(errno);
    bool extending = false;   // the mappings read so far run on from one of the module's file without a gap
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t end = 0;
    Mapping mapping;
    while (MapsNext(&reader, &mapping)) {
        const bool fileBacked = IsFileBacked(mapping);
        if (image->base == 0) {
            if (!fileBacked || !FileNameIs(mapping.path, fileName)) continue;
            image->base = mapping.start;
            std::snprintf(image->path, sizeof image->path, "%s", mapping.path);
            device = mapping.device;
            inode = mapping.inode;
        }
        const bool anonymous = mapping.inode == 0 && mapping.path[0] == '\0';
        if (fileBacked && mapping.device == device && mapping.inode == inode) {
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
    image->size = end - image->base;
    return kOk;
}

ProcessResult ProcessListReadable(ProcessHandle handle, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity,
                                  int* count) {
    *count = 0;
    MapsReader reader;
    if (!MapsOpen(ProcessOf(handle), &reader)) return Failed(errno);
    to = std::min(to, kUserAddressLimit);
    bool any = false;
    Mapping mapping;
    while (*count < capacity && MapsNext(&reader, &mapping)) {
        any = true;
        if (mapping.start >= to) break;
        if (mapping.end <= from || !mapping.readable) continue;
        const uint64_t base = std::max(mapping.start, from);
        // The heap, the stacks and anonymous mappings; a file mapped
        // privately (a library's data) has its inode.
        const bool ownMemory = mapping.privateWritable && mapping.inode == 0;
        ranges[(*count)++] = {base, std::min(mapping.end, to) - base, ownMemory};
    }
    MapsClose(&reader);
    // A process without a single mapping has ended (a zombie's maps file is empty).
    return any ? kOk : ProcessResult{ProcessStatus::Gone, ESRCH};
}

ProcessResult ProcessRead(ProcessHandle handle, uint64_t address, void* buffer, size_t size) {
    if (size == 0) return kOk;
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
        // The mem file of a process whose memory is gone reads as 0 bytes.
        if (got == 0) return {ProcessStatus::Gone, EIO};
    }
    if (got < 0) return Failed(errno);
    // A partial copy (an unreadable page on the way) is a failed read.
    if (static_cast<size_t>(got) != size) return {ProcessStatus::Unreadable, EIO};
    return kOk;
}

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

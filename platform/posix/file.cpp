// Data files on POSIX: the XDG data folder, O_APPEND writes and fsync.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kFileLineEnd[] = "\n";
const char kFilePathSeparators[] = "/";

namespace {

FileResult Ok() { return FileResult{true, 0, ""}; }
FileResult Failed(const char* step, int error) { return FileResult{false, error, step}; }

// mkdir -p: every folder of `folder` that is missing is created (0700, as
// the data folders of a user are).
bool MakeFolders(char* folder) {
    for (char* slash = std::strchr(folder + 1, '/');; slash = std::strchr(slash + 1, '/')) {
        if (slash != nullptr) *slash = '\0';
        const bool made = mkdir(folder, 0700) == 0 || errno == EEXIST;
        if (slash != nullptr) *slash = '/';
        if (!made) return false;
        if (slash == nullptr || slash[1] == '\0') return true;
    }
}

int OpenRetrying(const char* path, int flags) {
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads up to `size` bytes from `start` (fewer at the end of the file), then
// closes `fd`; *length is what was read.
FileResult ReadAndClose(int fd, off_t start, char* buffer, size_t size, size_t* length) {
    size_t got = 0;
    while (got < size) {
        const ssize_t step = pread(fd, buffer + got, size - got, start + static_cast<off_t>(got));
        if (step < 0 && errno == EINTR) continue;
        if (step < 0) {
            const int error = errno;
            close(fd);
            return Failed("read", error);
        }
        if (step == 0) break;
        got += static_cast<size_t>(step);
    }
    close(fd);
    *length = got;
    return Ok();
}

}  // namespace

FileResult FileDataPath(const char* fileName, char* path, size_t size) {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    char folder[kFilePathSize];
    int length;
    if (dataHome != nullptr && dataHome[0] == '/') {
        length = std::snprintf(folder, sizeof folder, "%s/ringwatch/", dataHome);
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return Failed("locate", ENOENT);
        length = std::snprintf(folder, sizeof folder, "%s/.local/share/ringwatch/", home);
    }
    if (length < 0 || static_cast<size_t>(length) >= sizeof folder) return Failed("locate", ENAMETOOLONG);
    if (!MakeFolders(folder)) return Failed("create folder", errno);
    length = std::snprintf(path, size, "%s%s", folder, fileName);
    if (length < 0 || static_cast<size_t>(length) >= size) return Failed("locate", ENAMETOOLONG);
    return Ok();
}

FileResult FileAppend(const char* path, const char* data, size_t size) {
    const int fd = OpenRetrying(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) return Failed("open", errno);
    struct stat before {};
    if (fstat(fd, &before) != 0) {
        const int error = errno;
        close(fd);
        return Failed("open", error);
    }
    ssize_t written;
    do {
        written = write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    if (written < 0 || static_cast<size_t>(written) != size) {
        const int error = written < 0 ? errno : ENOSPC;
        // Part of a row is taken back; should that fail too, the next row
        // still starts on a line of its own (the writer checks the last byte).
        if (written > 0 && ftruncate(fd, before.st_size) != 0) written = -1;
        close(fd);
        return Failed("write", error);
    }
    if (fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return Failed("flush", error);
    }
    if (close(fd) != 0) return Failed("flush", errno);
    return Ok();
}

FileResult FileReadTail(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) return errno == ENOENT ? Ok() : Failed("open", errno);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        close(fd);
        return Failed("open", error);
    }
    const off_t fileSize = info.st_size;
    const off_t start = fileSize > static_cast<off_t>(size) ? fileSize - static_cast<off_t>(size) : 0;
    return ReadAndClose(fd, start, buffer, static_cast<size_t>(fileSize - start), length);
}

FileResult FileSize(const char* path, bool* exists, uint64_t* size) {
    *exists = false;
    *size = 0;
    struct stat info {};
    if (stat(path, &info) != 0) return errno == ENOENT ? Ok() : Failed("open", errno);
    if (S_ISDIR(info.st_mode)) return Failed("open", EISDIR);
    *exists = true;
    *size = static_cast<uint64_t>(info.st_size);
    return Ok();
}

FileResult FileReadStart(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) return Failed("open", errno);
    return ReadAndClose(fd, 0, buffer, size, length);
}

FileResult FileReplace(const char* path, const char* data, size_t size) {
    char temporary[kFilePathSize];
    const int length = std::snprintf(temporary, sizeof temporary, "%s.%ld.tmp", path, static_cast<long>(getpid()));
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) return Failed("open", ENAMETOOLONG);
    const int fd = OpenRetrying(temporary, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return Failed("open", errno);
    FileResult result = Ok();
    for (size_t done = 0; done < size && result.ok;) {
        const ssize_t step = write(fd, data + done, size - done);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) result = Failed("write", step < 0 ? errno : ENOSPC);
        else done += static_cast<size_t>(step);
    }
    if (result.ok && fsync(fd) != 0) result = Failed("flush", errno);
    if (close(fd) != 0 && result.ok) result = Failed("flush", errno);
    if (result.ok && rename(temporary, path) != 0) result = Failed("rename", errno);
    if (!result.ok) unlink(temporary);
    return result;
}

// The files the program keeps: the play-through history, appended to row by
// row and never rewritten. One backend per OS. Failures come back as values
// with the OS's error code (errno, GetLastError); nothing here logs.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kFilePathSize = 1024;   // bytes of a path, NUL included (UTF-8)

// The line end of this OS's text files: "\r\n" on Windows, "\n" elsewhere.
extern const char kFileLineEnd[];

// The characters that end a folder's name in a path: "\\/" on Windows, "/" elsewhere.
extern const char kFilePathSeparators[];

struct FileResult {
    bool ok;
    int32_t error;      // the OS's error code when !ok
    const char* step;   // what failed: "locate", "create folder", "open", "read", "write", "flush", "rename"
};

// Where a data file of the program named `fileName` lives, into `path`: on
// Windows beside the program's executable; elsewhere in
// $XDG_DATA_HOME/ringwatch/ (~/.local/share/ringwatch/ when that is unset or
// not absolute), the folders created when missing.
FileResult FileDataPath(const char* fileName, char* path, size_t size);

// Appends `size` bytes to the file at `path` (created when missing) in one
// write and flushes them to the disk before returning. A write cut short
// (a full disk) is taken back: the file keeps its former length and the call
// fails, so the file never holds part of `data`.
FileResult FileAppend(const char* path, const char* data, size_t size);

// The last bytes of the file at `path`, at most `size`, into `buffer`;
// `*length` is how many. A missing file is read as empty.
FileResult FileReadTail(const char* path, char* buffer, size_t size, size_t* length);

// The size in bytes of the file at `path` into `*size`; a missing file is no
// failure: `*exists` is false and `*size` 0.
FileResult FileSize(const char* path, bool* exists, uint64_t* size);

// The first bytes of the file at `path`, at most `size`, into `buffer`;
// `*length` is how many. Opened for reading only, shared with a writer.
FileResult FileReadStart(const char* path, char* buffer, size_t size, size_t* length);

// Makes `data` the whole of the file at `path`: written and flushed under a
// name of its own beside it, then renamed over it, so that a reader sees the
// old file or the new one, never part of it. Nothing is left beside it when
// a step fails.
FileResult FileReplace(const char* path, const char* data, size_t size);

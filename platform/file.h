// The files the program keeps: the play-through history, appended to row by
// row and never rewritten. One backend per OS. Failures come back as values
// with the OS's error code (errno, GetLastError); nothing here logs.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kFilePathSize = 1024;   // bytes of a path, NUL included (UTF-8)

// The line end of this OS's text files: "\r\n" on Windows, "\n" elsewhere.
extern const char kFileLineEnd[];

struct FileResult {
    bool ok;
    int32_t error;      // the OS's error code when !ok
    const char* step;   // what failed: "locate", "create folder", "open", "read", "write", "flush"
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

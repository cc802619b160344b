// The play-through history's file read whole, for the report and for the
// bests that the log's comparison lines take from it: one reader, one size
// limit.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file.h"

// A history larger than this is not read (the report says so).
inline constexpr uint64_t kMaxHistoryBytes = uint64_t{1} << 30;

enum class HistoryFileRead : uint8_t {
    Read,       // `bytes` holds the file
    Missing,    // there is no file at the path
    Empty,
    TooLarge,   // over kMaxHistoryBytes
    Failed,     // the system refused: `*failure` says where and why
};

// Reads the file at `path` whole into `bytes` (resized to what was read).
HistoryFileRead ReadHistoryFile(const char* path, std::vector<char>& bytes, FileResult* failure);

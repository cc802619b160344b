// Numbered, time-stamped messages. Each thread appends to a LogBuffer of its
// own; the tracker's batches reach the main log through the shared log.
// Clock values are passed in, so every operation here is pure.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kLogCapacity = 218;        // entries per buffer
inline constexpr int kLogTextSize = 520;        // bytes per message, terminator included
inline constexpr double kLogLifetimeSeconds = 20.0;

struct LogEntry {
    uint64_t stamp;               // counter ticks when the message was appended
    int32_t sequence;             // number within the appending buffer's series, from 1
    char text[kLogTextSize];      // NUL-terminated, at most 519 characters
};

struct LogBuffer {
    int32_t sequence;             // number given to the last message appended here
    int32_t count;                // entries in use, 0..218; the rest are all zero
    LogEntry entries[kLogCapacity];  // oldest first
};

// Clears the whole buffer, header included.
void LogClear(LogBuffer& log);

// Appends a message stamped `now`. A full buffer drops the message without
// using a number; text longer than 519 characters is cut.
void LogAppend(LogBuffer& log, uint64_t now, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Moves a batch behind another log's entries (keeping their stamps and
// numbers) and clears the batch's log, header included: the tracker's log
// into the shared log, the shared log into the main log. Entries that do not
// fit are dropped, oldest kept, as LogAppend does.
void LogMerge(LogBuffer& mainLog, LogBuffer& sharedLog);

// Drops entries from the front while they are 20 s old or older, stopping at
// the first younger one. Returns the number removed.
int LogExpire(LogBuffer& log, uint64_t now, double counterFrequency);

// Formats one log line, "[NNN - HH:MM:SS.mmm] text", with snprintf semantics
// into `out` of `outSize` bytes; returns snprintf's result.
int LogFormatLine(char* out, size_t outSize, const LogEntry& entry, uint64_t startStamp,
                  double counterFrequency);

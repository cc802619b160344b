// The play-through history: ringwatch-history.csv, one row per closed level
// record and one summary row when the game reaches its end, appended to and
// never rewritten. The main thread takes the rows from its collected copy of
// the snapshot (the tracker thread never waits on a disk), keeps them in a
// fixed queue and writes them in order; a row the file refuses stays queued
// and is tried again at the next close, or after kHistoryRetrySeconds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "history/history_format.h"
#include "log/log_buffer.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "tracking/tracker_stats.h"

inline constexpr int kHistoryQueueCapacity = 256;   // rows kept while the file refuses them
inline constexpr size_t kHistoryTailSize = 4096;    // bytes of the file read back before writing
inline constexpr double kHistoryRetrySeconds = 10.0; // queued rows are also tried again this often

// The main thread's record of the history; allocated once, zero-filled.
struct HistoryState {
    // What has been taken from the snapshots.
    TakenRecords taken;          // closed records of the run being taken already queued
    uint8_t summaryTaken;        // its summary row is queued
    uint8_t runNumbered;         // that run has its number
    uint32_t runsNumbered;       // play-throughs given rows since the program started
    // Rows not yet in the file, oldest first.
    HistoryRow queue[kHistoryQueueCapacity];
    int32_t queueStart;
    int32_t queueCount;
    uint32_t rowsDropped;        // rows lost because the queue was full
    // The file.
    char path[kFilePathSize];
    uint8_t pathKnown;
    uint8_t baseKnown;
    int64_t runBase;             // the last play-through number the file held when the program started
    uint8_t pathReported;        // the path has been logged
    uint8_t failureReported;     // the current streak of failures has been logged
    uint8_t attempted;           // a write has been tried since the program started
    uint64_t lastAttempt;        // counter ticks of the last try
};

// Queues the rows of what `stats` shows closed since the last call: every
// closed record of the run once, and the summary once the run has reached its
// end. A new runNumber starts a new play-through. `now` stamps the rows.
// Returns the number of rows queued.
int HistoryTake(HistoryState& state, const TrackerStats& stats, const LocalTime& now);

// How the rows reach the disk: the platform's file calls, or others that answer
// as the OS does (a full disk, a file another program holds locked).
struct HistoryFileApi {
    FileResult (*dataPath)(const char* fileName, char* path, size_t size);
    FileResult (*append)(const char* path, const char* data, size_t size);
    FileResult (*readTail)(const char* path, char* buffer, size_t size, size_t* length);
};
inline constexpr HistoryFileApi kPlatformFileApi{FileDataPath, FileAppend, FileReadTail};

// Writes the queued rows in order, each in one append, and stops at the first
// that fails, logging the failure once per streak (the rows stay queued). The
// first write since the program started logs the file's path. Does nothing when the
// queue is empty.
void HistoryWriteQueued(HistoryState& state, LogBuffer& log, uint64_t now,
                        const HistoryFileApi& files = kPlatformFileApi);

// The main thread's step after every collect: takes what the copy shows newly
// closed, stamped `localNow`, and writes the queue when a row was taken or a
// retry is due. `now` is in counter ticks.
void HistoryFrame(HistoryState& state, const TrackerStats& stats, LogBuffer& log, uint64_t now,
                  const LocalTime& localNow, double counterFrequency);

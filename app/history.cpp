#include "app/history.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tracking/game_time.h"
#include "tracking/level_names.h"
#include "tracking/tracker_states.h"

namespace {

constexpr int ColumnCount(const char* header) {
    int columns = 1;
    for (const char* c = header; *c != '\0'; ++c) columns += *c == ',' ? 1 : 0;
    return columns;
}
constexpr int kRowColumns = 5;   // date_time, playthrough, level, time, hundredths
static_assert(ColumnCount(kHistoryHeader) == kRowColumns + kLevelCountFields,
              "the history header names one column per LevelCounts field");

constexpr char kSummaryLevel[] = "Total";

// Appends `text` as one CSV field: quoted, with its quotes doubled, when it
// holds a comma, a quote or a line break.
void AppendField(const char* text, char* out, size_t size, size_t* used, bool first) {
    char field[kHistoryRowSize];
    size_t length = 0;
    const bool quote = std::strpbrk(text, ",\"\r\n") != nullptr;
    if (quote) field[length++] = '"';
    for (const char* c = text; *c != '\0' && length + 3 < sizeof field; ++c) {
        if (*c == '"') field[length++] = '"';
        field[length++] = *c;
    }
    if (quote) field[length++] = '"';
    field[length] = '\0';
    const int wrote = std::snprintf(out + *used, size - *used, "%s%s", first ? "" : ",", field);
    *used = wrote < 0 ? size : std::min(size, *used + static_cast<size_t>(wrote));
}

void AppendNumber(int64_t value, char* out, size_t size, size_t* used) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRId64, value);
    AppendField(text, out, size, used, false);
}

void Enqueue(HistoryState& state, HistoryRow row) {
    if (!state.runNumbered) {
        ++state.runsNumbered;
        state.runNumbered = 1;
    }
    row.run = state.runsNumbered;
    if (state.queueCount >= kHistoryQueueCapacity) {
        ++state.rowsDropped;
        return;
    }
    state.queue[(state.queueStart + state.queueCount) % kHistoryQueueCapacity] = row;
    ++state.queueCount;
}

void ReportFailure(HistoryState& state, LogBuffer& log, uint64_t now, const FileResult& result) {
    if (state.failureReported) return;
    state.failureReported = 1;
    if (!state.pathKnown) {
        LogAppend(log, now,
                  "ERROR: Could not find a folder for the play-through history (%s failed, error %d). Tracking goes "
                  "on; the rows are kept and tried again.",
                  result.step, static_cast<int>(result.error));
        return;
    }
    LogAppend(log, now,
              "ERROR: Could not write the play-through history to %s (%s failed, error %d). Tracking goes on; the "
              "rows are kept and tried again.",
              state.path, result.step, static_cast<int>(result.error));
}

// One append; a failure is logged (once per streak) and ends the attempt.
bool Append(HistoryState& state, LogBuffer& log, uint64_t now, const HistoryFileApi& files, const char* text,
            size_t length) {
    const FileResult result = files.append(state.path, text, length);
    if (result.ok) return true;
    ReportFailure(state, log, now, result);
    // Located again at the next try: its folder may have gone meanwhile.
    state.pathKnown = 0;
    return false;
}

// The play-through number of a row, its second field; false when the line
// is no row of ours (the header, a cut line).
bool RowRunNumber(const char* line, size_t length, int64_t* number) {
    const char* comma = static_cast<const char*>(std::memchr(line, ',', length));
    if (comma == nullptr) return false;
    const char* end = line + length;
    int64_t value = 0;
    const char* c = comma + 1;
    for (; c < end && *c >= '0' && *c <= '9'; ++c) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (*c - '0');
    }
    if (c == comma + 1 || c >= end || *c != ',') return false;
    *number = value;
    return true;
}

}  // namespace

void FormatHundredths(int64_t hundredths, char* out, size_t size) {
    const bool negative = hundredths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(hundredths) : static_cast<uint64_t>(hundredths);
    std::snprintf(out, size, "%s%02" PRIu64 ":%02" PRIu64 ".%02" PRIu64, negative ? "-" : "", magnitude / 6000,
                  magnitude / 100 % 60, magnitude % 100);
}

size_t FormatHistoryRow(const HistoryRow& row, int64_t number, const char* lineEnd, char* out, size_t size) {
    char text[64];
    size_t used = 0;
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", row.time.year, row.time.month, row.time.day,
                  row.time.hour, row.time.minute, row.time.second);
    AppendField(text, out, size, &used, true);
    AppendNumber(number, out, size, &used);
    if (row.summary) {
        AppendField(kSummaryLevel, out, size, &used, false);
    } else {
        AppendField(LevelName(row.levelIndex), out, size, &used, false);
    }
    FormatHundredths(row.hundredths, text, sizeof text);
    AppendField(text, out, size, &used, false);
    AppendNumber(row.hundredths, out, size, &used);
    for (uint32_t count : CountArray(row.counts)) AppendNumber(count, out, size, &used);
    const int wrote = std::snprintf(out + std::min(used, size), size - std::min(used, size), "%s", lineEnd);
    if (wrote < 0 || used + static_cast<size_t>(wrote) >= size) return 0;
    return used + static_cast<size_t>(wrote);
}

int HistoryTake(HistoryState& state, const TrackerStats& stats, const LocalTime& now) {
    const int32_t closed = StoredRecordCount(stats);
    if (stats.runNumber != state.trackerRun || closed < state.recordsTaken) {
        state.trackerRun = stats.runNumber;
        state.recordsTaken = 0;
        state.summaryTaken = 0;
        state.runNumbered = 0;
    }
    int queued = 0;
    for (int32_t i = state.recordsTaken; i < closed; ++i) {
        const LevelRecord& record = stats.records[i];
        if (!record.closed) continue;
        Enqueue(state, HistoryRow{now, 0, 0, record.levelIndex, LevelHundredths(record), record.counts});
        ++queued;
    }
    state.recordsTaken = closed;
    if (stats.trackerState == kStateEnding && !state.summaryTaken) {
        state.summaryTaken = 1;
        Enqueue(state, HistoryRow{now, 0, 1, 0, AdjustedTotalHundredths(stats), stats.totals});
        ++queued;
    }
    return queued;
}

HistoryTail ReadHistoryTail(const char* tail, size_t length, bool whole) {
    HistoryTail result{length == 0, length > 0 && tail[length - 1] != '\n', 0};
    // Lines from the last back; the first line of a tail that is not the
    // whole file may be cut and is not looked at.
    size_t end = length;
    while (end > 0) {
        size_t lineEnd = end;
        while (lineEnd > 0 && (tail[lineEnd - 1] == '\n' || tail[lineEnd - 1] == '\r')) --lineEnd;
        size_t start = lineEnd;
        while (start > 0 && tail[start - 1] != '\n') --start;
        if (start == 0 && !whole) break;
        if (RowRunNumber(tail + start, lineEnd - start, &result.lastRun)) break;
        end = start;
    }
    return result;
}

void HistoryWriteQueued(HistoryState& state, LogBuffer& log, uint64_t now, const HistoryFileApi& files) {
    if (state.rowsDropped != 0) {
        LogAppend(log, now, "WARNING: %u rows of the play-through history were not kept: the file refused them too long.",
                  static_cast<unsigned>(state.rowsDropped));
        state.rowsDropped = 0;
    }
    if (state.queueCount == 0) return;
    if (!state.pathKnown) {
        const FileResult located = files.dataPath(kHistoryFileName, state.path, sizeof state.path);
        if (!located.ok) {
            ReportFailure(state, log, now, located);
            return;
        }
        state.pathKnown = 1;
    }

    char text[kHistoryTailSize];
    size_t length = 0;
    const FileResult read = files.readTail(state.path, text, sizeof text, &length);
    if (!read.ok) {
        ReportFailure(state, log, now, read);
        state.pathKnown = 0;
        return;
    }
    const HistoryTail tail = ReadHistoryTail(text, length, length < sizeof text);
    if (!state.baseKnown) {
        state.runBase = tail.lastRun;
        state.baseKnown = 1;
    }
    if (tail.needLineEnd && !Append(state, log, now, files, kFileLineEnd, std::strlen(kFileLineEnd))) return;
    if (tail.needHeader) {
        const int headerLength = std::snprintf(text, sizeof text, "%s%s", kHistoryHeader, kFileLineEnd);
        if (!Append(state, log, now, files, text, static_cast<size_t>(headerLength))) return;
    }

    int written = 0;
    while (state.queueCount > 0) {
        const HistoryRow& row = state.queue[state.queueStart];
        const size_t rowLength = FormatHistoryRow(row, state.runBase + row.run, kFileLineEnd, text, kHistoryRowSize);
        if (rowLength > 0 && !Append(state, log, now, files, text, rowLength)) return;
        state.queueStart = (state.queueStart + 1) % kHistoryQueueCapacity;
        --state.queueCount;
        ++written;
    }
    if (!state.pathReported) {
        state.pathReported = 1;
        LogAppend(log, now, "Play-through history: %s", state.path);
    } else if (state.failureReported) {
        LogAppend(log, now, "Play-through history written again: %d rows to %s", written, state.path);
    }
    state.failureReported = 0;
}

void HistoryFrame(HistoryState& state, const TrackerStats& stats, LogBuffer& log, uint64_t now,
                  double counterFrequency) {
    const int queued = HistoryTake(state, stats, ClockLocalTime());
    if (state.queueCount == 0 && state.rowsDropped == 0) return;
    const bool retryDue = !state.attempted ||
                          static_cast<double>(now - state.lastAttempt) / counterFrequency >= kHistoryRetrySeconds;
    if (queued == 0 && !retryDue) return;
    state.attempted = 1;
    state.lastAttempt = now;
    HistoryWriteQueued(state, log, now);
}

#include "history/history_queue.h"

#include <cstdio>
#include <cstring>

#include "tracking/game_time.h"
#include "tracking/tracker_states.h"

namespace {

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

}  // namespace

int HistoryTake(HistoryState& state, const TrackerStats& stats, const LocalTime& now) {
    const int32_t closed = StoredRecordCount(stats);
    if (StartsAnotherRun(state.taken, stats)) {
        state.summaryTaken = 0;
        state.runNumbered = 0;
    }
    int queued = 0;
    for (int32_t i = state.taken.count; i < closed; ++i) {
        const LevelRecord& record = stats.run.records[i];
        if (!record.closed) continue;
        Enqueue(state, HistoryRow{now, 0, 0, record.levelIndex, LevelHundredths(record), record.counts});
        ++queued;
    }
    state.taken.count = closed;
    if (stats.trackerState == TrackerState::Ending && !state.summaryTaken) {
        state.summaryTaken = 1;
        Enqueue(state, HistoryRow{now, 0, 1, 0, AdjustedTotalHundredths(stats), stats.run.totals});
        ++queued;
    }
    return queued;
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
                  const LocalTime& localNow, double counterFrequency) {
    const int queued = HistoryTake(state, stats, localNow);
    if (state.queueCount == 0 && state.rowsDropped == 0) return;
    const bool retryDue = !state.attempted ||
                          static_cast<double>(now - state.lastAttempt) / counterFrequency >= kHistoryRetrySeconds;
    if (queued == 0 && !retryDue) return;
    state.attempted = 1;
    state.lastAttempt = now;
    HistoryWriteQueued(state, log, now);
}

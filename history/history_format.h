// The play-through history's file format: ringwatch-history.csv, CSV as RFC
// 4180 has it, one header row, then one row per closed level record and one
// `Total` row when the game reaches its end. Columns are only ever added at
// the end of the row. The one writer of a row (FormatHistoryRow), the one
// reader of a line's fields (SplitHistoryFields and the field parsers), and
// the look at the file's last bytes before rows are appended (ReadHistoryTail).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "tracking/tracker_stats.h"

inline constexpr char kHistoryFileName[] = "ringwatch-history.csv";
inline constexpr size_t kHistoryRowSize = 256;      // bytes of one formatted row, NUL included
inline constexpr int kHistoryDateSize = 20;         // "YYYY-MM-DD HH:MM:SS" and its NUL

// The levels a row names: level indexes 0 up to the blank one, in the game's
// order. The blank index never closes a record of its own name.
inline constexpr int kHistoryLevelCount = static_cast<int>(kLevelIndexBlank);
// The name in the level column of the run's totals row.
inline constexpr char kHistoryTotalName[] = "Total";
// The level column's values as slots: the levels 0..kHistoryLevelCount-1, then
// the Total row.
inline constexpr int kHistoryTotalSlot = kHistoryLevelCount;
inline constexpr int kHistorySlots = kHistoryLevelCount + 1;

// The columns, in the file's order: the row's own, then one per LevelCounts
// field, in its order.
enum HistoryColumn {
    kHistoryDateTime,
    kHistoryPlaythrough,
    kHistoryLevel,
    kHistoryTime,
    kHistoryHundredths,
    kHistoryPerfectSpindashes,
    kHistoryP1Hits,
    kHistoryPauses,
    kHistoryDeaths,
    kHistoryLagFrames,
    kHistoryRings,
    kHistoryCollected,
    kHistoryFramesUnseen,
    kHistoryStateLoads,
    kHistoryColumnCount,
};
inline constexpr int kHistoryRowColumns = kHistoryPerfectSpindashes;   // the columns before the counts
inline constexpr const char* kHistoryColumnNames[kHistoryColumnCount] = {
    "date_time", "playthrough", "level",      "time",      "hundredths", "perfect_spindashes", "p1_hits",
    "pauses",    "deaths",      "lag_frames", "rings",     "collected",  "frames_unseen",      "state_loads",
};
static_assert(kHistoryColumnCount == kHistoryRowColumns + kLevelCountFields,
              "the history names one column per LevelCounts field");

// The header row's text, without its line end: the column names, comma separated.
inline constexpr char kHistoryHeader[] =
    "date_time,playthrough,level,time,hundredths,perfect_spindashes,p1_hits,pauses,deaths,lag_frames,rings,collected,"
    "frames_unseen,state_loads";

// One row of the file, as taken from the snapshot.
struct HistoryRow {
    LocalTime time;              // when the main thread saw the record closed
    uint32_t run;                // play-through since the program started, from 1
    uint8_t summary;             // 1: the run's totals at the game's end
    uint32_t levelIndex;         // level rows only
    int64_t hundredths;          // level time, or the run's adjusted total time
    LevelCounts counts;          // the level's share, or the run's totals
};

// Formats `row` with play-through number `number`, its fields quoted as CSV
// needs them, ended by `lineEnd`. Returns the length, or 0 when it didn't fit.
size_t FormatHistoryRow(const HistoryRow& row, int64_t number, const char* lineEnd, char* out, size_t size);

// One field of a line, pointing into the line.
struct HistoryField {
    const char* text;
    size_t length;
};
inline constexpr int kHistoryMaxFields = 64;   // fields of a line kept; more are counted only

// Splits a line (its line end taken off) into fields as RFC 4180 has them: a
// quoted field loses its quotes (a doubled quote inside stays doubled; no
// field the program reads holds one). Returns the number of fields, of which
// the first kHistoryMaxFields are in `fields`.
int SplitHistoryFields(const char* line, size_t length, HistoryField* fields);

bool HistoryFieldIs(const HistoryField& field, const char* text);

// A whole number of at most 18 digits, a '-' allowed in front.
bool ParseHistoryNumber(const HistoryField& field, int64_t* value);

// "YYYY-MM-DD HH:MM:SS", copied with its NUL into `date` (kHistoryDateSize).
bool ParseHistoryDate(const HistoryField& field, char* date);

// The level column's slot (a level, or kHistoryTotalSlot), or -1 for a name
// this version doesn't know. Trailing blanks are no part of a name.
int HistoryLevelSlot(HistoryField field);

// The slot's name as the level column holds it.
const char* HistorySlotName(int slot);

// What the file's last bytes say before rows are appended: whether it needs
// its header (empty or missing) or a line end first (its last row was cut),
// and, the first time, the play-through number of its last row.
struct HistoryTail {
    bool needHeader;
    bool needLineEnd;
    int64_t lastRun;
};
HistoryTail ReadHistoryTail(const char* tail, size_t length, bool whole);

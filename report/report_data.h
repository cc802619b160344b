// The history's rows in: the play-through history's bytes read into the
// attempts at each level and the complete runs, each series summed up (best,
// median, latest), and the rows that could not be used. A pure function of
// the file's bytes.
//
// An attempt at a level is one play-through's finish of it. A level left for
// a special stage has two rows in the file (up to the special stage and after
// it), and a level left for several has more: the attempt joins them and its
// time is their sum, as the run's Total row counts them, so that the sum of
// the best levels stays comparable with the best complete run.
//
// An attempt or a complete run with a state load or a rewind in it (a
// state_loads field above 0 in any of its rows) is practice: it is kept apart
// from the others and counts in none of the bests, medians, the sum of best
// or the best run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "history/history_format.h"

// The one rule that joins a level's rows, in the file and as the tracker
// closes its records: a row is the rest of the attempt before it (the level
// after a special stage) when it is the same play-through's next row for the
// same level. A play-through meets a level again only that way, or by a state
// load, which makes both practice.
constexpr bool ContinuesAttempt(int64_t lastPlaythrough, int64_t lastLevel, int64_t playthrough, int64_t level) {
    return lastPlaythrough == playthrough && lastLevel == level;
}

// One attempt at a level (its rows joined), or one complete run (a Total row).
struct ReportAttempt {
    int64_t playthrough;
    int64_t hundredths;          // in-game time
    int64_t lagFrames;
    int64_t deaths;
    int64_t stateLoads;          // 0 unless a state was loaded or rewound: practice
    int32_t rows;                // rows of the file joined into it
    char date[kHistoryDateSize]; // when its last row was written
};

// A level's attempts, or the complete runs, in the order of the file.
struct ReportSeries {
    int32_t first;       // index of the first in ReportData::attempts
    int32_t count;
    int32_t bestAt;      // index within the series of the first attempt with the best time
    int64_t best;        // hundredths
    int64_t median;      // hundredths; the mean of the middle two, rounded, for an even count
    int64_t latest;      // hundredths
    int64_t lagFrames;   // over all the attempts
    int64_t deaths;      // over all the attempts
};

// The rows the report could not use, by what was wrong with them.
enum ReportProblemKind {
    kReportCutRow,          // fewer fields than the header, or no line end: cut by a crash
    kReportUnknownLevel,    // a level name this version doesn't know
    kReportBadValue,        // a field that should hold a number or a date doesn't
    kReportLongRow,         // more fields than the header (used; the extra fields left out)
    kReportProblemKinds,
};
struct ReportProblem {
    int64_t count;
    int64_t firstLine;   // line of the file, from 1 (the header's)
    char sample[24];     // the unknown level's name, cut to fit
};

struct ReportData {
    // The levels' attempts in the game's order, then the complete runs, then
    // the practice attempts and runs in the same order.
    std::vector<ReportAttempt> attempts;
    ReportSeries levels[kHistoryLevelCount];
    ReportSeries runs;                     // the Total rows
    ReportSeries practice[kHistoryLevelCount];
    ReportSeries practiceRuns;
    ReportProblem problems[kReportProblemKinds];
    bool noHeader;                         // the first line is no header with the columns the report needs
    std::string newColumns;                // header columns this version doesn't write, comma separated
    int64_t rowsUsed;
    int64_t playthroughs;                  // different play-through numbers among the rows used
    int32_t levelsPlayed;                  // levels with at least one attempt
    int64_t sumOfBest;                     // hundredths, over the levels played
    char firstDate[kHistoryDateSize];      // empty when no row was used
    char lastDate[kHistoryDateSize];
};

// Reads the history file's bytes (any line ends, any extra columns after the
// ones the report needs, found by the header's names) into `data`. A file
// without state_loads has no practice. Under the header of an earlier
// Ringwatch, the columns added since are read where this version's rows put
// them, after the header's last.
void ReportRead(const char* bytes, size_t length, ReportData& data);


// The report of the play-through history: `ringwatch -report [PATH]` reads
// ringwatch-history.csv (only reads it), works out each level's best, median
// and latest time, the sum of the best levels and the complete runs, and
// writes ringwatch-report.html beside it: one page, its charts inline SVG,
// nothing fetched from anywhere. The reading and the page are pure functions
// of the file's bytes; RunReport does the file work and the console.
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
// or the best run; the report shows how many there were and their best.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kReportFileName[] = "ringwatch-report.html";
inline constexpr int kReportLevelCount = 20;     // the levels a history row names: indexes 0..19, the game's order
inline constexpr int kReportChartPoints = 240;   // points of a chart at most; more attempts are averaged in groups
inline constexpr int kReportDateSize = 20;       // "YYYY-MM-DD HH:MM:SS" and its NUL

// One attempt at a level (its rows joined), or one complete run (a Total row).
struct ReportAttempt {
    int64_t playthrough;
    int64_t hundredths;          // in-game time
    int64_t lagFrames;
    int64_t deaths;
    int64_t stateLoads;          // 0 unless a state was loaded or rewound: practice
    int32_t rows;                // rows of the file joined into it
    char date[kReportDateSize];  // when its last row was written
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
    ReportSeries levels[kReportLevelCount];
    ReportSeries runs;                     // the Total rows
    ReportSeries practice[kReportLevelCount];
    ReportSeries practiceRuns;
    ReportProblem problems[kReportProblemKinds];
    bool noHeader;                         // the first line is no header with the columns the report needs
    std::string newColumns;                // header columns this version doesn't write, comma separated
    int64_t rowsUsed;
    int64_t playthroughs;                  // different play-through numbers among the rows used
    int32_t levelsPlayed;                  // levels with at least one attempt
    int64_t sumOfBest;                     // hundredths, over the levels played
    char firstDate[kReportDateSize];       // empty when no row was used
    char lastDate[kReportDateSize];
};

// Reads the history file's bytes (any line ends, any extra columns after the
// ones the report needs, found by the header's names) into `data`. A file
// without state_loads has no practice. Under the header of an earlier
// Ringwatch, the columns added since are read where this version's rows put
// them, after the header's last.
void ReportRead(const char* bytes, size_t length, ReportData& data);

// One line per kind of row that could not be used, each ended by '\n'.
void ReportFormatProblems(const ReportData& data, std::string& out);

// The console's summary: the sum of best, the best run, the practice when
// there was any, and the three levels with the most time between their best
// and their median.
void ReportFormatSummary(const ReportData& data, std::string& out);

// The page. `historyPath` is named on it.
void ReportFormatPage(const ReportData& data, const char* historyPath, std::string& out);

// The page's path for the history at `historyPath`: beside it.
std::string ReportPagePath(const char* historyPath);

// -report: reads the history at `historyPath` (its usual place when null),
// writes the page beside it and prints the page's path and the summary.
// Returns the program's exit status: 0 when the page was written.
int RunReport(const char* historyPath);

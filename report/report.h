// The report of the play-through history: `ringwatch -report [PATH]` reads
// ringwatch-history.csv (only reads it) into a ReportData
// (report/report_data.h), and writes ringwatch-report.html beside it: one
// page, its charts inline SVG, nothing fetched from anywhere. The page and
// the console's summary are pure functions of the ReportData; RunReport does
// the file work and the console. Practice is shown apart: how many attempts
// and runs there were and their best.
#pragma once

#include <string>

#include "report/report_data.h"

inline constexpr char kReportFileName[] = "ringwatch-report.html";
inline constexpr int kReportChartPoints = 240;   // points of a chart at most; more attempts are averaged in groups

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

#include "report/report.h"

#include <gtest/gtest.h>

#include <string>

#include "history/history_format.h"
#include "tracking/game_time.h"

namespace {

std::string Time(int64_t hundredths) {
    char text[32];
    FormatHundredths(hundredths, text, sizeof text);
    return text;
}

// A history row with the fields the report reads; the others are zero.
std::string Row(int playthrough, const char* level, int hundredths, int deaths = 0, int lag = 0,
                const char* loads = "0") {
    char text[160];
    std::snprintf(text, sizeof text, "2026-03-%02d 20:00:00,%d,%s,%s,%d,0,0,0,%d,%d,0,0,0,%s\n", playthrough,
                  playthrough, level, Time(hundredths).c_str(), hundredths, deaths, lag, loads);
    return text;
}

// The same file as Windows writes it.
std::string Crlf(std::string file) {
    for (size_t at = 0; (at = file.find('\n', at)) != std::string::npos; at += 2) file.insert(at, "\r");
    return file;
}

const std::string kHeader = std::string(kHistoryHeader) + "\n";

struct Case {
    const char* name;
    std::string file;
    const char* level;       // the level looked at (its index in the game's order)
    int levelIndex;
    int attempts;
    const char* best;
    const char* median;
    const char* sumOfBest;
    int runs;                // Total rows used
    const char* bestRun;
    const char* problem;     // a part of the messages, or "" for none
    const char* practice = "";   // the practice as the console shows it, the level's first
};

TEST(Report, AggregatesTheRowsItCanReadAndNamesTheOthers) {
    const std::vector<Case> cases = {
        {"best, median of an odd count, sum of best over the levels played",
         kHeader + Row(1, "EH1", 4550) + Row(1, "CP1", 6000) + Row(2, "EH1", 4000) + Row(3, "EH1", 4800) +
             Row(3, "Total", 20000) + Row(4, "Total", 19000),
         "EH1", 0, 3, "00:40.00", "00:45.50", "01:40.00", 2, "03:10.00", ""},
        {"median of an even count: the middle two's mean; CRLF line ends",
         Crlf("\xEF\xBB\xBF" + kHeader + Row(1, "WF", 1000) + Row(2, "WF", 2001) + Row(3, "WF", 3000) + Row(4, "WF", 5000)),
         "WF", 18, 4, "00:10.00", "00:25.01", "00:10.00", 0, nullptr, ""},
        {"a level left for a special stage: its two rows are one attempt, their sum",
         kHeader + Row(1, "EH2", 4573, 1, 2) + Row(1, "EH2", 6250, 0, 1) + Row(1, "Total", 10823) + Row(2, "EH2", 11000),
         "EH2", 1, 2, "01:48.23", "01:49.12", "01:48.23", 1, "01:48.23", ""},
        {"rows cut by a crash: too few fields, and no line end",
         kHeader + Row(1, "HT1", 9000) + "2026-03-02 20:00:00,2,HT1,00:0\n" + Row(3, "HT1", 8000) +
             "2026-03-04 20:00:00,4,HT1,00:70.00,7000,0,0,0,0,0,0,0",
         "HT1", 8, 2, "01:20.00", "01:25.00", "01:20.00", 0, nullptr, "2 rows cut short"},
        {"unknown levels and unreadable values are left out, named once",
         kHeader + Row(1, "<i>ZZ", 100) + Row(2, "EH3", 100) + Row(3, "SC ", 3000) + Row(4, "SC", 3500) +
             "2026-03-05 20:00:00,5,SC,00:01.00,1x0,0,0,0,0,0,0,0\n",
         "SC", 17, 2, "00:30.00", "00:32.50", "00:30.00", 0, nullptr,
         "2 rows naming a level this version doesn't know, the first on line 2 ('<i>ZZ')"},
        {"a newer version's columns, in another order, found by name",
         "level,future_col,playthrough,hundredths,deaths,lag_frames,date_time,x2\nMZ3,9,1,6000,0,0,2026-03-01 "
         "20:00:00,y\nMZ3,9,2,5000,1,3,2026-03-02 20:00:00,y,extra\n",
         "MZ3", 16, 2, "00:50.00", "00:55.00", "00:50.00", 0, nullptr, "(future_col, x2) are not in the report"},
        {"rows longer than an older header are read by its columns",
         kHeader + Row(1, "DE", 900) + "2026-03-02 20:00:00,2,DE,00:08.00,800,0,0,0,0,0,0,0,0,0,5\n", "DE", 19, 2,
         "00:08.00", "00:08.50", "00:08.00", 0, nullptr, "1 row with more fields than the header"},
        {"attempts and runs with state loads are practice, left out of the bests; a load after a special stage too",
         kHeader + Row(1, "EH1", 4550) + Row(2, "EH1", 3000, 0, 0, "2") + Row(2, "EH2", 4000) +
             Row(2, "EH2", 2000, 0, 0, "1") + Row(2, "Total", 9000, 0, 0, "3") + Row(3, "EH1", 4800) +
             Row(3, "Total", 12000) + Row(4, "EH1", 100, 0, 0, "1x"),
         "EH1", 0, 2, "00:45.50", "00:46.75", "00:45.50", 1, "02:00.00", "1 row holding a time",
         "EH1 1, best 00:30.00; EH2 1, best 01:00.00; 1 run, best 01:30.00"},
        {"earlier versions' header and rows, then today's: their state_loads after the header's last column",
         "date_time,playthrough,level,time,hundredths,perfect_spindashes,p1_hits,pauses,deaths,lag_frames,rings,"
         "collected\n2026-03-01 20:00:00,1,CN1,00:50.00,5000,0,0,0,0,0,0,0\n2026-03-02 20:00:00,2,CN1,00:30.00,3000,"
         "0,0,0,0,0,0,0,0\n" + Row(3, "CN1", 2000, 0, 0, "1") + Row(4, "CN1", 6000),
         "CN1", 6, 3, "00:30.00", "00:50.00", "00:30.00", 0, nullptr, "", "CN1 1, best 00:20.00"},
        {"no header: nothing is read", Row(1, "EH1", 100), "EH1", 0, 0, "00:00.00", "00:00.00", "00:00.00", 0,
         nullptr, "does not start with the history's header row"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReportData data;
        ReportRead(c.file.data(), c.file.size(), data);
        const ReportSeries& level = data.levels[c.levelIndex];
        EXPECT_EQ(level.count, c.attempts);
        EXPECT_EQ(Time(level.best), c.best);
        EXPECT_EQ(Time(level.median), c.median);
        EXPECT_EQ(Time(data.sumOfBest), c.sumOfBest);
        EXPECT_EQ(data.runs.count, c.runs);
        EXPECT_EQ(c.bestRun != nullptr ? Time(data.runs.best) : "", c.bestRun != nullptr ? c.bestRun : "");
        std::string problems;
        ReportFormatProblems(data, problems);
        EXPECT_EQ(*c.problem == '\0' ? problems.empty() : problems.find(c.problem) != std::string::npos, true)
            << problems;

        // The page names the level and escapes what came from the file.
        std::string page;
        ReportFormatPage(data, "C:\\<Games> & \"runs\"\\ringwatch-history.csv", page);
        EXPECT_EQ(page.find("data-level=\"" + std::string(c.level) + "\"") != std::string::npos, c.attempts > 0);
        EXPECT_NE(page.find("C:\\&lt;Games&gt; &amp; &quot;runs&quot;"), std::string::npos);
        EXPECT_EQ(page.find("<i>"), std::string::npos);
        std::string summary, shown = c.practice;
        ReportFormatSummary(data, summary);
        EXPECT_NE(summary.find(shown), std::string::npos) << summary;
        shown = shown.empty() ? "0" : shown.substr(shown.find(' ') + 1, shown.find(';') - shown.find(' ') - 1);
        EXPECT_EQ(page.find("<td class=\"practice\">" + shown + "</td>") != std::string::npos, c.attempts > 0);
    }
}

}  // namespace

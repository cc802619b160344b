#include "report/report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "report/history_file.h"
#include "tracking/game_time.h"

namespace {

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
    char text[2400];   // room for a path of kFilePathSize bytes and the words around it
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length > 0) out.append(text, std::min(static_cast<size_t>(length), sizeof text - 1));
}

// Text as HTML shows it: the five characters that mean something in markup
// or in an attribute written as their references.
void AppendEscaped(std::string& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += text[i];
        }
    }
}
void AppendEscaped(std::string& out, const char* text) { AppendEscaped(out, text, std::strlen(text)); }

struct Time {
    char text[32];
};
Time FormatTime(int64_t hundredths) {
    Time time;
    FormatHundredths(hundredths, time.text, sizeof time.text);
    return time;
}

std::string SlotName(int slot) { return HistorySlotName(slot); }

// Practice attempts or runs as the page and the console show them: how many,
// and the best of them.
void AppendPractice(std::string& out, const ReportSeries& practice) {
    if (practice.count == 0)
        out += "0";
    else
        Append(out, "%d, best %s", practice.count, FormatTime(practice.best).text);
}

// The levels played, ordered by the time between their best and their median, most first.
int LevelsByGap(const ReportData& data, int* order) {
    int count = 0;
    for (int slot = 0; slot < kHistoryLevelCount; ++slot)
        if (data.levels[slot].count > 0) order[count++] = slot;
    std::stable_sort(order, order + count, [&](int a, int b) {
        return data.levels[a].median - data.levels[a].best > data.levels[b].median - data.levels[b].best;
    });
    return count;
}

// [SECTION] Charts

struct ChartFrame {
    int width, height;
    int left, right, top, bottom;   // margins inside the frame
};

double ChartX(const ChartFrame& frame, double at, double last) {
    const double inner = frame.width - frame.left - frame.right;
    return frame.left + (last <= 0 ? inner / 2 : inner * at / last);
}

double ChartY(const ChartFrame& frame, double value, double low, double high) {
    const double inner = frame.height - frame.top - frame.bottom;
    return frame.top + inner * (high - value) / (high - low);
}

// A chart of the series' times in the order of the file, lower times lower
// down, the best marked. At most kReportChartPoints points: a longer series
// is drawn as the means of consecutive groups of attempts. `guide` (hundredths,
// or negative for none) is drawn as a dashed line, labelled `guideName`.
void AppendChart(std::string& out, const ReportData& data, const ReportSeries& series, const char* kind,
                 const std::string& name, const ChartFrame& frame, bool labels, int64_t guide, const char* guideName) {
    const ReportAttempt* attempts = data.attempts.data() + series.first;
    const int points = std::min(series.count, kReportChartPoints);
    double low = static_cast<double>(series.best);
    double high = low;
    double values[kReportChartPoints];
    for (int p = 0; p < points; ++p) {
        const int64_t from = int64_t{p} * series.count / points;
        const int64_t to = int64_t{p + 1} * series.count / points;
        double sum = 0;
        for (int64_t i = from; i < to; ++i) sum += static_cast<double>(attempts[i].hundredths);
        values[p] = sum / static_cast<double>(to - from);
        high = std::max(high, values[p]);
    }
    if (guide >= 0) {
        low = std::min(low, static_cast<double>(guide));
        high = std::max(high, static_cast<double>(guide));
    }
    if (high - low < 100) {
        low -= 50;
        high += 50;
    }
    const Time best = FormatTime(series.best);
    Append(out, "<svg class=\"chart %s\" data-level=\"", kind);
    AppendEscaped(out, name.c_str());
    Append(out, "\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"", frame.width,
           frame.height, frame.width, frame.height);
    AppendEscaped(out, name.c_str());
    Append(out, ": %d times, best %s\" xmlns=\"http://www.w3.org/2000/svg\">", series.count, best.text);
    Append(out, "<rect class=\"plot\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"/>", frame.left, frame.top,
           frame.width - frame.left - frame.right, frame.height - frame.top - frame.bottom);
    if (guide >= 0) {
        const double y = ChartY(frame, static_cast<double>(guide), low, high);
        Append(out, "<line class=\"guide\" x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\"/>", frame.left, y,
               frame.width - frame.right, y);
        Append(out, "<text class=\"guide-label\" x=\"%d\" y=\"%.1f\">%s %s</text>", frame.width - frame.right - 4,
               y - 4, guideName, FormatTime(guide).text);
    }
    if (labels) {
        Append(out, "<text class=\"axis\" x=\"%d\" y=\"%.1f\">%s</text>", frame.left - 6,
               ChartY(frame, high, low, high) + 4, FormatTime(static_cast<int64_t>(high + 0.5)).text);
        Append(out, "<text class=\"axis\" x=\"%d\" y=\"%.1f\">%s</text>", frame.left - 6,
               ChartY(frame, low, low, high) + 4, FormatTime(static_cast<int64_t>(low + 0.5)).text);
        out += "<text class=\"axis date start\" x=\"";
        Append(out, "%d\" y=\"%d\">", frame.left, frame.height - 6);
        AppendEscaped(out, attempts[0].date, 10);
        Append(out, "</text><text class=\"axis date end\" x=\"%d\" y=\"%d\">", frame.width - frame.right,
               frame.height - 6);
        AppendEscaped(out, attempts[series.count - 1].date, 10);
        out += "</text>";
    }
    if (points > 1) {
        out += "<polyline class=\"times\" points=\"";
        for (int p = 0; p < points; ++p)
            Append(out, "%s%.1f,%.1f", p == 0 ? "" : " ", ChartX(frame, p, points - 1),
                   ChartY(frame, values[p], low, high));
        out += "\"/>";
    }
    const double bestX = ChartX(frame, series.count > 1 ? series.bestAt : 0, series.count - 1);
    const double bestY = ChartY(frame, static_cast<double>(series.best), low, high);
    Append(out, "<circle class=\"best\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\"><title>Best ", bestX, bestY,
           labels ? 5.0 : 3.5);
    Append(out, "%s, play-through %" PRId64 ", ", best.text, attempts[series.bestAt].playthrough);
    AppendEscaped(out, attempts[series.bestAt].date);
    out += "</title></circle>";
    // The label reads away from the nearer side of the chart, so that it stays
    // inside it wherever the best lies.
    const bool fromLeft = bestX < frame.width / 2.0;
    if (labels)
        Append(out, "<text class=\"best-label%s\" x=\"%.1f\" y=\"%.1f\">best %s</text>", fromLeft ? " start" : "",
               fromLeft ? bestX + 9 : bestX - 9, bestY - 9, best.text);
    if (points < series.count) Append(out, "<title>Each point the mean of about %d times</title>", series.count / points);
    out += "</svg>";
}

constexpr char kStyle[] =
    "body,svg{font-family:system-ui,-apple-system,'Segoe UI',Roboto,sans-serif}body{margin:2rem auto;max-width:64rem;"
    "padding:0 1rem;color:#1d2330;background:#fff}"
    "h1{font-size:1.6rem;margin:0 0 .25rem}h2{font-size:1.2rem;margin:2rem 0 .5rem;border-bottom:1px solid #dde2ea;"
    "padding-bottom:.25rem}.meta{color:#5a6478;margin:0 0 1rem}code{font-size:.9em}"
    ".problems{background:#fff6e0;border:1px solid #f0d290;border-radius:6px;padding:.5rem 1rem;margin:1rem 0}"
    ".problems p{margin:.25rem 0}"
    "table{border-collapse:collapse;font-variant-numeric:tabular-nums}"
    "th,td{padding:.3rem .7rem;text-align:right;border-bottom:1px solid #eef1f5;vertical-align:middle}"
    "thead th{font-size:.8rem;font-weight:600;color:#5a6478;border-bottom:1px solid #c9d0db}"
    "tbody th{text-align:left}td.best{font-weight:600;color:#0b7a3b}td.chart-cell{padding:.15rem .5rem}"
    ".figures td{font-size:1.3rem;font-weight:600;text-align:left;padding-right:2.5rem;border:0}"
    ".figures th{text-align:left;font-size:.8rem;color:#5a6478;font-weight:600;border:0}"
    "svg.chart{display:block}svg.chart.run{width:100%;height:auto}table.levels{width:100%}.plot{fill:#f7f9fc;stroke:#e3e8ef}"
    ".times{fill:none;stroke:#3567c4;stroke-width:1.5;stroke-linejoin:round}"
    ".best{fill:#0b9a4a;stroke:#fff;stroke-width:1.5}"
    ".guide{stroke:#c47a1f;stroke-width:1.2;stroke-dasharray:5 4}"
    ".guide-label{fill:#a8640f;font-size:11px;text-anchor:end;paint-order:stroke;stroke:#fff;stroke-width:3px}.best-label{fill:#0b7a3b;font-size:12px;font-weight:600;paint-order:stroke;stroke:#fff;stroke-width:4px;"
    "text-anchor:end}.best-label.start{text-anchor:start}"
    ".axis{fill:#5a6478;font-size:11px;text-anchor:end}.date{text-anchor:start}.date.end{text-anchor:end}"
    ".note{color:#5a6478;font-size:.85rem}";

}  // namespace

void ReportFormatProblems(const ReportData& data, std::string& out) {
    if (data.noHeader) {
        Append(out, "ERROR: The file does not start with the history's header row (%s): nothing in it was read.\n",
               kHistoryHeader);
        return;
    }
    if (!data.newColumns.empty())
        Append(out, "WARNING: Columns a newer Ringwatch writes (%s) are not in the report.\n", data.newColumns.c_str());
    const ReportProblem* problems = data.problems;
    const char* what[kReportProblemKinds] = {
        "cut short (a crash while it was written?)",
        "naming a level this version doesn't know",
        "holding a time, a date or a count that can't be read",
        "with more fields than the header (written by a newer Ringwatch?)",
    };
    for (int kind = 0; kind < kReportProblemKinds; ++kind) {
        const ReportProblem& problem = problems[kind];
        if (problem.count == 0) continue;
        Append(out, "WARNING: %" PRId64 " %s %s, %s line %" PRId64, problem.count, problem.count == 1 ? "row" : "rows",
               what[kind], problem.count == 1 ? "on" : "the first on", problem.firstLine);
        if (kind == kReportUnknownLevel) Append(out, " ('%s')", problem.sample);
        out += kind == kReportLongRow ? ": read without the extra fields.\n" : ": left out.\n";
    }
}

void ReportFormatSummary(const ReportData& data, std::string& out) {
    Append(out, "%" PRId64 " play-through%s from %s to %s, %" PRId64 " rows.\n", data.playthroughs,
           data.playthroughs == 1 ? "" : "s", data.firstDate, data.lastDate, data.rowsUsed);
    Append(out, "Sum of best: %s over %d levels.\n", FormatTime(data.sumOfBest).text, data.levelsPlayed);
    if (data.runs.count > 0) {
        const ReportAttempt& best = data.attempts[data.runs.first + data.runs.bestAt];
        Append(out, "Best run: %s (play-through %" PRId64 ", %s); latest %s; %d complete run%s.\n",
               FormatTime(data.runs.best).text, best.playthrough, best.date, FormatTime(data.runs.latest).text,
               data.runs.count, data.runs.count == 1 ? "" : "s");
    } else {
        out += "Best run: no complete run yet.\n";
    }
    std::string practice;
    for (int slot = 0; slot < kHistoryLevelCount; ++slot) {
        if (data.practice[slot].count == 0) continue;
        practice += (practice.empty() ? " " : "; ") + SlotName(slot) + " ";
        AppendPractice(practice, data.practice[slot]);
    }
    if (data.practiceRuns.count > 0) {
        Append(practice, "%s%d run%s, best %s", practice.empty() ? " " : "; ", data.practiceRuns.count,
               data.practiceRuns.count == 1 ? "" : "s", FormatTime(data.practiceRuns.best).text);
    }
    if (!practice.empty()) out += "Practice, with state loads (left out of the above):" + practice + ".\n";
    int order[kHistoryLevelCount];
    int shown = std::min(LevelsByGap(data, order), 3);
    while (shown > 0 && data.levels[order[shown - 1]].median == data.levels[order[shown - 1]].best) --shown;
    if (shown == 0) {
        out += "Most time between best and median: none, every level's best is its median.\n";
        return;
    }
    out += "Most time between best and median:";
    for (int i = 0; i < shown; ++i) {
        const ReportSeries& level = data.levels[order[i]];
        Append(out, "%s %s +%s", i == 0 ? "" : ",", SlotName(order[i]).c_str(),
               FormatTime(level.median - level.best).text);
    }
    out += ".\n";
}

void ReportFormatPage(const ReportData& data, const char* historyPath, std::string& out) {
    out.reserve(out.size() + 64 * 1024);
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>Ringwatch: play-through history</title>\n<style>";
    out += kStyle;
    out += "</style></head>\n<body>\n<h1>Play-through history</h1>\n<p class=\"meta\">";
    Append(out, "%" PRId64 " play-through%s from ", data.playthroughs, data.playthroughs == 1 ? "" : "s");
    AppendEscaped(out, data.firstDate);
    out += " to ";
    AppendEscaped(out, data.lastDate);
    Append(out, " &middot; %" PRId64 " rows of <code>", data.rowsUsed);
    AppendEscaped(out, historyPath);
    out += "</code></p>\n";

    std::string problems;
    ReportFormatProblems(data, problems);
    if (!problems.empty()) {
        out += "<div class=\"problems\">";
        for (size_t start = 0, end; (end = problems.find('\n', start)) != std::string::npos; start = end + 1) {
            out += "<p>";
            AppendEscaped(out, problems.data() + start, end - start);
            out += "</p>";
        }
        out += "</div>\n";
    }

    out += "<h2>The run</h2>\n<table class=\"figures\"><tr><th>Sum of best</th><th>Best run</th><th>Latest run</th>"
           "<th>Complete runs</th><th>Practice runs</th></tr>\n";
    Append(out, "<tr><td id=\"sum-of-best\">%s</td>", FormatTime(data.sumOfBest).text);
    if (data.runs.count > 0)
        Append(out, "<td id=\"best-run\">%s</td><td>%s</td><td>%d</td>", FormatTime(data.runs.best).text,
               FormatTime(data.runs.latest).text, data.runs.count);
    else
        out += "<td id=\"best-run\">&ndash;</td><td>&ndash;</td><td>0</td>";
    out += "<td id=\"practice-runs\">";
    AppendPractice(out, data.practiceRuns);
    out += "</td></tr></table>\n";
    Append(out, "<p class=\"note\">The sum of the best times of the %d levels played: the run they add up to. "
                "A level left for a special stage counts as one attempt, its time the sum of its two rows, as the "
                "run's total counts it. Practice, the attempts and runs with a state load or a rewind in them, "
                "counts in none of these figures: how many there were and their best are shown apart.</p>\n",
           data.levelsPlayed);
    if (data.runs.count > 0)
        AppendChart(out, data, data.runs, "run", kHistoryTotalName, ChartFrame{760, 240, 70, 16, 14, 30}, true,
                    data.levelsPlayed > 0 ? data.sumOfBest : -1, "sum of best");

    out += "<h2>Levels</h2>\n<table class=\"levels\"><thead><tr><th>Level</th><th>Attempts</th><th>Best</th>"
           "<th>Median</th><th>Latest</th><th>Lag frames<br>per attempt</th><th>Deaths<br>per attempt</th>"
           "<th>Practice</th><th>Time over the play-throughs</th></tr></thead>\n<tbody>\n";
    for (int slot = 0; slot < kHistoryLevelCount; ++slot) {
        const ReportSeries& level = data.levels[slot];
        if (level.count == 0 && data.practice[slot].count == 0) continue;
        const std::string name = SlotName(slot);
        out += "<tr><th>";
        AppendEscaped(out, name.c_str());
        if (level.count > 0)
            Append(out, "</th><td>%d</td><td class=\"best\">%s</td><td>%s</td><td>%s</td><td>%.1f</td><td>%.2f</td>",
                   level.count, FormatTime(level.best).text, FormatTime(level.median).text,
                   FormatTime(level.latest).text, static_cast<double>(level.lagFrames) / level.count,
                   static_cast<double>(level.deaths) / level.count);
        else
            out += "</th><td>0</td><td class=\"best\">&ndash;</td><td>&ndash;</td><td>&ndash;</td><td>&ndash;</td>"
                   "<td>&ndash;</td>";
        out += "<td class=\"practice\">";
        AppendPractice(out, data.practice[slot]);
        out += "</td><td class=\"chart-cell\">";
        if (level.count > 0)
            AppendChart(out, data, level, "level", name, ChartFrame{240, 44, 6, 6, 6, 6}, false, -1, "");
        out += "</td></tr>\n";
    }
    out += "</tbody></table>\n<p class=\"note\">Each chart: the level's time at each attempt, oldest on the left, "
           "the best marked in green. Hover a best for its play-through. Practice: the attempts with a state load "
           "or a rewind in them, how many and the best of their times, left out of the other columns.</p>\n"
           "</body></html>\n";
}

std::string ReportPagePath(const char* historyPath) {
    const std::string path = historyPath;
    const size_t slash = path.find_last_of(kFilePathSeparators);
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kReportFileName;
}

int RunReport(const char* historyPath) {
    char path[kFilePathSize];
    if (historyPath == nullptr) {
        const FileResult located = FileDataPath(kHistoryFileName, path, sizeof path);
        if (!located.ok) {
            std::printf("ERROR: Could not find the folder of the play-through history (%s failed, error %d).\n",
                        located.step, static_cast<int>(located.error));
            return 1;
        }
    } else if (std::snprintf(path, sizeof path, "%s", historyPath) >= static_cast<int>(sizeof path)) {
        std::printf("ERROR: The path '%s' is too long.\n", historyPath);
        return 1;
    }

    std::vector<char> bytes;
    FileResult result{};
    switch (ReadHistoryFile(path, bytes, &result)) {
        case HistoryFileRead::Read: break;
        case HistoryFileRead::Missing:
            std::printf("No play-through history at %s: Ringwatch writes it once a level is finished. No report "
                        "written.\n", path);
            return 1;
        case HistoryFileRead::Empty:
            std::printf("The play-through history %s is empty. No report written.\n", path);
            return 1;
        case HistoryFileRead::TooLarge:
            std::printf("ERROR: The play-through history %s is larger than 1 GiB: not read. No report written.\n",
                        path);
            return 1;
        case HistoryFileRead::Failed:
            std::printf("ERROR: Could not read the play-through history %s (%s failed, error %d). No report "
                        "written.\n", path, result.step, static_cast<int>(result.error));
            return 1;
    }

    ReportData data;
    ReportRead(bytes.data(), bytes.size(), data);
    std::string text;
    ReportFormatProblems(data, text);
    if (data.noHeader || data.rowsUsed == 0) {
        Append(text, "No rows of %s could be used. No report written.\n", path);
        std::fputs(text.c_str(), stdout);
        return 1;
    }
    const std::string pagePath = ReportPagePath(path);
    if (pagePath == path) {   // the page would take the place of what it reports on
        Append(text, "ERROR: %s is the report's own name: give the history file. No report written.\n", path);
        std::fputs(text.c_str(), stdout);
        return 1;
    }
    std::string page;
    ReportFormatPage(data, path, page);
    result = FileReplace(pagePath.c_str(), page.data(), page.size());
    if (!result.ok) {
        Append(text, "ERROR: Could not write the report to %s (%s failed, error %d).\n", pagePath.c_str(), result.step,
               static_cast<int>(result.error));
        std::fputs(text.c_str(), stdout);
        return 1;
    }
    Append(text, "Report: %s\n", pagePath.c_str());
    ReportFormatSummary(data, text);
    std::fputs(text.c_str(), stdout);
    return 0;
}

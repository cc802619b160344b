#include "report/report_data.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kAllSlots = 2 * kHistorySlots;   // the levels and the Total rows, then the same again for practice

// The columns the report reads, by the header's names; all but state_loads
// are needed (files from before it have none).
enum Column { kDate, kPlaythrough, kLevel, kHundredths, kLagFrames, kDeaths, kStateLoads, kColumns };
constexpr HistoryColumn kColumnsRead[kColumns] = {kHistoryDateTime, kHistoryPlaythrough, kHistoryLevel,
                                                  kHistoryHundredths, kHistoryLagFrames, kHistoryDeaths,
                                                  kHistoryStateLoads};

// Where the header put the columns the report reads.
struct Header {
    int column[kColumns];
    int fields;      // the header's fields: a row with fewer was cut
    int rowFields;   // fields of a row this version reads whole
};

// A row, or the attempt its rows joined into, and its slot: a level, the
// Total rows, then (once the rows are all read) the same again for practice.
struct Row {
    ReportAttempt attempt;
    int slot;
};

// Text from the file as the console may show it: control characters (a
// terminal's escape sequences among them) become '?'.
void CopyPrintable(const char* text, size_t length, char* out) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[length] = '\0';
}

void NoteProblem(ReportData& data, ReportProblemKind kind, int64_t line, const HistoryField* sample = nullptr) {
    ReportProblem& problem = data.problems[kind];
    if (problem.count++ != 0) return;
    problem.firstLine = line;
    if (sample != nullptr)
        CopyPrintable(sample->text, std::min(sample->length, sizeof problem.sample - 1), problem.sample);
}

// The header: where each column is, and what this version doesn't write.
// False (data.noHeader set) when a column the report needs is missing.
bool ReadHeader(const HistoryField* fields, int count, Header& header, ReportData& data) {
    header.fields = count;
    header.rowFields = count;
    // An earlier Ringwatch's header is the start of this version's: columns
    // are only ever added at the end, and the rows appended to its file since
    // carry them there.
    bool earlier = count < kHistoryColumnCount;
    for (int f = 0; f < count && earlier; ++f) earlier = HistoryFieldIs(fields[f], kHistoryColumnNames[f]);
    if (earlier) header.rowFields = kHistoryColumnCount;
    const int kept = std::min(count, kHistoryMaxFields);
    for (int c = 0; c < kColumns; ++c) {
        const char* name = kHistoryColumnNames[kColumnsRead[c]];
        header.column[c] = -1;
        for (int f = 0; f < kept; ++f)
            if (HistoryFieldIs(fields[f], name)) header.column[c] = f;
        for (int k = count; k < kHistoryColumnCount && earlier && c == kStateLoads && header.column[c] < 0; ++k)
            if (std::strcmp(kHistoryColumnNames[k], name) == 0) header.column[c] = k;
        if (header.column[c] < 0 && c != kStateLoads) data.noHeader = true;
    }
    if (data.noHeader) return false;
    for (int f = 0; f < kept; ++f) {
        bool isKnown = false;
        for (int k = 0; k < kHistoryColumnCount && !isKnown; ++k)
            isKnown = HistoryFieldIs(fields[f], kHistoryColumnNames[k]);
        if (isKnown) continue;
        char name[41];
        CopyPrintable(fields[f].text, std::min(fields[f].length, sizeof name - 1), name);
        data.newColumns += (data.newColumns.empty() ? "" : ", ") + std::string(name);
    }
    return true;
}

// One row's fields into `row`; false, the problem noted, when it can't be used.
bool ReadRow(const HistoryField* fields, int count, bool ended, int64_t lineNumber, const Header& header,
             ReportData& data, Row& row) {
    const int* column = header.column;
    if (!ended || count < header.fields) {
        NoteProblem(data, kReportCutRow, lineNumber);
        return false;
    }
    row = Row{};
    row.slot = HistoryLevelSlot(fields[column[kLevel]]);
    if (row.slot < 0) {
        NoteProblem(data, kReportUnknownLevel, lineNumber, &fields[column[kLevel]]);
        return false;
    }
    ReportAttempt& attempt = row.attempt;
    // A row written before state_loads, or under a header without it, has no state load.
    const bool hasLoads = column[kStateLoads] >= 0 && column[kStateLoads] < count;
    if (!ParseHistoryNumber(fields[column[kPlaythrough]], &attempt.playthrough) ||
        !ParseHistoryNumber(fields[column[kHundredths]], &attempt.hundredths) ||
        !ParseHistoryNumber(fields[column[kLagFrames]], &attempt.lagFrames) ||
        !ParseHistoryNumber(fields[column[kDeaths]], &attempt.deaths) ||
        !ParseHistoryDate(fields[column[kDate]], attempt.date) ||
        (hasLoads &&
         (!ParseHistoryNumber(fields[column[kStateLoads]], &attempt.stateLoads) || attempt.stateLoads < 0))) {
        NoteProblem(data, kReportBadValue, lineNumber);
        return false;
    }
    if (count > header.rowFields) NoteProblem(data, kReportLongRow, lineNumber);
    attempt.rows = 1;
    return true;
}

// A row used: counted, its dates kept, and joined to the attempt before it
// when it is the rest of a level after a special stage (the same
// play-through's next row for the same level).
void TakeRow(const Row& row, ReportData& data, std::vector<Row>& rows, std::vector<int64_t>& playthroughs) {
    const ReportAttempt& attempt = row.attempt;
    ++data.rowsUsed;
    playthroughs.push_back(attempt.playthrough);
    if (data.firstDate[0] == '\0' || std::strcmp(attempt.date, data.firstDate) < 0)
        std::memcpy(data.firstDate, attempt.date, kHistoryDateSize);
    if (std::strcmp(attempt.date, data.lastDate) > 0) std::memcpy(data.lastDate, attempt.date, kHistoryDateSize);

    Row* last = rows.empty() ? nullptr : &rows.back();
    if (row.slot != kHistoryTotalSlot && last != nullptr &&
        ContinuesAttempt(last->attempt.playthrough, last->slot, attempt.playthrough, row.slot)) {
        last->attempt.hundredths += attempt.hundredths;
        last->attempt.lagFrames += attempt.lagFrames;
        last->attempt.deaths += attempt.deaths;
        last->attempt.stateLoads += attempt.stateLoads;
        last->attempt.rows += 1;
        std::memcpy(last->attempt.date, attempt.date, kHistoryDateSize);
        return;
    }
    rows.push_back(row);
}

// Best, median, latest and sums of the attempts [first, first + count).
void Summarise(ReportData& data, ReportSeries& series, int32_t first, int32_t count, std::vector<int64_t>& scratch) {
    series = ReportSeries{first, count, 0, 0, 0, 0, 0, 0};
    if (count == 0) return;
    const ReportAttempt* attempts = data.attempts.data() + first;
    scratch.clear();
    for (int32_t i = 0; i < count; ++i) {
        if (attempts[i].hundredths < attempts[series.bestAt].hundredths) series.bestAt = i;
        series.lagFrames += attempts[i].lagFrames;
        series.deaths += attempts[i].deaths;
        scratch.push_back(attempts[i].hundredths);
    }
    series.best = attempts[series.bestAt].hundredths;
    series.latest = attempts[count - 1].hundredths;
    const auto middle = scratch.begin() + count / 2;
    std::nth_element(scratch.begin(), middle, scratch.end());
    series.median = *middle;
    if (count % 2 == 0) {
        const int64_t below = *std::max_element(scratch.begin(), middle);
        series.median = (below + series.median + 1) / 2;
    }
}

// The attempts by level in the game's order, then the runs, then the same for
// practice (its joined rows hold a state load); the file's order within each.
// Each series summed up, and the sum of best over the levels played.
void GroupAttempts(std::vector<Row>& rows, ReportData& data, std::vector<int64_t>& scratch) {
    for (Row& row : rows) row.slot += row.attempt.stateLoads > 0 ? kHistorySlots : 0;
    int32_t starts[kAllSlots + 1] = {};
    for (const Row& row : rows) ++starts[row.slot + 1];
    for (int slot = 0; slot < kAllSlots; ++slot) starts[slot + 1] += starts[slot];
    int32_t next[kAllSlots];
    std::copy(starts, starts + kAllSlots, next);
    data.attempts.resize(rows.size());
    for (const Row& row : rows) data.attempts[next[row.slot]++] = row.attempt;
    for (int slot = 0; slot < kAllSlots; ++slot) {
        const bool practice = slot >= kHistorySlots;
        const int level = slot % kHistorySlots;
        ReportSeries& series = level == kHistoryTotalSlot ? (practice ? data.practiceRuns : data.runs)
                                                          : (practice ? data.practice[level] : data.levels[level]);
        Summarise(data, series, starts[slot], starts[slot + 1] - starts[slot], scratch);
        if (practice || slot == kHistoryTotalSlot || series.count == 0) continue;
        ++data.levelsPlayed;
        data.sumOfBest += series.best;
    }
}

}  // namespace

void ReportRead(const char* bytes, size_t length, ReportData& data) {
    data = ReportData{};
    if (length >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {   // a spreadsheet's byte order mark
        bytes += 3;
        length -= 3;
    }
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(std::count(bytes, bytes + length, '\n')) + 1);
    std::vector<int64_t> scratch;   // the play-throughs of the rows used, then each series' times
    scratch.reserve(rows.capacity());

    HistoryField fields[kHistoryMaxFields];
    Header header{};
    int64_t lineNumber = 0;
    for (size_t at = 0; at < length;) {
        const char* line = bytes + at;
        const void* newline = std::memchr(line, '\n', length - at);
        const bool ended = newline != nullptr;
        size_t lineLength = ended ? static_cast<size_t>(static_cast<const char*>(newline) - line) : length - at;
        at += lineLength + (ended ? 1 : 0);
        ++lineNumber;
        if (lineLength > 0 && line[lineLength - 1] == '\r') --lineLength;
        const int count = SplitHistoryFields(line, lineLength, fields);
        if (lineNumber == 1) {
            if (!ReadHeader(fields, count, header, data)) return;
            continue;
        }
        if (lineLength == 0) continue;   // a blank line: no row
        Row row;
        if (ReadRow(fields, count, ended, lineNumber, header, data, row)) TakeRow(row, data, rows, scratch);
    }

    std::sort(scratch.begin(), scratch.end());
    data.playthroughs = std::unique(scratch.begin(), scratch.end()) - scratch.begin();
    GroupAttempts(rows, data, scratch);
}

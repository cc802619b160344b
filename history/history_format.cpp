#include "history/history_format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tracking/game_time.h"
#include "tracking/level_names.h"

namespace {

// True when `header` is the column names joined by commas.
constexpr bool HeaderNamesColumns(const char* header) {
    const char* c = header;
    for (int column = 0; column < kHistoryColumnCount; ++column) {
        if (column > 0 && *c++ != ',') return false;
        for (const char* name = kHistoryColumnNames[column]; *name != '\0'; ++name, ++c)
            if (*c != *name) return false;
    }
    return *c == '\0';
}
static_assert(HeaderNamesColumns(kHistoryHeader), "the header row is the column names in their order");

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

size_t FormatHistoryRow(const HistoryRow& row, int64_t number, const char* lineEnd, char* out, size_t size) {
    char text[64];
    size_t used = 0;
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", row.time.year, row.time.month, row.time.day,
                  row.time.hour, row.time.minute, row.time.second);
    AppendField(text, out, size, &used, true);
    AppendNumber(number, out, size, &used);
    AppendField(row.summary ? kHistoryTotalName : LevelName(row.levelIndex), out, size, &used, false);
    FormatHundredths(row.hundredths, text, sizeof text);
    AppendField(text, out, size, &used, false);
    AppendNumber(row.hundredths, out, size, &used);
    for (uint32_t count : CountArray(row.counts)) AppendNumber(count, out, size, &used);
    const int wrote = std::snprintf(out + std::min(used, size), size - std::min(used, size), "%s", lineEnd);
    if (wrote < 0 || used + static_cast<size_t>(wrote) >= size) return 0;
    return used + static_cast<size_t>(wrote);
}

int SplitHistoryFields(const char* line, size_t length, HistoryField* fields) {
    int count = 0;
    size_t at = 0;
    while (true) {
        HistoryField field{line + at, 0};
        if (at < length && line[at] == '"') {
            size_t end = at + 1;
            while (end < length && !(line[end] == '"' && (end + 1 >= length || line[end + 1] != '"')))
                end += line[end] == '"' ? 2 : 1;
            field = HistoryField{line + at + 1, std::min(end, length) - at - 1};
            at = end + 1;
            while (at < length && line[at] != ',') ++at;
        } else {
            const void* comma = std::memchr(line + at, ',', length - at);
            const size_t end = comma != nullptr ? static_cast<size_t>(static_cast<const char*>(comma) - line) : length;
            field.length = end - at;
            at = end;
        }
        if (count < kHistoryMaxFields) fields[count] = field;
        ++count;
        if (at >= length) return count;
        ++at;   // the comma
    }
}

bool HistoryFieldIs(const HistoryField& field, const char* text) {
    const size_t length = std::strlen(text);
    return field.length == length && std::memcmp(field.text, text, length) == 0;
}

bool ParseHistoryNumber(const HistoryField& field, int64_t* value) {
    size_t at = 0;
    const bool negative = field.length > 0 && field.text[0] == '-';
    if (negative) ++at;
    if (at >= field.length || field.length - at > 18) return false;
    int64_t number = 0;
    for (; at < field.length; ++at) {
        const char c = field.text[at];
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    *value = negative ? -number : number;
    return true;
}

bool ParseHistoryDate(const HistoryField& field, char* date) {
    constexpr char kPattern[] = "dddd-dd-dd dd:dd:dd";
    static_assert(sizeof kPattern == kHistoryDateSize);
    if (field.length != sizeof kPattern - 1) return false;
    for (size_t i = 0; i < field.length; ++i) {
        const char c = field.text[i];
        if (kPattern[i] == 'd' ? (c < '0' || c > '9') : c != kPattern[i]) return false;
    }
    std::memcpy(date, field.text, field.length);
    date[field.length] = '\0';
    return true;
}

const char* HistorySlotName(int slot) {
    return slot == kHistoryTotalSlot ? kHistoryTotalName : LevelName(static_cast<uint32_t>(slot));
}

int HistoryLevelSlot(HistoryField field) {
    while (field.length > 0 && field.text[field.length - 1] == ' ') --field.length;
    for (int slot = 0; slot < kHistorySlots; ++slot) {
        const char* name = HistorySlotName(slot);
        const size_t length = std::strlen(name);
        if (length > 0 && length == field.length && std::memcmp(name, field.text, length) == 0) return slot;
    }
    return -1;
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

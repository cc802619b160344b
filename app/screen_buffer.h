// The main thread's character grid of the console: one byte a cell, row after
// row, no terminators. Lines are cut at the width and never wrap.
#pragma once

#include <cstdint>

inline constexpr int kScreenLineBufferSize = 1024;

struct ScreenBuffer {
    int32_t width;          // columns: the console buffer's width
    int32_t height;         // rows: the console window's height
    int32_t row;            // next row to write, 0 at the start of every frame
    int32_t size;           // width * height, bytes in cells
    char* cells;            // the grid; null until the first successful size query
};

// Formats one line into row `row` and advances it. A row past the last is
// dropped (row stays); a formatting failure writes nothing and does not
// advance; an empty line advances. Returns 1 when the row advanced.
int ScreenPrintLine(ScreenBuffer& screen, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Copies an already formatted line (cut at the width) into row `row` and
// advances it; does nothing past the last row.
void ScreenPutRow(ScreenBuffer& screen, const char* text);

// Makes the grid match width x height, reallocating only on a change. Returns
// false when the cells can't be allocated: the grid is then left empty with
// width and height 0, so the next call tries again.
bool ScreenResize(ScreenBuffer& screen, int32_t width, int32_t height);

// Fills every cell with blanks.
void ScreenFillBlank(ScreenBuffer& screen);

// The console the screen is drawn on. One backend per OS: the Win32 console,
// or a POSIX terminal given the same meaning (size, title, clear, hidden
// cursor, one write of the whole grid from the top-left cell).
#pragma once

#include <cstdint>

using ConsoleHandle = void*;

struct ConsoleStdHandles {
    ConsoleHandle output;
    ConsoleHandle input;
};

// The standard output and input handles, in that order.
ConsoleStdHandles ConsoleGetStdHandles();

// Input mode: no echo, no line input, no quick-edit, Ctrl+C not a signal on
// Windows. On POSIX also enters the alternate screen and arranges for the
// terminal to be restored when the program ends (SIGINT, SIGTERM, SIGHUP).
// Failures are ignored.
void ConsolePrepare(ConsoleHandle input, ConsoleHandle output);

// Sets the console window title; failures are ignored.
void ConsoleSetTitle(const char* title);

// Columns of the screen buffer and rows of the visible window. Returns false
// when the output is not a console.
bool ConsoleQuerySize(ConsoleHandle output, int32_t* width, int32_t* height);

// Clears the whole console (on a size change only).
void ConsoleClear(ConsoleHandle output);

// Hides the cursor, keeping its size.
void ConsoleHideCursor(ConsoleHandle output);

// Writes `size` cells from the top-left corner, row after row of `width`.
void ConsoleWriteGrid(ConsoleHandle output, const char* cells, int32_t size, int32_t width);

// The Win32 console.
#include "platform/console.h"

#include <cstdlib>
#include <windows.h>

ConsoleStdHandles ConsoleGetStdHandles() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return ConsoleStdHandles{output, input};
}

void ConsolePrepare(ConsoleHandle input, ConsoleHandle output) {
    (void)output;
    // Only ENABLE_EXTENDED_FLAGS: quick-edit, insert, processed, line, echo,
    // window and mouse input all off, so a click never freezes the output.
    SetConsoleMode(static_cast<HANDLE>(input), ENABLE_EXTENDED_FLAGS);
}

void ConsoleSetTitle(const char* title) { SetConsoleTitleA(title); }

bool ConsoleQuerySize(ConsoleHandle output, int32_t* width, int32_t* height) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(static_cast<HANDLE>(output), &info)) return false;
    *width = info.dwSize.X;
    *height = info.srWindow.Bottom - info.srWindow.Top + 1;
    return true;
}

void ConsoleClear(ConsoleHandle output) {
    (void)output;
    std::system("cls");
}

void ConsoleHideCursor(ConsoleHandle output) {
    CONSOLE_CURSOR_INFO cursor;
    if (!GetConsoleCursorInfo(static_cast<HANDLE>(output), &cursor)) return;
    cursor.bVisible = FALSE;
    SetConsoleCursorInfo(static_cast<HANDLE>(output), &cursor);
}

void ConsoleWriteGrid(ConsoleHandle output, const char* cells, int32_t size, int32_t width) {
    (void)width;
    HANDLE handle = static_cast<HANDLE>(output);
    COORD origin{0, 0};
    SetConsoleCursorPosition(handle, origin);
    // WriteConsoleA with wrap-at-end-of-line on scrolls the screen up one row
    // when it writes the grid's last cell (a buffer no taller than its window,
    // as in Wine's console), and the top row is lost. WriteConsoleOutputCharacterA
    // fills consecutive cells from 0,0, wraps rows and never scrolls.
    DWORD written = 0;
    WriteConsoleOutputCharacterA(handle, cells, static_cast<DWORD>(size), origin, &written);
}

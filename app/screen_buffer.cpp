#include "app/screen_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

void ScreenPutRow(ScreenBuffer& screen, const char* text) {
    if (screen.row >= screen.height || screen.cells == nullptr) return;
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(screen.width)) length = static_cast<size_t>(screen.width);
    std::memcpy(screen.cells + static_cast<size_t>(screen.row) * static_cast<size_t>(screen.width), text, length);
    screen.row += 1;
}

int ScreenPrintLine(ScreenBuffer& screen, const char* format, ...) {
    if (screen.row >= screen.height) return 0;
    char line[kScreenLineBufferSize];
    size_t limit = static_cast<size_t>(screen.width) + 1;
    if (limit > sizeof(line)) limit = sizeof(line);
    va_list args;
    va_start(args, format);
    int result = std::vsnprintf(line, limit, format, args);
    va_end(args);
    if (result < 0) return 0;
    ScreenPutRow(screen, line);
    return 1;
}

bool ScreenResize(ScreenBuffer& screen, int32_t width, int32_t height) {
    if (screen.cells != nullptr && width == screen.width && height == screen.height) return true;
    delete[] screen.cells;
    screen.cells = nullptr;
    screen.width = 0;
    screen.height = 0;
    screen.size = 0;
    if (width <= 0 || height <= 0) return false;
    int64_t size = static_cast<int64_t>(width) * height;
    if (size > INT32_MAX) return false;
    char* cells = new (std::nothrow) char[static_cast<size_t>(size)];
    if (cells == nullptr) return false;
    screen.cells = cells;
    screen.width = width;
    screen.height = height;
    screen.size = static_cast<int32_t>(size);
    return true;
}

void ScreenFillBlank(ScreenBuffer& screen) {
    if (screen.cells != nullptr) std::memset(screen.cells, ' ', static_cast<size_t>(screen.size));
}

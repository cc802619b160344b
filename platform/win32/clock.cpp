#include "platform/clock.h"

#include <windows.h>

uint64_t ClockNow() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return static_cast<uint64_t>(value.QuadPart);
}

uint64_t ClockFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<uint64_t>(value.QuadPart);
}

void ClockSleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

LocalTime ClockLocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

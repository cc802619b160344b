// The monotonic performance counter and the plain system sleep.
#pragma once

#include <cstdint>

// Current counter value, in ticks.
uint64_t ClockNow();

// Ticks per second of ClockNow.
uint64_t ClockFrequency();

// Sleeps at least `milliseconds`.
void ClockSleepMs(uint32_t milliseconds);

// A moment of the wall clock in the local time zone.
struct LocalTime {
    int32_t year;
    int32_t month;    // 1..12
    int32_t day;      // 1..31
    int32_t hour;
    int32_t minute;
    int32_t second;
};

// The local date and time now.
LocalTime ClockLocalTime();

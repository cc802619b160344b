// The monotonic performance counter and the plain system sleep.
#pragma once

#include <cstdint>

// Current counter value, in ticks.
uint64_t ClockNow();

// Ticks per second of ClockNow.
uint64_t ClockFrequency();

// Sleeps at least `milliseconds`.
void ClockSleepMs(uint32_t milliseconds);

// The monotonic performance counter, short precise sleeps and the local time.
#pragma once

#include <cstdint>

// Current counter value, in ticks.
uint64_t ClockNow();

// Ticks per second of ClockNow.
uint64_t ClockFrequency();

// Sleeps at least `milliseconds`, to within about a millisecond where the
// system grants it (see ClockSetupProcess). On Windows each thread that sleeps
// makes one high-resolution waitable timer at its first sleep and keeps it
// until it ends; on POSIX the system's sleep is already that precise.
void ClockSleepMs(uint32_t milliseconds);

// What the process got for its short sleeps.
enum class ClockTimer : uint8_t {
    Precise,          // the system's own sleep is precise (POSIX)
    HighResolution,   // a high-resolution waitable timer per sleeping thread (Windows 10 1803+)
    OneMillisecond,   // the system timer resolution raised to 1 ms for the process's life
    SystemTick,       // neither: a sleep rounds up to the system tick (15.625 ms on most Windows)
};

// Whether the system may slow the process down while its window is hidden.
enum class ClockThrottling : uint8_t {
    NotApplicable,    // no such policy (POSIX)
    OptedOut,         // timer-resolution and execution-speed throttling turned off
    Refused,          // the system has no such setting or refused it (older Windows)
};

struct ClockSetup {
    ClockTimer timer;
    ClockThrottling throttling;
    uint32_t timerError;        // GetLastError of the refused timer or 1 ms request; 0 otherwise
    uint32_t throttlingError;   // GetLastError of the refused opt-out; 0 otherwise
};

// Once per process, before any thread sleeps: asks the system for the
// finest sleep it grants (a high-resolution timer, else 1 ms timer
// resolution, released at exit) and opts out of power throttling. Nothing is
// thrown; what was granted is returned for the log.
ClockSetup ClockSetupProcess();

// Raises the calling thread above normal priority (Windows). On POSIX
// nothing is asked: raising needs privileges, and the precise sleep does not
// need it. Returns 0, or the OS error of a refused request.
uint32_t ClockRaiseThreadPriority();

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

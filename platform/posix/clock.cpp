#include "platform/clock.h"

#include <time.h>

#include <chrono>
#include <thread>

uint64_t ClockNow() {
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

uint64_t ClockFrequency() {
    using Period = std::chrono::steady_clock::period;
    return static_cast<uint64_t>(Period::den / Period::num);
}

void ClockSleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// nanosleep wakes within tens of microseconds of its end on Linux; there is
// nothing to ask for.
ClockSetup ClockSetupProcess() { return ClockSetup{ClockTimer::Precise, ClockThrottling::NotApplicable, 0, 0}; }

uint32_t ClockRaiseThreadPriority() { return 0; }

LocalTime ClockLocalTime() {
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

#include "platform/clock.h"

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

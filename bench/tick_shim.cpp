// A Windows timer tick for a Linux program: preloaded (LD_PRELOAD), this
// library makes every sleep of the process end as a sleep ends on Windows at
// its default timer resolution, on the first 15.625 ms tick at or after the
// end asked for (ticks counted from 0 of CLOCK_MONOTONIC). `Sleep(6)` then
// lasts 6 to 15.6 ms, 9.6 on average, like on a Windows 10 2004 or later
// whose process asked for no finer timer.
//
// It takes the place of nanosleep (what std::this_thread::sleep_for calls)
// and clock_nanosleep. A thread can keep the precise sleep by calling
// TickShimExemptThisThread(1), found with dlsym, so one process can hold a
// ticked thread and its untouched baseline side by side. The library takes
// itself out of LD_PRELOAD when loaded: the processes that its program starts
// keep the precise sleep.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>

namespace {

constexpr int64_t kTickNs = 15625000;   // 1/64 s
constexpr int64_t kSecondNs = 1000000000;

thread_local bool t_exempt = false;

using ClockNanosleepCall = int (*)(clockid_t, int, const timespec*, timespec*);
using NanosleepCall = int (*)(const timespec*, timespec*);

ClockNanosleepCall RealClockNanosleep() {
    static const auto real = reinterpret_cast<ClockNanosleepCall>(dlsym(RTLD_NEXT, "clock_nanosleep"));
    return real;
}

NanosleepCall RealNanosleep() {
    static const auto real = reinterpret_cast<NanosleepCall>(dlsym(RTLD_NEXT, "nanosleep"));
    return real;
}

int64_t Nanoseconds(const timespec& time) { return int64_t{time.tv_sec} * kSecondNs + time.tv_nsec; }

bool Valid(const timespec* request) {
    return request != nullptr && request->tv_sec >= 0 && request->tv_nsec >= 0 && request->tv_nsec < kSecondNs;
}

// The end asked for, on CLOCK_MONOTONIC, rounded up to the next tick; the
// whole tick is slept even when a signal arrives, as Windows' Sleep does.
int SleepToTick(clockid_t clock, int flags, const timespec* request) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t end = Nanoseconds(now) + Nanoseconds(*request);
    if ((flags & TIMER_ABSTIME) != 0) {
        timespec clockNow{};
        if (clock_gettime(clock, &clockNow) != 0) return EINVAL;
        end = Nanoseconds(now) + (Nanoseconds(*request) - Nanoseconds(clockNow));
    }
    const int64_t tick = (end + kTickNs - 1) / kTickNs * kTickNs;
    const timespec until{static_cast<time_t>(tick / kSecondNs), static_cast<long>(tick % kSecondNs)};
    int result;
    while ((result = RealClockNanosleep()(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr)) == EINTR) {
    }
    return result;
}

__attribute__((constructor)) void LeavePreloadList() { unsetenv("LD_PRELOAD"); }

}  // namespace

extern "C" {

void TickShimExemptThisThread(int exempt) { t_exempt = exempt != 0; }

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remain) {
    if (t_exempt || !Valid(request)) return RealClockNanosleep()(clock, flags, request, remain);
    return SleepToTick(clock, flags, request);
}

int nanosleep(const timespec* request, timespec* remain) {
    if (t_exempt || !Valid(request)) return RealNanosleep()(request, remain);
    const int result = SleepToTick(CLOCK_MONOTONIC, 0, request);
    if (result == 0) return 0;
    errno = result;
    return -1;
}

}  // extern "C"

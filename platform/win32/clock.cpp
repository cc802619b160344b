#include "platform/clock.h"

#include <windows.h>

#include <cstdlib>

namespace {

// Declared here rather than taken from the SDK headers, which have them only
// for the newest Windows versions; all of them are resolved at run time.
constexpr DWORD kTimerHighResolution = 0x00000002;   // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr int kProcessPowerThrottling = 4;           // PROCESS_INFORMATION_CLASS
constexpr ULONG kPowerThrottlingVersion = 1;         // PROCESS_POWER_THROTTLING_CURRENT_VERSION
constexpr ULONG kThrottleExecutionSpeed = 0x1;       // PROCESS_POWER_THROTTLING_EXECUTION_SPEED
constexpr ULONG kThrottleIgnoreTimerResolution = 0x4;   // ..._IGNORE_TIMER_RESOLUTION

struct PowerThrottlingState {   // PROCESS_POWER_THROTTLING_STATE
    ULONG version;
    ULONG controlMask;          // the policies this call decides
    ULONG stateMask;            // those of them that stay on: none
};

using SetProcessInformationCall = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
using TimePeriodCall = UINT(WINAPI*)(UINT);   // timeBeginPeriod, timeEndPeriod (winmm.dll)

TimePeriodCall g_timeEndPeriod = nullptr;     // set while the 1 ms resolution is held

void ReleaseTimePeriod() {
    if (g_timeEndPeriod != nullptr) g_timeEndPeriod(1);
    g_timeEndPeriod = nullptr;
}

// The calling thread's timer, made at its first sleep and closed when the
// thread ends. Null after a refusal: that thread then uses Sleep.
struct ThreadTimer {
    HANDLE handle = nullptr;
    bool made = false;
    ~ThreadTimer() {
        if (handle != nullptr) CloseHandle(handle);
    }
};
thread_local ThreadTimer t_timer;

// Windows 10 1803 and later honour the flag for this timer alone, whatever
// the system's timer resolution; older versions refuse the flag.
HANDLE MakeHighResolutionTimer() {
    return CreateWaitableTimerExW(nullptr, nullptr, kTimerHighResolution, SYNCHRONIZE | TIMER_MODIFY_STATE);
}

HANDLE ThreadTimerHandle() {
    ThreadTimer& timer = t_timer;
    if (!timer.made) {
        timer.made = true;
        timer.handle = MakeHighResolutionTimer();
    }
    return timer.handle;
}

// Windows 11 ignores the timer resolution of a process whose windows are
// hidden or minimised, and slows its threads in efficiency mode, unless the
// process opts out. The call is Windows 8 and later: resolved at run time.
ClockThrottling OptOutOfThrottling(uint32_t* error) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setInformation = kernel != nullptr ? reinterpret_cast<SetProcessInformationCall>(reinterpret_cast<void*>(
                                                  GetProcAddress(kernel, "SetProcessInformation")))
                                            : nullptr;
    if (setInformation == nullptr) {
        *error = GetLastError();
        return ClockThrottling::Refused;
    }
    PowerThrottlingState state{kPowerThrottlingVersion, kThrottleExecutionSpeed | kThrottleIgnoreTimerResolution, 0};
    if (!setInformation(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state)) {
        *error = GetLastError();
        return ClockThrottling::Refused;
    }
    return ClockThrottling::OptedOut;
}

// Without the high-resolution timer: 1 ms for the whole process, held until
// exit. Since Windows 10 2004 the request holds for this process only, and
// without it a sleep lasts a whole 15.625 ms tick. winmm.dll is loaded here so
// that the program imports only KERNEL32 and the C runtime.
ClockTimer RequestOneMillisecond(uint32_t* error) {
    HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (winmm == nullptr) {
        *error = GetLastError();
        return ClockTimer::SystemTick;
    }
    auto begin = reinterpret_cast<TimePeriodCall>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod")));
    auto end = reinterpret_cast<TimePeriodCall>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeEndPeriod")));
    if (begin == nullptr || end == nullptr || begin(1) != 0 /* TIMERR_NOERROR */) {
        *error = begin == nullptr || end == nullptr ? GetLastError() : 0;
        return ClockTimer::SystemTick;
    }
    g_timeEndPeriod = end;
    std::atexit(ReleaseTimePeriod);
    return ClockTimer::OneMillisecond;
}

}  // namespace

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

void ClockSleepMs(uint32_t milliseconds) {
    HANDLE timer = milliseconds > 0 ? ThreadTimerHandle() : nullptr;
    if (timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;   // relative, in 100 ns
        if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0)
            return;
    }
    Sleep(milliseconds);
}

ClockSetup ClockSetupProcess() {
    ClockSetup setup{ClockTimer::HighResolution, ClockThrottling::Refused, 0, 0};
    setup.throttling = OptOutOfThrottling(&setup.throttlingError);
    // The probe becomes the calling thread's own timer.
    if (ThreadTimerHandle() == nullptr) {
        setup.timerError = GetLastError();
        uint32_t periodError = 0;
        setup.timer = RequestOneMillisecond(&periodError);
        if (setup.timer == ClockTimer::SystemTick && periodError != 0) setup.timerError = periodError;
    }
    return setup;
}

uint32_t ClockRaiseThreadPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) ? 0 : GetLastError();
}

LocalTime ClockLocalTime() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

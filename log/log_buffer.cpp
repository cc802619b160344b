#include "log/log_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void LogClear(LogBuffer& log) { std::memset(&log, 0, sizeof(log)); }

void LogAppend(LogBuffer& log, uint64_t now, const char* format, ...) {
    if (log.count >= kLogCapacity) return;
    LogEntry& entry = log.entries[log.count];
    entry.stamp = now;
    va_list args;
    va_start(args, format);
    std::vsnprintf(entry.text, sizeof(entry.text), format, args);
    va_end(args);
    log.sequence += 1;
    entry.sequence = log.sequence;
    log.count += 1;
}

void LogMerge(LogBuffer& mainLog, LogBuffer& sharedLog) {
    if (sharedLog.count <= 0) return;
    int room = kLogCapacity - mainLog.count;
    int taken = sharedLog.count < room ? sharedLog.count : room;
    if (taken > 0) {
        std::memcpy(&mainLog.entries[mainLog.count], &sharedLog.entries[0],
                    static_cast<size_t>(taken) * sizeof(LogEntry));
        mainLog.count += taken;
    }
    LogClear(sharedLog);
}

int LogExpire(LogBuffer& log, uint64_t now, double counterFrequency) {
    const double secondsPerTick = 1.0 / counterFrequency;
    int expired = 0;
    while (expired < log.count) {
        double age = static_cast<double>(now - log.entries[expired].stamp) * secondsPerTick;
        if (age < kLogLifetimeSeconds) break;
        ++expired;
    }
    if (expired == 0) return 0;
    int remaining = log.count - expired;
    std::memmove(&log.entries[0], &log.entries[expired], static_cast<size_t>(remaining) * sizeof(LogEntry));
    std::memset(&log.entries[remaining], 0, static_cast<size_t>(expired) * sizeof(LogEntry));
    log.count = remaining;
    return expired;
}

int LogFormatLine(char* out, size_t outSize, const LogEntry& entry, uint64_t startStamp,
                  double counterFrequency) {
    double t = static_cast<double>(entry.stamp - startStamp) / counterFrequency;
    int32_t hours = static_cast<int32_t>(t * (1.0 / 3600.0));
    double t1 = t - hours * 3600.0;
    int32_t minutes = static_cast<int32_t>(t1 * (1.0 / 60.0));
    double t2 = t1 - minutes * 60.0;
    int32_t seconds = static_cast<int32_t>(t2);
    int32_t milliseconds = static_cast<int32_t>((t2 - seconds) * 1000.0);
    return std::snprintf(out, outSize, "[%.03d - %.02d:%.02d:%.02d.%.03d] %s", entry.sequence, hours,
                         minutes, seconds, milliseconds, entry.text);
}

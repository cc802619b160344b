// The header scan's walk and reads without its search: the baseline the scan's
// figures stand beside, on Linux (ringwatch_perf) and under Wine alike.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/process_memory.h"

struct BareReads {
    uint32_t regions = 0;   // regions read whole (up to the scan buffer's size)
    uint64_t bytes = 0;     // bytes read
    double seconds = 0;     // wall time of the walk
};

// Every readable range from address 0 to the top of the process's address
// space, each read up to the scan buffer's size into one buffer.
BareReads ReadLikeTheScan(ProcessHandle process);

// Attaches a tracker to `who` (process `pid`), an emulator running another
// cartridge, so that every identification walks its whole memory; then times
// `repeat` header scans, each beside bare reads of the same regions (taken
// before and after it in turn), and prints a row per scan and the medians.
// 0 when measured; 2 when the tracker did not scan as expected.
int MeasureHeaderScans(const char* who, uint32_t pid, uint32_t repeat);

// Clock ticks as seconds.
double Seconds(uint64_t ticks);

double Median(std::vector<double> values);

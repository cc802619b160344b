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

// Every committed, readable region from address 0 to the top of the process's
// address space, each read up to the scan buffer's size into one buffer.
BareReads ReadLikeTheScan(ProcessHandle process);

// Clock ticks as seconds.
double Seconds(uint64_t ticks);

double Median(std::vector<double> values);

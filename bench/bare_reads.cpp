#include "bench/bare_reads.h"

#include <algorithm>
#include <cstdlib>

#include "emulator/core_layout.h"
#include "platform/clock.h"

double Seconds(uint64_t ticks) { return static_cast<double>(ticks) / static_cast<double>(ClockFrequency()); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

BareReads ReadLikeTheScan(ProcessHandle process) {
    BareReads result;
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(kScanBufferSize, 1));
    if (buffer == nullptr) return result;
    const uint64_t limit = ProcessAddressLimit(process);
    const uint64_t start = ClockNow();
    uint64_t address = 0;
    MemoryRegion region{};
    while (ProcessQueryRegion(process, address, &region)) {
        if (region.state == kMemCommit && region.protect != kPageNoAccess) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(region.regionSize, kScanBufferSize));
            if (ProcessReadMemory(process, region.baseAddress, buffer, size)) {
                ++result.regions;
                result.bytes += size;
            }
        }
        const uint64_t next = region.baseAddress + region.regionSize;
        if (next <= address || next >= limit) break;
        address = next;
    }
    result.seconds = Seconds(ClockNow() - start);
    std::free(buffer);
    return result;
}

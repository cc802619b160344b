#include "emulator/memory_walk.h"

#include <algorithm>

namespace {

// True when `look` ended the walk in this range.
bool WalkRange(const ProcessApi& api, ProcessHandle process, const MemoryWalk& walk, const WalkStorage& storage,
               const MemoryRange& range) {
    if (walk.privateOnly && !range.privateWritable) return false;
    const uint64_t end = std::min(range.base + range.size, walk.to);
    for (uint64_t at = std::max(range.base, walk.from); at < end;) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(storage.bufferSize, end - at));
        if (api.read(process, at, storage.buffer, size).status != ProcessStatus::Ok) return false;
        if (walk.look(walk.context, storage.buffer, size, at)) return true;
        if (walk.firstPieceOnly || at + size >= end) return false;
        at += size - walk.overlap;
    }
    return false;
}

}  // namespace

ProcessResult WalkReadableMemory(const ProcessApi& api, ProcessHandle process, const MemoryWalk& walk,
                                 const WalkStorage& storage, bool* stopped) {
    *stopped = false;
    for (uint64_t from = walk.from; from < walk.to;) {
        int count = 0;
        const ProcessResult listed = api.listReadable(process, from, walk.to, storage.ranges, storage.rangeCapacity,
                                                      &count);
        if (listed.status != ProcessStatus::Ok) return from == walk.from ? listed : ProcessResult{ProcessStatus::Ok, 0};
        for (int i = 0; i < count; ++i) {
            if (WalkRange(api, process, walk, storage, storage.ranges[i])) {
                *stopped = true;
                return listed;
            }
        }
        if (count < storage.rangeCapacity) break;
        const uint64_t next = storage.ranges[count - 1].base + storage.ranges[count - 1].size;
        // A listing that doesn't move the walk on (or wraps) would repeat forever.
        if (next <= from) break;
        from = next;
    }
    return {ProcessStatus::Ok, 0};
}

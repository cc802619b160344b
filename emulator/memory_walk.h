// Walking the emulator's readable memory piece by piece: the one loop of the
// header scan and the work RAM search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emulator/emulator_connection.h"

// Where a walk reads and lists.
struct WalkStorage {
    uint8_t* buffer;          // where each piece is read
    size_t bufferSize;        // bytes: the largest piece
    MemoryRange* ranges;      // one listing of readable ranges
    int rangeCapacity;
};

struct MemoryWalk {
    uint64_t from;            // emulator address: the first byte looked at
    uint64_t to;              // emulator address: one past the last (UINT64_MAX: the whole address space)
    size_t overlap;           // bytes a piece repeats of the one before it in its range, less than bufferSize
    bool firstPieceOnly;      // read only the first piece of each range
    // Looks at a piece: `size` bytes read from emulator address `address`; true ends the walk.
    bool (*look)(void* context, const uint8_t* bytes, size_t size, uint64_t address);
    void* context;
    bool privateOnly = false; // only the process's private writable ranges (MemoryRange::privateWritable)
};

// Lists the readable ranges of [from, to) and reads each, piece by piece, into
// the buffer, handing every piece to `look` until it returns true (`stopped`
// then true). A range whose read fails is passed over: memory can be unmapped
// between the listing and the read, and a process that ends mid-walk fails
// its next listing. Returns the first listing's result; a later listing that
// fails ends the walk as if the ranges ended there.
ProcessResult WalkReadableMemory(const ProcessApi& api, ProcessHandle process, const MemoryWalk& walk,
                                 const WalkStorage& storage, bool* stopped);

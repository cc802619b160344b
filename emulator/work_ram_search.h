// Finding work RAM by the game's own signature (kVarSignature: "init",
// 0x00020000, "SEGA", at the end of work RAM while Sonic 2 runs), whatever
// the emulator: inside the core module's image, for core builds that keep it
// somewhere other than the load address + 0x2A1060 (today + 0x82A060 in the
// 64-bit .dll, + 0xBFE8C0 in the .so), or anywhere in the process's private
// writable memory, for emulators that keep it on their heap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emulator/emulator_table.h"
#include "emulator/memory_walk.h"

inline constexpr ptrdiff_t kSignatureNotFound = -1;

// The 12 stored bytes of the signature in `order`.
const uint8_t* RamSignature(RamByteOrder order);

// The first position in data[0, size) holding the stored signature in one of
// `orders` (kOrder* bits) at an even emulator address, `address` being that of
// data[0] (work RAM holds 16-bit words, so it starts at an even address), or
// kSignatureNotFound; `order` (when not null) gets the order of the hit.
ptrdiff_t FindRamSignature(const uint8_t* data, size_t size, uint64_t address, uint8_t orders = kOrderSwapped,
                           RamByteOrder* order = nullptr);

// A copy of work RAM found by its signature.
struct RamCopy {
    uint64_t ramBase;     // emulator address of work RAM's first byte
    RamByteOrder order;
};

// Searches the image [imageBase, imageBase + imageSize) range by range for
// the signature, reading its readable memory into the storage's buffer (larger
// ranges in pieces that overlap by a signature less one byte), and takes the
// first hit whose whole work RAM (kWorkRamSize bytes from the hit less
// kSignatureRamOffset) lies inside the image. Ranges that can't be read are
// passed over. True with `found` set when found.
bool SearchWorkRam(const ProcessApi& api, ProcessHandle process, uint64_t imageBase, uint64_t imageSize,
                   uint8_t orders, const WalkStorage& storage, RamCopy* found);

// Searches the process's private writable memory, the whole user address
// space, bounded as the header scan is (the first piece of each range, the
// storage's buffer), for every copy of work RAM that lies whole in the piece
// read. Up to `capacity` copies in address order into `copies`; returns how
// many. A process may keep more than one: a save state, a rewind buffer.
int SearchRamCopies(const ProcessApi& api, ProcessHandle process, uint8_t orders, const WalkStorage& storage,
                    RamCopy* copies, int capacity);

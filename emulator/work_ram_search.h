// Finding work RAM by its signature inside the core module's image, for core
// builds that keep it somewhere other than the load address + 0x2A1060.
// Every build of the core puts it elsewhere in its data (today + 0x82A060 in
// the 64-bit .dll, + 0xBFE8C0 in the .so), but while Sonic 2 runs the game's
// signature sits at kSignatureRamOffset in work RAM whatever the build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emulator/memory_walk.h"

inline constexpr ptrdiff_t kSignatureNotFound = -1;

// The first position in data[0, size) holding the 12 stored bytes of the RAM
// signature at an even emulator address, `address` being that of data[0]
// (work RAM holds 16-bit words, so it starts at an even address), or
// kSignatureNotFound.
ptrdiff_t FindRamSignature(const uint8_t* data, size_t size, uint64_t address);

// Searches the image [imageBase, imageBase + imageSize) range by range for
// the signature, reading its readable memory into the storage's buffer (larger
// ranges in pieces that overlap by a signature less one byte), and takes the
// first hit whose whole work RAM (kWorkRamSize bytes from the hit less
// kSignatureRamOffset) lies inside the
// image. Ranges that can't be read are passed over. True with `ramBase` set
// when found.
bool SearchWorkRam(const ProcessApi& api, ProcessHandle process, uint64_t imageBase, uint64_t imageSize,
                   const WalkStorage& storage, uint64_t* ramBase);

// The stand-in's memory that a reader's header scan walks: everything below
// 2^44. On Linux the executable, the libraries, the heap and the stack all lie
// above that, so the scan sees only what is mapped here at fixed addresses:
// optional ballast first, then the cartridge ROM with its header. On Windows
// the ROM is a VirtualAlloc'ed buffer at the same address, among everything
// else the process holds below 2^44.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kBallastMaxMib = 1200;   // fits below the ROM

enum class HeaderKind {
    Compilation,   // the SONIC COMPILATION header, found by the reader
    Other,         // another cartridge's header
};

struct Cartridge {
    uint8_t* rom;      // kRomSize bytes at CartridgeRomAddress()
};

// The ROM's fixed address and size.
uint64_t CartridgeRomAddress();
inline constexpr size_t kRomSize = 4u << 20;

// Maps the ROM (filled with code-like bytes) and `ballastMib` MiB of committed
// ballast below it, in regions of 32 MiB with gaps between them so that each
// is a region of its own. False when an address is taken.
bool CartridgeMap(Cartridge& cartridge, uint32_t ballastMib);

// Writes a header into the ROM at 0x100, built field by field at run time: the
// stand-in holds the 145-byte pattern nowhere else, not even in its read-only
// data, so with HeaderKind::Other no copy of it is in its memory at all.
void CartridgeSetHeader(Cartridge& cartridge, HeaderKind kind);

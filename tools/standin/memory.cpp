#include "tools/standin/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/standin/platform.h"

namespace {

// Low addresses: far below 2^44, and inside the application memory of the
// sanitizer builds too (AddressSanitizer keeps its shadow from 2 GiB up).
constexpr uint64_t kBallastAddress = 0x10000000ull;      // 256 MiB
constexpr uint64_t kRomAddress = 0x60000000ull;          // 1.5 GiB: above the largest ballast
constexpr size_t kBallastChunk = 32u << 20;
constexpr size_t kBallastGap = 64u << 10;
constexpr size_t kHeaderOffset = 0x100;

uint32_t g_seed = 0x2468ACE1u;

uint8_t NextByte() {
    g_seed = g_seed * 1664525u + 1013904223u;
    return static_cast<uint8_t>(g_seed >> 24);
}

// Memory that looks like a program's: long runs of zeros, some text, some
// code-like bytes, and a fair number of 'S' bytes for the scan to reject.
void FillLikeProgramData(uint8_t* bytes, size_t size) {
    static const char kText[] = "SCORE SOUND SYSTEM STAGE SELECT SAVE STATE SHADER SETTINGS ";
    for (size_t at = 0; at < size; at += 4096) {
        uint8_t kind = NextByte() % 4;
        size_t end = at + 4096 < size ? at + 4096 : size;
        for (size_t i = at; i < end; ++i) {
            if (kind == 0) bytes[i] = 0;
            if (kind == 1) bytes[i] = static_cast<uint8_t>(kText[i % (sizeof kText - 1)]);
            if (kind >= 2) bytes[i] = NextByte();
        }
    }
}

// Space-padded text field of the cartridge header.
void PutField(uint8_t* at, const char* text, size_t width) {
    std::memset(at, ' ', width);
    std::memcpy(at, text, std::strlen(text) < width ? std::strlen(text) : width);
}

}  // namespace

uint64_t CartridgeRomAddress() { return kRomAddress; }

bool CartridgeMap(Cartridge& cartridge, uint32_t ballastMib) {
    size_t remaining = static_cast<size_t>(ballastMib) << 20;
    uint64_t address = kBallastAddress;
    while (remaining > 0) {
        size_t size = remaining < kBallastChunk ? remaining : kBallastChunk;
        void* chunk = StandinMapAt(address, size);
        if (chunk == nullptr) return false;
        FillLikeProgramData(static_cast<uint8_t*>(chunk), size);
        remaining -= size;
        address += kBallastChunk + kBallastGap;
    }
    if (address >= kRomAddress) return false;

    void* rom = StandinMapAt(kRomAddress, kRomSize);
    if (rom == nullptr) return false;
    cartridge.rom = static_cast<uint8_t*>(rom);
    for (size_t i = 0; i < kRomSize; ++i) cartridge.rom[i] = NextByte();
    return true;
}

void CartridgeSetHeader(Cartridge& cartridge, HeaderKind kind) {
    // The Mega Drive header from 0x100: system name, maker and date, domestic
    // and overseas names, serial and revision, checksum, I/O support.
    uint8_t* header = cartridge.rom + kHeaderOffset;
    PutField(header, "SEGA MEGA DRIVE", 16);
    if (kind == HeaderKind::Compilation) {
        PutField(header + 0x10, "(C)SEGA 1997.Jan", 16);
        PutField(header + 0x20, "SONIC COMPILATION", 48);
        PutField(header + 0x50, "SONIC COMPILATION", 48);
        PutField(header + 0x80, "GM MK-1190 -01", 14);
        header[0x8E] = 0x79;
        header[0x8F] = 0x5A;
    } else {
        PutField(header + 0x10, "(C)T-00 1993.SEP", 16);
        PutField(header + 0x20, "ANOTHER CARTRIDGE", 48);
        PutField(header + 0x50, "ANOTHER CARTRIDGE", 48);
        PutField(header + 0x80, "GM 00000000-00", 14);
        header[0x8E] = 0x12;
        header[0x8F] = 0x34;
    }
    PutField(header + 0x90, "J", 16);
}

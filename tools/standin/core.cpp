#include "tools/standin/core.h"

#include <cstdio>

#include "emulator/core_layout.h"
#include "tools/standin/platform.h"

namespace {

// The module's data: large enough that load address + 0x2A1060, with the whole
// RAM and the bytes read after it, lands inside it whatever the linker puts
// before it (a little code and a few pages of headers).
constexpr size_t kCoreDataSize = 0x400000;
constexpr size_t kReadBeyondRam = 64;   // identification reads 64 bytes from near the RAM's end
alignas(4096) uint8_t g_coreData[kCoreDataSize];

}  // namespace

extern "C" uint8_t* StandinCoreWorkRam(uint64_t offset, uint64_t* loadAddress, char* error, size_t errorSize) {
    const uint64_t base = StandinLoadAddressOf(static_cast<const void*>(g_coreData));
    if (base == 0) {
        std::snprintf(error, errorSize, "could not find the core's load address");
        return nullptr;
    }
    const uint64_t ram = base + offset;
    const uint64_t dataStart = reinterpret_cast<uint64_t>(g_coreData);
    const uint64_t dataEnd = dataStart + kCoreDataSize;
    *loadAddress = base;
    if (ram < dataStart || ram + kWorkRamSize + kReadBeyondRam > dataEnd) {
        std::snprintf(error, errorSize,
                      "load address 0x%llx + 0x%llx lies outside the core's data 0x%llx..0x%llx",
                      static_cast<unsigned long long>(base), static_cast<unsigned long long>(offset),
                      static_cast<unsigned long long>(dataStart), static_cast<unsigned long long>(dataEnd));
        return nullptr;
    }
    return reinterpret_cast<uint8_t*>(ram);
}

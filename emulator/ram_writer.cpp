#include "emulator/ram_writer.h"

namespace {

// True when the `size` bytes from 68000 address `address` lie in the buffer.
bool Covers(const RamWriter& ram, uint32_t address, uint32_t size) {
    // Byte pairs only line up with 68000 words when the buffer starts at an even address.
    if ((ram.firstAddress & 1u) != 0 || address < ram.firstAddress) return false;
    const uint32_t offset = address - ram.firstAddress;
    return size <= ram.size && offset <= ram.size - size;
}

// The 68000 stores a word high byte first; the core keeps it as a host word.
void PutWord(const RamWriter& ram, uint32_t address, uint16_t value) {
    const uint32_t offset = address - ram.firstAddress;
    ram.bytes[offset] = static_cast<uint8_t>(value);
    ram.bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t GetWord(const RamWriter& ram, uint32_t address) {
    const uint32_t offset = address - ram.firstAddress;
    return static_cast<uint16_t>(ram.bytes[offset] | ram.bytes[offset + 1] << 8);
}

}  // namespace

bool RamWriteByte(const RamWriter& ram, uint32_t address, uint8_t value) {
    if (!Covers(ram, address, 1)) return false;
    const uint32_t offset = address - ram.firstAddress;
    const uint32_t swapped = offset ^ 1u;
    if (swapped >= ram.size) return false;  // an odd-sized buffer's last byte has no partner
    ram.bytes[swapped] = value;
    return true;
}

bool RamWriteWord(const RamWriter& ram, uint32_t address, uint16_t value) {
    if ((address & 1u) != 0 || !Covers(ram, address, 2)) return false;
    PutWord(ram, address, value);
    return true;
}

bool RamWriteLong(const RamWriter& ram, uint32_t address, uint32_t value) {
    if ((address & 1u) != 0 || !Covers(ram, address, 4)) return false;
    PutWord(ram, address, static_cast<uint16_t>(value >> 16));
    PutWord(ram, address + 2, static_cast<uint16_t>(value));
    return true;
}

bool RamReadByte(const RamWriter& ram, uint32_t address, uint8_t* value) {
    if (!Covers(ram, address, 1)) return false;
    const uint32_t swapped = (address - ram.firstAddress) ^ 1u;
    if (swapped >= ram.size) return false;
    *value = ram.bytes[swapped];
    return true;
}

bool RamReadWord(const RamWriter& ram, uint32_t address, uint16_t* value) {
    if ((address & 1u) != 0 || !Covers(ram, address, 2)) return false;
    *value = GetWord(ram, address);
    return true;
}

bool RamReadLong(const RamWriter& ram, uint32_t address, uint32_t* value) {
    if ((address & 1u) != 0 || !Covers(ram, address, 4)) return false;
    *value = uint32_t{GetWord(ram, address)} << 16 | GetWord(ram, address + 2);
    return true;
}

#include "tools/ram/ram_writer.h"

namespace {

// True when the `size` bytes from 68000 address `address` lie in the buffer
// and, for words and longs, the address is even.
bool Covers(const RamWriter& ram, uint32_t address, uint32_t size) {
    // Byte pairs only line up with 68000 words when the buffer starts at an even address.
    if ((ram.firstAddress & 1u) != 0 || address < ram.firstAddress) return false;
    if (size > 1 && (address & 1u) != 0) return false;
    const uint32_t offset = address - ram.firstAddress;
    if (size > ram.size || offset > ram.size - size) return false;
    // An odd-sized buffer's last byte has no partner.
    return size > 1 || CoreOffset(address, 1, ram.firstAddress) < ram.size;
}

uint32_t At(const RamWriter& ram, uint32_t address, uint32_t width) {
    return CoreOffset(address, width, ram.firstAddress);
}

}  // namespace

bool RamWriteByte(const RamWriter& ram, uint32_t address, uint8_t value) {
    if (!Covers(ram, address, 1)) return false;
    ram.bytes[At(ram, address, 1)] = value;
    return true;
}

bool RamWriteWord(const RamWriter& ram, uint32_t address, uint16_t value) {
    if (!Covers(ram, address, 2)) return false;
    CoreStoreWord(ram.bytes, At(ram, address, 2), value);
    return true;
}

bool RamWriteLong(const RamWriter& ram, uint32_t address, uint32_t value) {
    if (!Covers(ram, address, 4)) return false;
    CoreStoreLong(ram.bytes, At(ram, address, 4), value);
    return true;
}

bool RamWrite(const RamWriter& ram, uint32_t address, uint32_t width, uint32_t value) {
    switch (width) {
        case 1: return RamWriteByte(ram, address, static_cast<uint8_t>(value));
        case 2: return RamWriteWord(ram, address, static_cast<uint16_t>(value));
        case 4: return RamWriteLong(ram, address, value);
        default: return false;
    }
}

bool RamReadByte(const RamWriter& ram, uint32_t address, uint8_t* value) {
    if (!Covers(ram, address, 1)) return false;
    *value = ram.bytes[At(ram, address, 1)];
    return true;
}

bool RamReadWord(const RamWriter& ram, uint32_t address, uint16_t* value) {
    if (!Covers(ram, address, 2)) return false;
    *value = static_cast<uint16_t>(CoreLoadWord(ram.bytes, At(ram, address, 2)));
    return true;
}

bool RamReadLong(const RamWriter& ram, uint32_t address, uint32_t* value) {
    if (!Covers(ram, address, 4)) return false;
    *value = CoreLoadLong(ram.bytes, At(ram, address, 4));
    return true;
}

uint32_t RamRead(const RamWriter& ram, uint32_t address, uint32_t width) {
    uint8_t byte = 0;
    uint16_t word = 0;
    uint32_t value = 0;
    switch (width) {
        case 1: return RamReadByte(ram, address, &byte) ? byte : 0;
        case 2: return RamReadWord(ram, address, &word) ? word : 0;
        case 4: return RamReadLong(ram, address, &value) ? value : 0;
        default: return 0;
    }
}

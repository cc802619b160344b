#include "tools/ram/ram_writer.h"

namespace {

uint32_t At(const RamWriter& ram, uint32_t address, uint32_t width);

// True when the `size` bytes from 68000 address `address` lie in the buffer
// and, for words and longs, the address is even.
bool Covers(const RamWriter& ram, uint32_t address, uint32_t size) {
    // Byte pairs only line up with 68000 words when the buffer starts at an even address.
    if ((ram.firstAddress & 1u) != 0 || address < ram.firstAddress) return false;
    if (size > 1 && (address & 1u) != 0) return false;
    const uint32_t offset = address - ram.firstAddress;
    if (size > ram.size || offset > ram.size - size) return false;
    // An odd-sized buffer's last byte has no partner.
    return size > 1 || At(ram, address, 1) < ram.size;
}

uint32_t At(const RamWriter& ram, uint32_t address, uint32_t width) {
    return RamOffset(address, width, ram.firstAddress, ram.order);
}

bool Big(const RamWriter& ram) { return ram.order == RamByteOrder::BigEndian; }

void StoreWord(const RamWriter& ram, uint32_t offset, uint16_t value) {
    if (!Big(ram)) {
        CoreStoreWord(ram.bytes, offset, value);
        return;
    }
    ram.bytes[offset] = static_cast<uint8_t>(value >> 8);
    ram.bytes[offset + 1] = static_cast<uint8_t>(value);
}

uint32_t LoadWord(const RamWriter& ram, uint32_t offset) {
    return Big(ram) ? RamLoadWord<RamByteOrder::BigEndian>(ram.bytes, offset) : CoreLoadWord(ram.bytes, offset);
}

}  // namespace

bool RamWriteByte(const RamWriter& ram, uint32_t address, uint8_t value) {
    if (!Covers(ram, address, 1)) return false;
    ram.bytes[At(ram, address, 1)] = value;
    return true;
}

bool RamWriteWord(const RamWriter& ram, uint32_t address, uint16_t value) {
    if (!Covers(ram, address, 2)) return false;
    StoreWord(ram, At(ram, address, 2), value);
    return true;
}

bool RamWriteLong(const RamWriter& ram, uint32_t address, uint32_t value) {
    if (!Covers(ram, address, 4)) return false;
    const uint32_t offset = At(ram, address, 4);
    StoreWord(ram, offset, static_cast<uint16_t>(value >> 16));
    StoreWord(ram, offset + 2, static_cast<uint16_t>(value));
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
    *value = static_cast<uint16_t>(LoadWord(ram, At(ram, address, 2)));
    return true;
}

bool RamReadLong(const RamWriter& ram, uint32_t address, uint32_t* value) {
    if (!Covers(ram, address, 4)) return false;
    const uint32_t offset = At(ram, address, 4);
    *value = LoadWord(ram, offset) << 16 | LoadWord(ram, offset + 2);
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

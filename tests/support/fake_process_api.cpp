#include "support/fake_process_api.h"

#include <algorithm>
#include <cstring>

#include "emulator/core_layout.h"

namespace {

FakeSystem* g_system = nullptr;
int g_snapshotToken;
int g_processToken;
size_t g_nextEntry = 0;

ProcessSnapshotHandle SnapshotTake() {
    if (g_system->snapshotFails) return nullptr;
    ++g_system->snapshotsOpen;
    return &g_snapshotToken;
}

bool SnapshotFirst(ProcessSnapshotHandle, ProcessEntry* entry) {
    g_nextEntry = 0;
    if (g_system->firstFails || g_system->processes.empty()) return false;
    *entry = g_system->processes[g_nextEntry++];
    return true;
}

bool SnapshotNext(ProcessSnapshotHandle, ProcessEntry* entry) {
    if (g_nextEntry >= g_system->processes.size()) return false;
    *entry = g_system->processes[g_nextEntry++];
    return true;
}

void SnapshotClose(ProcessSnapshotHandle) { --g_system->snapshotsOpen; }

ProcessHandle Open(uint32_t processId) {
    g_system->openedProcessIds.push_back(processId);
    if (g_system->openFails) return nullptr;   // with readError as the reason
    ++g_system->handlesOpen;
    return &g_processToken;
}

void Close(ProcessHandle) { --g_system->handlesOpen; }

bool EnumModules(ProcessHandle, ModuleHandle* modules, uint32_t arrayBytes, uint32_t* bytesNeeded) {
    if (g_system->enumFails) return false;
    size_t capacity = arrayBytes / sizeof(ModuleHandle);
    for (size_t i = 0; i < g_system->modules.size() && i < capacity; ++i) modules[i] = g_system->modules[i].base;
    *bytesNeeded = static_cast<uint32_t>(g_system->modules.size() * sizeof(ModuleHandle)) + g_system->extraBytesNeeded;
    return true;
}

const FakeModule* ModuleAt(ModuleHandle module) {
    for (const FakeModule& candidate : g_system->modules)
        if (candidate.base == module) return &candidate;
    return nullptr;
}

uint32_t ModuleFileName(ProcessHandle, ModuleHandle module, char* path, uint32_t size) {
    g_system->moduleNameCalls.push_back(module);
    const FakeModule* found = ModuleAt(module);
    if (found == nullptr || found->nameFails || size == 0) return 0;
    size_t length = std::min<size_t>(found->path.size(), size - 1);
    std::memcpy(path, found->path.data(), length);
    path[length] = '\0';
    return static_cast<uint32_t>(length);
}

bool ModuleInformation(ProcessHandle, ModuleHandle module, ModuleInfo* info) {
    if (g_system->moduleInfoFails || ModuleAt(module) == nullptr) return false;
    *info = {module, g_system->imageSize, module + 0x1000};
    return true;
}

bool QueryRegion(ProcessHandle, uint64_t address, MemoryRegion* region) {
    ++g_system->queries;
    if (address == 0) ++g_system->walks;
    if (g_system->queryFails || address >= g_system->queryFailsFrom) return false;
    uint64_t page = address & ~uint64_t{0xFFF};
    for (const FakeRegion& candidate : g_system->regions) {
        if (candidate.size == 0 && candidate.base == page) {   // a broken list, as no OS gives it
            *region = {page, 0, candidate.state, candidate.protect};
            return true;
        }
        if (candidate.base + candidate.size <= page) continue;
        if (candidate.base <= page) {
            *region = {page, candidate.base + candidate.size - page, candidate.state, candidate.protect};
        } else {
            *region = {page, candidate.base - page, kMemFree, 0};
        }
        return true;
    }
    return false;
}

bool ReadMemory(ProcessHandle, uint64_t address, void* buffer, size_t size) {
    ++g_system->reads;
    if (g_system->readFails) return false;
    for (const FakeRegion& region : g_system->regions) {
        if (address < region.base || address + size > region.base + region.size) continue;
        if (region.readFails || region.state != kMemCommit || region.protect == kPageNoAccess) return false;
        uint8_t* out = static_cast<uint8_t*>(buffer);
        uint64_t offset = address - region.base;
        for (size_t i = 0; i < size; ++i) {
            uint64_t at = offset + i;
            out[i] = at < region.bytes.size() ? region.bytes[at] : 0;
        }
        g_system->bytesRead += size;
        g_system->readsDone.push_back({address, size});
        return true;
    }
    return false;
}

int LastError() { return g_system->readError; }

uint64_t AddressLimit(ProcessHandle) { return g_system->addressLimit; }

const ProcessApi kFakeApi = {SnapshotTake, SnapshotFirst, SnapshotNext,      SnapshotClose,
                             Open,         Close,         EnumModules,       ModuleFileName,
                             ModuleInformation, QueryRegion, ReadMemory,     LastError,
                             AddressLimit};

ProcessEntry Entry(uint32_t processId, const char* name) {
    ProcessEntry entry{};
    entry.processId = processId;
    std::strncpy(entry.exeFile, name, sizeof entry.exeFile - 1);
    return entry;
}

}  // namespace

const ProcessApi& FakeProcessApi(FakeSystem& system) {
    g_system = &system;
    return kFakeApi;
}

std::string FakeModulePath(const char* fileName) {
    std::string path;
    for (const char* part : {"games", "RetroArch", "cores"}) {
        path += kModulePathSeparator;
        path += part;
    }
    return path + kModulePathSeparator + fileName;
}

FakeRegion FakeCoreRegion(uint64_t base, bool signature, uint64_t ramOffset) {
    FakeRegion region{base, std::max<uint64_t>(0x300000, ramOffset + kWorkRamSize + 0x1000), kMemCommit,
                      kPageReadWrite, false, {}};
    region.bytes.assign(ramOffset + kWorkRamSize + 0x1000, 0);
    if (signature) {
        std::memcpy(region.bytes.data() + ramOffset + kSignatureRamOffset, kRamSignature, kSignatureSize);
    }
    return region;
}

FakeRegion FakeRomRegion(uint64_t base, uint64_t size, int64_t offset, bool swapped) {
    FakeRegion region{base, size, kMemCommit, kPageReadOnly, false, {}};
    region.bytes.assign(size, 'S');
    for (uint64_t i = 0; i < size; i += 7) region.bytes[i] = static_cast<uint8_t>(i);
    if (offset >= 0) {
        std::memcpy(region.bytes.data() + offset, kHeaderPattern, kHeaderPatternSize);
        // The core swaps every byte pair of the cartridge, the header's at 0x100 (even) included.
        for (int64_t i = offset; swapped && i < offset + kHeaderPatternSize; i += 2)
            std::swap(region.bytes[i], region.bytes[i + 1]);
    }
    return region;
}

void FakeEmulator(FakeSystem& system, const FakeEmulatorSetup& setup) {
    system.processes = {Entry(0, "[System Process]"), Entry(17, "explorer.exe"), Entry(4242, kEmulatorProcessName),
                        Entry(5000, "notepad.exe")};
    system.modules = {{0x7FF700000000ull, FakeModulePath(kEmulatorProcessName), false},
                      {0x7FFA10000000ull, FakeModulePath("kernel32.dll"), false},
                      {setup.coreBase, FakeModulePath(kCoreModuleName), false}};
    system.regions = {FakeRomRegion(setup.romBase, 0x10000, setup.header ? 0x100 : -1),
                      FakeCoreRegion(setup.coreBase, setup.signature, setup.ramOffset)};
    system.imageSize = static_cast<uint32_t>(std::max<uint64_t>(0x400000, system.regions.back().size));
}

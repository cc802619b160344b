#include "support/fake_process_api.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/core_layout.h"

namespace {

FakeSystem* g_system = nullptr;
int g_processToken;

bool Failing(const ProcessResult& result) { return result.status != ProcessStatus::Ok; }

ProcessResult Find(const char* const* names, int count, uint32_t* processId, int* which) {
    if (Failing(g_system->findFailure)) return g_system->findFailure;
    for (size_t p = 1; p < g_system->processes.size(); ++p) {
        for (int i = 0; i < count; ++i) {
            if (g_system->processes[p].name != names[i]) continue;
            *processId = g_system->processes[p].id;
            *which = i;
            return kFakeOk;
        }
    }
    return {ProcessStatus::Gone, 18};   // ERROR_NO_MORE_FILES
}

ProcessResult Open(uint32_t processId, ProcessHandle* process) {
    g_system->openedProcessIds.push_back(processId);
    *process = nullptr;
    if (Failing(g_system->openFailure)) return g_system->openFailure;
    ++g_system->handlesOpen;
    *process = &g_processToken;
    return kFakeOk;
}

void Close(ProcessHandle) { --g_system->handlesOpen; }

ProcessResult FindModule(ProcessHandle, const char* fileName, ModuleImage* image) {
    std::memset(image, 0, sizeof *image);
    if (Failing(g_system->moduleFailure)) return g_system->moduleFailure;
    const size_t count = std::min<size_t>(g_system->modules.size(), kModuleListCapacity);
    for (size_t i = 0; i < count; ++i) {
        const FakeModule& module = g_system->modules[i];
        if (module.nameFails) {
            image->unnamed[i / 64] |= uint64_t{1} << (i % 64);
            continue;
        }
        if (module.path.substr(module.path.rfind('/') + 1) != fileName) continue;
        std::snprintf(image->path, sizeof image->path, "%s", module.path.c_str());
        if (g_system->moduleInfoFails) return {ProcessStatus::Gone, 299};
        image->base = module.base;
        image->size = g_system->imageSize;
        return kFakeOk;
    }
    return kFakeOk;
}

ProcessResult ListReadable(ProcessHandle, uint64_t from, uint64_t to, MemoryRange* ranges, int capacity, int* count) {
    *count = 0;
    if (from == 0) ++g_system->walks;
    if (Failing(g_system->listFailure)) return g_system->listFailure;
    if (g_system->listRepeats) {   // a broken list, as no OS gives it
        for (*count = 0; *count < capacity; ++*count) ranges[*count] = {from, 0, false};
        return kFakeOk;
    }
    to = std::min({to, g_system->addressLimit, g_system->listEndsAt});
    for (const FakeRegion& region : g_system->regions) {
        if (*count == capacity || region.base >= to) break;
        if (region.base + region.size <= from || !region.readable) continue;
        const uint64_t base = std::max(region.base, from);
        ranges[(*count)++] = {base, std::min(region.base + region.size, to) - base, region.privateWritable};
    }
    return kFakeOk;
}

ProcessResult Read(ProcessHandle, uint64_t address, void* buffer, size_t size) {
    ++g_system->reads;
    if (g_system->beforeRead) g_system->beforeRead();
    if (Failing(g_system->readFailure)) return g_system->readFailure;
    for (FakeRegion& region : g_system->regions) {
        if (address < region.base || address + size > region.base + region.size) continue;
        if (region.readFails || !region.readable) break;
        for (uint64_t at : g_system->steppingBytes) {
            if (at < address || at >= address + size) continue;
            if (region.bytes.size() <= at - region.base) region.bytes.resize(at - region.base + 1, 0);
            ++region.bytes[at - region.base];
        }
        uint8_t* out = static_cast<uint8_t*>(buffer);
        uint64_t offset = address - region.base;
        for (size_t i = 0; i < size; ++i) {
            uint64_t at = offset + i;
            out[i] = at < region.bytes.size() ? region.bytes[at] : 0;
        }
        g_system->bytesRead += size;
        g_system->readsDone.push_back({address, size});
        return kFakeOk;
    }
    return {ProcessStatus::Unreadable, 299};   // ERROR_PARTIAL_COPY
}

const ProcessApi kFakeApi = {Find, Open, Close, FindModule, ListReadable, Read};

}  // namespace

const ProcessApi& FakeProcessApi(FakeSystem& system) {
    g_system = &system;
    return kFakeApi;
}

uint64_t FakeClock() { return g_system->clock; }

std::string FakeModulePath(const char* fileName) { return std::string("/games/RetroArch/cores/") + fileName; }

FakeRegion FakeCoreRegion(uint64_t base, bool signature, uint64_t ramOffset) {
    FakeRegion region{base, std::max<uint64_t>(0x300000, ramOffset + kWorkRamSize + 0x1000), true, false, {}};
    region.bytes.assign(ramOffset + kWorkRamSize + 0x1000, 0);
    if (signature) {
        std::memcpy(region.bytes.data() + ramOffset + kSignatureRamOffset, kRamSignature, kSignatureSize);
    }
    return region;
}

FakeRegion FakeRomRegion(uint64_t base, uint64_t size, int64_t offset, bool swapped) {
    FakeRegion region{base, size, true, false, {}};
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
    system.processes = {
        {0, "[System Process]"}, {17, "explorer.exe"}, {4242, kEmulatorProcessName}, {5000, "notepad.exe"}};
    system.modules = {{0x7FF700000000ull, FakeModulePath(kEmulatorProcessName), false},
                      {0x7FFA10000000ull, FakeModulePath("kernel32.dll"), false},
                      {setup.coreBase, FakeModulePath(kCoreModuleName), false}};
    system.regions = {FakeRomRegion(setup.romBase, 0x10000, setup.header ? 0x100 : -1),
                      FakeCoreRegion(setup.coreBase, setup.signature, setup.ramOffset)};
    system.imageSize = std::max<uint64_t>(0x400000, system.regions.back().size);
}

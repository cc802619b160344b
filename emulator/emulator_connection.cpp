#include "emulator/emulator_connection.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emulator/header_search.h"
#include "emulator/work_ram_search.h"
#include "platform/clock.h"

const ProcessApi kPlatformProcessApi = {
    ProcessSnapshotTake,      ProcessSnapshotFirst, ProcessSnapshotNext, ProcessSnapshotClose,
    ProcessOpen,              ProcessClose,         ProcessEnumModules,  ProcessModuleFileName,
    ProcessModuleInformation, ProcessQueryRegion,   ProcessReadMemory,   ProcessLastError,
    ProcessAddressLimit,
};

const EmulatorNames* EmulatorCandidates(int* count) {
    static const EmulatorNames kWindows[] = {{kEmulatorProcessName, kCoreModuleName}};
    static const EmulatorNames kLinux[] = {{kLinuxEmulatorProcessName, kLinuxCoreModuleName},
                                           {kEmulatorProcessName, kCoreModuleName}};
    *count = kWindowsProgramNames ? 1 : 2;
    return kWindowsProgramNames ? kWindows : kLinux;
}

namespace {

constexpr uint32_t kSignatureHeadSize = 8;   // "init" and 0x00020000, compared first
constexpr uint32_t kWindowStartInRam = kWindowRamOffset;

enum class ScanResult { Done, LostConnection };

// The signature is compared in two pieces, as the game's own check does.
bool SignatureMatches(const uint8_t* bytes) {
    return std::memcmp(bytes, kRamSignature, kSignatureHeadSize) == 0 &&
           std::memcmp(bytes + kSignatureHeadSize, kRamSignature + kSignatureHeadSize,
                       kSignatureSize - kSignatureHeadSize) == 0;
}

// The text after the last path separator, or the whole path.
const char* FileNameOf(const char* path) {
    const char* separator = std::strrchr(path, kModulePathSeparator);
    return separator != nullptr ? separator + 1 : path;
}

void CloseProcess(EmulatorLink& link) {
    if (link.connection.process != nullptr) link.api->close(link.connection.process);
    link.connection.process = nullptr;
}

void ReportFindFailure(EmulatorLink& link, LogBuffer& log) {
    LogAppend(log, ClockNow(), "ERROR: Could not find process '%s'.", link.connection.processNamesText);
}

// The OS refused to let this program read the emulator (on Linux: no ptrace
// permission): said once per attempt, with what the player can do about it.
void ReportAccessDenied(LogBuffer& log, const char* processName, int error) {
    LogAppend(log, ClockNow(), "ERROR: Not allowed to read process '%s' (error %d). %s", processName, error,
              ProcessAccessFixes());
}

// A read of the emulator's memory failed: the emulator is gone, or this
// program may no longer read it.
void ReportReadFailure(EmulatorLink& link, LogBuffer& log, int error) {
    if (ProcessErrorIsAccessDenied(error, false)) {
        ReportAccessDenied(log, link.connection.processName, error);
    } else {
        LogAppend(log, ClockNow(), "ReadProcessMemory failed with error code '%d' -- Disconnecting from %s", error,
                  link.connection.processName);
    }
}

// The 60 MiB buffer through which one identification reads the emulator's
// memory, allocated on first use and released when FindGame returns.
struct ScanBuffer {
    uint8_t* bytes = nullptr;
    bool failed = false;
    ScanBuffer() = default;
    ScanBuffer(const ScanBuffer&) = delete;
    ScanBuffer& operator=(const ScanBuffer&) = delete;
    ~ScanBuffer() { std::free(bytes); }
};

uint8_t* ScanBufferGet(ScanBuffer& buffer, LogBuffer& log) {
    if (buffer.bytes == nullptr && !buffer.failed) {
        // calloc: zero-filled pages that cost nothing until a read fills them.
        buffer.bytes = static_cast<uint8_t*>(std::calloc(kScanBufferSize, 1));
        buffer.failed = buffer.bytes == nullptr;
        if (buffer.failed) {
            LogAppend(log, ClockNow(), "ERROR: Could not allocate %u bytes for the header scan.", kScanBufferSize);
        }
    }
    return buffer.bytes;
}

// Walks the emulator's memory up to the top of its user address space, region
// by region, for the cartridge header, reading at most the first 60 MiB of
// each committed, accessible region.
ScanResult HeaderScan(EmulatorLink& link, LogBuffer& log, ScanBuffer& scanBuffer) {
    EmulatorConnection& connection = link.connection;
    uint8_t* buffer = ScanBufferGet(scanBuffer, log);
    if (buffer == nullptr) return ScanResult::Done;
    const uint64_t limit = link.api->addressLimit(connection.process);
    uint64_t address = 0;
    for (;;) {
        MemoryRegion region{};
        if (!link.api->queryRegion(connection.process, address, &region)) {
            if (address == 0) {
                const int error = link.api->lastError();
                if (ProcessErrorIsAccessDenied(error, false)) {
                    ReportAccessDenied(log, connection.processName, error);
                } else {
                    LogAppend(log, ClockNow(), "Lost connection to '%s' -- Disconnecting", connection.processName);
                }
                return ScanResult::LostConnection;
            }
            break;
        }
        if (region.state == kMemCommit && region.protect != kPageNoAccess) {
            size_t size = region.regionSize < kScanBufferSize ? static_cast<size_t>(region.regionSize)
                                                               : size_t{kScanBufferSize};
            if (link.api->readMemory(connection.process, region.baseAddress, buffer, size)) {
                if (FindHeaderPattern(buffer, size) != kHeaderNotFound) {
                    connection.headerFound = 1;
                    break;
                }
            }
        }
        uint64_t next = region.baseAddress + region.regionSize;
        // A region that doesn't move the walk on (or wraps) would loop forever.
        if (next <= address || next >= limit) break;
        address = next;
    }
    return ScanResult::Done;
}

// Where the signature lies: at the load address + 0x2A1060 + 65500 in the
// builds long in use, read first whatever the image's extent says (the core's
// zero-filled data may be in several mappings, and the extent can end before
// it), or else wherever in the image a build keeps work RAM. Sets ramBase to
// the work RAM found. A probe that can't be read only means that nothing is
// there; ReadFailed is kept for an emulator that is gone or refuses reads.
enum class SignatureResult { Found, Missing, ReadFailed };

SignatureResult LocateSignature(EmulatorLink& link, LogBuffer& log, ScanBuffer& scanBuffer) {
    EmulatorConnection& connection = link.connection;
    uint8_t probe[kSignatureProbeSize];
    if (link.api->readMemory(connection.process, connection.ramBase + kSignatureRamOffset, probe, sizeof probe)) {
        if (SignatureMatches(probe)) return SignatureResult::Found;
    } else {
        const int error = link.api->lastError();
        MemoryRegion region{};
        // As in the header scan, a process that answers no query of address
        // 0 has ended.
        if (ProcessErrorIsAccessDenied(error, false) || !link.api->queryRegion(connection.process, 0, &region)) {
            ReportReadFailure(link, log, error);
            return SignatureResult::ReadFailed;
        }
    }
    uint8_t* buffer = ScanBufferGet(scanBuffer, log);
    uint64_t ramBase = 0;
    if (buffer == nullptr || !SearchWorkRam(*link.api, connection.process, connection.coreBase, connection.coreSize,
                                            buffer, kScanBufferSize, &ramBase)) {
        return SignatureResult::Missing;
    }
    connection.ramBase = ramBase;
    if (ramBase - connection.coreBase != kWorkRamOffsetInModule) {
        LogAppend(log, ClockNow(), "Work RAM found at core + 0x%" PRIX64, ramBase - connection.coreBase);
    }
    return SignatureResult::Found;
}

}  // namespace

void EmulatorLinkReset(EmulatorLink& link, const ProcessApi& api) {
    std::memset(&link.connection, 0, sizeof link.connection);
    std::memset(&link.scratch, 0, sizeof link.scratch);
    link.attached = false;
    link.identified = false;
    link.clearedReads = 0;
    link.api = &api;
    int count = 0;
    const EmulatorNames* candidates = EmulatorCandidates(&count);
    link.connection.processName = candidates[0].process;
    link.connection.moduleName = candidates[0].module;
    char* text = link.connection.processNamesText;
    const size_t size = sizeof link.connection.processNamesText;
    size_t used = 0;
    for (int i = 0; i < count && used < size; ++i) {
        const int wrote = std::snprintf(text + used, size - used, "%s%s", i == 0 ? "" : "' or '", candidates[i].process);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
}

void Attach(EmulatorLink& link, LogBuffer& log) {
    const ProcessApi& api = *link.api;
    EmulatorConnection& connection = link.connection;
    AttachScratch& scratch = link.scratch;

    ProcessSnapshotHandle snapshot = api.snapshotTake();
    if (snapshot == nullptr) {
        LogAppend(log, ClockNow(), "Could not get handle snapshot.");
        ReportFindFailure(link, log);
        return;
    }
    // The first entry is the system's own and is never compared.
    ProcessEntry entry{};
    if (!api.snapshotFirst(snapshot, &entry)) {
        api.snapshotClose(snapshot);
        ReportFindFailure(link, log);
        return;
    }
    int candidateCount = 0;
    const EmulatorNames* candidates = EmulatorCandidates(&candidateCount);
    const EmulatorNames* found = nullptr;
    while (found == nullptr) {
        if (!api.snapshotNext(snapshot, &entry)) {
            api.snapshotClose(snapshot);
            ReportFindFailure(link, log);
            return;
        }
        entry.exeFile[kProcessNameSize - 1] = '\0';
        for (int i = 0; i < candidateCount && found == nullptr; ++i) {
            if (std::strcmp(entry.exeFile, candidates[i].process) == 0) found = &candidates[i];
        }
    }
    connection.processName = found->process;
    connection.moduleName = found->module;
    connection.process = api.open(entry.processId);
    const int openError = connection.process == nullptr ? api.lastError() : 0;
    api.snapshotClose(snapshot);
    if (connection.process == nullptr) {
        if (ProcessErrorIsAccessDenied(openError, true)) {
            ReportAccessDenied(log, connection.processName, openError);
        } else {
            ReportFindFailure(link, log);
        }
        return;
    }

    std::memset(&scratch.moduleInfo, 0, sizeof scratch.moduleInfo);
    uint32_t bytesNeeded = 0;
    if (!api.enumModules(connection.process, scratch.modules, sizeof scratch.modules, &bytesNeeded)) {
        LogAppend(log, ClockNow(), "ERROR: Could not enumerate '%s' modules.", connection.processName);
        CloseProcess(link);
        return;
    }
    uint32_t moduleCount = bytesNeeded / sizeof(ModuleHandle);
    if (moduleCount > kModuleHandleCapacity) moduleCount = kModuleHandleCapacity;

    for (uint32_t i = 0; i < moduleCount; ++i) {
        std::memset(scratch.modulePath, 0, sizeof scratch.modulePath);
        uint32_t length = api.moduleFileName(connection.process, scratch.modules[i], scratch.modulePath,
                                             kModulePathSize);
        if (length == 0) {
            LogAppend(log, ClockNow(), "WARNING: Could not get module name for index %i in %s", static_cast<int>(i),
                      connection.processName);
            continue;
        }
        scratch.modulePath[kModulePathSize - 1] = '\0';
        const char* fileName = FileNameOf(scratch.modulePath);
        if (std::strcmp(fileName, connection.moduleName) != 0) continue;

        if (!api.moduleInformation(connection.process, scratch.modules[i], &scratch.moduleInfo)) {
            LogAppend(log, ClockNow(), "ERROR: Could not get module information for %s", fileName);
            CloseProcess(link);
            return;
        }
        LogAppend(log, ClockNow(), "SUCCESS: Loaded %s in %s.", scratch.modulePath, connection.processName);
        connection.coreBase = scratch.moduleInfo.baseOfDll;
        connection.coreSize = scratch.moduleInfo.sizeOfImage;
        connection.ramBase = connection.coreBase + kWorkRamOffsetInModule;
        link.attached = true;
        IdentifyGame(link, log);
        return;
    }

    LogAppend(log, ClockNow(), "WARNING: %s did not have module %s loaded. Retrying.", connection.processName,
              connection.moduleName);
    CloseProcess(link);
}

namespace {

enum class FindGameResult { Found, NotIdentified, LostConnection };

// The header scan unless the header was found before, then the RAM signature;
// on Found the window is set up.
FindGameResult FindGame(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    ScanBuffer scanBuffer;
    if (connection.headerFound == 0) {
        if (HeaderScan(link, log, scanBuffer) == ScanResult::LostConnection) return FindGameResult::LostConnection;
        if (connection.headerFound == 0) {
            LogAppend(log, ClockNow(), "Unknown game");
            return FindGameResult::NotIdentified;
        }
    }

    switch (LocateSignature(link, log, scanBuffer)) {
    case SignatureResult::ReadFailed:
        return FindGameResult::LostConnection;
    case SignatureResult::Missing:
        LogAppend(log, ClockNow(),
                  "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation");
        return FindGameResult::NotIdentified;
    case SignatureResult::Found:
        break;
    }
    LogAppend(log, ClockNow(), "Game found: Sonic 2");

    connection.ramBase += kWindowStartInRam;
    std::memset(connection.windowStorage, 0, sizeof connection.windowStorage);
    connection.window = connection.windowStorage;
    connection.windowSize = kWindowSize;
    return FindGameResult::Found;
}

}  // namespace

void IdentifyGame(EmulatorLink& link, LogBuffer& log) {
    switch (FindGame(link, log)) {
    case FindGameResult::Found:
        link.identified = true;
        break;
    case FindGameResult::NotIdentified:
        // Scan again on the next pass: the cartridge may have changed.
        link.connection.headerFound = 0;
        break;
    case FindGameResult::LostConnection:
        Disconnect(link);
        break;
    }
}

namespace {

// A window of nothing but zeros: work RAM cleared.
bool WindowCleared(const uint8_t* window, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (window[i] != 0) return false;
    }
    return true;
}

}  // namespace

ReadWindowResult ReadWindow(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    if (!link.api->readMemory(connection.process, connection.ramBase, connection.window, connection.windowSize)) {
        ReportReadFailure(link, log, link.api->lastError());
        return ReadWindowResult::ReadFailed;
    }
    if (SignatureMatches(connection.window + kSignatureWindowOffset)) {
        link.clearedReads = 0;
        return ReadWindowResult::WindowGood;
    }
    // A state loaded into the core, or a reset of the console, clears work
    // RAM before the state's is copied in or the game starts again: a read in
    // between finds nothing but zeros. The game is taken for gone only when
    // the RAM stays cleared.
    if (link.clearedReads < kClearedReadsMax && WindowCleared(connection.window, connection.windowSize)) {
        ++link.clearedReads;
        return ReadWindowResult::RamCleared;
    }
    link.clearedReads = 0;
    LogAppend(log, ClockNow(), "Unknown checksum at end of RAM");
    return ReadWindowResult::SignatureMismatch;
}

void Disconnect(EmulatorLink& link) {
    EmulatorConnection& connection = link.connection;
    connection.window = nullptr;
    connection.windowSize = 0;
    connection.ramBase = 0;
    connection.coreBase = 0;
    connection.coreSize = 0;
    CloseProcess(link);
    link.attached = false;
    link.identified = false;
}

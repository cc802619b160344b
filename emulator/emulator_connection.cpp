#include "emulator/emulator_connection.h"

#include <cstdlib>
#include <cstring>

#include "emulator/header_search.h"
#include "platform/clock.h"

const ProcessApi kPlatformProcessApi = {
    ProcessSnapshotTake,     ProcessSnapshotFirst,     ProcessSnapshotNext, ProcessSnapshotClose,
    ProcessOpen,             ProcessClose,             ProcessEnumModules,  ProcessModuleFileName,
    ProcessModuleInformation, ProcessQueryRegion,      ProcessReadMemory,   ProcessLastError,
};

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
    LogAppend(log, ClockNow(), "ERROR: Could not find process '%s'.", link.connection.processName);
}

// Walks the emulator's memory below 2^44, region by region, for the cartridge
// header, reading at most the first 60 MiB of each committed, accessible region.
ScanResult HeaderScan(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    HeaderScanFigures& figures = link.scanFigures;
    ++figures.scans;
    figures.regionsQueried = 0;
    figures.regionsRead = 0;
    figures.bytesRead = 0;

    // calloc: zero-filled pages that cost nothing until a read fills them.
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(kScanBufferSize, 1));
    if (buffer == nullptr) {
        LogAppend(log, ClockNow(), "ERROR: Could not allocate %u bytes for the header scan.", kScanBufferSize);
        return ScanResult::Done;
    }
    uint64_t address = 0;
    for (;;) {
        MemoryRegion region{};
        if (!link.api->queryRegion(connection.process, address, &region)) {
            if (address == 0) {
                LogAppend(log, ClockNow(), "Lost connection to '%s' -- Disconnecting", connection.processName);
                std::free(buffer);
                return ScanResult::LostConnection;
            }
            break;
        }
        ++figures.regionsQueried;
        if (region.state == kMemCommit && region.protect != kPageNoAccess) {
            size_t size = region.regionSize < kScanBufferSize ? static_cast<size_t>(region.regionSize)
                                                               : size_t{kScanBufferSize};
            if (link.api->readMemory(connection.process, region.baseAddress, buffer, size)) {
                ++figures.regionsRead;
                figures.bytesRead += size;
                if (FindHeaderPattern(buffer, size) != kHeaderNotFound) {
                    connection.headerFound = 1;
                    break;
                }
            }
        }
        uint64_t next = region.baseAddress + region.regionSize;
        // A region that doesn't move the walk on (or wraps) would loop forever.
        if (next <= address || next >= kScanAddressLimit) break;
        address = next;
    }
    std::free(buffer);
    return ScanResult::Done;
}

}  // namespace

void EmulatorLinkReset(EmulatorLink& link, const ProcessApi& api) {
    std::memset(&link.connection, 0, sizeof link.connection);
    std::memset(&link.scratch, 0, sizeof link.scratch);
    link.scanFigures = {};
    link.attached = false;
    link.identified = false;
    link.api = &api;
    link.connection.processName = kEmulatorProcessName;
    link.connection.moduleName = kCoreModuleName;
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
    for (;;) {
        if (!api.snapshotNext(snapshot, &entry)) {
            api.snapshotClose(snapshot);
            ReportFindFailure(link, log);
            return;
        }
        entry.exeFile[kProcessNameSize - 1] = '\0';
        if (std::strcmp(entry.exeFile, connection.processName) == 0) break;
    }
    connection.process = api.open(entry.processId);
    api.snapshotClose(snapshot);
    if (connection.process == nullptr) {
        ReportFindFailure(link, log);
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
        connection.ramBase = scratch.moduleInfo.baseOfDll + kWorkRamOffsetInModule;
        link.attached = true;
        IdentifyGame(link, log);
        return;
    }

    LogAppend(log, ClockNow(), "WARNING: %s did not have module %s loaded. Retrying.", connection.processName,
              connection.moduleName);
    CloseProcess(link);
}

FindGameResult FindGame(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    if (connection.headerFound == 0) {
        if (HeaderScan(link, log) == ScanResult::LostConnection) return FindGameResult::LostConnection;
        if (connection.headerFound == 0) {
            LogAppend(log, ClockNow(), "Unknown game");
            return FindGameResult::NotIdentified;
        }
    }

    uint8_t probe[kSignatureProbeSize];
    if (!link.api->readMemory(connection.process, connection.ramBase + kSignatureRamOffset, probe, sizeof probe)) {
        int error = link.api->lastError();
        LogAppend(log, ClockNow(), "ReadProcessMemory failed with error code '%d' -- Disconnecting from %s", error,
                  connection.processName);
        return FindGameResult::LostConnection;
    }
    if (!SignatureMatches(probe)) {
        LogAppend(log, ClockNow(),
                  "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation");
        return FindGameResult::NotIdentified;
    }
    LogAppend(log, ClockNow(), "Game found: Sonic 2");

    connection.ramBase += kWindowStartInRam;
    std::memset(connection.windowStorage, 0, sizeof connection.windowStorage);
    connection.window = connection.windowStorage;
    connection.windowSize = kWindowSize;
    return FindGameResult::Found;
}

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

ReadWindowResult ReadWindow(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    if (!link.api->readMemory(connection.process, connection.ramBase, connection.window, connection.windowSize)) {
        int error = link.api->lastError();
        LogAppend(log, ClockNow(), "ReadProcessMemory failed with error code '%d' -- Disconnecting from %s", error,
                  connection.processName);
        return ReadWindowResult::ReadFailed;
    }
    if (!SignatureMatches(connection.window + kSignatureWindowOffset)) {
        LogAppend(log, ClockNow(), "Unknown checksum at end of RAM");
        return ReadWindowResult::SignatureMismatch;
    }
    return ReadWindowResult::WindowGood;
}

void Disconnect(EmulatorLink& link) {
    EmulatorConnection& connection = link.connection;
    connection.window = nullptr;
    connection.windowSize = 0;
    connection.ramBase = 0;
    CloseProcess(link);
    link.attached = false;
    link.identified = false;
}

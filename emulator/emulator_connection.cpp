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

void CopyName(char (&to)[kProcessNameSize], const char* from) {
    std::strncpy(to, from, kProcessNameSize - 1);
    to[kProcessNameSize - 1] = '\0';
}

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

void CloseProcess(Tracker& tracker) {
    if (tracker.connection.process != nullptr) tracker.api->close(tracker.connection.process);
    tracker.connection.process = nullptr;
}

void ReportFindFailure(Tracker& tracker, LogBuffer& log) {
    LogAppend(log, ClockNow(), "ERROR: Could not find process '%s'.", tracker.connection.processName);
}

// Walks the emulator's memory below 2^44, region by region, for the cartridge
// header, reading at most the first 60 MiB of each committed, accessible region.
ScanResult HeaderScan(Tracker& tracker, LogBuffer& log) {
    EmulatorConnection& connection = tracker.connection;
    HeaderScanFigures& figures = tracker.scanFigures;
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
        if (!tracker.api->queryRegion(connection.process, address, &region)) {
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
            if (tracker.api->readMemory(connection.process, region.baseAddress, buffer, size)) {
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

void TrackerReset(Tracker& tracker, const ProcessApi& api) {
    std::memset(&tracker.connection, 0, sizeof tracker.connection);
    std::memset(&tracker.scratch, 0, sizeof tracker.scratch);
    tracker.scanFigures = {};
    tracker.attached = false;
    tracker.identified = false;
    tracker.api = &api;
}

void TrackerSetNames(Tracker& tracker) {
    CopyName(tracker.connection.processName, kEmulatorProcessName);
    CopyName(tracker.connection.moduleName, kCoreModuleName);
}

void Attach(Tracker& tracker, LogBuffer& log) {
    const ProcessApi& api = *tracker.api;
    EmulatorConnection& connection = tracker.connection;
    AttachScratch& scratch = tracker.scratch;

    ProcessSnapshotHandle snapshot = api.snapshotTake();
    if (snapshot == nullptr) {
        LogAppend(log, ClockNow(), "Could not get handle snapshot.");
        ReportFindFailure(tracker, log);
        return;
    }
    // The first entry is the system's own and is never compared.
    ProcessEntry entry{};
    if (!api.snapshotFirst(snapshot, &entry)) {
        api.snapshotClose(snapshot);
        ReportFindFailure(tracker, log);
        return;
    }
    for (;;) {
        if (!api.snapshotNext(snapshot, &entry)) {
            api.snapshotClose(snapshot);
            ReportFindFailure(tracker, log);
            return;
        }
        entry.exeFile[kProcessNameSize - 1] = '\0';
        if (std::strcmp(entry.exeFile, connection.processName) == 0) break;
    }
    connection.process = api.open(entry.processId);
    api.snapshotClose(snapshot);
    if (connection.process == nullptr) {
        ReportFindFailure(tracker, log);
        return;
    }

    std::memset(&scratch.moduleInfo, 0, sizeof scratch.moduleInfo);
    uint32_t bytesNeeded = 0;
    if (!api.enumModules(connection.process, scratch.modules, sizeof scratch.modules, &bytesNeeded)) {
        LogAppend(log, ClockNow(), "ERROR: Could not enumerate '%s' modules.", connection.processName);
        CloseProcess(tracker);
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
            CloseProcess(tracker);
            return;
        }
        LogAppend(log, ClockNow(), "SUCCESS: Loaded %s in %s.", scratch.modulePath, connection.processName);
        connection.ramBase = scratch.moduleInfo.baseOfDll + kWorkRamOffsetInModule;
        FindGameResult found = FindGame(tracker, log);
        tracker.attached = true;
        switch (found) {
        case FindGameResult::Found:
            tracker.identified = true;
            break;
        case FindGameResult::NotIdentified:
            connection.headerFound = 0;
            break;
        case FindGameResult::LostConnection:
            Disconnect(tracker);
            break;
        }
        return;
    }

    LogAppend(log, ClockNow(), "WARNING: %s did not have module %s loaded. Retrying.", connection.processName,
              connection.moduleName);
    CloseProcess(tracker);
}

FindGameResult FindGame(Tracker& tracker, LogBuffer& log) {
    EmulatorConnection& connection = tracker.connection;
    if (connection.headerFound == 0) {
        if (HeaderScan(tracker, log) == ScanResult::LostConnection) return FindGameResult::LostConnection;
        if (connection.headerFound == 0) {
            LogAppend(log, ClockNow(), "Unknown game");
            return FindGameResult::NotIdentified;
        }
    }

    uint8_t probe[kSignatureProbeSize];
    if (!tracker.api->readMemory(connection.process, connection.ramBase + kSignatureRamOffset, probe, sizeof probe)) {
        int error = tracker.api->lastError();
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

ReadWindowResult ReadWindow(Tracker& tracker, LogBuffer& log) {
    EmulatorConnection& connection = tracker.connection;
    if (!tracker.api->readMemory(connection.process, connection.ramBase, connection.window, connection.windowSize)) {
        int error = tracker.api->lastError();
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

void Disconnect(Tracker& tracker) {
    EmulatorConnection& connection = tracker.connection;
    connection.window = nullptr;
    connection.windowSize = 0;
    connection.ramBase = 0;
    CloseProcess(tracker);
    tracker.attached = false;
    tracker.identified = false;
}

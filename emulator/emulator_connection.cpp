#include "emulator/emulator_connection.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emulator/header_search.h"
#include "emulator/memory_walk.h"
#include "emulator/work_ram_search.h"
#include "platform/clock.h"

const ProcessApi kPlatformProcessApi = {
    ProcessFind, ProcessOpen, ProcessClose, ProcessFindModule, ProcessListReadable, ProcessRead,
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

void CloseProcess(EmulatorLink& link) {
    if (link.connection.process != nullptr) link.api->close(link.connection.process);
    link.connection.process = nullptr;
}

void ReportFindFailure(EmulatorLink& link, LogBuffer& log) {
    LogAppend(log, ClockNow(), "ERROR: Could not find process '%s'.", link.connection.processNamesText);
}

// The OS refused to let this program read the emulator (no ptrace
// permission, or an emulator run at a higher level): said once per attempt,
// with what the player can do about it.
void ReportAccessDenied(LogBuffer& log, const char* processName, int error) {
    LogAppend(log, ClockNow(), "ERROR: Not allowed to read process '%s' (error %d). %s", processName, error,
              ProcessAccessFixes());
}

// A read of the emulator's memory failed: the emulator is gone, or this
// program may no longer read it.
void ReportReadFailure(EmulatorLink& link, LogBuffer& log, ProcessResult failure) {
    if (failure.status == ProcessStatus::Denied) {
        ReportAccessDenied(log, link.connection.processName, failure.error);
    } else {
        LogAppend(log, ClockNow(), "ReadProcessMemory failed with error code '%d' -- Disconnecting from %s",
                  failure.error, link.connection.processName);
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

WalkStorage StorageOf(EmulatorLink& link, uint8_t* buffer) {
    return {buffer, kScanBufferSize, link.scratch.ranges, kRangeListCapacity};
}

bool HeaderInPiece(void*, const uint8_t* bytes, size_t size, uint64_t) {
    return FindHeaderPattern(bytes, size) != kHeaderNotFound;
}

// Walks the emulator's readable memory, the whole user address space, for
// the cartridge header, reading at most the first 60 MiB of each range.
ScanResult HeaderScan(EmulatorLink& link, LogBuffer& log, ScanBuffer& scanBuffer) {
    EmulatorConnection& connection = link.connection;
    uint8_t* buffer = ScanBufferGet(scanBuffer, log);
    if (buffer == nullptr) return ScanResult::Done;
    const MemoryWalk walk{0, UINT64_MAX, 0, true, HeaderInPiece, nullptr};
    bool found = false;
    const ProcessResult listed =
        WalkReadableMemory(*link.api, connection.process, walk, StorageOf(link, buffer), &found);
    if (listed.status == ProcessStatus::Denied) {
        ReportAccessDenied(log, connection.processName, listed.error);
        return ScanResult::LostConnection;
    }
    if (listed.status != ProcessStatus::Ok) {
        LogAppend(log, ClockNow(), "Lost connection to '%s' -- Disconnecting", connection.processName);
        return ScanResult::LostConnection;
    }
    if (found) connection.headerFound = 1;
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
    const ProcessResult probed =
        link.api->read(connection.process, connection.ramBase + kSignatureRamOffset, probe, sizeof probe);
    if (probed.status == ProcessStatus::Ok && SignatureMatches(probe)) return SignatureResult::Found;
    if (probed.status == ProcessStatus::Gone || probed.status == ProcessStatus::Denied) {
        ReportReadFailure(link, log, probed);
        return SignatureResult::ReadFailed;
    }
    uint8_t* buffer = ScanBufferGet(scanBuffer, log);
    uint64_t ramBase = 0;
    if (buffer == nullptr || !SearchWorkRam(*link.api, connection.process, connection.coreBase, connection.coreSize,
                                            StorageOf(link, buffer), &ramBase)) {
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
    link.copyReads = 0;
    link.api = &api;
    EmulatorConnection& connection = link.connection;
    connection.nameCount = kProgramFormCount < kEmulatorFormCapacity ? kProgramFormCount : kEmulatorFormCapacity;
    for (int i = 0; i < connection.nameCount; ++i) {
        EmulatorNames& names = connection.names[i];
        std::snprintf(names.process, sizeof names.process, "%s%s", kEmulatorProgramName,
                      kProgramForms[i].programEnding);
        std::snprintf(names.module, sizeof names.module, "%s%s", kCoreLibraryName, kProgramForms[i].libraryEnding);
        connection.processNames[i] = names.process;
    }
    char* text = connection.processNamesText;
    const size_t size = sizeof connection.processNamesText;
    size_t used = 0;
    for (int i = 0; i < connection.nameCount && used < size; ++i) {
        const int wrote =
            std::snprintf(text + used, size - used, "%s%s", i == 0 ? "" : "' or '", connection.names[i].process);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
    connection.processName = connection.names[0].process;
    connection.moduleName = connection.names[0].module;
}

namespace {

// Finds the first emulator process by any of its names and opens it.
bool OpenEmulator(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    uint32_t processId = 0;
    int which = 0;
    const ProcessResult found = link.api->find(connection.processNames, connection.nameCount, &processId, &which);
    if (found.status != ProcessStatus::Ok) {
        if (found.status != ProcessStatus::Gone) LogAppend(log, ClockNow(), "Could not get handle snapshot.");
        ReportFindFailure(link, log);
        return false;
    }
    connection.processName = connection.names[which].process;
    connection.moduleName = connection.names[which].module;
    const ProcessResult opened = link.api->open(processId, &connection.process);
    if (opened.status == ProcessStatus::Ok) return true;
    connection.process = nullptr;
    if (opened.status == ProcessStatus::Denied) {
        ReportAccessDenied(log, connection.processName, opened.error);
    } else {
        ReportFindFailure(link, log);
    }
    return false;
}

// Finds the core module in the open emulator: its load address and extent,
// and where its builds long in use keep work RAM.
bool FindCore(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    ModuleImage& core = link.scratch.core;
    const ProcessResult result = link.api->findModule(connection.process, connection.moduleName, &core);
    for (int i = 0; i < kModuleListCapacity; ++i) {
        if ((core.unnamed[i / 64] >> (i % 64) & 1) == 0) continue;
        LogAppend(log, ClockNow(), "WARNING: Could not get module name for index %i in %s", i, connection.processName);
    }
    if (result.status != ProcessStatus::Ok && core.path[0] != '\0') {
        LogAppend(log, ClockNow(), "ERROR: Could not get module information for %s", connection.moduleName);
        return false;
    }
    if (result.status != ProcessStatus::Ok) {
        LogAppend(log, ClockNow(), "ERROR: Could not enumerate '%s' modules.", connection.processName);
        return false;
    }
    if (core.base == 0) {
        LogAppend(log, ClockNow(), "WARNING: %s did not have module %s loaded. Retrying.", connection.processName,
                  connection.moduleName);
        return false;
    }
    LogAppend(log, ClockNow(), "SUCCESS: Loaded %s in %s.", core.path, connection.processName);
    connection.coreBase = core.base;
    connection.coreSize = core.size;
    connection.ramBase = connection.coreBase + kWorkRamOffsetInModule;
    return true;
}

}  // namespace

void Attach(EmulatorLink& link, LogBuffer& log) {
    if (!OpenEmulator(link, log)) return;
    if (!FindCore(link, log)) {
        CloseProcess(link);
        return;
    }
    link.attached = true;
    IdentifyGame(link, log);
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

// Nothing but zeros: work RAM cleared.
bool Cleared(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

}  // namespace

ReadWindowResult ReadWindow(EmulatorLink& link, LogBuffer& log) {
    EmulatorConnection& connection = link.connection;
    const ProcessResult read = link.api->read(connection.process, connection.ramBase, connection.window,
                                              connection.windowSize);
    if (read.status != ProcessStatus::Ok) {
        ReportReadFailure(link, log, read);
        return ReadWindowResult::ReadFailed;
    }
    if (SignatureMatches(connection.window + kSignatureWindowOffset)) {
        link.clearedReads = 0;
        link.copyReads = 0;
        return ReadWindowResult::WindowGood;
    }
    // A state loaded into the core, or a reset of the console, clears work
    // RAM before the state's is copied in or the game starts again: a read in
    // between finds nothing but zeros, and a read during the copy finds the
    // end of RAM, where the signature is, still cleared. The game is taken for
    // gone only when the RAM stays so.
    if (Cleared(connection.window + kSignatureWindowOffset, kSignatureSize)) {
        const bool all = Cleared(connection.window, connection.windowSize);
        uint32_t& reads = all ? link.clearedReads : link.copyReads;
        if (reads < (all ? kClearedReadsMax : kCopyReadsMax)) {
            ++reads;
            return ReadWindowResult::RamCleared;
        }
    }
    link.clearedReads = 0;
    link.copyReads = 0;
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
    link.clearedReads = 0;
    link.copyReads = 0;
}

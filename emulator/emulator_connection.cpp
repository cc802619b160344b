#include "emulator/emulator_connection.h"

#include <cctype>
#include <initializer_list>
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
bool SignatureMatches(const uint8_t* bytes, const uint8_t* signature) {
    return std::memcmp(bytes, signature, kSignatureHeadSize) == 0 &&
           std::memcmp(bytes + kSignatureHeadSize, signature + kSignatureHeadSize,
                       kSignatureSize - kSignatureHeadSize) == 0;
}

void CloseProcess(EmulatorLink& link) {
    if (link.connection.process != nullptr) link.api->close(link.connection.process);
    link.connection.process = nullptr;
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

// Where the signature lies. For a row with work RAM in the core's image: at
// the load address + the row's offset (+ 0x2A1060 + 65500 in the builds long
// in use), read first whatever the image's extent says (the core's
// zero-filled data may be in several mappings, and the extent can end before
// it), or else wherever in the image a build keeps work RAM. For the others:
// in the private writable memory (LocateCopies). Sets ramBase to the work RAM
// found. A probe that can't be read only means that nothing is there;
// ReadFailed is kept for an emulator that is gone or refuses reads. Waiting:
// copies were found and the live one can't be told yet.
enum class SignatureResult { Found, Missing, ReadFailed, Waiting };

void TakeRam(EmulatorConnection& connection, const RamCopy& copy) {
    connection.ramBase = copy.ramBase;
    connection.byteOrder = copy.order;
    connection.signature = RamSignature(copy.order);
}

const char* OrderText(RamByteOrder order) {
    return order == RamByteOrder::WordSwapped ? "16-bit words in little-endian order" : "the 68000's big-endian words";
}

// Reads the global frame counter of each copy into `frames`; a copy whose
// counter can't be read gets `unreadable` set.
void ReadCounters(EmulatorLink& link, const RamCopy* copies, int count, uint32_t* frames, bool* unreadable) {
    for (int i = 0; i < count; ++i) {
        const uint32_t offset =
            RamOffset(GameAddress(kVarGlobalFrame), GameWidth(kVarGlobalFrame), kWorkRamFirstAddress, copies[i].order);
        uint8_t bytes[4];
        const ProcessResult read = link.api->read(link.connection.process, copies[i].ramBase + offset, bytes, 4);
        if (read.status != ProcessStatus::Ok) {
            unreadable[i] = true;
            continue;
        }
        frames[i] = RamLoadLong(bytes, 0, copies[i].order);
    }
}

// Every copy of work RAM in the private writable memory. A copy found alone
// is taken as it is: the game's RAM may stand still for a while (an emulator
// paused, or started from a state and waiting), and the signature leaves it
// when the game does. Of several, the live one is the copy whose global frame
// counter steps while the game runs (a save state's or a rewind buffer's
// stands still): the counters are read twice, kCopyWatchMs apart. While none
// or more than one steps (the emulator paused, a second instance running
// ahead), nothing is tracked, and the log says so.
SignatureResult LocateCopies(EmulatorLink& link, LogBuffer& log, uint8_t* buffer) {
    EmulatorConnection& connection = link.connection;
    RamCopy copies[kRamCopyCapacity];
    const uint64_t started = ClockNow();
    const int count =
        SearchRamCopies(*link.api, connection.process, connection.row->byteOrders, StorageOf(link, buffer), copies,
                        kRamCopyCapacity);
    const double searchMs =
        static_cast<double>(ClockNow() - started) * 1000.0 / static_cast<double>(ClockFrequency());
    if (count == 0) return SignatureResult::Missing;
    if (count == 1) {
        TakeRam(connection, copies[0]);
        LogAppend(log, ClockNow(), "Work RAM found at 0x%" PRIX64 " (%s), searched in %.0f ms", copies[0].ramBase,
                  OrderText(copies[0].order), searchMs);
        return SignatureResult::Found;
    }
    uint32_t before[kRamCopyCapacity] = {};
    uint32_t after[kRamCopyCapacity] = {};
    bool unreadable[kRamCopyCapacity] = {};
    ReadCounters(link, copies, count, before, unreadable);
    if (link.copyWatchMs != 0) ClockSleepMs(link.copyWatchMs);
    ReadCounters(link, copies, count, after, unreadable);
    int stepping = 0;
    int live = 0;
    for (int i = 0; i < count; ++i) {
        if (unreadable[i] || after[i] == before[i]) continue;
        ++stepping;
        live = i;
    }
    if (stepping == 1) {
        TakeRam(connection, copies[live]);
        LogAppend(log, ClockNow(),
                  "Work RAM found at 0x%" PRIX64 " (%s, the one of %d copies running), searched in %.0f ms",
                  copies[live].ramBase, OrderText(copies[live].order), count, searchMs);
        return SignatureResult::Found;
    }
    LogAppend(log, ClockNow(),
              "Work RAM: %d copies of the game's RAM, %d of them running: not tracking until only one runs "
              "(a paused emulator, or one running a second copy ahead). Looking again.",
              count, stepping);
    return SignatureResult::Waiting;
}

SignatureResult LocateSignature(EmulatorLink& link, LogBuffer& log, ScanBuffer& scanBuffer) {
    EmulatorConnection& connection = link.connection;
    const EmulatorRow& row = *connection.row;
    if (row.ramPlace == RamPlace::ModuleImage && row.fixedOffset != 0) {
        uint8_t probe[kSignatureProbeSize];
        const ProcessResult probed =
            link.api->read(connection.process, connection.ramBase + kSignatureRamOffset, probe, sizeof probe);
        for (const RamByteOrder order : {RamByteOrder::WordSwapped, RamByteOrder::BigEndian}) {
            if ((row.byteOrders & (1u << static_cast<int>(order))) == 0) continue;
            if (probed.status == ProcessStatus::Ok && SignatureMatches(probe, RamSignature(order))) {
                TakeRam(connection, {connection.ramBase, order});
                return SignatureResult::Found;
            }
        }
        if (probed.status == ProcessStatus::Gone || probed.status == ProcessStatus::Denied) {
            ReportReadFailure(link, log, probed);
            return SignatureResult::ReadFailed;
        }
    }
    uint8_t* buffer = ScanBufferGet(scanBuffer, log);
    if (buffer == nullptr) return SignatureResult::Missing;
    if (row.ramPlace == RamPlace::PrivateMemory) return LocateCopies(link, log, buffer);
    RamCopy found{};
    if (!SearchWorkRam(*link.api, connection.process, connection.coreBase, connection.coreSize, row.byteOrders,
                       StorageOf(link, buffer), &found)) {
        return SignatureResult::Missing;
    }
    TakeRam(connection, found);
    if (found.ramBase - connection.coreBase != row.fixedOffset) {
        LogAppend(log, ClockNow(), "Work RAM found at core + 0x%" PRIX64, found.ramBase - connection.coreBase);
    }
    return SignatureResult::Found;
}

}  // namespace

namespace {

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

bool SameText(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// The program names of a row that this OS runs, in kProgramForms' order
// (Linux: its own build, then the Windows one under Wine), without repeats.
// `modules` gets the library of the same form.
int RowPrograms(const EmulatorRow& row, const char** names, const char** modules) {
    int count = 0;
    for (int i = 0; i < kProgramFormCount && count < 2; ++i) {
        const bool windows = kProgramForms[i].programEnding[0] != '\0';
        const char* name = windows ? row.windowsProgram : row.linuxProgram;
        if (name == nullptr || (count == 1 && SameText(names[0], name))) continue;
        names[count] = name;
        modules[count] = windows ? row.windowsModule : row.linuxModule;
        ++count;
    }
    return count;
}

bool SameProgram(const char* a, const char* b) { return (a == nullptr && b == nullptr) || SameText(a, b); }

bool SamePrograms(const EmulatorRow& a, const EmulatorRow& b) {
    return SameProgram(a.linuxProgram, b.linuxProgram) && SameProgram(a.windowsProgram, b.windowsProgram);
}

// The rows `emulator` picks (see EmulatorLinkReset) into the connection.
void ChooseRows(EmulatorConnection& connection, const char* emulator) {
    connection.rowCount = 0;
    for (const EmulatorRow& row : kEmulatorTable) {
        if (emulator != nullptr && emulator[0] != '\0' && SameName(row.name, emulator)) {
            connection.rows[connection.rowCount++] = row;
        }
    }
    if (connection.rowCount != 0) return;
    for (const EmulatorRow& row : kEmulatorTable) {
        const bool all = emulator == nullptr || emulator[0] == '\0';
        if (all || SameName(emulator, row.linuxProgram != nullptr ? row.linuxProgram : "") ||
            SameName(emulator, row.windowsProgram)) {
            connection.rows[connection.rowCount++] = row;
        }
    }
    if (connection.rowCount != 0) return;
    // A program no row has: any emulator that keeps work RAM as a plain
    // array, searched for in both byte orders.
    std::snprintf(connection.program, sizeof connection.program, "%s", emulator);
    connection.rows[0] = {connection.program, connection.program, connection.program, connection.program, nullptr,
                          nullptr, RamPlace::PrivateMemory, 0, kOrderEither, false};
    connection.rowCount = 1;
}

}  // namespace

void EmulatorLinkReset(EmulatorLink& link, const ProcessApi& api, const char* emulator) {
    std::memset(&link.connection, 0, sizeof link.connection);
    std::memset(&link.scratch, 0, sizeof link.scratch);
    link.attached = false;
    link.identified = false;
    link.clearedReads = 0;
    link.copyReads = 0;
    link.copyWatchMs = kCopyWatchMs;
    link.api = &api;
    EmulatorConnection& connection = link.connection;
    ChooseRows(connection, emulator);
    connection.signature = kRamSignature;
    connection.byteOrder = RamByteOrder::WordSwapped;

    // Every process name looked for, once each: "'retroarch' or 'retroarch.exe'"
    // for one program, as RetroArch's own message has it.
    const char* all[2 * kEmulatorLookCapacity];
    int allCount = 0;
    for (int r = 0; r < connection.rowCount; ++r) {
        const char* names[2];
        const char* modules[2];
        const int count = RowPrograms(connection.rows[r], names, modules);
        for (int i = 0; i < count; ++i) {
            bool seen = false;
            for (int j = 0; j < allCount; ++j) seen = seen || SameText(all[j], names[i]);
            if (!seen) all[allCount++] = names[i];
        }
        if (r == 0) {
            connection.processName = names[0];
            connection.moduleName = modules[0] != nullptr ? modules[0] : "";
        }
    }
    char* text = connection.processNamesText;
    const size_t size = sizeof connection.processNamesText;
    size_t used = 0;
    for (int i = 0; i < allCount && used < size; ++i) {
        const char* between = i == 0 ? "" : i + 1 == allCount ? "' or '" : "', '";
        const int wrote = std::snprintf(text + used, size - used, "%s%s", between, all[i]);
        if (wrote > 0) used += static_cast<size_t>(wrote);
    }
}

namespace {

void ReportFindFailure(EmulatorLink& link, LogBuffer& log) {
    LogAppend(log, ClockNow(), "ERROR: Could not find process '%s'.", link.connection.processNamesText);
}

// Finds the first emulator running, row by row in the table's order (rows of
// one program are looked for together), and opens it. `first` gets the first
// row of the program found.
bool OpenEmulator(EmulatorLink& link, LogBuffer& log, int* first) {
    EmulatorConnection& connection = link.connection;
    for (int r = 0; r < connection.rowCount; ++r) {
        if (r > 0 && SamePrograms(connection.rows[r], connection.rows[r - 1])) continue;
        const char* names[2];
        const char* modules[2];
        const int count = RowPrograms(connection.rows[r], names, modules);
        if (count == 0) continue;
        uint32_t processId = 0;
        int which = 0;
        const ProcessResult found = link.api->find(names, count, &processId, &which);
        if (found.status != ProcessStatus::Ok) {
            if (found.status != ProcessStatus::Gone) {
                LogAppend(log, ClockNow(), "Could not get handle snapshot.");
                break;
            }
            continue;
        }
        connection.processName = names[which];
        connection.moduleName = modules[which] != nullptr ? modules[which] : "";
        connection.processId = processId;
        *first = r;
        const ProcessResult opened = link.api->open(processId, &connection.process);
        if (opened.status == ProcessStatus::Ok) return true;
        connection.process = nullptr;
        if (opened.status == ProcessStatus::Denied) {
            ReportAccessDenied(log, connection.processName, opened.error);
            return false;
        }
        break;
    }
    ReportFindFailure(link, log);
    return false;
}

// The library of `row` in the form of the process found.
const char* RowModule(const EmulatorConnection& connection, const EmulatorRow& row) {
    const bool windows = SameText(connection.processName, row.windowsProgram) &&
                         !SameText(connection.processName, row.linuxProgram);
    return windows ? row.windowsModule : row.linuxModule;
}

// Finds the library the emulator's row needs in the open emulator (RetroArch's
// core: its load address and extent, and where its builds long in use keep
// work RAM), trying the program's rows in order: the first whose library is
// loaded, or that needs none, is the emulator. Only the first row's look-up
// speaks of the modules; without any, its warning.
bool FindCore(EmulatorLink& link, LogBuffer& log, int first) {
    EmulatorConnection& connection = link.connection;
    ModuleImage& core = link.scratch.core;
    int taken = -1;
    for (int r = first; r < connection.rowCount && taken < 0; ++r) {
        const EmulatorRow& row = connection.rows[r];
        if (r > first && !SamePrograms(row, connection.rows[first])) break;
        const char* module = RowModule(connection, row);
        if (module == nullptr) {
            taken = r;
            break;
        }
        const ProcessResult result = link.api->findModule(connection.process, module, &core);
        if (r == first) {
            for (int i = 0; i < kModuleListCapacity; ++i) {
                if ((core.unnamed[i / 64] >> (i % 64) & 1) == 0) continue;
                LogAppend(log, ClockNow(), "WARNING: Could not get module name for index %i in %s", i,
                          connection.processName);
            }
            if (result.status != ProcessStatus::Ok && core.path[0] != '\0') {
                LogAppend(log, ClockNow(), "ERROR: Could not get module information for %s", module);
                return false;
            }
            if (result.status != ProcessStatus::Ok) {
                LogAppend(log, ClockNow(), "ERROR: Could not enumerate '%s' modules.", connection.processName);
                return false;
            }
        }
        if (result.status == ProcessStatus::Ok && core.base != 0) {
            connection.moduleName = module;
            taken = r;
        }
    }
    if (taken < 0) {
        LogAppend(log, ClockNow(), "WARNING: %s did not have module %s loaded. Retrying.", connection.processName,
                  connection.moduleName);
        return false;
    }
    const EmulatorRow& row = connection.rows[taken];
    connection.row = &row;
    if (RowModule(connection, row) != nullptr) {
        LogAppend(log, ClockNow(), "SUCCESS: Loaded %s in %s.", core.path, connection.processName);
        connection.coreBase = core.base;
        connection.coreSize = core.size;
        connection.ramBase = connection.coreBase + row.fixedOffset;
    } else {
        connection.moduleName = "";
    }
    // RetroArch with Genesis Plus GX says what it always said; the others
    // which emulator was found.
    if (!SameText(row.name, kEmulatorTable[0].name)) {
        LogAppend(log, ClockNow(), "Emulator: %s (%s, process %u)%s", row.title, connection.processName,
                  connection.processId,
                  row.tried ? "."
                            : ", which Ringwatch has not been tried with: its work RAM is searched for in both "
                              "byte orders. Please report how it goes.");
    }
    return true;
}

}  // namespace

void Attach(EmulatorLink& link, LogBuffer& log) {
    int first = 0;
    if (!OpenEmulator(link, log, &first)) return;
    if (!FindCore(link, log, first)) {
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
    case SignatureResult::Waiting:
        return FindGameResult::NotIdentified;
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
    if (SignatureMatches(connection.window + kSignatureWindowOffset, connection.signature)) {
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
    connection.row = nullptr;
    connection.processId = 0;
    CloseProcess(link);
    link.attached = false;
    link.identified = false;
    link.clearedReads = 0;
    link.copyReads = 0;
}

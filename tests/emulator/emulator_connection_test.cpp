#include "emulator/emulator_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emulator/ram_decode.h"
#include "emulator/work_ram_search.h"
#include "support/fake_process_api.h"
#include "tools/ram/ram_writer.h"

namespace {

const std::string kNotFound = kNotFoundMessage;
const std::string kNoModule =
    "WARNING: retroarch.exe did not have module genesis_plus_gx_libretro.dll loaded. Retrying.";
const std::string kChecksumIncorrect =
    "Game found but checksum routine was incorrect. Please select a game in Sonic Compilation";
const std::string kGameFound = "Game found: Sonic 2";

std::string Loaded() {
    return "SUCCESS: Loaded " + FakeModulePath(kCoreModuleName) + " in retroarch.exe.";
}

struct Harness {
    FakeSystem system;
    std::unique_ptr<EmulatorLink> tracker = std::make_unique<EmulatorLink>();
    std::unique_ptr<LogBuffer> log = std::make_unique<LogBuffer>();

    explicit Harness(const FakeEmulatorSetup& setup = {}) {
        FakeEmulator(system, setup);
        EmulatorLinkReset(*tracker, FakeProcessApi(system));
    }
    std::vector<std::string> TakeMessages() {
        std::vector<std::string> texts;
        for (int i = 0; i < log->count; ++i) texts.emplace_back(log->entries[i].text);
        LogClear(*log);
        return texts;
    }
    const EmulatorConnection& connection() const { return tracker->connection; }
};

using Messages = std::vector<std::string>;

TEST(Tracker, StartsDetachedWithTheEmulatorsNames) {
    Harness h;
    EXPECT_EQ(h.connection().processName, std::string("retroarch") + kProgramForms[0].programEnding);
    EXPECT_EQ(h.connection().moduleName, std::string("genesis_plus_gx_libretro") + kProgramForms[0].libraryEnding);
    EXPECT_FALSE(h.tracker->attached);
    EXPECT_FALSE(h.tracker->identified);
    EXPECT_EQ(h.connection().headerFound, 0u);
    EXPECT_EQ(h.connection().window, nullptr);
}

// Every way an attach attempt fails before the core is found: the messages of
// the pass in order, and nothing left open.
struct AttachFailure {
    const char* name;
    void (*arrange)(FakeSystem&);
    Messages (*expected)();
};

const AttachFailure kAttachFailures[] = {
    {"no process list", [](FakeSystem& s) { s.findFailure = {ProcessStatus::Unreadable, 8}; },
     [] { return Messages{"Could not get handle snapshot.", kNotFound}; }},
    {"process list ends at once", [](FakeSystem& s) { s.findFailure = {ProcessStatus::Gone, 18}; },
     [] { return Messages{kNotFound}; }},
    {"no emulator running",
     [](FakeSystem& s) { s.processes.erase(s.processes.begin() + 2); }, [] { return Messages{kNotFound}; }},
    {"image name differs in case only",
     [](FakeSystem& s) { s.processes[2].name = "RetroArch.exe"; }, [] { return Messages{kNotFound}; }},
    {"emulator is the snapshot's first entry, which is never compared",
     [](FakeSystem& s) { s.processes.erase(s.processes.begin(), s.processes.begin() + 2); },
     [] { return Messages{kNotFound}; }},
    {"process can't be opened", [](FakeSystem& s) { s.openFailure = {ProcessStatus::Gone, 87}; },
     [] { return Messages{kNotFound}; }},
    {"process may not be read by this user",
     [](FakeSystem& s) { s.openFailure = {ProcessStatus::Denied, kFakeAccessDenied}; },
     [] {
         return Messages{"ERROR: Not allowed to read process 'retroarch.exe' (error " +
                         std::to_string(kFakeAccessDenied) + "). " + ProcessAccessFixes()};
     }},
    {"module list fails", [](FakeSystem& s) { s.moduleFailure = {ProcessStatus::Gone, 299}; },
     [] { return Messages{"ERROR: Could not enumerate 'retroarch.exe' modules."}; }},
    {"no modules at all", [](FakeSystem& s) { s.modules.clear(); }, [] { return Messages{kNoModule}; }},
    {"core not loaded", [](FakeSystem& s) { s.modules.pop_back(); }, [] { return Messages{kNoModule}; }},
    {"core name differs in case only",
     [](FakeSystem& s) { s.modules.back().path = FakeModulePath("Genesis_Plus_GX_libretro.dll"); },
     [] { return Messages{kNoModule}; }},
    {"core name only as a directory",
     [](FakeSystem& s) { s.modules.back().path = FakeModulePath("genesis_plus_gx_libretro.dll") + "x"; },
     [] { return Messages{kNoModule}; }},
    {"names of two modules can't be had, core absent",
     [](FakeSystem& s) {
         s.modules.pop_back();
         s.modules[0].nameFails = true;
         s.modules[1].nameFails = true;
     },
     [] {
         return Messages{"WARNING: Could not get module name for index 0 in retroarch.exe",
                         "WARNING: Could not get module name for index 1 in retroarch.exe", kNoModule};
     }},
    {"module information fails", [](FakeSystem& s) { s.moduleInfoFails = true; },
     [] { return Messages{"ERROR: Could not get module information for genesis_plus_gx_libretro.dll"}; }},
};

TEST(Attach, FailuresLeaveTheTrackerDetachedWithTheirMessages) {
    for (const AttachFailure& row : kAttachFailures) {
        SCOPED_TRACE(row.name);
        Harness h;
        row.arrange(h.system);
        Attach(*h.tracker, *h.log);
        EXPECT_EQ(h.TakeMessages(), row.expected());
        EXPECT_FALSE(h.tracker->attached);
        EXPECT_FALSE(h.tracker->identified);
        EXPECT_EQ(h.connection().process, nullptr);
        EXPECT_EQ(h.system.handlesOpen, 0) << "no process handle outlives a failed attempt";
    }
}

// RetroArch by either name, each with its own core: on Linux a native one and
// the Windows one under Wine, on Windows only the latter.
TEST(Attach, TheEmulatorsNamesWithTheirCores) {
    const char* const so = "genesis_plus_gx_libretro.so";
    const char* const dll = "genesis_plus_gx_libretro.dll";
    const struct {
        const char *process, *core, *missing;   // missing: the core looked for in vain, or null
    } cases[] = {{"retroarch", so, nullptr}, {"retroarch.exe", dll, nullptr}, {"retroarch", dll, so}, {"retroarch.exe", so, dll}};
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.process) + " with " + row.core);
        Harness h;
        h.system.processes[2].name = row.process;
        h.system.modules.back().path = FakeModulePath(row.core);
        Attach(*h.tracker, *h.log);
        const std::string process = row.process;
        const Messages expected =
            kNotFound.find("'" + process + "'") == std::string::npos ? Messages{kNotFound}
            : row.missing != nullptr ? Messages{"WARNING: " + process + " did not have module " + row.missing + " loaded. Retrying."}
                                     : Messages{"SUCCESS: Loaded " + FakeModulePath(row.core) + " in " + process + ".", kGameFound};
        EXPECT_EQ(h.TakeMessages(), expected);
    }
}

TEST(Attach, NameFailureOfOneModuleStillFindsTheCoreAfterIt) {
    Harness h;
    h.system.modules[1].nameFails = true;
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.TakeMessages(),
              (Messages{"WARNING: Could not get module name for index 1 in retroarch.exe", Loaded(), kGameFound}));
    EXPECT_TRUE(h.tracker->identified);
}

// What follows a found core, by what FindGame reports.
struct AttachOutcome {
    const char* name;
    void (*arrange)(FakeSystem&);
    Messages (*expected)();
    bool attached;
    bool identified;
};

const AttachOutcome kAttachOutcomes[] = {
    {"Sonic 2 running", [](FakeSystem&) {}, [] { return Messages{Loaded(), kGameFound}; }, true, true},
    {"compilation menu",
     [](FakeSystem& s) { s.regions.back() = FakeCoreRegion(s.modules.back().base, false); },
     [] { return Messages{Loaded(), kChecksumIncorrect}; }, true, false},
    {"another cartridge", [](FakeSystem& s) { s.regions.front() = FakeRomRegion(0x20000000, 0x10000, -1); },
     [] { return Messages{Loaded(), "Unknown game"}; }, true, false},
    {"emulator gone before the scan", [](FakeSystem& s) { s.listFailure = {ProcessStatus::Gone, 3}; },
     [] { return Messages{Loaded(), "Lost connection to 'retroarch.exe' -- Disconnecting"}; }, false, false},
    {"signature can't be read: searched for, not there",
     [](FakeSystem& s) { s.regions.back().readFails = true; }, [] { return Messages{Loaded(), kChecksumIncorrect}; },
     true, false},
};

TEST(Attach, CoreFoundThenFindGameDecidesTheState) {
    for (const AttachOutcome& row : kAttachOutcomes) {
        SCOPED_TRACE(row.name);
        Harness h;
        row.arrange(h.system);
        Attach(*h.tracker, *h.log);
        EXPECT_EQ(h.TakeMessages(), row.expected());
        EXPECT_EQ(h.tracker->attached, row.attached);
        EXPECT_EQ(h.tracker->identified, row.identified);
        EXPECT_EQ(h.system.handlesOpen, row.attached ? 1 : 0);
        EXPECT_EQ(h.connection().process != nullptr, row.attached);
        if (row.attached && !row.identified) {
            EXPECT_EQ(h.connection().headerFound, 0u) << "scan again next pass";
        }
    }
}

// Where the core keeps work RAM and the cartridge: the attach pass's messages,
// and the window the next pass reads.
TEST(Attach, IdentifiesTheGameWhereverTheCoreKeepsIt) {
    const struct {
        const char* name;
        FakeEmulatorSetup setup;
        uint32_t imageSize, coreRegionSize;   // 0: as the fake makes them
        bool swappedHeader;
        uint64_t ramOffset;
    } cases[] = {
        {"work RAM elsewhere in the image", {.ramOffset = 0x82A060}, 0, 0, false, 0x82A060},
        {"nothing to read at + 0x2A1060 past a small image", {.ramOffset = 0x100000}, 0x200000, 0x200000, false,
         0x100000},
        {"+ 0x2A1060 past an image that ends at the first piece of the core's data", {}, 0x2A1000, 0, false, 0x2A1060},
        {"the cartridge only as the core keeps it", {.header = false}, 0, 0, true, 0x2A1060},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Harness h(row.setup);
        if (row.imageSize != 0) h.system.imageSize = row.imageSize;
        if (row.coreRegionSize != 0) h.system.regions.back().size = row.coreRegionSize;
        if (row.swappedHeader) h.system.regions.front() = FakeRomRegion(0x20000000, 0x10000, 0x100, true);
        Attach(*h.tracker, *h.log);
        char found[64];
        std::snprintf(found, sizeof found, "Work RAM found at core + 0x%llX", static_cast<unsigned long long>(row.ramOffset));
        const Messages expected =
            row.ramOffset == 0x2A1060 ? Messages{Loaded(), kGameFound} : Messages{Loaded(), found, kGameFound};
        EXPECT_EQ(h.TakeMessages(), expected);
        ASSERT_TRUE(h.tracker->identified);
        h.system.regions.back().bytes[row.ramOffset + 0xA000] = 0x5A;
        EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::WindowGood);
        EXPECT_EQ(h.connection().window[0], 0x5A) << "the window read where the RAM was found";
    }
}

TEST(Attach, ConnectedSetsUpTheWindowAtTheEndOfWorkRam) {
    Harness h;
    Attach(*h.tracker, *h.log);
    ASSERT_TRUE(h.tracker->identified);
    EXPECT_EQ(h.connection().ramBase, 0x7FF600000000ull + 0x2A1060 + 0xA000);
    EXPECT_EQ(h.connection().windowSize, 24576u);
    ASSERT_NE(h.connection().window, nullptr);
    EXPECT_EQ(h.connection().headerFound, 1u);
}

TEST(Attach, TakesTheFirstEmulatorAfterTheFirstEntry) {
    Harness h;
    FakeProcess second = h.system.processes[2];
    second.id = 9000;
    h.system.processes.push_back(second);
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.system.openedProcessIds, std::vector<uint32_t>{4242});
}

TEST(Attach, AWarningForEachOfManyModulesWithoutAName) {
    Harness h;
    h.system.modules.pop_back();
    h.system.modules.resize(4000, FakeModule{0x10000, "", true});   // a list longer than a look-up examines
    Attach(*h.tracker, *h.log);
    const Messages messages = h.TakeMessages();
    EXPECT_EQ(messages.size(), size_t{kLogCapacity}) << "a warning for each module without a name";
    EXPECT_EQ(messages[0], "WARNING: Could not get module name for index 2 in retroarch.exe");
}

TEST(Attach, TakesTheFirstMatchingModule) {
    Harness h;
    FakeModule copy = h.system.modules.back();
    copy.base = 0x7FFB00000000ull;
    h.system.modules.push_back(copy);
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.connection().ramBase, 0x7FF600000000ull + 0x2A1060 + 0xA000);
}

// [SECTION] Every emulator: where its RAM is, in which byte order, with
// copies of it or not.

enum class Place { CoreImage, Heap, MappedFile };

// A process of `program` with the cartridge, the library `module` (or none)
// and work RAM at `place` in `order`, the game running (its frame counter
// stepping); with `copy`, a save state's copy of the RAM on the heap below it,
// standing still. Rings 123 in the live RAM.
struct EmulatorCase {
    std::string program;
    const char* module;
    Place place;
    RamByteOrder order;
    bool copy;
};

constexpr uint64_t kCoreAt = 0x7FF600000000ull;
constexpr uint64_t kHeapAt = 0x555500000000ull;
constexpr uint64_t kHeapRam = kHeapAt + 0x12340;      // the live RAM on the heap
constexpr uint64_t kCopyAt = 0x555400000000ull;       // the copy's region, below the heap

void PutRam(std::vector<uint8_t>& bytes, uint64_t at, RamByteOrder order, uint16_t rings) {
    if (bytes.size() < at + kWorkRamSize) bytes.resize(at + kWorkRamSize, 0);
    const RamWriter ram{bytes.data() + at, kWorkRamSize, kWorkRamFirstAddress, order};
    std::memcpy(ram.bytes + kSignatureRamOffset, RamSignature(order), kSignatureSize);
    RamWriteVariable(ram, kVarRings, rings);
    RamWriteVariable(ram, kVarGlobalFrame, 1000);
}

void Arrange(FakeSystem& s, const EmulatorCase& c) {
    s.processes = {{0, "[System Process]"}, {17, "explorer.exe"}, {4242, c.program}};
    s.modules = {{0x7FF700000000ull, FakeModulePath(c.program.c_str()), false}};
    if (c.module != nullptr) s.modules.push_back({kCoreAt, FakeModulePath(c.module), false});
    s.imageSize = 0x400000;
    FakeRegion core{kCoreAt, 0x400000, true, false, {}};
    FakeRegion heap{kHeapAt, 0x100000, true, false, {}, true};
    FakeRegion file{0x600000000000ull, 0x100000, true, false, {}};   // a file mapped, writable
    uint64_t live = 0;
    switch (c.place) {
    case Place::CoreImage:
        PutRam(core.bytes, kWorkRamOffsetInModule, c.order, 123);
        live = kCoreAt + kWorkRamOffsetInModule;
        break;
    case Place::Heap:
        PutRam(heap.bytes, kHeapRam - kHeapAt, c.order, 123);
        live = kHeapRam;
        break;
    case Place::MappedFile:
        PutRam(file.bytes, 0x1000, c.order, 123);
        live = file.base + 0x1000;
        break;
    }
    s.regions = {FakeRomRegion(0x20000000, 0x10000, 0x100), core};
    if (c.copy) {
        FakeRegion copy{kCopyAt, 0x20000, true, false, {}, true};
        PutRam(copy.bytes, 0x100, c.order, 7);
        s.regions.push_back(copy);
    }
    s.regions.push_back(heap);
    s.regions.push_back(file);
    const uint32_t low = RamOffset(GameAddress(kVarGlobalFrame) + 3, 1, kWorkRamFirstAddress, c.order);
    s.steppingBytes = {live + low};
}

// Whether the row finds the RAM: in the core's image for the rows that keep
// it there, in the private memory for the others, never in a mapped file;
// in the row's byte orders.
bool Finds(const EmulatorRow& row, const EmulatorCase& c) {
    const bool place = row.ramPlace == RamPlace::ModuleImage ? c.place == Place::CoreImage : c.place == Place::Heap;
    return place && (row.byteOrders & (1u << static_cast<int>(c.order))) != 0;
}

TEST(Attach, EveryEmulatorFindsTheLiveRamWhereItKeepsItInItsByteOrder) {
    struct Subject {
        const EmulatorRow* row;   // null: a program no row has, picked with -emulator
        const char* emulator;     // -emulator, or null
    };
    std::vector<Subject> subjects;
    for (const EmulatorRow& row : kEmulatorTable) subjects.push_back({&row, nullptr});
    const EmulatorRow custom{"gens.exe", "gens.exe", "gens.exe", "gens.exe", nullptr, nullptr,
                             RamPlace::PrivateMemory, 0, kOrderEither, false};
    subjects.push_back({&custom, "gens.exe"});
    for (const Subject& subject : subjects) {
        const EmulatorRow& row = *subject.row;
        for (Place place : {Place::CoreImage, Place::Heap, Place::MappedFile}) {
            for (RamByteOrder order : {RamByteOrder::WordSwapped, RamByteOrder::BigEndian}) {
                for (bool copy : {false, true}) {
                    const EmulatorCase c{row.windowsProgram, row.windowsModule != nullptr ? row.windowsModule : nullptr,
                                         place, order, copy};
                    SCOPED_TRACE(std::string(row.name) + " RAM in " +
                                 (place == Place::CoreImage ? "the core" : place == Place::Heap ? "the heap" : "a file") +
                                 (order == RamByteOrder::BigEndian ? ", big-endian" : ", swapped") +
                                 (copy ? ", a copy beside it" : ""));
                    Harness h;
                    Arrange(h.system, c);
                    EmulatorLinkReset(*h.tracker, FakeProcessApi(h.system), subject.emulator);
                    h.tracker->copyWatchMs = 0;
                    Attach(*h.tracker, *h.log);
                    const Messages messages = h.TakeMessages();
                    ASSERT_TRUE(h.tracker->attached) << (messages.empty() ? "" : messages.back());
                    const bool finds = Finds(row, c);
                    // A copy found alone in the private memory is taken as it is.
                    const bool lone = !finds && copy && row.ramPlace == RamPlace::PrivateMemory &&
                                      (row.byteOrders & (1u << static_cast<int>(order))) != 0;
                    ASSERT_EQ(h.tracker->identified, finds || lone) << messages.back();
                    EXPECT_EQ(messages.back(), finds || lone ? kGameFound : kChecksumIncorrect);
                    const bool gpgx = &row == &kEmulatorTable[0];
                    EXPECT_EQ(messages.front().rfind("Emulator: ", 0) == 0 ||
                                  (messages.size() > 1 && messages[1].rfind("Emulator: ", 0) == 0),
                              !gpgx)
                        << "every emulator but RetroArch with Genesis Plus GX is named";
                    if (!h.tracker->identified) continue;
                    EXPECT_EQ(h.connection().byteOrder, order);
                    ASSERT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::WindowGood);
                    auto mirror = std::make_unique<RamMirror>();
                    InitRamDecode(*mirror);
                    DecodeRamWindow(h.connection().window, h.connection().byteOrder, *mirror);
                    EXPECT_EQ(mirror->rings, lone ? 7u : 123u) << "the live RAM, not the copy, decoded in its order";
                }
            }
        }
    }
}

// Copies of work RAM on the heap: the live one is the one whose frame counter
// steps; while none or both do, nothing is tracked and the log says why.
TEST(Attach, CopiesOfTheRamAreToldApartByTheirFrameCounters) {
    const struct {
        const char* name;
        int stepping;   // copies whose counter steps: 0, 1 (the live one) or 2
        bool identified;
        const char* said;
    } cases[] = {
        {"the live one steps", 1, true, "the one of 2 copies running"},
        {"none steps: the emulator paused", 0, false, "Work RAM: 2 copies of the game's RAM, 0 of them running"},
        {"both step: a second instance", 2, false, "Work RAM: 2 copies of the game's RAM, 2 of them running"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Harness h;
        Arrange(h.system, {"blastem.exe", nullptr, Place::Heap, RamByteOrder::WordSwapped, true});
        const uint32_t low = RamOffset(GameAddress(kVarGlobalFrame) + 3, 1, kWorkRamFirstAddress, RamByteOrder::WordSwapped);
        if (row.stepping == 0) h.system.steppingBytes.clear();
        if (row.stepping == 2) h.system.steppingBytes.push_back(kCopyAt + 0x100 + low);
        EmulatorLinkReset(*h.tracker, FakeProcessApi(h.system));
        h.tracker->copyWatchMs = 0;
        Attach(*h.tracker, *h.log);
        const Messages messages = h.TakeMessages();
        EXPECT_EQ(h.tracker->identified, row.identified);
        EXPECT_TRUE(std::any_of(messages.begin(), messages.end(),
                                [&](const std::string& m) { return m.find(row.said) != std::string::npos; }))
            << messages.back();
        if (!row.identified) {
            EXPECT_TRUE(h.tracker->attached) << "looked at again on the next pass";
        }
    }
}

// The first emulator running in the table's order, unless -emulator picks one.
TEST(Attach, TheFirstEmulatorInTheTablesOrderOrTheOnePicked) {
    const struct {
        const char* emulator;
        uint32_t opened;   // 0: none
        const char* firstMessage;
    } cases[] = {
        {nullptr, 4242, nullptr},
        {"blastem", 5151, "Emulator: BlastEm (blastem.exe, process 5151)."},
        {"BlastEm.exe", 5151, "Emulator: BlastEm (blastem.exe, process 5151)."},
        {"fusion", 0, "ERROR: Could not find process 'Fusion.exe'."},
        {"gens", 0, "ERROR: Could not find process 'gens'."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.emulator != nullptr ? row.emulator : "none");
        Harness h;
        h.system.processes.insert(h.system.processes.begin() + 2, FakeProcess{5151, "blastem.exe"});
        EmulatorLinkReset(*h.tracker, FakeProcessApi(h.system), row.emulator);
        Attach(*h.tracker, *h.log);
        EXPECT_EQ(h.system.openedProcessIds, row.opened == 0 ? std::vector<uint32_t>{} : std::vector<uint32_t>{row.opened});
        EXPECT_EQ(h.TakeMessages().front(), row.firstMessage != nullptr ? row.firstMessage : Loaded());
    }
}

// [SECTION] IdentifyGame on later passes

TEST(IdentifyGame, MenuScansOnEveryPassUntilTheGameStarts) {
    Harness h({.signature = false});
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.TakeMessages(), (Messages{Loaded(), kChecksumIncorrect}));
    EXPECT_EQ(h.system.walks, 1u);

    // headerFound is cleared after a game that is not identified, so each pass scans.
    IdentifyGame(*h.tracker, *h.log);
    EXPECT_FALSE(h.tracker->identified);
    EXPECT_EQ(h.connection().headerFound, 0u);
    EXPECT_EQ(h.system.walks, 2u);

    h.system.regions.back() = FakeCoreRegion(0x7FF600000000ull, true);
    IdentifyGame(*h.tracker, *h.log);
    EXPECT_TRUE(h.tracker->identified);
    EXPECT_EQ(h.system.walks, 3u);
    EXPECT_EQ(h.TakeMessages(), (Messages{kChecksumIncorrect, kGameFound}));
}

TEST(IdentifyGame, AfterAReconnectionTheHeaderIsNotSearchedAgain) {
    Harness h;
    Attach(*h.tracker, *h.log);
    ASSERT_TRUE(h.tracker->identified);
    Disconnect(*h.tracker);
    EXPECT_EQ(h.connection().headerFound, 1u) << "kept across disconnects";
    EXPECT_EQ(h.connection().ramBase, 0u);
    EXPECT_EQ(h.connection().window, nullptr);
    EXPECT_EQ(h.connection().windowSize, 0u);
    EXPECT_EQ(h.system.handlesOpen, 0);

    // The cartridge header is gone now; only the signature is checked.
    h.system.regions.front() = FakeRomRegion(0x20000000, 0x10000, -1);
    h.TakeMessages();
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.TakeMessages(), (Messages{Loaded(), kGameFound}));
    EXPECT_EQ(h.system.walks, 1u);
    EXPECT_EQ(h.system.handlesOpen, 1);
}

// [SECTION] The header scan's walk

struct ScanCase {
    const char* name;
    std::vector<FakeRegion> (*regions)();
    bool found;
};

FakeRegion Plain(uint64_t base, uint64_t size) { return FakeRegion{base, size, true, false, {}}; }

const ScanCase kScanCases[] = {
    {"header in a region after free gaps and other regions",
     [] { return std::vector<FakeRegion>{Plain(0x10000, 0x2000), FakeRomRegion(0x40000000, 0x20000, 0x100)}; },
     true},
    {"header in a region that can't be read (no access, or only reserved)",
     [] {
         FakeRegion rom = FakeRomRegion(0x40000000, 0x20000, 0x100);
         rom.readable = false;
         return std::vector<FakeRegion>{rom};
     },
     false},
    {"unreadable region before the header is skipped",
     [] {
         FakeRegion guard = Plain(0x10000, 0x1000);
         guard.readFails = true;
         return std::vector<FakeRegion>{guard, FakeRomRegion(0x40000000, 0x20000, 0x100)};
     },
     true},
    {"header ending on the region's last byte",
     [] { return std::vector<FakeRegion>{FakeRomRegion(0x40000000, 0x1000, 0x1000 - 145)}; }, true},
    {"header starting in the first 60 MiB but ending beyond them",
     [] {
         return std::vector<FakeRegion>{FakeRomRegion(0x40000000, kScanBufferSize + 0x1000, kScanBufferSize - 100)};
     },
     false},
    {"header above 2^44, where Linux keeps a process's memory",
     [] { return std::vector<FakeRegion>{FakeRomRegion(0x55D0C0000000ull, 0x10000, 0x100)}; }, true},
    {"header at or above the top of the user address space (the fake's 2^47)",
     [] { return std::vector<FakeRegion>{FakeRomRegion(1ull << 47, 0x10000, 0x100)}; }, false},
    {"header in the last region below the top",
     [] { return std::vector<FakeRegion>{FakeRomRegion((1ull << 47) - 0x10000, 0x10000, 0x100)}; }, true},
};

TEST(HeaderScan, WalksCommittedAccessibleRegionsBelowTheLimit) {
    for (const ScanCase& row : kScanCases) {
        SCOPED_TRACE(row.name);
        Harness h;
        h.system.regions = row.regions();
        h.system.regions.push_back(FakeCoreRegion(0x7FF600000000ull, true));
        std::sort(h.system.regions.begin(), h.system.regions.end(),
                  [](const FakeRegion& a, const FakeRegion& b) { return a.base < b.base; });
        Attach(*h.tracker, *h.log);
        EXPECT_EQ(h.tracker->identified, row.found);
        EXPECT_EQ(h.TakeMessages().back(), row.found ? kGameFound : "Unknown game");
    }
}

TEST(HeaderScan, StopsAtTheFirstCopy) {
    Harness h;
    h.system.regions = {FakeRomRegion(0x10000000, 0x10000, 0x100), FakeRomRegion(0x20000000, 0x10000, 0x100),
                        FakeCoreRegion(0x7FF600000000ull, true)};
    Attach(*h.tracker, *h.log);
    ASSERT_FALSE(h.system.readsDone.empty());
    EXPECT_EQ(h.system.readsDone[0], (FakeRead{0x10000000, 0x10000}));
    for (const FakeRead& read : h.system.readsDone) EXPECT_NE(read.address, 0x20000000u) << "the second copy";
}

TEST(HeaderScan, ReadsAtMost60MiBOfARegion) {
    Harness h;
    h.system.regions = {FakeRomRegion(0x10000000, kScanBufferSize + 0x10000, -1), FakeCoreRegion(0x7FF600000000ull, true)};
    Attach(*h.tracker, *h.log);
    ASSERT_GE(h.system.readsDone.size(), 2u);
    EXPECT_EQ(h.system.readsDone[0], (FakeRead{0x10000000, kScanBufferSize}));
    EXPECT_EQ(h.system.readsDone[1], (FakeRead{0x7FF600000000ull, h.system.regions[1].size}));
}

TEST(HeaderScan, AListThatEndsShortEndsTheWalkQuietly) {
    Harness h;
    h.system.regions = {Plain(0x10000, 0x1000), FakeRomRegion(0x40000000, 0x10000, 0x100),
                        FakeCoreRegion(0x7FF600000000ull, true)};
    h.system.listEndsAt = 0x20000000;
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.TakeMessages(), (Messages{Loaded(), "Unknown game"}));
    EXPECT_TRUE(h.tracker->attached);
}

TEST(HeaderScan, AListThatDoesNotMoveTheWalkOnEndsIt) {
    // A broken list (full of one empty range) must not hang the tracker.
    Harness h;
    h.system.regions = {FakeRomRegion(0x40000000, 0x10000, 0x100), FakeCoreRegion(0x7FF600000000ull, true)};
    h.system.listRepeats = true;
    Attach(*h.tracker, *h.log);
    EXPECT_EQ(h.TakeMessages().back(), "Unknown game");
}

// [SECTION] ReadWindow

struct WindowHarness : Harness {
    WindowHarness() {
        Attach(*tracker, *log);
        TakeMessages();
    }
    uint8_t* CoreRam() { return system.regions.back().bytes.data() + kWorkRamOffsetInModule; }
};

TEST(ReadWindow, ReadsTheLast24KiBOfWorkRam) {
    WindowHarness h;
    ASSERT_TRUE(h.tracker->identified);
    h.CoreRam()[0xA000] = 0x11;
    h.CoreRam()[0xFFFF] = 0x22;
    h.CoreRam()[0x9FFF] = 0x33;
    uint32_t readsBefore = h.system.reads;
    EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::WindowGood);
    EXPECT_EQ(h.system.reads, readsBefore + 1) << "one read per pass";
    EXPECT_EQ(h.connection().window[0], 0x11);
    EXPECT_EQ(h.connection().window[kWindowSize - 1], 0x22);
    EXPECT_TRUE(h.TakeMessages().empty());
}

TEST(ReadWindow, SignatureGoneIsAMismatch) {
    WindowHarness h;
    h.CoreRam()[kSignatureRamOffset + 11] ^= 1;   // last byte of "SEGA"
    EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::SignatureMismatch);
    EXPECT_EQ(h.TakeMessages(), Messages{"Unknown checksum at end of RAM"});

    // The signature cleared and RAM below it not: a state's RAM copied in from
    // the bottom up, or the menu: passed over for a read or two, then a mismatch.
    std::memset(h.CoreRam() + kSignatureRamOffset, 0, kSignatureSize);
    h.CoreRam()[kSignatureRamOffset - 1] = 0x4D;
    for (uint32_t pass = 0; pass < kCopyReadsMax; ++pass) {
        ASSERT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::RamCleared) << pass;
    }
    EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::SignatureMismatch);
    EXPECT_EQ(h.TakeMessages(), Messages{"Unknown checksum at end of RAM"});

    // Cleared to zeros (a state being loaded): passed over for a while, then a mismatch.
    std::memset(h.CoreRam(), 0, kWorkRamSize);
    for (uint32_t pass = 0; pass < kClearedReadsMax; ++pass) {
        ASSERT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::RamCleared) << pass;
    }
    EXPECT_TRUE(h.TakeMessages().empty());
    EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::SignatureMismatch);
    EXPECT_EQ(h.TakeMessages(), Messages{"Unknown checksum at end of RAM"});
}

// A read refused for want of permission (Linux checks it on every read) says
// so; any other failure gives the code, whatever it is (on Windows access
// denied from a read means that the process has ended).
TEST(ReadWindow, FailedReadReportsTheErrorCode) {
    for (ProcessResult failure : {ProcessResult{ProcessStatus::Gone, 6}, ProcessResult{ProcessStatus::Gone, 5},
                                  ProcessResult{ProcessStatus::Unreadable, 14},
                                  ProcessResult{ProcessStatus::Denied, kFakeAccessDenied}}) {
        WindowHarness h;
        h.system.readFailure = failure;
        EXPECT_EQ(ReadWindow(*h.tracker, *h.log), ReadWindowResult::ReadFailed);
        const std::string code = std::to_string(failure.error);
        const bool refused = failure.status == ProcessStatus::Denied;
        EXPECT_EQ(h.TakeMessages(),
                  Messages{refused ? "ERROR: Not allowed to read process 'retroarch.exe' (error " + code + "). " +
                                         ProcessAccessFixes()
                                   : "ReadProcessMemory failed with error code '" + code +
                                         "' -- Disconnecting from retroarch.exe"});
    }
}

}  // namespace

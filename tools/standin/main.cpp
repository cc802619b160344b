// The stand-in emulator: a process named retroarch.exe that loads a core
// module named genesis_plus_gx_libretro.dll by path, keeps the cartridge ROM in
// memory and plays a scenario into the work RAM inside the core's data, one
// game frame at a time. Its copies named blastem.exe and Fusion.exe are
// emulators without a core that keep work RAM on the heap. See README.md in this directory.
//
//   retroarch.exe [--mode game|menu|other] [--no-header] [--no-core] [--loop]
//                 [--fps N] [--ballast-mib N] [--ram-offset N] [--split-data]
//                 [--big-endian] [--state-copy] [SCENARIO]
//   retroarch.exe --check SCENARIO
//
// A cue switches to the game (signature in place) or to the compilation's
// menu (signature gone): SIGUSR1 and SIGUSR2 on POSIX, named events on Windows
// (platform.h). SIGTERM and SIGINT, or TerminateProcess, end the process.
#include <emmintrin.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "emulator/core_layout.h"
#include "tools/standin/memory.h"
#include "tools/standin/core.h"
#include "tools/standin/game_state.h"
#include "tools/standin/platform.h"
#include "tools/standin/scenario.h"

namespace {

// Cues are taken synchronously while waiting for the next frame: nothing
// changes the cartridge's state in the middle of a frame.
int g_requestedMode = -1;   // a CartridgeMode asked for by a cue, or -1

struct Options {
    CartridgeMode mode = CartridgeMode::Game;
    bool header = true;
    bool core = true;
    bool loop = false;
    uint32_t fpsOverride = 0;
    uint32_t ballastMib = 0;
    uint64_t ramOffset = kWorkRamOffsetInModule;   // work RAM from the core's load address
    bool splitData = false;                        // the core's data in three mappings, work RAM in the second
    bool heap = false;                             // BlastEm: work RAM on the heap, no core (blastem.exe)
    bool bigEndian = false;                        // work RAM in the 68000's byte order
    bool stateCopy = false;                        // a save state's copy of work RAM on the heap too
    const char* scenarioPath = nullptr;
    const char* checkPath = nullptr;
};

// The emulated console as the scenario drives it: the RAM composed privately,
// then copied into the core's RAM once per frame, the global frame counter last.
struct Machine {
    GameState game;                // the RAM composed privately, and the clocks
    uint8_t* coreRam;              // the RAM inside the core module's data, or on the heap
    bool bigEndian;                // coreRam keeps the 68000's byte order; game.image the core's
    bool heap;                     // an emulator with one copy of the signature, in coreRam: game.image holds none
    bool signature;                // the signature is in place (the game runs)
    CartridgeMode mode;
    bool header;
    bool started;                  // the first frame is in the core's RAM: until then it holds zeros
    Cartridge cartridge;
};

[[noreturn]] void Die(const char* format, const char* detail) {
    std::fprintf(stderr, "retroarch.exe (stand-in): ");
    std::fprintf(stderr, format, detail);
    std::fputc('\n', stderr);
    std::exit(2);
}

bool ReadFile(const char* path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream buffer;
    buffer << file.rdbuf();
    *text = buffer.str();
    return true;
}

Scenario LoadScenario(const char* path) {
    std::string text;
    if (!ReadFile(path, &text)) Die("can't read scenario %s", path);
    Scenario scenario;
    std::string error;
    if (!ParseScenario(text, &scenario, &error)) {
        std::fprintf(stderr, "%s:%s\n", path, error.c_str());
        std::exit(2);
    }
    return scenario;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Die("%s needs a value", argv[i]);
            return argv[++i];
        };
        if (arg == "--mode") {
            std::string mode = value();
            if (mode == "game") {
                options.mode = CartridgeMode::Game;
            } else if (mode == "menu") {
                options.mode = CartridgeMode::Menu;
            } else if (mode == "other") {
                options.mode = CartridgeMode::Other;
            } else {
                Die("--mode takes game, menu or other, not %s", mode.c_str());
            }
        } else if (arg == "--no-header") {
            options.header = false;
        } else if (arg == "--no-core") {
            options.core = false;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--fps") {
            const char* text = value();
            options.fpsOverride = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
            if (options.fpsOverride == 0 || options.fpsOverride > 1000) Die("--fps takes 1 to 1000, not %s", text);
        } else if (arg == "--ballast-mib") {
            const char* text = value();
            options.ballastMib = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
            if (options.ballastMib > kBallastMaxMib) Die("--ballast-mib is at most 1200, not %s", text);
        } else if (arg == "--ram-offset") {
            // Another build of the core keeps work RAM elsewhere in its data;
            // always at an even address, as the 68000's words lie in it.
            const char* text = value();
            char* end = nullptr;
            options.ramOffset = std::strtoull(text, &end, 0);
            if (end == text || *end != '\0' || options.ramOffset % 2 != 0) {
                Die("--ram-offset takes an even number of bytes, not %s", text);
            }
        } else if (arg == "--split-data") {
            options.splitData = true;
        } else if (arg == "--big-endian") {
            options.bigEndian = true;
        } else if (arg == "--state-copy") {
            options.stateCopy = true;
        } else if (arg == "--check") {
            options.checkPath = value();
        } else if (!arg.empty() && arg[0] == '-') {
            Die("unknown option %s", arg.c_str());
        } else if (options.scenarioPath == nullptr) {
            options.scenarioPath = argv[i];
        } else {
            Die("one scenario only; also given %s", argv[i]);
        }
    }
    return options;
}

// The core module sits beside the executable, as RetroArch keeps its cores.
uint8_t* LoadCore(uint64_t ramOffset, bool splitData) {
    std::string directory;
    if (!StandinExecutableDirectory(&directory)) Die("can't find the executable's directory%s", "");
    const std::string path = directory + kCoreModuleName;
    std::string error;
    auto workRam = reinterpret_cast<StandinCoreWorkRamFunction>(
        StandinLoadModuleSymbol(path, kStandinCoreWorkRamSymbol, &error));
    if (workRam == nullptr) Die("%s", error.c_str());
    uint64_t loadAddress = 0;
    char reason[256] = "";
    uint8_t* ram = workRam(ramOffset, &loadAddress, reason, sizeof reason);
    if (ram == nullptr) Die("%s", reason);

    // A reader of this process finds the module where the process backend
    // says it begins: that must be the load address the RAM offset counts from.
    if (StandinModuleBaseSeenByReaders(path) != loadAddress) {
        Die("readers don't see the core at its load address (%s)", path.c_str());
    }
    // The pages of work RAM (and the bytes read after it) become a mapping of
    // their own, between the data before and after them.
    if (splitData) {
        constexpr uint64_t kPage = 4096;
        const uint64_t start = reinterpret_cast<uint64_t>(ram);
        const uint64_t first = start & ~(kPage - 1);
        const uint64_t end = (start + kWorkRamSize + kSignatureProbeSize + kPage - 1) & ~(kPage - 1);
        if (!StandinSplitMapping(reinterpret_cast<void*>(first), end - first)) Die("can't split the core's data%s", "");
    }
    return ram;
}

// The RAM as the emulator keeps it: the composed image itself, or in the
// 68000's order every byte pair of it swapped.
const uint8_t* Staged(Machine& machine) {
    if (!machine.bigEndian) return machine.game.image;
    alignas(64) static uint8_t big[kWorkRamSize];
    for (uint32_t i = 0; i < kWorkRamSize; i += 2) {
        big[i] = machine.game.image[i + 1];
        big[i + 1] = machine.game.image[i];
    }
    return big;
}

// The signature into the emulator's RAM, or cleared from it.
void WriteCoreSignature(Machine& machine) {
    uint8_t* at = machine.coreRam + kSignatureRamOffset;
    if (!machine.signature) {
        std::memset(at, 0, kSignatureSize);
    } else {
        std::memcpy(at, machine.bigEndian ? kRamSignatureBig : kRamSignature, kSignatureSize);
    }
}

// A switch of cartridge or game shows at once, between two frames. An
// emulator whose work RAM is found anywhere in its memory keeps one copy of
// the signature, as BlastEm does: the RAM composed privately holds none.
void SetMode(Machine& machine, CartridgeMode mode) {
    machine.mode = mode;
    CartridgeSetHeader(machine.cartridge, mode == CartridgeMode::Other || !machine.header ? HeaderKind::Other
                                                                                          : HeaderKind::Compilation);
    machine.signature = mode == CartridgeMode::Game;
    GameWriteSignature(machine.game, machine.signature && !machine.heap);
    if (machine.started) WriteCoreSignature(machine);
}

// The pause flag and the Start press, set by the main loop between two frames.
void CopyPause(Machine& machine) {
    if (!machine.bigEndian) {
        GameCopyPause(machine.game, machine.coreRam);
        return;
    }
    for (GameVariable v : {kVarP1Pressed, kVarPause}) {
        const uint32_t offset = GameAddress(v) - kWorkRamFirstAddress;
        machine.coreRam[offset] = machine.game.image[offset ^ 1u];
    }
}

// Everything of the frame into the core's RAM, the frame counters last, so a
// reader that sees a new frame number sees the rest of that frame too.
//
// A reader copies the RAM while frames are written. A copy of the whole RAM
// takes long enough to be interrupted half-way (the process preempted on a
// busy machine), and a reader then saw the next frame's values beside the
// previous frame number (once, a pause frame that looked unpaused and still,
// counted as a lag frame). So the changes are found first, privately, and
// then written in a burst of a few stores.
//
// The level frame counter and the global one go together in a single 16-byte
// store: they are compared with each other's previous values, so a reader
// that caught either without the other (the stand-in preempted between the
// two stores) took the frame for a lag frame, one pass early or one late.
void Commit(Machine& machine) {
    GameWriteClocks(machine.game);
    const uint8_t* image = Staged(machine);

    // The 32-bit units that differ from the core's copy, the counters' block
    // aside, found block by block.
    constexpr uint32_t kUnit = 4;
    constexpr uint32_t kBlock = 64;
    constexpr uint32_t kCounters = (GameAddress(kVarLevelFrame) - kWorkRamFirstAddress) & ~15u;
    static_assert((GameAddress(kVarGlobalFrame) - kWorkRamFirstAddress) / 16 == kCounters / 16,
                  "both frame counters lie in one 16-byte block");
    static uint32_t units[kWorkRamSize / kUnit];
    static uint32_t values[kWorkRamSize / kUnit];
    uint32_t changes = 0;
    for (uint32_t block = 0; block < kWorkRamSize; block += kBlock) {
        if (std::memcmp(machine.coreRam + block, image + block, kBlock) == 0) continue;
        for (uint32_t unit = block / kUnit; unit < (block + kBlock) / kUnit; ++unit) {
            uint32_t now, next;
            std::memcpy(&now, machine.coreRam + kUnit * unit, kUnit);
            std::memcpy(&next, image + kUnit * unit, kUnit);
            if (unit * kUnit / 16 == kCounters / 16 || now == next) continue;
            if (machine.heap && unit * kUnit >= kSignatureRamOffset && unit * kUnit < kSignatureRamOffset + kSignatureSize) {
                continue;   // kept by WriteCoreSignature
            }
            units[changes] = unit;
            values[changes++] = next;
        }
    }
    uint32_t* core = reinterpret_cast<uint32_t*>(machine.coreRam);
    for (uint32_t i = 0; i < changes; ++i) core[units[i]] = values[i];
    // An aligned 16-byte store is one access on processors with AVX, and one
    // instruction on any x86-64: the process can't be preempted half-way.
    const __m128i counters = _mm_loadu_si128(reinterpret_cast<const __m128i*>(image + kCounters));
    std::atomic_thread_fence(std::memory_order_release);
    _mm_store_si128(reinterpret_cast<__m128i*>(machine.coreRam + kCounters), counters);
    if (machine.heap && !machine.started) WriteCoreSignature(machine);
    machine.started = true;
}

struct Pacer {
    uint64_t nextNs;     // when the next frame is due, StandinClockNs time
    uint64_t periodNs;
    bool immediate;      // the first frame is not waited for
};

void PacerStart(Pacer& pacer, uint32_t fps) {
    pacer.periodNs = 1000000000ull / fps;
    pacer.immediate = true;
}

void PacerSetFps(Pacer& pacer, uint32_t fps) { pacer.periodNs = 1000000000ull / fps; }

// Sleeps until `dueNs`, taking the cues that arrive meanwhile.
void SleepUntil(uint64_t dueNs) {
    for (;;) {
        const uint64_t now = StandinClockNs();
        if (now >= dueNs) return;
        ModeCue cue = StandinWaitForCue(dueNs - now);
        if (cue == ModeCue::Game) g_requestedMode = static_cast<int>(CartridgeMode::Game);
        if (cue == ModeCue::Menu) g_requestedMode = static_cast<int>(CartridgeMode::Menu);
    }
}

// Sleeps until the next frame is due.
void PacerWait(Pacer& pacer) {
    if (pacer.immediate) {
        pacer.immediate = false;
        pacer.nextNs = StandinClockNs();
        return;
    }
    pacer.nextNs += pacer.periodNs;
    SleepUntil(pacer.nextNs);
}

// Sleeps until half-way through the frame shown, where its main loop ends.
void PacerWaitHalfway(const Pacer& pacer) {
    if (!pacer.immediate) SleepUntil(pacer.nextNs + pacer.periodNs / 2);
}


void HandleCues(Machine& machine) {
    int requested = g_requestedMode;
    if (requested < 0) return;
    g_requestedMode = -1;
    SetMode(machine, static_cast<CartridgeMode>(requested));
}

int Check(const char* path) {
    Scenario scenario = LoadScenario(path);
    uint32_t fps = 60;
    double seconds = 0;
    for (const Step& step : scenario.steps) {
        if (step.kind == StepKind::Fps) fps = step.argument;
        seconds += static_cast<double>(step.frames) / fps;
    }
    std::printf("%s: %zu steps, %llu frames, %.1f s\n", path, scenario.steps.size(),
                static_cast<unsigned long long>(ScenarioFrameCount(scenario)), seconds);
    return 0;
}

// Under any other name than RetroArch's (blastem.exe, Fusion.exe) this
// program is an emulator that keeps work RAM on its heap.
bool NamedRetroArch(const char* argv0) {
    const char* name = argv0;
    for (const char* c = argv0; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') name = c + 1;
    }
    return std::strncmp(name, "retroarch", 9) == 0;
}

// Work RAM on the heap, as BlastEm keeps it: a block of its own, never freed.
uint8_t* HeapRam() {
    uint8_t* block = static_cast<uint8_t*>(std::calloc(kWorkRamSize + 4096, 1));
    if (block == nullptr) Die("no memory for work RAM%s", "");
    return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(block) + 63) & ~uintptr_t{63});
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    if (argc > 0 && !NamedRetroArch(argv[0])) options.heap = true;
    if (options.checkPath != nullptr) return Check(options.checkPath);

    Scenario scenario;
    if (options.scenarioPath != nullptr) scenario = LoadScenario(options.scenarioPath);

    std::string cueError;
    if (!StandinCuesOpen(&cueError)) Die("%s", cueError.c_str());

    static Machine machine{};
    machine.header = options.header;
    machine.bigEndian = options.bigEndian;
    machine.heap = options.heap;
    if (!CartridgeMap(machine.cartridge, options.ballastMib)) Die("can't map the cartridge ROM at its fixed address%s", "");
    // The core last, so a reader that finds it finds everything else set up.
    // Without the core the emulator keeps its RAM elsewhere: no module to find.
    alignas(64) static uint8_t s_ramWithoutCore[kWorkRamSize + 64];
    if (options.heap) {
        machine.coreRam = HeapRam();
    } else {
        machine.coreRam = options.core ? LoadCore(options.ramOffset, options.splitData) : s_ramWithoutCore;
    }
    // A save state kept in memory: the game's RAM as the first frame left it,
    // signature and all, its frame counter standing still.
    uint8_t* stateCopy = options.stateCopy ? HeapRam() : nullptr;
    // Like a booting emulator, the RAM holds zeros until the first frame (or,
    // without a scenario, until the idle loop below) commits the game's state.
    SetMode(machine, options.mode);

    std::printf("ready pid=%u core-ram=0x%llx rom=0x%llx\n", static_cast<unsigned>(StandinProcessId()),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(machine.coreRam)),
                static_cast<unsigned long long>(CartridgeRomAddress()));
    std::fflush(stdout);

    Pacer pacer{};
    PacerStart(pacer, options.fpsOverride != 0 ? options.fpsOverride : 60);
    const bool loop = options.loop && ScenarioFrameCount(scenario) > 0;
    do {
        for (const Step& step : scenario.steps) {
            HandleCues(machine);
            switch (step.kind) {
            case StepKind::Fps:
                if (options.fpsOverride == 0) PacerSetFps(pacer, step.argument);
                continue;
            case StepKind::Mode:
                SetMode(machine, static_cast<CartridgeMode>(step.argument));
                continue;
            case StepKind::Exit:
                std::fflush(stdout);
                std::_Exit(static_cast<int>(step.argument));
            case StepKind::Say:
                std::printf("%s\n", scenario.texts[step.argument].c_str());
                std::fflush(stdout);
                continue;
            case StepKind::Set:
                for (uint32_t i = 0; i < step.assignmentCount; ++i)
                    GameApply(machine.game, scenario.assignments[step.firstAssignment + i]);
                continue;
            case StepKind::Freeze:
                for (uint32_t frame = 0; frame < step.frames; ++frame) {
                    PacerWait(pacer);
                    HandleCues(machine);
                }
                continue;
            default:
                break;
            }
            for (uint32_t frame = 0; frame < step.frames; ++frame) {
                if (machine.started && GamePauseBetweenFrames(machine.game, step.kind)) {
                    PacerWaitHalfway(pacer);
                    HandleCues(machine);
                    CopyPause(machine);   // the main loop's, between two frames
                }
                GameAdvance(machine.game, step.kind);
                for (uint32_t i = 0; i < step.assignmentCount; ++i) {
                    const Assignment& assignment = scenario.assignments[step.firstAssignment + i];
                    if (frame == 0 || assignment.everyFrame) GameApply(machine.game, assignment);
                }
                PacerWait(pacer);
                HandleCues(machine);
                Commit(machine);
                if (stateCopy != nullptr && machine.mode == CartridgeMode::Game) {
                    std::memcpy(stateCopy, machine.coreRam, kWorkRamSize);
                    stateCopy = nullptr;
                }
            }
        }
    } while (loop);

    // The scenario is over: the emulator stays on its last frame.
    Commit(machine);
    std::printf("done global-frame=%u\n", static_cast<unsigned>(machine.game.globalFrame));
    std::fflush(stdout);
    for (;;) {
        PacerWait(pacer);
        HandleCues(machine);
    }
}

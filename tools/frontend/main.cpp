// A headless libretro frontend for Windows, named as the emulator Ringwatch
// looks for: retroarch.exe, which loads genesis_plus_gx_libretro.dll from its
// own directory, hands the core the cartridge's bytes and runs it at a steady
// 60 frames a second with no picture, no sound and no buttons pressed.
//
//   retroarch.exe [--free-rom] [--fps N] [--frames N] [--hold N] ROM
//
// --free-rom   clears and frees the frontend's copy of the ROM as soon as the
//              core has loaded it, so the only copy left in the process is
//              the core's own (its bytes swapped in pairs)
// --fps N      frames per second (1 to 1000, 60 by default)
// --frames N   end after N frames (by default it runs until it is ended)
// --hold N     after N frames, stop (as a paused emulator does) until the
//              named event Local\ringwatch-frontend-PID-resume is set
//
// Standard output: one line "ready pid=... core=... ram=... ram-offset=...
// rom=kept|freed" once the core runs the cartridge (the work RAM as the core
// reports it, and its distance from the core's load address), "holding" when
// it stops for --hold, and with
// --frames a line "done frames=... late=... longest-ms=..." before it ends:
// `late` counts the frames that began a whole frame period or more after
// their time, `longest-ms` is the longest time between two frames' starts.
#include <windows.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/frontend/core_api.h"

namespace {

using namespace libretro;

[[noreturn]] void Die(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("retroarch.exe: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::exit(2);
}

struct Options {
    bool freeRom = false;
    unsigned fps = 60;
    unsigned long long frames = 0;   // 0: until ended
    unsigned long long hold = 0;     // 0: no hold
    std::string rom;
};

unsigned long long NumberArgument(const char* option, const char* text, unsigned long long highest) {
    char* end = nullptr;
    unsigned long long value = text != nullptr ? std::strtoull(text, &end, 10) : 0;
    if (text == nullptr || *text == '\0' || *end != '\0' || value == 0 || value > highest) {
        Die("%s takes a number from 1 to %llu", option, highest);
    }
    return value;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--free-rom") {
            options.freeRom = true;
        } else if (arg == "--fps") {
            options.fps = static_cast<unsigned>(NumberArgument("--fps", next, 1000));
            ++i;
        } else if (arg == "--frames") {
            options.frames = NumberArgument("--frames", next, ~0ull);
            ++i;
        } else if (arg == "--hold") {
            options.hold = NumberArgument("--hold", next, ~0ull);
            ++i;
        } else if (arg.rfind("--", 0) == 0 || !options.rom.empty()) {
            Die("usage: retroarch.exe [--free-rom] [--fps N] [--frames N] [--hold N] ROM");
        } else {
            options.rom = arg;
        }
    }
    if (options.rom.empty()) Die("usage: retroarch.exe [--free-rom] [--fps N] [--frames N] [--hold N] ROM");
    return options;
}

// [SECTION] The content

// The ROM file in one buffer of its own, read straight into it (no runtime
// stream buffer keeps a second copy of its first bytes).
struct Content {
    std::string fullPath;
    std::string dir;
    std::string name;
    std::string ext;
    unsigned char* data = nullptr;
    size_t size = 0;
    GameInfoExt info{};
};

void ReadContent(const std::string& path, Content* content) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) Die("can't resolve the path %s", path.c_str());
    content->fullPath.assign(full, length);
    const size_t slash = content->fullPath.find_last_of("\\/");
    content->dir = content->fullPath.substr(0, slash);
    const std::string file = content->fullPath.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    content->name = file.substr(0, dot);
    content->ext = dot == std::string::npos ? std::string() : file.substr(dot + 1);

    HANDLE handle = CreateFileA(content->fullPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Die("can't open %s: error %lu", content->fullPath.c_str(), GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size) || size.QuadPart <= 0 || size.QuadPart > (64ll << 20)) {
        Die("%s: not a cartridge of 1 byte to 64 MiB", content->fullPath.c_str());
    }
    content->size = static_cast<size_t>(size.QuadPart);
    content->data = static_cast<unsigned char*>(std::malloc(content->size));
    if (content->data == nullptr) Die("out of memory for %zu bytes", content->size);
    size_t done = 0;
    while (done < content->size) {
        DWORD chunk = static_cast<DWORD>(content->size - done < (1u << 24) ? content->size - done : (1u << 24));
        DWORD got = 0;
        if (!ReadFile(handle, content->data + done, chunk, &got, nullptr) || got == 0) {
            Die("can't read %s: error %lu", content->fullPath.c_str(), GetLastError());
        }
        done += got;
    }
    CloseHandle(handle);

    content->info.full_path = content->fullPath.c_str();
    content->info.dir = content->dir.c_str();
    content->info.name = content->name.c_str();
    content->info.ext = content->ext.c_str();
    content->info.data = content->data;
    content->info.size = content->size;
    content->info.file_in_archive = false;
    content->info.persistent_data = false;
}

// Clears the frontend's copy and frees it: what is left of the cartridge in
// the process is what the core made of it.
void ForgetContent(Content* content) {
    SecureZeroMemory(content->data, content->size);
    std::free(content->data);
    content->data = nullptr;
    content->info.data = nullptr;
    content->info.size = 0;
}

Content g_content;

// [SECTION] Callbacks

extern "C" bool Environment(unsigned command, void* data) {
    switch (command) {
    case kEnvGetCanDupe:
        *static_cast<bool*>(data) = true;
        return true;
    case kEnvSetPixelFormat: {
        const unsigned format = *static_cast<const unsigned*>(data);
        return format == kPixelFormatXrgb1555 || format == kPixelFormatRgb565 || format == kPixelFormatXrgb8888;
    }
    case kEnvGetVariable:
        // No settings: the core's defaults.
        static_cast<Variable*>(data)->value = nullptr;
        return false;
    case kEnvGetGameInfoExt:
        if (g_content.info.data == nullptr) return false;
        *static_cast<const GameInfoExt**>(data) = &g_content.info;
        return true;
    default:
        return false;
    }
}

extern "C" void VideoRefresh(const void*, unsigned, unsigned, size_t) {}
extern "C" void AudioSample(int16_t, int16_t) {}
extern "C" size_t AudioSampleBatch(const int16_t*, size_t frames) { return frames; }
extern "C" void InputPoll() {}
extern "C" int16_t InputState(unsigned, unsigned, unsigned, unsigned) { return 0; }

// [SECTION] The core

struct Core {
    HMODULE module;
    void (*setEnvironment)(EnvironmentFn);
    void (*setVideoRefresh)(VideoRefreshFn);
    void (*setAudioSample)(AudioSampleFn);
    void (*setAudioSampleBatch)(AudioSampleBatchFn);
    void (*setInputPoll)(InputPollFn);
    void (*setInputState)(InputStateFn);
    void (*init)();
    unsigned (*apiVersion)();
    void (*getSystemAvInfo)(SystemAvInfo*);
    bool (*loadGame)(const GameInfo*);
    void (*run)();
    void* (*getMemoryData)(unsigned);
    size_t (*getMemorySize)(unsigned);
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function) {
    FARPROC found = GetProcAddress(module, name);
    if (found == nullptr) Die("the core has no %s", name);
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

Core LoadCore() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) Die("can't find my own directory");
    std::string path(self, length);
    path = path.substr(0, path.find_last_of("\\/") + 1) + "genesis_plus_gx_libretro.dll";

    Core core{};
    core.module = LoadLibraryA(path.c_str());
    if (core.module == nullptr) Die("can't load the core %s: error %lu", path.c_str(), GetLastError());
    Resolve(core.module, "retro_set_environment", &core.setEnvironment);
    Resolve(core.module, "retro_set_video_refresh", &core.setVideoRefresh);
    Resolve(core.module, "retro_set_audio_sample", &core.setAudioSample);
    Resolve(core.module, "retro_set_audio_sample_batch", &core.setAudioSampleBatch);
    Resolve(core.module, "retro_set_input_poll", &core.setInputPoll);
    Resolve(core.module, "retro_set_input_state", &core.setInputState);
    Resolve(core.module, "retro_init", &core.init);
    Resolve(core.module, "retro_api_version", &core.apiVersion);
    Resolve(core.module, "retro_get_system_av_info", &core.getSystemAvInfo);
    Resolve(core.module, "retro_load_game", &core.loadGame);
    Resolve(core.module, "retro_run", &core.run);
    Resolve(core.module, "retro_get_memory_data", &core.getMemoryData);
    Resolve(core.module, "retro_get_memory_size", &core.getMemorySize);
    if (core.apiVersion() != kApiVersion) Die("the core speaks libretro API %u, not %u", core.apiVersion(), kApiVersion);
    return core;
}

// [SECTION] Pacing

uint64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

uint64_t TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

// Frame k is due at start + k periods, whatever the frames before it took, so
// sleeps that end a little late don't add up. A frame that starts more than a
// quarter period after its time starts the schedule again from itself instead
// of running the next frames sooner to catch up: every frame lasts at least
// three quarters of a period, as long as a reader has on a console. A frame a
// whole period or more after its time counts as late.
struct Pacer {
    uint64_t ticksPerSecond;
    unsigned fps;
    uint64_t start;
    uint64_t frame;          // frames paced since the schedule started
    uint64_t previous;       // when the previous frame began
    uint64_t longest;        // ticks between two frames' starts
    uint64_t late;

    uint64_t Due(uint64_t k) const { return start + k * ticksPerSecond / fps; }

    // After a stop the schedule starts again from the next frame.
    void Restart() { frame = 0; }

    void Wait() {
        if (frame == 0) {
            start = previous = Ticks();
            frame = 1;
            return;
        }
        const uint64_t period = ticksPerSecond / fps;
        const uint64_t due = Due(frame);
        uint64_t now = Ticks();
        while (now < due) {
            // Whole milliseconds, rounded down; the last one in short sleeps.
            const uint64_t left = (due - now) * 1000 / ticksPerSecond;
            Sleep(left > 1 ? static_cast<DWORD>(left - 1) : (left == 1 ? 1 : 0));
            now = Ticks();
        }
        if (now - previous > longest) longest = now - previous;
        previous = now;
        if (now - due >= period) ++late;
        if (now - due > period / 4) {
            start = now;
            frame = 1;
            return;
        }
        ++frame;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    ReadContent(options.rom, &g_content);
    Core core = LoadCore();

    core.setEnvironment(Environment);
    core.setVideoRefresh(VideoRefresh);
    core.setAudioSample(AudioSample);
    core.setAudioSampleBatch(AudioSampleBatch);
    core.setInputPoll(InputPoll);
    core.setInputState(InputState);
    core.init();

    const GameInfo game{g_content.fullPath.c_str(), g_content.data, g_content.size, nullptr};
    if (!core.loadGame(&game)) Die("the core did not load %s", g_content.fullPath.c_str());
    if (options.freeRom) ForgetContent(&g_content);

    const auto ram = reinterpret_cast<uint64_t>(core.getMemoryData(kMemorySystemRam));
    const auto base = reinterpret_cast<uint64_t>(core.module);
    if (ram == 0 || core.getMemorySize(kMemorySystemRam) != 0x10000) Die("the core shows no 64 KiB work RAM");
    std::printf("ready pid=%lu core=0x%llx ram=0x%llx ram-offset=0x%llX rom=%s\n", GetCurrentProcessId(),
                static_cast<unsigned long long>(base), static_cast<unsigned long long>(ram),
                static_cast<unsigned long long>(ram - base), options.freeRom ? "freed" : "kept");
    std::fflush(stdout);

    HANDLE resume = nullptr;
    if (options.hold != 0) {
        const std::string name = "Local\\ringwatch-frontend-" + std::to_string(GetCurrentProcessId()) + "-resume";
        resume = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        if (resume == nullptr) Die("can't create the event %s: error %lu", name.c_str(), GetLastError());
    }

    // Frames are paced by sleeps of a few milliseconds: ask for a 1 ms timer.
    timeBeginPeriod(1);
    Pacer pacer{TicksPerSecond(), options.fps, 0, 0, 0, 0, 0};
    for (unsigned long long frames = 0; options.frames == 0 || frames < options.frames; ++frames) {
        if (frames == options.hold && resume != nullptr) {
            std::printf("holding frame=%llu\n", frames);
            std::fflush(stdout);
            WaitForSingleObject(resume, INFINITE);
            pacer.Restart();
        }
        pacer.Wait();
        core.run();
    }
    std::printf("done frames=%llu late=%llu longest-ms=%.2f\n", options.frames,
                static_cast<unsigned long long>(pacer.late),
                static_cast<double>(pacer.longest) * 1000.0 / static_cast<double>(pacer.ticksPerSecond));
    std::fflush(stdout);
    return 0;
}

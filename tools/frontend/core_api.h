// The part of the libretro interface that this frontend uses: the entry points
// it calls in the core, the callbacks it hands over, and the few environment
// requests it answers. Layouts and numbers are those of the libretro ABI
// (version 1); every entry point uses the C calling convention.
#pragma once

#include <cstddef>
#include <cstdint>

namespace libretro {

inline constexpr unsigned kApiVersion = 1;

// Environment requests answered with true; every other one is refused.
inline constexpr unsigned kEnvGetCanDupe = 3;          // bool*
inline constexpr unsigned kEnvSetPixelFormat = 10;     // const unsigned*
inline constexpr unsigned kEnvGetVariable = 15;        // Variable*: refused, value left null
inline constexpr unsigned kEnvGetGameInfoExt = 66;     // const GameInfoExt**

inline constexpr unsigned kPixelFormatXrgb1555 = 0;
inline constexpr unsigned kPixelFormatXrgb8888 = 1;
inline constexpr unsigned kPixelFormatRgb565 = 2;

inline constexpr unsigned kMemorySystemRam = 2;        // the console's work RAM

struct GameInfo {
    const char* path;
    const void* data;
    size_t size;
    const char* meta;
};

// What the frontend knows of the loaded content. A core that reads content
// from memory takes `data` and `size` here; `persistent_data` false tells it
// that the buffer may go once retro_load_game has returned.
struct GameInfoExt {
    const char* full_path;
    const char* archive_path;
    const char* archive_file;
    const char* dir;
    const char* name;
    const char* ext;
    const char* meta;
    const void* data;
    size_t size;
    bool file_in_archive;
    bool persistent_data;
};

struct Variable {
    const char* key;
    const char* value;
};

struct GameGeometry {
    unsigned base_width;
    unsigned base_height;
    unsigned max_width;
    unsigned max_height;
    float aspect_ratio;
};

struct SystemTiming {
    double fps;
    double sample_rate;
};

struct SystemAvInfo {
    GameGeometry geometry;
    SystemTiming timing;
};

extern "C" {
using EnvironmentFn = bool (*)(unsigned command, void* data);
using VideoRefreshFn = void (*)(const void* data, unsigned width, unsigned height, size_t pitch);
using AudioSampleFn = void (*)(int16_t left, int16_t right);
using AudioSampleBatchFn = size_t (*)(const int16_t* data, size_t frames);
using InputPollFn = void (*)();
using InputStateFn = int16_t (*)(unsigned port, unsigned device, unsigned index, unsigned id);
}

}  // namespace libretro

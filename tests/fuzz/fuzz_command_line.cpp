// Arbitrary argument vectors: the input is split at NUL bytes into arguments.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int kMaxArgs = 8;
    static char buffer[4096];
    if (size >= sizeof(buffer)) return 0;
    std::memcpy(buffer, data, size);
    buffer[size] = '\0';

    const char* argv[kMaxArgs + 1] = {"ringwatch.exe"};
    int argc = 1;
    size_t start = 0;
    for (size_t i = 0; i <= size && argc < kMaxArgs + 1; ++i) {
        if (buffer[i] == '\0') {
            argv[argc++] = buffer + start;
            start = i + 1;
        }
    }
    // The first byte picks an argument count from 0 (an empty vector) up.
    int given = size > 0 ? data[0] % (argc + 1) : 0;
    CommandLineResult result = ParseCommandLine(given, argv);

    if (result.messageCount < 0 || result.messageCount > kCommandLineMaxMessages) std::abort();
    if (!(result.refreshRate >= 1.0 && result.refreshRate <= 1000.0)) std::abort();
    if (!result.refreshExplicit && result.refreshRate != kDefaultRefreshRate) std::abort();
    for (int i = 0; i < result.messageCount; ++i)
        if (std::memchr(result.messages[i], '\0', sizeof(result.messages[i])) == nullptr) std::abort();
    return 0;
}

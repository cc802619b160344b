#include "app/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Each message has a %s (the argument as typed), a %d, or both in that order.
void AddMessage(CommandLineResult& result, const char* format, const char* text, int number) {
    if (result.messageCount >= kCommandLineMaxMessages) return;
    char* out = result.messages[result.messageCount++];
    std::snprintf(out, sizeof(result.messages[0]), format, text, number);
}

void AddNumberMessage(CommandLineResult& result, const char* format, int number) {
    if (result.messageCount >= kCommandLineMaxMessages) return;
    char* out = result.messages[result.messageCount++];
    std::snprintf(out, sizeof(result.messages[0]), format, number);
}

void AddDefaultRate(CommandLineResult& result) {
    AddNumberMessage(result, "Using default refresh rate of %dHz", kDefaultRefreshRate);
}

bool HostCharacter(char c, bool bracketed) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c == '.' || c == '-' || c == '_' || (bracketed && c == ':');
}

// -livesplit and its value, taken out of the arguments before the rest is
// read: the link's messages come first. A bad value is named, and the
// defaults take the place of what could not be read.
void ParseLiveSplit(CommandLineResult& result, const char* value) {
    result.liveSplit = true;
    std::snprintf(result.liveSplitHost, sizeof result.liveSplitHost, "%s", kLiveSplitDefaultHost);
    result.liveSplitPort = kLiveSplitDefaultPort;
    if (value == nullptr) {
        AddMessage(result,
                   "Argument was '%s' but there was no valid value. Please only pass a valid argument such as "
                   "'-livesplit 16834'.",
                   "-livesplit", 0);
    } else {
        char host[kHostNameSize];
        uint16_t port = kLiveSplitDefaultPort;
        bool hostBad = false;
        const bool portGood = ParseLiveSplitTarget(value, host, sizeof host, &port, &hostBad);
        if (portGood) result.liveSplitPort = port;
        if (!hostBad && host[0] != '\0') std::snprintf(result.liveSplitHost, sizeof result.liveSplitHost, "%s", host);
        if (portGood && !hostBad) {
            char text[kHostNameSize + 48];
            std::snprintf(text, sizeof text, "LiveSplit's server: %s:%u.", result.liveSplitHost,
                          static_cast<unsigned>(result.liveSplitPort));
            AddMessage(result, "%s", text, 0);
            return;
        }
        AddMessage(result,
                   portGood ? "Invalid host in '%s'. Please only pass [HOST:]PORT with a host name or address such "
                              "as '-livesplit localhost:16834'."
                            : "Invalid port in '%s'. Please only pass [HOST:]PORT with a port [1-65535] such as "
                              "'-livesplit 16834'.",
                   value, 0);
    }
    char text[kHostNameSize + 48];
    std::snprintf(text, sizeof text, "Using LiveSplit's server at %s:%u", result.liveSplitHost,
                  static_cast<unsigned>(result.liveSplitPort));
    AddMessage(result, "%s", text, 0);
}

// -emulator and its value, taken out of the arguments like -livesplit: an
// emulator's name or program name ("blastem", "Fusion.exe"), which a program
// name that no row has may be too. What can't be a program's name (nothing,
// an option, a path, a name too long) is named, and every emulator is looked for.
void ParseEmulator(CommandLineResult& result, const char* value) {
    if (value == nullptr) {
        AddMessage(result,
                   "Argument was '%s' but there was no valid value. Please only pass a valid argument such as "
                   "'-emulator blastem'.",
                   "-emulator", 0);
    } else {
        const size_t length = std::strlen(value);
        bool good = length > 0 && length < sizeof result.emulator && value[0] != '-';
        for (size_t i = 0; good && i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(value[i]);
            good = c > ' ' && c < 0x7F && c != '/' && c != '\\' && c != ':';
        }
        if (good) {
            std::snprintf(result.emulator, sizeof result.emulator, "%s", value);
            AddMessage(result, "Emulator: looking for '%s' only.", value, 0);
            return;
        }
        AddMessage(result,
                   "Invalid emulator '%s'. Please only pass an emulator's name or program such as "
                   "'-emulator blastem'.",
                   value, 0);
    }
    AddMessage(result, "%s", "Looking for every emulator Ringwatch knows.", 0);
}

// -refresh N, or nothing: `given` arguments from argv[0] on.
void ParseRefresh(CommandLineResult& result, int given, const char* const* argv, bool liveSplit) {
    if (given == 0) {
        if (liveSplit)
            AddDefaultRate(result);
        else
            AddNumberMessage(result, "No arguments passed. Using default refresh rate of %dHz", kDefaultRefreshRate);
    } else if (given == 1) {
        if (std::strcmp(argv[0], "-refresh") == 0)
            AddMessage(result,
                       "Argument was '%s' but there was no valid value. Please only pass a valid "
                       "argument such as '-refresh 30'.",
                       argv[0], 0);
        else
            AddMessage(result,
                       "Unrecognised argument '%s'. Please only pass a valid argument such as "
                       "'-refresh 30'.",
                       argv[0], 0);
        AddDefaultRate(result);
    } else if (given == 2) {
        if (std::strcmp(argv[0], "-refresh") != 0) return;
        int32_t value = ParseInt32Like(argv[1]);
        if (value <= 0) {
            AddMessage(result,
                       "Invalid value '%s'. Please only pass a valid positive integer [1-1000] "
                       "such as '30'.",
                       argv[1], 0);
            AddDefaultRate(result);
        } else if (value < 1001) {
            AddNumberMessage(result, "Refresh rate was set to %d.", value);
            result.refreshRate = value;
            result.refreshExplicit = true;
        } else {
            AddMessage(result,
                       "Given value '%s' was parsed to %d. Please only pass a valid integer "
                       "[1-1000] such as '30'.",
                       argv[1], value);
            AddDefaultRate(result);
        }
    }
}

}  // namespace

int32_t ParseInt32Like(const char* text) {
    // long is 64 bits on Linux and 32 on Windows; clamp so both read as Windows does.
    errno = 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool ParseLiveSplitTarget(const char* text, char* host, size_t hostSize, uint16_t* port, bool* hostBad) {
    host[0] = '\0';
    *hostBad = false;
    const char* colon = std::strrchr(text, ':');
    const char* portText = colon != nullptr ? colon + 1 : text;
    if (colon != nullptr) {
        // The host: a name or an IPv4 address, or an IPv6 address between brackets.
        const char* start = text;
        const char* end = colon;
        const bool bracketed = end - start >= 2 && *start == '[' && end[-1] == ']';
        if (bracketed) {
            ++start;
            --end;
        }
        bool good = end > start && static_cast<size_t>(end - start) < hostSize;
        for (const char* c = start; good && c < end; ++c) good = HostCharacter(*c, bracketed);
        if (good) {
            std::memcpy(host, start, static_cast<size_t>(end - start));
            host[end - start] = '\0';
        }
        *hostBad = !good;
    }
    uint32_t value = 0;
    const char* c = portText;
    for (; *c >= '0' && *c <= '9' && value <= 65535; ++c) value = value * 10 + static_cast<uint32_t>(*c - '0');
    if (c == portText || *c != '\0' || value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

CommandLineResult ParseCommandLine(int argc, const char* const* argv) {
    CommandLineResult result{};
    result.refreshRate = kDefaultRefreshRate;
    result.refreshExplicit = false;
    if (argc <= 0 || argv == nullptr) return result;

    const int given = argc - 1;
    if ((given == 1 || given == 2) && std::strcmp(argv[1], "-report") == 0) {
        result.report = true;
        result.reportPath = given == 2 ? argv[2] : nullptr;
        return result;
    }
    // -livesplit and -emulator with their values, anywhere; what is left is
    // read as before.
    constexpr int kMostArguments = 6;
    const char* rest[kMostArguments];
    int restCount = 0;
    int liveSplitAt = 0;
    int emulatorAt = 0;
    for (int i = 1; i <= given && given <= kMostArguments; ++i) {
        if (liveSplitAt == 0 && std::strcmp(argv[i], "-livesplit") == 0) {
            liveSplitAt = i;
            ++i;   // its value, when there is one
        } else if (emulatorAt == 0 && std::strcmp(argv[i], "-emulator") == 0) {
            emulatorAt = i;
            ++i;
        } else {
            rest[restCount++] = argv[i];
        }
    }
    if (given > kMostArguments || restCount > 2) {
        AddNumberMessage(result, "Too many arguments given, all will be ignored.", 0);
        return result;
    }
    if (liveSplitAt != 0) ParseLiveSplit(result, liveSplitAt < given ? argv[liveSplitAt + 1] : nullptr);
    if (emulatorAt != 0) ParseEmulator(result, emulatorAt < given ? argv[emulatorAt + 1] : nullptr);
    ParseRefresh(result, restCount, rest, liveSplitAt != 0 || emulatorAt != 0);
    return result;
}

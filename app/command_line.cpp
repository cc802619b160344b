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

// An option that names where to connect or listen, [HOST:]PORT.
struct TargetOption {
    const char* name;           // "-livesplit"
    bool valueOptional;         // without a value the defaults are used, and nothing is said
    const char* example;        // "16834"
    const char* exampleHost;    // "localhost:16834"
    const char* chosen;         // "LiveSplit's server: %s." with HOST:PORT; null: nothing said
    const char* using_;         // "Using LiveSplit's server at %s"
    const char* defaultHost;
    uint16_t defaultPort;
};

constexpr TargetOption kLiveSplitOption = {"-livesplit", false, "16834", "localhost:16834", "LiveSplit's server: %s.",
                                           "Using LiveSplit's server at %s", kLiveSplitDefaultHost,
                                           kLiveSplitDefaultPort};
constexpr TargetOption kOverlayOption = {"-overlay", true, "16836", "0.0.0.0:16836", nullptr,
                                         "Using the overlay's address %s", kLiveSplitDefaultHost, kOverlayDefaultPort};
constexpr TargetOption kLiveSplitOneOption = {"-livesplit-one", true, "16835", "0.0.0.0:16835", nullptr,
                                              "Using LiveSplit One's address %s", kLiveSplitDefaultHost,
                                              kLiveSplitOneDefaultPort};

// An option and its value, taken out of the arguments before the rest is
// read: their messages come first. A bad value is named, and the defaults
// take the place of what could not be read.
void ParseTarget(CommandLineResult& result, const TargetOption& option, const char* value, char* hostOut,
                 uint16_t* portOut) {
    std::snprintf(hostOut, kHostNameSize, "%s", option.defaultHost);
    *portOut = option.defaultPort;
    char format[200];
    char target[kHostNameSize + 16];
    if (value == nullptr) {
        if (option.valueOptional) return;
        std::snprintf(format, sizeof format,
                      "Argument was '%%s' but there was no valid value. Please only pass a valid argument such as "
                      "'%s %s'.",
                      option.name, option.example);
        AddMessage(result, format, option.name, 0);
    } else {
        char host[kHostNameSize];
        uint16_t port = option.defaultPort;
        bool hostBad = false;
        const bool portGood = ParseLiveSplitTarget(value, host, sizeof host, &port, &hostBad);
        if (portGood) *portOut = port;
        if (!hostBad && host[0] != '\0') std::snprintf(hostOut, kHostNameSize, "%s", host);
        if (portGood && !hostBad) {
            if (option.chosen == nullptr) return;
            std::snprintf(target, sizeof target, "%s:%u", hostOut, static_cast<unsigned>(*portOut));
            AddMessage(result, option.chosen, target, 0);
            return;
        }
        if (portGood)
            std::snprintf(format, sizeof format,
                          "Invalid host in '%%s'. Please only pass [HOST:]PORT with a host name or address such as "
                          "'%s %s'.",
                          option.name, option.exampleHost);
        else
            std::snprintf(format, sizeof format,
                          "Invalid port in '%%s'. Please only pass [HOST:]PORT with a port [1-65535] such as '%s %s'.",
                          option.name, option.example);
        AddMessage(result, format, value, 0);
    }
    std::snprintf(target, sizeof target, "%s:%u", hostOut, static_cast<unsigned>(*portOut));
    AddMessage(result, option.using_, target, 0);
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
void ParseRefresh(CommandLineResult& result, int given, const char* const* argv, bool optionGiven) {
    if (given == 0) {
        if (optionGiven)
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
    // The options with a value, anywhere; what is left is read as before.
    // -livesplit always takes the next argument; -overlay and -livesplit-one
    // one that is no option.
    // -emulator takes the next argument, whatever it is.
    constexpr int kMostArguments = 10;
    const TargetOption* const options[] = {&kLiveSplitOption, &kOverlayOption, &kLiveSplitOneOption};
    const char* values[3] = {};
    int at[3] = {};
    const char* rest[kMostArguments];
    int restCount = 0;
    int emulatorAt = 0;
    for (int i = 1; i <= given && given <= kMostArguments; ++i) {
        if (emulatorAt == 0 && std::strcmp(argv[i], "-emulator") == 0) {
            emulatorAt = i++;
            continue;
        }
        int option = -1;
        for (int o = 0; o < 3; ++o)
            if (at[o] == 0 && std::strcmp(argv[i], options[o]->name) == 0) option = o;
        if (option < 0) {
            rest[restCount++] = argv[i];
            continue;
        }
        at[option] = i;
        if (i < given && (!options[option]->valueOptional || argv[i + 1][0] != '-')) values[option] = argv[++i];
    }
    if (given > kMostArguments || restCount > 2) {
        AddNumberMessage(result, "Too many arguments given, all will be ignored.", 0);
        return result;
    }
    if (at[0] != 0) {
        result.liveSplit = true;
        ParseTarget(result, kLiveSplitOption, values[0], result.liveSplitHost, &result.liveSplitPort);
    }
    if (at[1] != 0) {
        result.overlay = true;
        ParseTarget(result, kOverlayOption, values[1], result.overlayHost, &result.overlayPort);
    }
    if (at[2] != 0) {
        result.liveSplitOne = true;
        ParseTarget(result, kLiveSplitOneOption, values[2], result.liveSplitOneHost, &result.liveSplitOnePort);
    }
    if (emulatorAt != 0) ParseEmulator(result, emulatorAt < given ? argv[emulatorAt + 1] : nullptr);
    ParseRefresh(result, restCount, rest, at[0] != 0 || at[1] != 0 || at[2] != 0 || emulatorAt != 0);
    return result;
}

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

}  // namespace

int32_t ParseInt32Like(const char* text) {
    // long is 64 bits on Linux and 32 on Windows; clamp so both read as Windows does.
    errno = 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
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
    } else if (given == 0) {
        AddNumberMessage(result, "No arguments passed. Using default refresh rate of %dHz", kDefaultRefreshRate);
    } else if (given == 1) {
        if (std::strcmp(argv[1], "-refresh") == 0)
            AddMessage(result,
                       "Argument was '%s' but there was no valid value. Please only pass a valid "
                       "argument such as '-refresh 30'.",
                       argv[1], 0);
        else
            AddMessage(result,
                       "Unrecognised argument '%s'. Please only pass a valid argument such as "
                       "'-refresh 30'.",
                       argv[1], 0);
        AddDefaultRate(result);
    } else if (given == 2) {
        if (std::strcmp(argv[1], "-refresh") != 0) return result;
        int32_t value = ParseInt32Like(argv[2]);
        if (value <= 0) {
            AddMessage(result,
                       "Invalid value '%s'. Please only pass a valid positive integer [1-1000] "
                       "such as '30'.",
                       argv[2], 0);
            AddDefaultRate(result);
        } else if (value < 1001) {
            AddNumberMessage(result, "Refresh rate was set to %d.", value);
            result.refreshRate = value;
            result.refreshExplicit = true;
        } else {
            AddMessage(result,
                       "Given value '%s' was parsed to %d. Please only pass a valid integer "
                       "[1-1000] such as '30'.",
                       argv[2], value);
            AddDefaultRate(result);
        }
    } else {
        AddNumberMessage(result, "Too many arguments given, all will be ignored.", 0);
    }
    return result;
}

// The command line: -refresh N (1..1000 Hz), or -report [PATH], which writes
// the report of the play-through history instead of tracking. A pure function
// of argc/argv: the decision and the messages to log, in order.
#pragma once

#include <cstdint>

inline constexpr int kDefaultRefreshRate = 5;
inline constexpr int kCommandLineMaxMessages = 2;

struct CommandLineResult {
    double refreshRate;          // hertz
    bool refreshExplicit;        // a valid -refresh value was given
    bool report;                 // -report: write the history's report and exit
    const char* reportPath;      // the history file given after -report (argv's), or null
    int messageCount;            // 0..2
    char messages[kCommandLineMaxMessages][520];
};

CommandLineResult ParseCommandLine(int argc, const char* const* argv);

// strtol base 10 as a 32-bit long reads it: leading blanks and a sign allowed,
// trailing characters ignored, 0 when no digits, saturated to the int32 range.
int32_t ParseInt32Like(const char* text);

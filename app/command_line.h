// The command line: -refresh N (1..1000 Hz), -livesplit [HOST:]PORT,
// -overlay [HOST:]PORT, -livesplit-one [HOST:]PORT and -emulator NAME, in any
// order, or -report [PATH], which writes the report of the
// play-through history instead of tracking. A pure function of argc/argv: the
// decision and the messages to log, in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"
#include "stream/stream_server.h"

inline constexpr int kDefaultRefreshRate = 5;
inline constexpr int kCommandLineMaxMessages = 10;
inline constexpr int kEmulatorNameSize = 32;                 // bytes of -emulator's name, NUL included
inline constexpr uint16_t kLiveSplitDefaultPort = 16834;     // LiveSplit's server component's default
inline constexpr char kLiveSplitDefaultHost[] = "127.0.0.1"; // connect only where the player says

struct CommandLineResult {
    double refreshRate;          // hertz
    bool refreshExplicit;        // a valid -refresh value was given
    bool report;                 // -report: write the history's report and exit
    const char* reportPath;      // the history file given after -report (argv's), or null
    bool liveSplit;              // -livesplit: drive LiveSplit's server component
    char liveSplitHost[kHostNameSize];  // a name or an address; the loopback address unless given
    uint16_t liveSplitPort;
    bool overlay;                // -overlay: serve the overlay page
    char overlayHost[kHostNameSize];    // the loopback address unless given
    uint16_t overlayPort;
    bool liveSplitOne;           // -livesplit-one: serve LiveSplit One's connection
    char liveSplitOneHost[kHostNameSize];
    uint16_t liveSplitOnePort;
    char emulator[kEmulatorNameSize];   // -emulator's name or program; "": every emulator Ringwatch knows
    int messageCount;            // 0..10
    char messages[kCommandLineMaxMessages][520];
};

CommandLineResult ParseCommandLine(int argc, const char* const* argv);

// Reads "[HOST:]PORT" ("16834", "localhost:16834", "192.168.1.5:16834",
// "[::1]:16834") into `host` and `*port`. The host part, when there is one,
// must be non-empty and hold only letters, digits, '.', '-', '_' or, between
// brackets, an IPv6 address; the port must be a whole number from 1 to 65535.
// Returns false when the port is bad (`*port` untouched); a bad host leaves
// `host` empty and `*hostBad` set.
bool ParseLiveSplitTarget(const char* text, char* host, size_t hostSize, uint16_t* port, bool* hostBad);

// strtol base 10 as a 32-bit long reads it: leading blanks and a sign allowed,
// trailing characters ignored, 0 when no digits, saturated to the int32 range.
int32_t ParseInt32Like(const char* text);

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    std::vector<const char*> args;  // after the program name
    double rate;
    bool explicitRate;
    std::vector<std::string> messages;
    bool report = false;            // -report, its path the second argument when there is one
    std::string liveSplit = "";     // "HOST:PORT" the link connects to; empty: no link
    std::string overlay = "";       // "HOST:PORT" the overlay listens on; empty: none
    std::string liveSplitOne = "";  // the same for LiveSplit One's server
    std::string emulator = "";      // -emulator's name; empty: every emulator
};

std::string Target(bool given, const char* host, uint16_t port) {
    return given ? std::string(host) + ":" + std::to_string(port) : "";
}

CommandLineResult ParseArgs(const std::vector<const char*>& args) {
    std::vector<const char*> argv{"ringwatch.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

const std::string kDefault = "Using default refresh rate of 5Hz";

std::string Invalid(const std::string& text) {
    return "Invalid value '" + text + "'. Please only pass a valid positive integer [1-1000] such as '30'.";
}

std::string OutOfRange(const std::string& text, const std::string& number) {
    return "Given value '" + text + "' was parsed to " + number +
           ". Please only pass a valid integer [1-1000] such as '30'.";
}

TEST(ParseCommandLine, EveryRowOfTheTable) {
    const std::vector<Case> cases = {
        {{}, 5, false, {"No arguments passed. Using default refresh rate of 5Hz"}},
        {{"-refresh"}, 5, false,
         {"Argument was '-refresh' but there was no valid value. Please only pass a valid argument such as "
          "'-refresh 30'.",
          kDefault}},
        {{"30"}, 5, false,
         {"Unrecognised argument '30'. Please only pass a valid argument such as '-refresh 30'.", kDefault}},
        {{"-refresh", "30"}, 30, true, {"Refresh rate was set to 30."}},
        {{"-refresh", "1"}, 1, true, {"Refresh rate was set to 1."}},
        {{"-refresh", "1000"}, 1000, true, {"Refresh rate was set to 1000."}},
        {{"-refresh", "1001"}, 5, false, {OutOfRange("1001", "1001"), kDefault}},
        {{"-refresh", "0"}, 5, false, {Invalid("0"), kDefault}},
        {{"-refresh", "-5"}, 5, false, {Invalid("-5"), kDefault}},
        {{"-refresh", "abc"}, 5, false, {Invalid("abc"), kDefault}},
        {{"-refresh", ""}, 5, false, {Invalid(""), kDefault}},
        {{"-refresh", "30fps"}, 30, true, {"Refresh rate was set to 30."}},
        {{"-refresh", "  +12"}, 12, true, {"Refresh rate was set to 12."}},
        {{"-refresh", "1e3"}, 1, true, {"Refresh rate was set to 1."}},
        {{"-refresh", "0x10"}, 5, false, {Invalid("0x10"), kDefault}},
        {{"-refresh", "99999999999"}, 5, false, {OutOfRange("99999999999", "2147483647"), kDefault}},
        {{"-refresh", "-99999999999"}, 5, false, {Invalid("-99999999999"), kDefault}},
        {{"-Refresh", "30"}, 5, false, {}},
        {{"-refresh", "30", "x"}, 5, false, {"Too many arguments given, all will be ignored."}},
        {{"a", "b", "c", "d"}, 5, false, {"Too many arguments given, all will be ignored."}},
        {{"-report"}, 5, false, {}, true},
        {{"-report", "my history.csv"}, 5, false, {}, true},
        {{"-report", "a", "b"}, 5, false, {"Too many arguments given, all will be ignored."}},
        {{"-Report"}, 5, false,
         {"Unrecognised argument '-Report'. Please only pass a valid argument such as '-refresh 30'.", kDefault}},
        {{"-livesplit", "16834"}, 5, false, {"LiveSplit's server: 127.0.0.1:16834.", kDefault}, false,
         "127.0.0.1:16834"},
        {{"-refresh", "0", "-livesplit", "[::1]:9000"}, 5, false,
         {"LiveSplit's server: ::1:9000.", Invalid("0"), kDefault}, false, "::1:9000"},
        {{"-livesplit", "host:99999"}, 5, false,
         {"Invalid port in 'host:99999'. Please only pass [HOST:]PORT with a port [1-65535] such as "
          "'-livesplit 16834'.",
          "Using LiveSplit's server at host:16834", kDefault},
         false, "host:16834"},
        {{"-refresh", "30", "-livesplit"}, 30, true,
         {"Argument was '-livesplit' but there was no valid value. Please only pass a valid argument such as "
          "'-livesplit 16834'.",
          "Using LiveSplit's server at 127.0.0.1:16834", "Refresh rate was set to 30."},
         false, "127.0.0.1:16834"},
        {{"-emulator", "blastem", "-refresh", "30"}, 30, true,
         {"Emulator: looking for 'blastem' only.", "Refresh rate was set to 30."}, false, "", "", "", "blastem"},
        {{"-refresh", "30", "-livesplit", "16834", "-emulator", "Fusion.exe"}, 30, true,
         {"LiveSplit's server: 127.0.0.1:16834.", "Emulator: looking for 'Fusion.exe' only.",
          "Refresh rate was set to 30."},
         false, "127.0.0.1:16834", "", "", "Fusion.exe"},
        {{"-emulator"}, 5, false,
         {"Argument was '-emulator' but there was no valid value. Please only pass a valid argument such as "
          "'-emulator blastem'.",
          "Looking for every emulator Ringwatch knows.", kDefault}},
        {{"-emulator", "C:\\Games\\blastem.exe", "-refresh", "0"}, 5, false,
         {"Invalid emulator 'C:\\Games\\blastem.exe'. Please only pass an emulator's name or program such as "
          "'-emulator blastem'.",
          "Looking for every emulator Ringwatch knows.", Invalid("0"), kDefault}},
        {{"-refresh", "30", "-livesplit", "16834", "-emulator", "blastem", "x"}, 5, false,
         {"Too many arguments given, all will be ignored."}},
        {{"-overlay"}, 5, false, {kDefault}, false, "", "127.0.0.1:16836"},
        {{"-livesplit-one", "-overlay", "0.0.0.0:99999", "-refresh", "30"}, 30, true,
         {"Invalid port in '0.0.0.0:99999'. Please only pass [HOST:]PORT with a port [1-65535] such as "
          "'-overlay 16836'.",
          "Using the overlay's address 0.0.0.0:16836", "Refresh rate was set to 30."},
         false, "", "0.0.0.0:16836", "127.0.0.1:16835"},
        {{"-livesplit", "9000", "-livesplit-one", "bad/host:9001", "-overlay", "9002", "-refresh", "60"}, 60, true,
         {"LiveSplit's server: 127.0.0.1:9000.",
          "Invalid host in 'bad/host:9001'. Please only pass [HOST:]PORT with a host name or address such as "
          "'-livesplit-one 0.0.0.0:16835'.",
          "Using LiveSplit One's address 127.0.0.1:9001", "Refresh rate was set to 60."},
         false, "127.0.0.1:9000", "127.0.0.1:9002", "127.0.0.1:9001"},
        {{"-overlay", "-overlay"}, 5, false,
         {"Unrecognised argument '-overlay'. Please only pass a valid argument such as '-refresh 30'.", kDefault},
         false, "", "127.0.0.1:16836"},
    };
    for (const Case& c : cases) {
        std::string label = "args:";
        for (const char* a : c.args) label += std::string(" [") + a + "]";
        SCOPED_TRACE(label);
        CommandLineResult result = ParseArgs(c.args);
        EXPECT_EQ(result.refreshRate, c.rate);
        EXPECT_EQ(result.refreshExplicit, c.explicitRate);
        EXPECT_EQ(result.report, c.report);
        EXPECT_STREQ(result.reportPath, c.report && c.args.size() == 2 ? c.args[1] : nullptr);
        EXPECT_EQ(result.liveSplit ? std::string(result.liveSplitHost) + ":" + std::to_string(result.liveSplitPort)
                                   : "",
                  c.liveSplit);
        EXPECT_EQ(result.emulator, c.emulator);
        EXPECT_EQ(Target(result.overlay, result.overlayHost, result.overlayPort), c.overlay);
        EXPECT_EQ(Target(result.liveSplitOne, result.liveSplitOneHost, result.liveSplitOnePort), c.liveSplitOne);
        ASSERT_EQ(result.messageCount, static_cast<int>(c.messages.size()));
        for (size_t i = 0; i < c.messages.size(); ++i) EXPECT_EQ(result.messages[i], c.messages[i]);
    }
}

TEST(ParseCommandLine, EmptyArgumentVectorLogsNothing) {
    CommandLineResult result = ParseCommandLine(0, nullptr);
    EXPECT_EQ(result.refreshRate, 5);
    EXPECT_FALSE(result.refreshExplicit);
    EXPECT_EQ(result.messageCount, 0);
}

TEST(ParseInt32Like, SaturatesLikeA32BitStrtol) {
    EXPECT_EQ(ParseInt32Like("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt32Like("2147483648"), 2147483647);
    EXPECT_EQ(ParseInt32Like("-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseInt32Like("99999999999999999999999"), 2147483647);
    EXPECT_EQ(ParseInt32Like(" \t-7x"), -7);
}

}  // namespace

// Turns a scenario of the stand-in into the frame stream that the test
// cartridge plays, and lists when its say lines happen. See README.md.
//
//   testrom_stream [--other] [--passes N] [--fps N] [--says FILE] [SCENARIO] STREAM
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/standin/scenario.h"
#include "tools/testrom/frame_stream.h"

namespace {

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "testrom_stream: %s\n", message.c_str());
    std::exit(2);
}

void Usage() { Fail("usage: testrom_stream [--other] [--passes N] [--fps N] [--says FILE] [SCENARIO] STREAM"); }

}  // namespace

int main(int argc, char** argv) {
    StreamOptions options;
    std::string saysPath, scenarioPath, streamPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--other") {
            options.signature = false;
        } else if (arg == "--passes" && i + 1 < argc) {
            options.passes = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            if (options.passes == 0 || options.passes > 1000) Fail("--passes takes 1 to 1000");
        } else if (arg == "--fps" && i + 1 < argc) {
            options.fps = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            if (options.fps == 0 || options.fps > 60) Fail("--fps takes 1 to 60");
        } else if (arg == "--says" && i + 1 < argc) {
            saysPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            Usage();
        } else if (streamPath.empty()) {
            streamPath = arg;
        } else if (scenarioPath.empty()) {
            scenarioPath = streamPath;
            streamPath = arg;
        } else {
            Usage();
        }
    }
    if (streamPath.empty()) Usage();

    Scenario scenario;
    if (!scenarioPath.empty()) {
        std::ifstream file(scenarioPath, std::ios::binary);
        if (!file) Fail("can't read " + scenarioPath);
        std::ostringstream text;
        text << file.rdbuf();
        std::string error;
        if (!ParseScenario(text.str(), &scenario, &error)) Fail(scenarioPath + ":" + error);
    }

    FrameStream stream;
    std::string error;
    if (!BuildFrameStream(scenario, options, &stream, &error)) Fail(scenarioPath + ":" + error);
    const std::vector<uint8_t> bytes = EncodeFrameStream(stream);
    std::ofstream out(streamPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("can't write " + streamPath);

    if (!saysPath.empty()) {
        std::ofstream says(saysPath, std::ios::trunc);
        says << "# say  vblank  global-frame  text   (the cartridge stores the say number at 0x" << std::hex
             << std::uppercase << kSayMarkerAddress << std::dec << std::nouppercase << ")\n";
        for (const SayMoment& say : stream.says) {
            says << say.number << ' ' << say.vblank << ' ' << say.globalFrame << ' ' << say.text << '\n';
        }
        says << "# the stream ends after vertical blank " << stream.records.size() << " ("
             << stream.records.size() / 60.0 << " s)\n";
        if (!says) Fail("can't write " + saysPath);
    }
    return 0;
}

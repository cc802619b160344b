// The program itself beside the stand-in: the play-through history it leaves,
// row by row against the scenario's ground truth, and a program killed in the
// middle of a run.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/history.h"
#include "e2e/child_process.h"
#include "e2e/e2e_support.h"
#include "e2e/standin_test.h"
#include "platform/file.h"

namespace {

using namespace std::chrono_literals;

struct ChildKiller {
    void operator()(ChildProcess* child) const { ChildKill(child); }
};
using Program = std::unique_ptr<ChildProcess, ChildKiller>;

// The file's rows, split into fields. Every line must end with the line end
// of the OS and hold the header's 12 fields; `whole` tells whether they did.
std::vector<std::vector<std::string>> ReadRows(const std::string& path, bool* whole) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();
    const std::string lineEnd = kFileLineEnd;
    std::vector<std::vector<std::string>> rows;
    *whole = true;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(lineEnd, start);
        if (end == std::string::npos) {
            *whole = false;
            break;
        }
        std::vector<std::string> fields;
        std::stringstream line(text.substr(start, end - start));
        for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
        if (fields.size() != 12) *whole = false;
        rows.push_back(fields);
        start = end + lineEnd.size();
    }
    return rows;
}

class History : public StandinTest {
  protected:
    void SetUp() override {
        StandinTest::SetUp();
        folder_ = MakeTemporaryDirectory();
        ASSERT_FALSE(folder_.empty());
        std::string dataFolder;
        program_ = ProgramWithDataIn(RINGWATCH_PROGRAM, folder_, &dataFolder);
        ASSERT_FALSE(program_.empty());
        file_ = dataFolder + kHistoryFileName;
    }

    // The play-through with 8 s of Sega logo in front, so that the program,
    // which connects a pass and 2.4 s after its start, sees the run from its
    // start. Returns the scenario's path.
    std::string PlayThroughWithLongLogo() {
        std::ifstream original(ScenarioPath("playthrough.txt"));
        std::stringstream text;
        text << original.rdbuf();
        std::string scenario = text.str();
        const std::string logo = "hold 30 gameMode=0 ";
        const size_t at = scenario.find(logo);
        if (at == std::string::npos) return std::string();
        scenario.replace(at, logo.size(), "hold 240 gameMode=0 ");
        const std::string path = folder_ + "playthrough.txt";
        std::ofstream(path, std::ios::binary) << scenario;
        return path;
    }

    // Waits until the file holds `count` lines (header included).
    bool WaitForRows(size_t count, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            bool whole = false;
            if (ReadRows(file_, &whole).size() >= count) return true;
            std::this_thread::sleep_for(50ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    std::string folder_;
    std::string program_;
    std::string file_;
};

TEST_F(History, PlayThroughLeavesARowPerLevelRecordAndTheRunsTotals) {
    const std::string scenario = PlayThroughWithLongLogo();
    ASSERT_FALSE(scenario.empty());
    ASSERT_TRUE(standin.Start({scenario}));
    Program ringwatch(ChildStart(program_, {}));
    ASSERT_NE(ringwatch, nullptr);
    ASSERT_TRUE(standin.WaitForLine("done", 60s));
    ASSERT_TRUE(WaitForRows(5, 5s));
    std::this_thread::sleep_for(500ms);
    ringwatch.reset();

    bool whole = false;
    const auto rows = ReadRows(file_, &whole);
    EXPECT_TRUE(whole);
    // The ground truth at the bottom of the scenario.
    const std::vector<std::string> expected = {
        kHistoryHeader,
        "1,EH1,00:45.50,4550,1,1,1,0,3,37,25",
        "1,EH2,00:45.73,4573,0,0,1,1,2,12,30",
        "1,EH2,01:02.50,6250,0,1,0,0,1,64,32",
        "1,Total,02:33.73,15373,1,2,2,1,6,113,87",
    };
    ASSERT_EQ(rows.size(), expected.size());
    const std::regex localTime("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string joined;
        for (size_t f = i == 0 ? 0 : 1; f < rows[i].size(); ++f) joined += (joined.empty() ? "" : ",") + rows[i][f];
        EXPECT_EQ(joined, expected[i]) << "row " << i;
        if (i > 0) EXPECT_TRUE(std::regex_match(rows[i][0], localTime)) << rows[i][0];
    }
}

// Killed after the first level: the file holds that row whole. Started again
// in the same run, the program appends to it with the next play-through number.
TEST_F(History, KilledMidRunLeavesAFileThatParses) {
    ASSERT_TRUE(standin.Start({ScenarioPath("playthrough.txt")}));
    Program ringwatch(ChildStart(program_, {}));
    ASSERT_NE(ringwatch, nullptr);
    ASSERT_TRUE(WaitForRows(2, 40s));
    ringwatch.reset();
    bool whole = false;
    auto rows = ReadRows(file_, &whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], "EH1");

    ringwatch.reset(ChildStart(program_, {}));
    ASSERT_NE(ringwatch, nullptr);
    ASSERT_TRUE(standin.WaitForLine("done", 60s));
    ASSERT_TRUE(WaitForRows(3, 5s));
    std::this_thread::sleep_for(500ms);
    ringwatch.reset();
    rows = ReadRows(file_, &whole);
    EXPECT_TRUE(whole);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "date_time") << "one header";
    EXPECT_EQ(rows[1][1], "1");
    for (size_t i = 2; i < rows.size(); ++i) EXPECT_EQ(rows[i][1], "2") << "row " << i;
    EXPECT_EQ(rows.back()[2], "Total");
}

}  // namespace

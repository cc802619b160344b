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

#include "history/history_format.h"
#include "report/report.h"
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

std::string ReadFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The file's rows, split into fields; `whole` tells whether every line ended
// with the OS's line end and held the header's 14 fields.
std::vector<std::vector<std::string>> ReadRows(const std::string& path, bool* whole) {
    const std::string text = ReadFile(path);
    const std::string lineEnd = kFileLineEnd;
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    bool fields = true;
    for (size_t end; (end = text.find(lineEnd, start)) != std::string::npos; start = end + lineEnd.size()) {
        std::stringstream line(text.substr(start, end - start));
        rows.emplace_back();
        for (std::string field; std::getline(line, field, ',');) rows.back().push_back(field);
        fields = fields && rows.back().size() == 14;
    }
    *whole = fields && start == text.size();
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
        dataFolder_ = dataFolder;
    }

    // Waits until the file holds `count` lines (header included).
    bool WaitForRows(size_t count, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool whole = false;
        while (ReadRows(file_, &whole).size() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    std::string folder_;
    std::string program_;
    std::string file_;
    std::string dataFolder_;
};

// The play-through with 8 s of Sega logo in front, at 15 frames a second: the
// program connects a pass and 2.4 s after its start, and on a busy machine
// it must still see every frame of the run. The rows are the ground truth at
// the bottom of the scenario, each written once.
TEST_F(History, PlayThroughLeavesARowPerLevelRecordAndTheRunsTotals) {
    std::string scenario = ReadFile(ScenarioPath("playthrough.txt"));
    const size_t logo = scenario.find("hold 30 gameMode=0 ");
    ASSERT_NE(logo, std::string::npos);
    scenario.replace(logo, 7, "hold 120");
    std::ofstream(folder_ + "playthrough.txt", std::ios::binary) << scenario;
    ASSERT_TRUE(standin.Start({"--fps", kFunctionalFps, folder_ + "playthrough.txt"}));
    Program ringwatch(ChildStart(program_, {}));
    ASSERT_NE(ringwatch, nullptr);
    ASSERT_TRUE(standin.WaitForLine("done", 60s));
    ASSERT_TRUE(WaitForRows(5, 5s));
    std::this_thread::sleep_for(1s);
    ringwatch.reset();

    bool whole = false;
    const auto rows = ReadRows(file_, &whole);
    EXPECT_TRUE(whole);
    const std::vector<std::string> expected = {
        "date_time,playthrough,level,time,hundredths,perfect_spindashes,p1_hits,pauses,deaths,lag_frames,rings,"
        "collected,frames_unseen,state_loads",
        "1,EH1,00:45.50,4550,1,1,1,0,3,37,25,0",
        "1,EH2,00:45.73,4573,0,0,1,1,2,12,30,0",
        "1,EH2,01:02.50,6250,0,1,0,0,1,64,32,0",
        "1,Total,02:33.73,15373,1,2,2,1,6,113,87,0",   // and frames_unseen: how busy the machine was
    };
    ASSERT_EQ(rows.size(), expected.size());
    const std::regex localTime("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string joined;
        const size_t unseen = rows[i].size() - 2;   // frames_unseen, compared below by its form only
        for (size_t f = i == 0 ? 0 : 1; f < rows[i].size(); ++f) {
            if (i > 0 && f == unseen) continue;
            joined += (joined.empty() ? "" : ",") + rows[i][f];
        }
        EXPECT_EQ(joined, expected[i]) << "row " << i;
        if (i > 0) {
            EXPECT_TRUE(std::regex_match(rows[i][0], localTime)) << rows[i][0];
            EXPECT_TRUE(std::regex_match(rows[i][unseen], std::regex("[0-9]+"))) << rows[i][unseen];
        }
    }

    // The report of that history: each level's best is the ground truth, EH2's
    // the sum of its rows before and after the special stage, and the sum of
    // best is the run's total.
    std::string output;
    Program report(ChildStart(program_, {"-report", file_}));
    ASSERT_NE(report, nullptr);
    while (ChildReadOutput(report.get(), &output, 30000) == ChildRead::Data) {
    }
    EXPECT_NE(output.find("Sum of best: 02:33.73 over 2 levels."), std::string::npos) << output;
    EXPECT_NE(output.find("Best run: 02:33.73"), std::string::npos) << output;
    const std::string page = ReadFile(dataFolder_ + kReportFileName);
    for (const char* best : {"<th>EH1</th><td>1</td><td class=\"best\">00:45.50</td>",
                             "<th>EH2</th><td>1</td><td class=\"best\">01:48.23</td>"})
        EXPECT_NE(page.find(best), std::string::npos) << best;
}

// Killed right after the first level's row: the file holds it whole.
TEST_F(History, KilledMidRunLeavesAFileThatParses) {
    ASSERT_TRUE(standin.Start({ScenarioPath("playthrough.txt")}));
    Program ringwatch(ChildStart(program_, {}));
    ASSERT_NE(ringwatch, nullptr);
    ASSERT_TRUE(WaitForRows(2, 40s));
    ringwatch.reset();
    bool whole = false;
    const auto rows = ReadRows(file_, &whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], "EH1");
}

}  // namespace

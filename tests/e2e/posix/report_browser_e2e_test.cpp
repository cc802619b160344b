// The report's page in a real browser: ringwatch -report on a history of
// every level, the page opened by headless Chromium with the network shut
// off, each level's chart measured as the browser lays it out. Leaves the
// page's run chart as report-example.svg in the working folder, the picture
// of the README.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "history/history_format.h"
#include "report/report.h"
#include "e2e/child_process.h"

namespace {

// 24 play-throughs of every level, each a little faster but the first, the
// best run, with a special stage in EH2 every third, as the program writes them.
std::string History() {
    std::string file = std::string(kHistoryHeader) + "\n";
    uint32_t seed = 7;
    char text[kHistoryRowSize];
    for (uint32_t run = 1; run <= 24; ++run) {
        HistoryRow row{};
        int64_t total = 0;
        row.time = LocalTime{2026, 1 + static_cast<int>(run) / 28, 1 + static_cast<int>(run) % 28, 20, 0, 0};
        for (uint32_t level = 0; level < kHistoryLevelCount; ++level) {
            seed = seed * 1664525u + 1013904223u;
            int64_t time = 3000 + level * 250 + (24 - run) * (20 + level) + seed % 400;
            if (run == 1 && level % 2 == 0) time -= 2500;   // the best run is the first: at the chart's left edge
            const bool special = level == 1 && run % 3 == 0;
            total += time;
            row.levelIndex = level;
            row.hundredths = special ? time / 3 : time;
            row.counts.deaths = seed >> 30 == 0;
            row.counts.lagFrames = seed >> 29;
            file.append(text, FormatHistoryRow(row, run, "\n", text, sizeof text));
            row.hundredths = time - time / 3;
            if (special) file.append(text, FormatHistoryRow(row, run, "\n", text, sizeof text));
        }
        row.summary = 1;
        row.hundredths = total;
        file.append(text, FormatHistoryRow(row, run, "\n", text, sizeof text));
    }
    return file;
}

TEST(ReportPage, EveryLevelsChartIsDrawnInAHeadlessBrowserWithoutANetwork) {
    std::string found;
    if (!RunShell("command -v chromium", &found)) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "chromium is missing (scripts/setup.sh test installs it)";
        GTEST_SKIP() << "chromium is missing: scripts/setup.sh test installs it";
    }
    const std::string folder = MakeTemporaryDirectory();
    std::ofstream(folder + kHistoryFileName, std::ios::binary) << History();
    std::string output;
    ASSERT_TRUE(RunShell(ShellQuoted(RINGWATCH_PROGRAM) + " -report " + ShellQuoted(folder + kHistoryFileName), &output)) << output;
    ASSERT_NE(output.find("Report: " + folder + kReportFileName), std::string::npos) << output;
    std::stringstream page;
    page << std::ifstream(folder + kReportFileName, std::ios::binary).rdbuf();
    const std::string html = page.str();
    for (const char* fetch : {"<script", "<link", "src=", "href=", "url(", "@import"})
        EXPECT_EQ(html.find(fetch), std::string::npos) << fetch;

    // A copy of the page that lists each chart's size as the browser lays it
    // out: the chart, its best mark, its line and its labels that reach out of
    // it. The script comes before the page's policy, which allows none.
    const std::string probe =
        "<script>addEventListener('DOMContentLoaded',()=>{let t='';for(const c of document.querySelectorAll("
        "'svg.chart')){const r=c.getBoundingClientRect(),l=c.querySelector('.times');t+=c.dataset.level+' '+"
        "Math.round(r.width)+'x'+Math.round(r.height)+' best '+c.querySelector('.best').getBBox().width+' line '+"
        "(l?Math.round(l.getBBox().width):0)+' out '+[...c.querySelectorAll('text')].filter(x=>{const b=x.getBBox(),"
        "v=c.viewBox.baseVal;return b.x<0||b.y<0||b.x+b.width>v.width||b.y+b.height>v.height}).length+'\\n'}"
        "const p=document.createElement('pre');p.id='probe';"
        "p.textContent=t;document.body.append(p)})</script>";
    std::string probed = html;
    probed.insert(probed.find("<meta"), probe);
    std::ofstream(folder + "probe.html", std::ios::binary) << probed;
    std::string dom;
    ASSERT_TRUE(RunShell("timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
                         "--disable-background-networking --disable-component-update --disable-sync "
                         "--proxy-server=socks5://127.0.0.1:9 --host-resolver-rules='MAP * ~NOTFOUND' " +
                         ShellQuoted("--user-data-dir=" + folder + "profile") + " --dump-dom " +
                         ShellQuoted("file://" + folder + "probe.html") + " 2>/dev/null",
                         &dom));
    const std::regex drawn("([A-Za-z0-9]+) ([1-9][0-9]*)x([1-9][0-9]*) best ([1-9][0-9.]*) line ([1-9][0-9]*) out 0");
    std::string charts;
    for (std::sregex_iterator at(dom.begin(), dom.end(), drawn), end; at != end; ++at) charts += (*at)[1].str() + " ";
    EXPECT_EQ(charts, "Total EH1 EH2 CP1 CP2 AR1 AR2 CN1 CN2 HT1 HT2 MC1 MC2 OO1 OO2 MZ1 MZ2 MZ3 SC WF DE ") << dom;

    // The README's picture: the run chart with the page's style, on white.
    const size_t style = html.find("<style>");
    const size_t chart = html.find("<svg class=\"chart run\"");
    ASSERT_TRUE(style != std::string::npos && chart != std::string::npos);
    std::string picture = html.substr(chart, html.find("</svg>", chart) + 6 - chart);
    picture.insert(picture.find('>') + 1, html.substr(style, html.find("</style>") + 8 - style) +
                                              "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>");
    std::ofstream("report-example.svg", std::ios::binary) << picture;
    RunShell("rm -rf " + ShellQuoted(folder), &output);
}

}  // namespace

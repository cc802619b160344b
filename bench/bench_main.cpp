// The benchmarks' main: runs them with the usual console output, then prints
// every figure as a ratio against its baseline from the same run. Each
// repetition of a benchmark is paired with the same repetition of its
// baseline; the figure is the ratio of the medians, with the lowest and
// highest paired ratio beside it. CPU time per iteration throughout: the
// machine may be shared, and time spent waiting for a core is not the code's.
//
//   ringwatch_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//
// Colours only on a terminal.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

enum class Better { Lower, Higher };

// measured / baseline seconds per iteration, or baseline / measured where
// Better::Higher (a throughput); baselineSeconds stands in for a benchmark.
struct Figure {
    const char* label;
    const char* measured;
    const char* baseline;        // benchmark name, or null for baselineSeconds
    double baselineSeconds;
    Better better;
    double target;               // the ratio must stay at or below (Lower) / at or above (Higher)
};

const Figure kFigures[] = {
    {"1 connected pass / bare window read", "BM_ConnectedPass", "BM_BareWindowRead", 0, Better::Lower, 1.5},
    {"1 connected pass, LiveSplit linked / not", "BM_ConnectedPassLinked", "BM_ConnectedPass", 0, Better::Lower, 1.1},
    {"1 connected pass, overlay and LiveSplit One served / not", "BM_ConnectedPassServed", "BM_ConnectedPass", 0,
     Better::Lower, 1.1},
    {"2 decode+classify / memcpy 24 KiB", "BM_DecodeAndClassify", "BM_MemcpyWindow", 0, Better::Lower, 1.0},
    {"3 header search, program memory (x memchr)", "BM_HeaderSearch/program_memory",
     "BM_MemchrCountS/program_memory", 0, Better::Higher, 0.8},
    {"3 header search, random bytes (x memchr)", "BM_HeaderSearch/random", "BM_MemchrCountS/random", 0, Better::Higher, 0.8},
    {"3 header search, every byte 'S' (x memchr)", "BM_HeaderSearch/all_s", "BM_MemchrCountS/all_s", 0, Better::Higher, 0.0},
    {"5 frame composition / 1/60 s", "BM_ComposeFrame", nullptr, 1.0 / 60.0, Better::Lower, 0.02},
    {"6 report, 100,000 rows / read+split the file", "BM_Report100k", "BM_ReadAndSplit100k", 0, Better::Lower, 0.0},
    {"6 report, 100,000 rows / 1 s", "BM_Report100k", nullptr, 1.0, Better::Lower, 1.0},
};

// Shows the aggregates of repeated benchmarks only (every repetition when
// there is one), and keeps each repetition's CPU time for the figures.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1 || run.error_occurred) shown.push_back(run);
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
            samples_[run.run_name.str()].push_back(run.cpu_accumulated_time / static_cast<double>(run.iterations));
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    // The table of figures; returns the number of targets missed.
    int PrintFigures() {
        GetOutputStream().flush();   // the console output first, then the table
        int missed = 0;
        std::printf("\n%-45s %12s %12s %8s %17s %8s  %s\n", "figure (CPU time)", "measured", "baseline", "ratio",
                    "spread", "target", "");
        for (const Figure& figure : kFigures) {
            const std::vector<double>* measured = Find(figure.measured);
            const std::vector<double>* baseline = figure.baseline != nullptr ? Find(figure.baseline) : nullptr;
            if (measured == nullptr || (figure.baseline != nullptr && baseline == nullptr)) continue;
            std::vector<double> base = baseline != nullptr ? *baseline : std::vector<double>{figure.baselineSeconds};
            std::vector<double> ratios;
            for (size_t i = 0; i < measured->size(); ++i) ratios.push_back(Ratio(figure, (*measured)[i], base[i % base.size()]));
            const double ratio = Ratio(figure, Median(*measured), Median(base));
            const bool met = figure.better == Better::Lower ? ratio <= figure.target : ratio >= figure.target;
            if (!met) ++missed;
            char spread[64];
            std::snprintf(spread, sizeof spread, "%.3f..%.3f", *std::min_element(ratios.begin(), ratios.end()),
                          *std::max_element(ratios.begin(), ratios.end()));
            char target[32] = "report";
            if (figure.target > 0)
                std::snprintf(target, sizeof target, "%s %.2f", figure.better == Better::Lower ? "<=" : ">=",
                              figure.target);
            std::printf("%-45s %12s %12s %8.3f %17s %8s  %s\n", figure.label, Time(Median(*measured)).c_str(),
                        Time(Median(base)).c_str(), ratio, spread, target,
                        figure.target > 0 ? (met ? "met" : "MISSED") : "");
        }
        std::fflush(stdout);
        return missed;
    }

  private:
    const std::vector<double>* Find(const char* name) const {
        auto found = samples_.find(name);
        return found != samples_.end() && !found->second.empty() ? &found->second : nullptr;
    }
    static double Ratio(const Figure& figure, double measured, double baseline) {
        return figure.better == Better::Lower ? measured / baseline : baseline / measured;
    }
    static double Median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    static std::string Time(double seconds) {
        char text[32];
        if (seconds >= 1e-3) {
            std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
        } else if (seconds >= 1e-6) {
            std::snprintf(text, sizeof text, "%.3f us", seconds * 1e6);
        } else {
            std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
        }
        return text;
    }

    std::map<std::string, std::vector<double>> samples_;   // seconds per iteration, one per repetition
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintFigures();
    benchmark::Shutdown();
    return 0;
}

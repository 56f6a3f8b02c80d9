// The console report of a benchmark run, keeping each benchmark's mean real
// time per iteration so the program can print ratios at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> Times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.iterations > 0 && !run.error_occurred)
                Times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    // Mean time of a registered benchmark, whose name gains suffixes such as
    // "/iterations:10/real_time"; 0 when it did not run.
    double TimeOf(const std::string& name) const {
        for (const auto& [key, time] : Times)
            if (key.rfind(name + "/", 0) == 0) return time;
        return 0.0;
    }

    // "Ratios, ours / curl" for pairs of (ours, theirs) names; a label is
    // the name of ours without its first `cut` characters.
    void PrintRatios(const std::vector<std::pair<std::string, std::string>>& pairs,
                     size_t cut) const {
        std::printf("\nRatios, ours / curl (lower is faster):\n");
        for (const auto& [ours, theirs] : pairs)
            if (TimeOf(theirs) > 0)
                std::printf("%-32s %.2f\n", ours.substr(cut).c_str(),
                            TimeOf(ours) / TimeOf(theirs));
    }
};

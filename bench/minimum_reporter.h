// A console reporter that also keeps, for every benchmark, the least CPU
// time per iteration over its repetitions: the figure the ratio tables use,
// since on a shared machine the least time is the one least disturbed.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class MinimumReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            auto found = best_.find(run.run_name.function_name);
            if (found == best_.end() || seconds < found->second)
                best_[run.run_name.function_name] = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Seconds per iteration, or 0 when the benchmark did not run.
    double best(const std::string& name) const
    {
        const auto found = best_.find(name);
        return found == best_.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> best_;
};

// Google Benchmark's start, with the repetitions of different benchmarks
// interleaved at random, so that a busy moment of the machine is not all
// charged to one side. False when an argument is not one of its own.
inline bool initialiseInterleaved(int argc, char** argv)
{
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

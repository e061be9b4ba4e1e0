// How fast the analyser reads a sample dump: the table of a staircase run
// on 2 inputs (values up to 7 digits) and of a full-scale sine on 8 inputs
// (10 digits and a sign), parsed from memory, and the staircase read from a
// file in the page cache as the analyser reads it. Then, for a staircase, a
// pulse and a sine on 2 inputs, parsing alone against parsing and the whole
// analysis, side by side, with the ratio of the two.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "analyse/dump_parser.h"
#include "analysis/recording_analysis.h"
#include "minimum_reporter.h"

namespace {

std::string makeDump(int inputs, int64_t rows, bool sine)
{
    std::string text = "Input latency is 288, output latency is 320\n";
    for (int c = 0; c < inputs; ++c) text += "Max Abs 0(sample 0, Initial zeroes 0, total samples 0)\t";
    text += "\nPosition\tvalues\n";
    text.reserve(static_cast<size_t>(rows) * static_cast<size_t>(inputs + 1) * 12);
    for (int64_t p = 0; p < rows; ++p) {
        text += std::to_string(p);
        text += '\t';
        const int64_t value = sine ? static_cast<int64_t>(std::sin(0.1309 * static_cast<double>(p)) * 2147483647.0)
                                   : (p % 48000) * 100;
        for (int c = 0; c < inputs; ++c) {
            text += std::to_string(value);
            text += '\t';
        }
        text += '\n';
    }
    return text;
}

void parse(benchmark::State& state, const std::string& text)
{
    for (auto _ : state) {
        analyse::DumpData dump;
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = analyse::parseDumpText(text.data(), text.data() + text.size(), "bench.txt", dump, error, warnings);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(dump.columns.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void StaircaseTwoInputs(benchmark::State& state)
{
    static const std::string text = makeDump(2, 2000000, false);
    parse(state, text);
}

void SineEightInputs(benchmark::State& state)
{
    static const std::string text = makeDump(8, 500000, true);
    parse(state, text);
}

// The file is written once and read over and over, so it stays in the page
// cache: what is timed is the reader and the parser, not the disk.
class DumpOnDisk {
public:
    explicit DumpOnDisk(const std::string& text)
        : path_("/tmp/bench_analyse_parse." + std::to_string(getpid()) + ".txt"), bytes_(text.size())
    {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~DumpOnDisk() { std::remove(path_.c_str()); }
    DumpOnDisk(const DumpOnDisk&) = delete;
    DumpOnDisk& operator=(const DumpOnDisk&) = delete;

    const std::string& path() const { return path_; }
    size_t bytes() const { return bytes_; }

private:
    std::string path_;
    size_t bytes_;
};

void StaircaseTwoInputsFromFile(benchmark::State& state)
{
    const DumpOnDisk file(makeDump(2, 2000000, false));
    for (auto _ : state) {
        analyse::DumpData dump;
        std::string error;
        std::vector<std::string> warnings;
        const bool ok = analyse::readDumpFile(file.path(), dump, error, warnings);
        if (!ok) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(dump.columns.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.bytes()));
}

// A 10-second run at 48 kHz as the harness dumps it: the lead-in's silence,
// then the signal, one second a loop, on 2 inputs.
enum class Signal { staircase, pulse, sine };
const char* const signalNames[] = {"staircase", "pulse", "sine"};

std::string makeRun(Signal signal)
{
    constexpr int inputs = 2;
    constexpr int64_t rows = 480000, lead = 608, loop = 48000;
    std::string text = "Input latency is 288, output latency is 320\n";
    for (int c = 0; c < inputs; ++c) text += "Max Abs 0(sample 0, Initial zeroes 0, total samples 0)\t";
    text += "\nPosition\tvalues\n";
    for (int64_t p = 0; p < rows; ++p) {
        int64_t value = 0;
        if (p >= lead) {
            const int64_t k = (p - lead) % loop;
            if (signal == Signal::staircase) value = k * 100;
            if (signal == Signal::pulse) value = k == 0 ? 2147483647 : 0;
            if (signal == Signal::sine)
                value = static_cast<int64_t>(std::sin(997.0 * 6.283185308 * static_cast<double>(k) / 48000.0) *
                                             2147483647.0);
        }
        text += std::to_string(p);
        text += '\t';
        for (int c = 0; c < inputs; ++c) {
            text += std::to_string(value);
            text += '\t';
        }
        text += '\n';
    }
    return text;
}

const std::string& runText(Signal signal)
{
    static const std::string texts[] = {makeRun(Signal::staircase), makeRun(Signal::pulse), makeRun(Signal::sine)};
    return texts[static_cast<int>(signal)];
}

void parseRun(benchmark::State& state, Signal signal) { parse(state, runText(signal)); }

void parseAndAnalyseRun(benchmark::State& state, Signal signal)
{
    const std::string& text = runText(signal);
    analyse::AnalysisOptions options;
    options.rate = 48000.0;
    for (auto _ : state) {
        analyse::DumpData dump;
        std::string error;
        std::vector<std::string> warnings;
        if (!analyse::parseDumpText(text.data(), text.data() + text.size(), "bench.txt", dump, error, warnings))
            state.SkipWithError(error.c_str());
        const analyse::RunResult result = analyse::analyseRun(dump, options, -1);
        benchmark::DoNotOptimize(result.channels.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(StaircaseTwoInputs)->Unit(benchmark::kMillisecond);
BENCHMARK(SineEightInputs)->Unit(benchmark::kMillisecond);
BENCHMARK(StaircaseTwoInputsFromFile)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    for (const Signal signal : {Signal::staircase, Signal::pulse, Signal::sine}) {
        const std::string name = signalNames[static_cast<int>(signal)];
        benchmark::RegisterBenchmark(("parse/" + name).c_str(), parseRun, signal)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5);
        benchmark::RegisterBenchmark(("parseAndAnalyse/" + name).c_str(), parseAndAnalyseRun, signal)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5);
    }
    if (!initialiseInterleaved(argc, argv)) return 1;

    MinimumReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nparse and the whole analysis against parse alone (least CPU time of the repetitions):\n");
    for (const char* name : signalNames) {
        const double alone = reporter.best(std::string("parse/") + name);
        const double whole = reporter.best(std::string("parseAndAnalyse/") + name);
        if (alone > 0.0 && whole > 0.0)
            std::printf("  %-10s %7.1f ms  %7.1f ms  ratio %.2f\n", name, alone * 1e3, whole * 1e3, whole / alone);
    }
    return 0;
}

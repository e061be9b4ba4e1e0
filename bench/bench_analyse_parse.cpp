// How fast the analyser reads a sample dump: the table of a staircase run
// on 2 inputs (values up to 7 digits) and of a full-scale sine on 8 inputs
// (10 digits and a sign), parsed from memory, and the staircase read from a
// file in the page cache as the analyser reads it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "analyse/dump_parser.h"

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

}  // namespace

BENCHMARK(StaircaseTwoInputs)->Unit(benchmark::kMillisecond);
BENCHMARK(SineEightInputs)->Unit(benchmark::kMillisecond);
BENCHMARK(StaircaseTwoInputsFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

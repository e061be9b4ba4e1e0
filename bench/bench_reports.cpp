// How fast a run's reports are written, against the two ends of the scale:
//   analyseRun       the whole analysis of a run, both report files included;
//   singleFwrite     the identical dump bytes handed to the file in one call,
//                    about as fast as the disk takes them;
//   fprintfPerNumber the same dump layout with one fprintf per number.
// The recordings are those of 10 s at 48 kHz with 2 outputs and 8 inputs.
// At the end the ratios analyseRun / singleFwrite and fprintfPerNumber /
// analyseRun are printed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "record/test_state.h"
#include "report/run_analysis.h"
#include "report/report_files.h"

namespace {

constexpr int32_t outputs = 2;
constexpr int32_t inputs = 8;
constexpr double rate = 48000.0;
constexpr size_t positions = 480000;  // 10 s
constexpr size_t leadIn = 768;
const char dumpName[] = "ASIO PCM(Run 0).txt";

std::vector<std::vector<int32_t>> recordings;

// A loud sine on every input, each channel with its own phase and a little
// offset, so that the numbers have the lengths real recordings give.
void makeRecordings()
{
    recordings.assign(outputs + inputs, {});
    for (int32_t r = 0; r < outputs + inputs; ++r) {
        const size_t length = r < outputs ? positions : positions + leadIn;
        recordings[static_cast<size_t>(r)].resize(length);
        for (size_t p = 0; p < length; ++p) {
            const double phase = 6.283185307179586 * 220.0 * static_cast<double>(p) / rate + 0.3 * r;
            recordings[static_cast<size_t>(r)][p] = static_cast<int32_t>(std::sin(phase) * 2147000000.0) + r;
        }
    }
}

void loadRecordings()
{
    for (size_t r = 0; r < recordings.size(); ++r) {
        SampleRecording& capture = testState.captures[r];
        capture.clear();
        capture.append(recordings[r].data(), recordings[r].size());
    }
}

void prepareState()
{
    testState.outputChannelCount = outputs;
    testState.inputChannelCount = inputs;
    testState.sampleRate = rate;
    testState.bufferSize = 256;
    testState.inputLatency = 384;
    testState.outputLatency = 384;
    testState.callCount = (positions + leadIn) / 256;
    testState.samplesProcessed = positions + leadIn;
    testState.staircaseMode = false;
    if (!testState.resultsFile) testState.resultsFile = openResultsFile();
}

std::string readFile(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first two lines of the dump (latencies and the per-input entries),
// taken from the fast writer's file: only the table is worth timing.
std::string dumpHeader;

// The plain way: every number of the table through fprintf.
void writeDumpWithFprintf(const char* name)
{
    std::FILE* file = std::fopen(name, "wt");
    if (file == nullptr) return;
    std::fprintf(file, "%s", dumpHeader.c_str());
    std::fprintf(file, "Position\tvalues\n");
    for (size_t p = 0; p < positions; ++p) {
        std::fprintf(file, "%d\t", static_cast<int>(p));
        for (int32_t i = 0; i < inputs; ++i)
            std::fprintf(file, "%d\t", recordings[static_cast<size_t>(outputs + i)][p]);
        std::fprintf(file, "\n");
    }
    std::fclose(file);
}

void analyseRunBenchmark(benchmark::State& state)
{
    prepareState();
    for (auto _ : state) {
        state.PauseTiming();
        loadRecordings();
        state.ResumeTiming();
        analyseRun(0);
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(dumpName)));
}

void singleFwriteBenchmark(benchmark::State& state)
{
    prepareState();
    loadRecordings();
    analyseRun(0);
    const std::string dump = readFile(dumpName);
    for (auto _ : state) {
        std::FILE* file = std::fopen(dumpName, "wt");
        if (file == nullptr) {
            state.SkipWithError("cannot create the dump file");
            break;
        }
        std::fwrite(dump.data(), 1, dump.size(), file);
        std::fclose(file);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dump.size()));
}

void fprintfPerNumberBenchmark(benchmark::State& state)
{
    prepareState();
    for (auto _ : state) writeDumpWithFprintf(dumpName);
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * std::filesystem::file_size(dumpName)));
}

BENCHMARK(analyseRunBenchmark)->Name("analyseRun")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(singleFwriteBenchmark)->Name("singleFwrite")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(fprintfPerNumberBenchmark)->Name("fprintfPerNumber")->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the time of every benchmark so the ratios can be shown at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const
    {
        const auto time = [this](const char* name) {
            const auto found = times_.find(name);
            return found == times_.end() ? 0.0 : found->second;
        };
        const double analyse = time("analyseRun"), single = time("singleFwrite"), plain = time("fprintfPerNumber");
        if (analyse > 0 && single > 0) std::printf("analyseRun / singleFwrite = %.2f\n", analyse / single);
        if (analyse > 0 && plain > 0) std::printf("fprintfPerNumber / analyseRun = %.2f\n", plain / analyse);
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
        ("loopcheck-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(folder);

    makeRecordings();
    // The fast writer must give the bytes the plain one does.
    prepareState();
    loadRecordings();
    analyseRun(0);
    const std::string fast = readFile(dumpName);
    dumpHeader = fast.substr(0, fast.find("Position\t"));
    writeDumpWithFprintf("plain.txt");
    if (readFile("plain.txt") != fast) std::fprintf(stderr, "the two writers differ: the figures mean nothing\n");

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();

    testState.resultsFile.reset();
    for (SampleRecording& capture : testState.captures) capture.release();
    std::filesystem::current_path(home);
    std::filesystem::remove_all(folder);
    return 0;
}

// The qualification's costs beside the streaming itself:
//   analyseRun/staircase|pulse|sine   the in-process analysis of one second
//                                     at 192 kHz on 32 inputs, as a
//                                     qualification analyses each run; the
//                                     counter timesRealTime is the second
//                                     of audio over the time it took
//                                     (targets: 50 for the staircase, 10
//                                     for the pulse and the sine);
//   wholeQualification                the real executable qualifying the
//                                     virtual driver over 4 rates x 3 sizes
//                                     x 3 runs of 1 s; the counter
//                                     overheadFraction is the time beyond
//                                     the streaming (the 36 s of the runs
//                                     and each cell's routing start, as
//                                     report.json gives it) over that time
//                                     (target: at most 0.2).
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/recording_analysis.h"

namespace {

constexpr int inputs = 32;
constexpr double rate = 192000.0;
constexpr int64_t leadIn = 608;
constexpr int64_t roundTrip = 640;

// One second of what the inputs record: silence for the round trip, then
// the looping signal.
analyse::DumpData recording(analyse::SignalKind kind)
{
    analyse::DumpData dump;
    dump.inputLatency = 288;
    dump.outputLatency = 320;
    const auto samples = static_cast<int64_t>(rate);
    std::vector<int32_t> column(static_cast<size_t>(samples), 0);
    // The recording starts with the first callback; the signal is sent
    // after the lead-in and comes back one round trip later.
    const int64_t onset = leadIn + roundTrip;
    for (int64_t p = onset; p < samples; ++p) {
        const int64_t i = p - onset;
        int32_t value = 0;
        if (kind == analyse::SignalKind::staircase) {
            value = static_cast<int32_t>(static_cast<uint32_t>(i * 100));
        } else if (kind == analyse::SignalKind::pulse) {
            value = i == 0 ? INT32_MAX : 0;
        } else {
            value = static_cast<int32_t>(std::sin(220.0 * 6.283185308 * static_cast<double>(i) / rate) * 2147483647.0);
        }
        column[static_cast<size_t>(p)] = value;
    }
    dump.columns.assign(inputs, column);
    dump.rows = samples;
    return dump;
}

void analyseOneSecond(benchmark::State& state, analyse::SignalKind kind)
{
    const analyse::DumpData dump = recording(kind);
    analyse::AnalysisOptions options;
    options.rate = rate;
    options.signal = kind;
    options.bits = 32;
    if (kind == analyse::SignalKind::sine) options.frequency = 220.0;
    for (auto _ : state) {
        const analyse::RunResult result = analyse::analyseRun(dump, options, inputs);
        if (result.channels.size() != inputs || !result.channels[0].passed) state.SkipWithError("the recording did not pass");
        benchmark::DoNotOptimize(result.channels.data());
    }
    // Seconds of audio analysed per second of work.
    state.counters["timesRealTime"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void staircase(benchmark::State& state) { analyseOneSecond(state, analyse::SignalKind::staircase); }
void pulse(benchmark::State& state) { analyseOneSecond(state, analyse::SignalKind::pulse); }
void sine(benchmark::State& state) { analyseOneSecond(state, analyse::SignalKind::sine); }

void wholeQualification(benchmark::State& state)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("bench_qualify." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path registry = folder / "drivers.reg";
    std::ofstream(registry) << "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Bench]\n"
                               "\"CLSID\"=\"{5E1A0000-0000-4000-8000-0000000000B7}\"\n\n"
                               "[HKEY_CLASSES_ROOT\\CLSID\\{5E1A0000-0000-4000-8000-0000000000B7}\\InprocServer32]\n"
                               "@=\"" LOOPCHECK_DRIVER_LIBRARY "\"\n";
    setenv("LOOPCHECK_REGISTRY", registry.c_str(), 1);
    const std::string command = std::string(LOOPCHECK_EXECUTABLE) +
                                " --qualify 0 --rates 44100,48000,96000,192000 --buffers 64,256,1024 --runs 3"
                                " --seconds 1 --report " + (folder / "report").string() + " > /dev/null";
    double overhead = 0.0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (status != 0) state.SkipWithError("the qualification did not pass");
        std::ifstream reportFile(folder / "report" / "report.json");
        const nlohmann::json report = nlohmann::json::parse(reportFile, nullptr, false);
        double streaming = 4 * 3 * 3 * 1.0;
        if (!report.is_discarded()) {
            for (const nlohmann::json& cell : report.value("cells", nlohmann::json::array()))
                if (cell.contains("routing")) streaming += cell["routing"].value("seconds", 0.0);
        }
        overhead = seconds / streaming - 1.0;
        state.counters["streamedSeconds"] = streaming;
    }
    state.counters["overheadFraction"] = overhead;
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(staircase)->Name("analyseRun/staircase")->Unit(benchmark::kMillisecond);
BENCHMARK(pulse)->Name("analyseRun/pulse")->Unit(benchmark::kMillisecond);
BENCHMARK(sine)->Name("analyseRun/sine")->Unit(benchmark::kMillisecond);
BENCHMARK(wholeQualification)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();

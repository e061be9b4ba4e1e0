// The virtual driver's clock as the harness meets it: a 10 s stream at
// 48 kHz with buffer 64 (a period of 1.333 ms), the bundled driver library
// loaded and driven as the harness drives it, the harness's own buffer
// switch doing its work in every call. The time of every call is noted.
//
// Figures, all from the one stream:
//   - calls per second, from the first call to the last, against
//     sampleRate / bufferSize (target: within 0.05 %);
//   - the interval between calls: its distribution, and its 99.9th
//     percentile against the period (target: within 1 ms);
//   - start() to the first call (one period by design).
// Lines starting with "TABLE" are read by scripts/bench.
//
// Usage: bench_virtual_clock [driver library] [benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "loopback_host.h"

namespace {

constexpr double rate = 48000.0;
constexpr int32_t bufferSize = 64;
constexpr double seconds = 10.0;
constexpr double periodNs = bufferSize * 1e9 / rate;

std::string libraryPath = LOOPCHECK_DRIVER_LIBRARY;

struct Outcome {
    bool ran = false;
    std::vector<int64_t> at;  // call times
    int64_t startCalled = 0;
    int64_t startReturned = 0;
    int64_t stopCalled = 0;
};
Outcome outcome;

void streamBenchmark(benchmark::State& state)
{
    bench::LoopbackLibrary library(libraryPath.c_str());
    bench::DriverHandle driver = library.openDriver();
    if (!driver) {
        state.SkipWithError(("cannot load the driver: " + library.error()).c_str());
        return;
    }
    for (auto _ : state) {
        std::string why;
        if (!bench::createStream(driver.get(), rate, bufferSize, seconds, why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        outcome.startCalled = bench::nowNs();
        if (driver->start() != ASE_OK) {
            state.SkipWithError("start failed");
            break;
        }
        outcome.startReturned = bench::nowNs();
        // The run sequence's wait: the main thread sleeps for the run.
        std::this_thread::sleep_until(bench::Clock::now() + std::chrono::duration<double>(seconds));
        outcome.stopCalled = bench::nowNs();
        driver->stop();
        state.SetIterationTime(static_cast<double>(outcome.stopCalled - outcome.startCalled) * 1e-9);
        outcome.at.assign(bench::switchTimes.at.begin(), bench::switchTimes.at.begin() + bench::switchTimes.count);
        outcome.ran = outcome.at.size() > 2;
        bench::endStream(driver.get());
    }
    if (outcome.ran) {
        const double span = static_cast<double>(outcome.at.back() - outcome.at.front()) * 1e-9;
        state.counters["calls"] = static_cast<double>(outcome.at.size());
        state.counters["calls_per_s"] = static_cast<double>(outcome.at.size() - 1) / span;
    }
}

BENCHMARK(streamBenchmark)
    ->Name("virtualClock/48kHz/buffer64/10s")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double percentile(const std::vector<double>& sorted, double p)
{
    const double place = p / 100.0 * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(place);
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (place - static_cast<double>(below));
}

void printFigures()
{
    if (!outcome.ran) {
        std::printf("TABLE\tvirtual clock: calls per second / nominal\tnot measured\t<= 0.05%% off\tno\n");
        std::printf("TABLE\tvirtual clock: 99.9th percentile interval - period\tnot measured\t<= 1 ms\tno\n");
        return;
    }
    const std::vector<int64_t>& at = outcome.at;
    const double nominal = rate / bufferSize;
    const double span = static_cast<double>(at.back() - at.front()) * 1e-9;
    const double measured = static_cast<double>(at.size() - 1) / span;
    const double offPercent = 100.0 * std::abs(measured / nominal - 1.0);
    const double overStream = static_cast<double>(at.size()) /
                              (static_cast<double>(outcome.stopCalled - outcome.startCalled) * 1e-9);

    std::vector<double> intervals;  // milliseconds
    for (size_t i = 1; i < at.size(); ++i) intervals.push_back(static_cast<double>(at[i] - at[i - 1]) * 1e-6);
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    const double periodMs = periodNs * 1e-6;
    const double p999 = percentile(sorted, 99.9);

    std::printf("\nVirtual clock, %.0f Hz, buffer %d, %.0f s stream (period %.4f ms, %.2f calls/s nominal)\n", rate,
                bufferSize, seconds, periodMs, nominal);
    std::printf("calls %zu; first to last call %.6f s: %.4f calls/s (%.4f%% off nominal); calls / stream time %.3f\n",
                at.size(), span, measured, offPercent, overStream);
    std::printf("start() returned after %.3f ms; first call %.3f ms after start() was called (one period is %.3f ms)\n",
                static_cast<double>(outcome.startReturned - outcome.startCalled) * 1e-6,
                static_cast<double>(at.front() - outcome.startCalled) * 1e-6, periodMs);
    std::printf("interval between calls, ms:");
    for (double p : {0.0, 0.1, 1.0, 10.0, 50.0, 90.0, 99.0, 99.9, 100.0})
        std::printf("  p%g %.4f", p, p == 0.0 ? sorted.front() : p == 100.0 ? sorted.back() : percentile(sorted, p));
    std::printf("\n");

    // Distribution of the interval's departure from the period.
    const double edges[] = {-1.0, -0.5, -0.2, -0.1, -0.05, -0.02, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0};
    const size_t bins = std::size(edges) + 1;
    std::vector<size_t> counts(bins, 0);
    for (double interval : intervals) {
        const double off = interval - periodMs;
        size_t bin = 0;
        while (bin < std::size(edges) && off >= edges[bin]) ++bin;
        ++counts[bin];
    }
    std::printf("interval - period (ms)      calls\n");
    for (size_t b = 0; b < bins; ++b) {
        char label[48];
        if (b == 0)
            std::snprintf(label, sizeof label, "      below %+.2f", edges[0]);
        else if (b == bins - 1)
            std::snprintf(label, sizeof label, "  %+.2f and above", edges[b - 1]);
        else
            std::snprintf(label, sizeof label, "%+.2f to %+.2f", edges[b - 1], edges[b]);
        const int bar = counts[b] == 0 ? 0 : 1 + static_cast<int>(40.0 * static_cast<double>(counts[b]) /
                                                                  static_cast<double>(intervals.size()));
        std::printf("%-20s %10zu  %s\n", label, counts[b], std::string(static_cast<size_t>(bar), '#').c_str());
    }

    std::printf("TABLE\tvirtual clock: calls per second against %.0f/s\t%.4f%% off\t<= 0.05%% off\t%s\n", nominal,
                offPercent, offPercent <= 0.05 ? "yes" : "no");
    std::printf("TABLE\tvirtual clock: 99.9th percentile interval - period\t%+.3f ms\t<= 1 ms\t%s\n", p999 - periodMs,
                std::abs(p999 - periodMs) <= 1.0 ? "yes" : "no");
    std::printf("STARTUP\tdriver start() to first call, buffer 64\t%.3f ms\n",
                static_cast<double>(at.front() - outcome.startCalled) * 1e-6);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // What is left after the benchmark's own flags may name the library.
    if (argc > 1 && argv[1][0] != '-') {
        libraryPath = argv[1];
        --argc;
        ++argv;
    }
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The bundled driver with its defaults, whatever registry file the
    // environment names.
    unsetenv("LOOPCHECK_REGISTRY");
    benchmark::RunSpecifiedBenchmarks();
    printFigures();
    return 0;
}

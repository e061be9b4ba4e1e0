// The JACK bridge's process callback against merely moving its bytes.
//
// For 32 + 32 ports, periods of 64 and 256 frames and both formats (18:
// conversion between float and 32-bit integers; 19: bytes as they are),
// two benchmarks run side by side, their repetitions interleaved at random:
//   bridge/...  one period as the callback does it: every input port into
//               the host's input half, the host's buffer switch (here one
//               that does nothing), the output half into every output port;
//   memcpy/...  the same bytes between the same buffers with plain memcpy.
// The figure is the least CPU time of the repetitions. Lines starting with
// "TABLE" are read by scripts/bench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bridge_buffers.h"
#include "minimum_reporter.h"

namespace {

constexpr int32_t ports = 32;
const int32_t periods[] = {64, 256};
const ASIOSampleType formats[] = {ASIOSTInt32LSB, ASIOSTFloat32LSB};

std::string configName(ASIOSampleType type, int32_t frames)
{
    return "type" + std::to_string(type) + "/32+32/period" + std::to_string(frames);
}

// JACK's port buffers and the host's halves, filled with a signal the
// integer conversion does not reduce to silence.
struct Period {
    std::vector<std::vector<float>> inputPorts;
    std::vector<std::vector<float>> outputPorts;
    std::vector<const float*> inputs;
    std::vector<float*> outputs;
    std::vector<ASIOBufferInfo> infos;
    BridgeBuffers buffers;

    Period(ASIOSampleType type, int32_t frames)
    {
        for (int32_t k = 0; k < ports; ++k) {
            inputPorts.emplace_back(static_cast<size_t>(frames));
            outputPorts.emplace_back(static_cast<size_t>(frames));
            for (int32_t i = 0; i < frames; ++i)
                inputPorts.back()[static_cast<size_t>(i)] = static_cast<float>((i * 37 + k) % 2001 - 1000) / 1000.0f;
            inputs.push_back(inputPorts.back().data());
            outputs.push_back(outputPorts.back().data());
        }
        for (int32_t k = 0; k < ports; ++k)
            infos.push_back(ASIOBufferInfo{ASIOFalse, k, {}});
        for (int32_t k = 0; k < ports; ++k)
            infos.push_back(ASIOBufferInfo{ASIOTrue, k, {}});
        if (buffers.create(type, ports, ports, infos.data(), 2 * ports, frames) != ASE_OK)
            std::abort();
        for (int32_t k = 0; k < ports; ++k)
            for (int h = 0; h < 2; ++h)
                std::memcpy(infos[static_cast<size_t>(k)].buffers[h], inputs[static_cast<size_t>(k)],
                            static_cast<size_t>(frames) * 4);
    }
};

void hostSwitch(int32_t half) { benchmark::DoNotOptimize(half); }

void bridgeBenchmark(benchmark::State& state, ASIOSampleType type, int32_t frames)
{
    Period p(type, frames);
    int32_t half = 0;
    for (auto _ : state) {
        p.buffers.readInputs(p.inputs.data(), half);
        hostSwitch(half);
        p.buffers.writeOutputs(p.outputs.data(), half);
        benchmark::ClobberMemory();
        half ^= 1;
    }
}

void memcpyBenchmark(benchmark::State& state, ASIOSampleType type, int32_t frames)
{
    Period p(type, frames);
    const size_t bytes = static_cast<size_t>(frames) * 4;
    int32_t half = 0;
    for (auto _ : state) {
        for (int32_t k = 0; k < ports; ++k)
            std::memcpy(p.infos[static_cast<size_t>(ports + k)].buffers[half], p.inputs[static_cast<size_t>(k)],
                        bytes);
        hostSwitch(half);
        for (int32_t k = 0; k < ports; ++k)
            std::memcpy(p.outputs[static_cast<size_t>(k)], p.infos[static_cast<size_t>(k)].buffers[half], bytes);
        benchmark::ClobberMemory();
        half ^= 1;
    }
}

void printTable(const MinimumReporter& reporter)
{
    std::printf("\nJACK bridge period against memcpy of the same bytes (least CPU time of the repetitions)\n");
    std::printf("%-24s %12s %12s %7s %7s %4s\n", "case", "bridge ns", "memcpy ns", "ratio", "target", "met");
    for (ASIOSampleType type : formats) {
        double worst = 0;
        for (int32_t frames : periods) {
            const std::string name = configName(type, frames);
            const double bridge = reporter.best("bridge/" + name);
            const double plain = reporter.best("memcpy/" + name);
            if (bridge <= 0 || plain <= 0)
                continue;
            const double ratio = bridge / plain;
            worst = std::max(worst, ratio);
            std::printf("%-24s %12.1f %12.1f %7.2f %7.1f %4s\n", name.c_str(), bridge * 1e9, plain * 1e9, ratio, 2.0,
                        ratio <= 2.0 ? "yes" : "NO");
        }
        std::printf("TABLE\tJACK bridge callback / memcpy, type %d, 32+32, periods 64 and 256, worst case\t%.2fx\t<= "
                    "2x\t%s\n",
                    type, worst, worst > 0 && worst <= 2.0 ? "yes" : "no");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    for (ASIOSampleType type : formats)
        for (int32_t frames : periods) {
            benchmark::RegisterBenchmark(("bridge/" + configName(type, frames)).c_str(), bridgeBenchmark, type, frames)
                ->MinTime(0.05)
                ->Repetitions(7);
            benchmark::RegisterBenchmark(("memcpy/" + configName(type, frames)).c_str(), memcpyBenchmark, type, frames)
                ->MinTime(0.05)
                ->Repetitions(7);
        }

    if (!initialiseInterleaved(argc, argv)) return 1;

    MinimumReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter);
    return 0;
}

// The virtual driver's sample work per buffer half, digital loop against
// the analog loop model, for 8 inputs and outputs at buffer 256 (48 kHz):
// what the analog path costs the audio thread, and that the digital loop
// stays the plain copy it was.
//
// Usage: bench_loopback_engine [benchmark flags]
#include <benchmark/benchmark.h>

#include <vector>

#include "loopback_engine.h"

namespace {

constexpr int32_t channels = 8;
constexpr int32_t bufferSize = 256;

void halves(benchmark::State& state, AnalogLoopSettings analog)
{
    LoopbackFormat format;
    format.sampleType = 18;
    format.outputs = channels;
    format.inputs = channels;
    format.roundTrip = 608;
    format.analog = analog;
    std::vector<ASIOBufferInfo> infos;
    for (int32_t c = 0; c < channels; ++c) {
        infos.push_back(ASIOBufferInfo{ASIOTrue, c, {nullptr, nullptr}});
        infos.push_back(ASIOBufferInfo{ASIOFalse, c, {nullptr, nullptr}});
    }
    LoopbackEngine engine;
    if (engine.create(format, infos.data(), static_cast<int32_t>(infos.size()), bufferSize) != ASE_OK) {
        state.SkipWithError("no buffers");
        return;
    }
    int32_t index = 0;
    for (auto _ : state) {
        engine.beginHalf(index);
        engine.endHalf(index);
        benchmark::ClobberMemory();
        index ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * bufferSize * channels);
}

AnalogLoopSettings with(double fraction, double ppm, bool everything)
{
    AnalogLoopSettings a;
    a.fractionalDelay = fraction;
    a.loopPpm = ppm;
    if (everything) {
        a.gainDb = -6.0;
        a.noiseDbfs = -80.0;
        a.dcOffset = 0.001;
        a.highPassHz = 20.0;
        a.lowPassHz = 20000.0;
    }
    return a;
}

BENCHMARK_CAPTURE(halves, digital, AnalogLoopSettings{});
BENCHMARK_CAPTURE(halves, fractional_delay, with(0.37, 0.0, false));
BENCHMARK_CAPTURE(halves, whole_analog_loop, with(0.37, 50.0, true));

}  // namespace

BENCHMARK_MAIN();

// The cost of one buffer switch against the cost of merely moving its bytes.
//
// For every format (16, 18, 19), channel count (2+2, 32+32) and buffer size
// (32, 256, 2048) two benchmarks run side by side, their repetitions
// interleaved at random so that a noisy neighbour hurts both alike:
//   switch/...  processBufferSwitch in the signal phase, recordings reserved;
//   memcpy/...  the same bytes moved with plain memcpy: every output half
//               filled from the signal, and frames x 4 bytes appended to
//               every recording (from the signal for outputs, from the input
//               half for inputs), into the same recording memory.
// The recordings cycle through a window larger than the last-level cache,
// as a real run streams them to memory. Their pages are resident here; the
// run/... benchmarks instead reserve fresh recordings (untimed) before
// every second of calls, as the first run of a process does, so whatever a
// fresh reservation still costs the audio thread is in the figure.
//
// The per-call figure is the minimum CPU time over the repetitions: the
// least disturbed measurement of the same work. At the end a table gives
// every ratio with its target, and the 32+32, buffer 32 figure as a share
// of the real-time budget at 192 kHz. Lines starting with "TABLE" are read
// by scripts/bench.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "record/sample_memory.h"
#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "minimum_reporter.h"

namespace {

constexpr double rate = 192000.0;
constexpr uint64_t signalLength = 192000;  // one second, as the harness makes it
constexpr size_t windowBytes = size_t(64) << 20;  // twice the last-level cache here
constexpr int32_t freshCalls = 6000;  // one second of buffer 32 at 192 kHz

const int32_t formats[] = {ASIOSTInt16LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB};
const int32_t channelCounts[] = {2, 32};
const int32_t bufferSizes[] = {32, 256, 2048};

struct Config {
    int32_t sampleType;
    int32_t channels;  // per direction
    int32_t frames;
};

std::string configName(const Config& c)
{
    return "type" + std::to_string(c.sampleType) + "/" + std::to_string(c.channels) + "+" +
           std::to_string(c.channels) + "/buffer" + std::to_string(c.frames);
}

size_t widthOf(int32_t sampleType) { return sampleType == ASIOSTInt16LSB ? 2 : 4; }

// Samples per recording that one pass through the window holds.
size_t windowSamples(const Config& c)
{
    const size_t perChannel = windowBytes / (2 * static_cast<size_t>(c.channels) * sizeof(int32_t));
    return std::max(perChannel, static_cast<size_t>(c.frames) * 16);
}

// The driver's halves, one 64-byte aligned block as a driver hands them
// out. Every half has room for frames x 4 bytes whatever the format, so the
// memcpy baseline can read a whole recording block from an input half.
class Halves {
public:
    Halves(int32_t channels, int32_t frames)
        : halfBytes_((static_cast<size_t>(frames) * 4 + 63) / 64 * 64),
          count_(static_cast<size_t>(channels) * 2),
          storage_(static_cast<uint8_t*>(allocateSampleMemory(halfBytes_ * count_ * 2 + 64)))
    {
    }
    ~Halves() { releaseSampleMemory(storage_); }
    Halves(const Halves&) = delete;
    Halves& operator=(const Halves&) = delete;

    bool valid() const { return storage_ != nullptr; }
    uint8_t* half(size_t channel, int index) const
    {
        uint8_t* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(storage_) + 63) & ~uintptr_t(63));
        return base + (channel * 2 + static_cast<size_t>(index)) * halfBytes_;
    }

private:
    size_t halfBytes_;
    size_t count_;
    uint8_t* storage_;
};

// Puts testState where a run stands once its lead-in is over: channels,
// format, halves filled by the driver with a sine, the signal, counters.
// The recordings are left to the caller.
void configureState(const Config& c, const Halves& halves)
{
    TestState& s = testState;
    s.outputChannelCount = c.channels;
    s.reportedOutputChannels = c.channels;
    s.inputChannelCount = c.channels;
    s.sampleType = c.sampleType;
    s.bufferSize = c.frames;
    s.sampleRate = rate;
    // The switch is timed without the driver's getSamplePosition, which
    // costs whatever the driver makes it cost.
    s.timeInfoMode = true;
    s.currentDriver = nullptr;
    s.callCount = 0;
    s.samplesProcessed = 0;
    s.leadInRemaining = 0;
    s.signalPosition = 0;

    const size_t width = widthOf(c.sampleType);
    s.signalLength = signalLength;
    s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(signalLength * 4)));
    for (uint64_t i = 0; i < signalLength; ++i) {
        const double v = 0.8 * std::sin(6.283185307179586 * 1000.0 * static_cast<double>(i) / rate);
        uint8_t* at = reinterpret_cast<uint8_t*>(s.signalBuffer.get()) + i * width;
        if (c.sampleType == ASIOSTInt16LSB) {
            const int16_t x = static_cast<int16_t>(v * 32767.0);
            std::memcpy(at, &x, 2);
        } else if (c.sampleType == ASIOSTFloat32LSB) {
            const float x = static_cast<float>(v);
            std::memcpy(at, &x, 4);
        } else {
            const int32_t x = static_cast<int32_t>(v * 2147483647.0);
            std::memcpy(at, &x, 4);
        }
    }
    for (int32_t ch = 0; ch < 2 * c.channels; ++ch) {
        ASIOBufferInfo& info = s.bufferInfos[static_cast<size_t>(ch)];
        info.isInput = ch >= c.channels ? ASIOTrue : ASIOFalse;
        info.channelNum = ch >= c.channels ? ch - c.channels : ch;
        for (int h = 0; h < 2; ++h) {
            info.buffers[h] = halves.half(static_cast<size_t>(ch), h);
            // What came back: the signal, delayed by a little, so inputs
            // carry real values (floats within full scale).
            const uint8_t* from = reinterpret_cast<const uint8_t*>(s.signalBuffer.get()) + (ch * 37 + h * 11) * width;
            std::memcpy(info.buffers[h], from, static_cast<size_t>(c.frames) * width);
        }
    }
}

void clearRecordings(int32_t channels)
{
    for (int32_t ch = 0; ch < channels; ++ch) testState.captures[static_cast<size_t>(ch)].clear();
}

// Reserves the window in every recording and touches all of it once, so
// the steady-state benchmarks never meet a page for the first time.
bool reserveResidentWindow(const Config& c)
{
    const size_t samples = windowSamples(c);
    for (int32_t ch = 0; ch < 2 * c.channels; ++ch) {
        SampleRecording& r = testState.captures[static_cast<size_t>(ch)];
        if (!r.reserve(samples)) return false;
        int32_t* room = r.extend(samples);
        if (room == nullptr) return false;
        std::memset(room, 0, samples * sizeof(int32_t));
        r.clear();
    }
    return true;
}

void switchBenchmark(benchmark::State& state, Config c)
{
    Halves halves(c.channels, c.frames);
    if (!halves.valid() || (configureState(c, halves), !reserveResidentWindow(c))) {
        state.SkipWithError("no memory for the recordings");
        return;
    }
    const size_t window = windowSamples(c);
    const size_t frames = static_cast<size_t>(c.frames);
    const SampleRecording& last = testState.captures[static_cast<size_t>(2 * c.channels - 1)];
    ASIOLong index = 0;
    for (auto _ : state) {
        if (last.size() + frames > window) clearRecordings(2 * c.channels);
        processBufferSwitch(index, ASIOTrue);
        index ^= 1;
    }
    for (int32_t ch = 0; ch < 2 * c.channels; ++ch)
        if (testState.captures[static_cast<size_t>(ch)].lostSamples() != 0) state.SkipWithError("samples were lost");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.channels * c.frames *
                            static_cast<int64_t>(widthOf(c.sampleType) + 8));
    clearRecordings(2 * c.channels);
}

// The plain data movement of one switch, at the same addresses.
struct PlainMove {
    std::vector<uint8_t*> outputHalves[2];
    std::vector<const uint8_t*> inputHalves[2];
    std::vector<int32_t*> recordings;
    const uint8_t* signal = nullptr;
    size_t width = 4;
    size_t frames = 0;
    int32_t channels = 0;

    // A signal position from which a whole block of frames x 4 bytes can
    // be read without wrapping.
    void run(int index, uint64_t pos, size_t offset) const
    {
        const uint8_t* from = signal + pos * width;
        for (int32_t c = 0; c < channels; ++c) {
            std::memcpy(outputHalves[index][static_cast<size_t>(c)], from, frames * width);
            std::memcpy(recordings[static_cast<size_t>(c)] + offset, from, frames * 4);
        }
        for (int32_t k = 0; k < channels; ++k)
            std::memcpy(recordings[static_cast<size_t>(channels + k)] + offset, inputHalves[index][static_cast<size_t>(k)],
                        frames * 4);
    }
};

PlainMove plainMoveFor(const Config& c)
{
    PlainMove m;
    m.width = widthOf(c.sampleType);
    m.frames = static_cast<size_t>(c.frames);
    m.channels = c.channels;
    m.signal = reinterpret_cast<const uint8_t*>(testState.signalBuffer.get());
    for (int h = 0; h < 2; ++h) {
        for (int32_t ch = 0; ch < c.channels; ++ch)
            m.outputHalves[h].push_back(static_cast<uint8_t*>(testState.bufferInfos[static_cast<size_t>(ch)].buffers[h]));
        for (int32_t ch = c.channels; ch < 2 * c.channels; ++ch)
            m.inputHalves[h].push_back(
                static_cast<const uint8_t*>(testState.bufferInfos[static_cast<size_t>(ch)].buffers[h]));
    }
    for (int32_t ch = 0; ch < 2 * c.channels; ++ch) m.recordings.push_back(testState.captures[static_cast<size_t>(ch)].data());
    return m;
}

uint64_t nextPosition(uint64_t pos, size_t frames)
{
    pos += frames;
    return pos + frames > signalLength ? 0 : pos;
}

void memcpyBenchmark(benchmark::State& state, Config c)
{
    Halves halves(c.channels, c.frames);
    if (!halves.valid() || (configureState(c, halves), !reserveResidentWindow(c))) {
        state.SkipWithError("no memory for the recordings");
        return;
    }
    const PlainMove move = plainMoveFor(c);
    const size_t window = windowSamples(c);
    const size_t frames = static_cast<size_t>(c.frames);
    size_t offset = 0;
    uint64_t pos = 0;
    int index = 0;
    for (auto _ : state) {
        if (offset + frames > window) offset = 0;
        move.run(index, pos, offset);
        benchmark::ClobberMemory();
        offset += frames;
        pos = nextPosition(pos, frames);
        index ^= 1;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.channels * c.frames *
                            static_cast<int64_t>(widthOf(c.sampleType) + 8));
}

// As the first run of a process: every iteration streams freshCalls calls
// into recordings reserved just before (and never touched), so every page
// is met for the first time on the audio thread.
void freshRunBenchmark(benchmark::State& state, Config c, bool plain)
{
    Halves halves(c.channels, c.frames);
    if (!halves.valid()) {
        state.SkipWithError("no memory for the halves");
        return;
    }
    configureState(c, halves);
    const size_t samples = static_cast<size_t>(freshCalls) * static_cast<size_t>(c.frames);
    const size_t frames = static_cast<size_t>(c.frames);
    for (auto _ : state) {
        state.PauseTiming();
        bool reserved = true;
        for (int32_t ch = 0; ch < 2 * c.channels; ++ch) {
            SampleRecording& r = testState.captures[static_cast<size_t>(ch)];
            r.release();
            reserved = reserved && r.reserve(samples);
        }
        if (!reserved) {
            state.SkipWithError("no memory for the recordings");
            break;
        }
        const PlainMove move = plainMoveFor(c);
        state.ResumeTiming();
        if (plain) {
            uint64_t pos = 0;
            for (int32_t call = 0; call < freshCalls; ++call) {
                move.run(call & 1, pos, static_cast<size_t>(call) * frames);
                benchmark::ClobberMemory();
                pos = nextPosition(pos, frames);
            }
        } else {
            for (int32_t call = 0; call < freshCalls; ++call) processBufferSwitch(call & 1, ASIOTrue);
        }
    }
    for (int32_t ch = 0; ch < 2 * c.channels; ++ch) testState.captures[static_cast<size_t>(ch)].release();
    state.counters["per_call_ns"] =
        benchmark::Counter(static_cast<double>(freshCalls), benchmark::Counter::kIsIterationInvariantRate |
                                                                benchmark::Counter::kInvert);
}

void printTable(const MinimumReporter& reporter)
{
    std::printf("\nBuffer switch per call against memcpy/memset of the same bytes (least CPU time of the repetitions)\n");
    std::printf("%-22s %12s %12s %7s %7s %4s\n", "case", "switch ns", "memcpy ns", "ratio", "target", "met");
    int met = 0, total = 0;
    double worst[3] = {0, 0, 0};
    for (int32_t type : formats) {
        for (int32_t channels : channelCounts) {
            for (int32_t frames : bufferSizes) {
                const Config c{type, channels, frames};
                const double harness = reporter.best("switch/" + configName(c));
                const double plain = reporter.best("memcpy/" + configName(c));
                if (harness <= 0 || plain <= 0) continue;
                const double ratio = harness / plain;
                const double target = type == ASIOSTFloat32LSB ? 3.0 : 2.0;
                const int slot = type == ASIOSTInt16LSB ? 0 : type == ASIOSTInt32LSB ? 1 : 2;
                worst[slot] = std::max(worst[slot], ratio);
                ++total;
                met += ratio <= target;
                std::printf("%-22s %12.1f %12.1f %7.2f %7.1f %4s\n", configName(c).c_str(), harness * 1e9, plain * 1e9,
                            ratio, target, ratio <= target ? "yes" : "NO");
            }
        }
    }
    std::printf("%d of %d cases within their target\n", met, total);
    std::printf("TABLE\tbuffer switch / memcpy, type 16, worst case\t%.2fx\t<= 2x\t%s\n", worst[0],
                worst[0] > 0 && worst[0] <= 2.0 ? "yes" : "no");
    std::printf("TABLE\tbuffer switch / memcpy, type 18, worst case\t%.2fx\t<= 2x\t%s\n", worst[1],
                worst[1] > 0 && worst[1] <= 2.0 ? "yes" : "no");
    std::printf("TABLE\tbuffer switch / memcpy, type 19, worst case\t%.2fx\t<= 3x\t%s\n", worst[2],
                worst[2] > 0 && worst[2] <= 3.0 ? "yes" : "no");

    const double budgetNs = 32.0 / rate * 1e9;
    for (int32_t type : formats) {
        const Config c{type, 32, 32};
        const double steady = reporter.best("switch/" + configName(c)) * 1e9;
        const double fresh = reporter.best("run/switch/" + configName(c)) * 1e9 / freshCalls;
        const double freshPlain = reporter.best("run/memcpy/" + configName(c)) * 1e9 / freshCalls;
        if (steady <= 0) continue;
        std::printf("type %d, 32+32, buffer 32 at 192 kHz: budget %.0f ns; recordings cycled %.0f ns = %.2f%%", type,
                    budgetNs, steady, 100.0 * steady / budgetNs);
        if (fresh > 0)
            std::printf("; recordings just reserved (a first run) %.0f ns = %.2f%%, memcpy there %.0f ns", fresh,
                        100.0 * fresh / budgetNs, freshPlain);
        std::printf("\n");
        const double judged = std::max(steady, fresh);
        std::printf("TABLE\tbuffer switch per call / budget, type %d, 32+32, buffer 32, 192 kHz\t%.2f%%\t< 2%%\t%s\n",
                    type, 100.0 * judged / budgetNs, judged < 0.02 * budgetNs ? "yes" : "no");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Large blocks always come straight from the system, so a reservation
    // released and made again is fresh memory, as in a new process.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    for (int32_t type : formats)
        for (int32_t channels : channelCounts)
            for (int32_t frames : bufferSizes) {
                const Config c{type, channels, frames};
                benchmark::RegisterBenchmark(("switch/" + configName(c)).c_str(), switchBenchmark, c)
                    ->MinTime(0.05)
                    ->Repetitions(5);
                benchmark::RegisterBenchmark(("memcpy/" + configName(c)).c_str(), memcpyBenchmark, c)
                    ->MinTime(0.05)
                    ->Repetitions(5);
            }
    for (int32_t type : formats) {
        const Config c{type, 32, 32};
        benchmark::RegisterBenchmark(("run/switch/" + configName(c)).c_str(), freshRunBenchmark, c, false)
            ->Iterations(4)
            ->Repetitions(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("run/memcpy/" + configName(c)).c_str(), freshRunBenchmark, c, true)
            ->Iterations(4)
            ->Repetitions(3)
            ->Unit(benchmark::kMillisecond);
    }

    if (!initialiseInterleaved(argc, argv)) return 1;

    MinimumReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter);

    testState.signalBuffer.reset();
    for (SampleRecording& capture : testState.captures) capture.release();
    return 0;
}

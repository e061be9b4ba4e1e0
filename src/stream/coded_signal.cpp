#include "stream/coded_signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/channel_codes.h"
#include "record/console.h"
#include "record/sample_memory.h"
#include "record/test_state.h"

namespace {

constexpr double pi = 3.14159265358979323846;

void writeRotatedStaircase(uint8_t* channel, int64_t length, int64_t offset, int32_t sampleType)
{
    if (sampleType == ASIOSTInt16LSB) {
        int16_t* samples = reinterpret_cast<int16_t*>(channel);
        for (int64_t i = 0; i < length; ++i)
            samples[i] = static_cast<int16_t>(analyse::staircaseStepValue((i + offset) % length, 16));
        return;
    }
    int32_t* samples = reinterpret_cast<int32_t*>(channel);
    for (int64_t i = 0; i < length; ++i) samples[i] = analyse::staircaseStepValue((i + offset) % length, 32);
}

// Sample i of the tone is sin(2 pi f i / rate), from the loop's index, so
// that a whole number of periods fills the loop and it joins without a step.
void writeTone(uint8_t* channel, int64_t length, double hz, double rate, int32_t sampleType)
{
    const double omega = 2.0 * pi * hz / rate;
    for (int64_t i = 0; i < length; ++i) {
        const double v = analyse::toneCodeAmplitude * std::sin(omega * static_cast<double>(i));
        if (sampleType == ASIOSTFloat32LSB) {
            reinterpret_cast<float*>(channel)[i] = static_cast<float>(v);
        } else if (sampleType == ASIOSTInt16LSB) {
            reinterpret_cast<int16_t*>(channel)[i] = static_cast<int16_t>(std::lround(v * 32767.0));
        } else {
            reinterpret_cast<int32_t*>(channel)[i] = static_cast<int32_t>(std::llround(v * 2147483647.0));
        }
    }
}

}  // namespace

bool staircaseCoded(int32_t sampleType) { return testState.staircaseMode && sampleType != ASIOSTFloat32LSB; }

bool generateCodedSignal(int32_t outputs)
{
    TestState& s = testState;
    const int64_t rate = s.sampleRate >= 1.0 && s.sampleRate < 4294967296.0 ? static_cast<int64_t>(s.sampleRate) : 0;
    const int32_t channels = std::min(std::max(outputs, 1), analyse::maxCodedOutputs);
    s.signalLength = static_cast<uint64_t>(rate);
    s.signalChannelBytes = s.signalLength * sizeof(uint32_t);
    s.signalChannels = channels;
    console::line("Buffer length is ", s.signalLength);

    const uint64_t bytes = s.signalChannelBytes * static_cast<uint64_t>(channels);
    s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(bytes)));
    if (!s.signalBuffer) {
        console::line("Could not allocate ", bytes, " bytes for the test signal");
        s.signalChannelBytes = 0;
        s.signalChannels = 1;
        return false;
    }
    std::memset(s.signalBuffer.get(), 0, static_cast<size_t>(bytes));
    const bool staircase = staircaseCoded(s.sampleType);
    uint8_t* base = reinterpret_cast<uint8_t*>(s.signalBuffer.get());
    for (int32_t c = 0; c < channels; ++c) {
        uint8_t* channel = base + static_cast<size_t>(c) * s.signalChannelBytes;
        if (staircase) {
            writeRotatedStaircase(channel, rate, analyse::staircaseCodeOffset(c, rate), s.sampleType);
        } else {
            writeTone(channel, rate, analyse::toneCodeHz(c), s.sampleRate, s.sampleType);
        }
    }
    return true;
}

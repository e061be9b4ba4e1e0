#include "stream/test_signal.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "record/console.h"
#include "record/sample_memory.h"
#include "record/test_state.h"

namespace {

// The sample rate as a whole number of samples, kept to 32 bits: one
// second of signal.
uint64_t oneSecondOfSamples(double rate)
{
    if (!(rate >= 0.0) || rate >= 18446744073709551616.0) return 0;
    return static_cast<uint64_t>(rate) & 0xFFFFFFFFu;
}

void writeStaircase(uint32_t* signal, uint64_t length, int32_t sampleType)
{
    if (sampleType == ASIOSTInt16LSB) {
        // The 16-bit staircase keeps the low 16 bits of each step, so the
        // samples sent are exactly the values the staircase check expects.
        int16_t* samples = reinterpret_cast<int16_t*>(signal);
        for (uint64_t i = 0; i < length; ++i) samples[i] = static_cast<int16_t>(static_cast<uint16_t>(i * 100));
        return;
    }
    // The same integers in both 32-bit formats: the float format carries the
    // bit patterns so that the recordings hold exactly i x 100.
    for (uint64_t i = 0; i < length; ++i) signal[i] = static_cast<uint32_t>(i * 100);
}

void writePulse(uint32_t* signal, int32_t sampleType)
{
    if (sampleType == ASIOSTInt16LSB) {
        const int16_t top = 32767;
        std::memcpy(signal, &top, sizeof top);
    } else if (sampleType == ASIOSTFloat32LSB) {
        signal[0] = 0x7F7FFFFFu;  // the largest finite float
    } else {
        signal[0] = 0x7FFFFFFFu;
    }
}

// A frequency so large that the phase overflows (from about 2.9e307 Hz)
// makes every sine NaN. Converted to an integer that is undefined, and in
// practice full-scale negative DC on every output; silence is sent instead.
inline double sineOrSilence(double phase)
{
    const double value = std::sin(phase);
    return value == value ? value : 0.0;
}

void writeSine(uint32_t* signal, uint64_t length, int32_t sampleType, double frequency, double rate)
{
    console::line("********************Sinsusoid");
    const double step = 1.0 / rate;
    console::line("Step is ", step);

    // The phase time is a running sum of the step, and the constant is
    // 6.283185308: the recordings are compared with signals made this way.
    const double omega = frequency * 6.283185308;
    double t = 0.0;
    if (sampleType == ASIOSTFloat32LSB) {
        float* samples = reinterpret_cast<float*>(signal);
        for (uint64_t i = 0; i < length; ++i, t += step) samples[i] = static_cast<float>(sineOrSilence(omega * t));
    } else if (sampleType == ASIOSTInt16LSB) {
        int16_t* samples = reinterpret_cast<int16_t*>(signal);
        for (uint64_t i = 0; i < length; ++i, t += step)
            samples[i] = static_cast<int16_t>(sineOrSilence(omega * t) * 32767.0);
    } else {
        int32_t* samples = reinterpret_cast<int32_t*>(signal);
        for (uint64_t i = 0; i < length; ++i, t += step)
            samples[i] = static_cast<int32_t>(sineOrSilence(omega * t) * 2147483647.0);
    }
}

}  // namespace

bool generateTestSignal()
{
    TestState& s = testState;
    s.signalLength = oneSecondOfSamples(s.sampleRate);
    s.signalChannelBytes = 0;
    s.signalChannels = 1;
    console::line("Buffer length is ", s.signalLength);

    const uint64_t bytes = s.signalLength * sizeof(uint32_t);
    s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(bytes)));
    if (!s.signalBuffer) {
        console::line("Could not allocate ", bytes, " bytes for the test signal");
        return false;
    }
    std::memset(s.signalBuffer.get(), 0, static_cast<size_t>(bytes));

    if (s.staircaseMode) {
        writeStaircase(s.signalBuffer.get(), s.signalLength, s.sampleType);
    } else if (s.pulseMode) {
        if (s.signalLength > 0) writePulse(s.signalBuffer.get(), s.sampleType);
    } else {
        writeSine(s.signalBuffer.get(), s.signalLength, s.sampleType, s.toneFrequencyHz, s.sampleRate);
    }
    return true;
}

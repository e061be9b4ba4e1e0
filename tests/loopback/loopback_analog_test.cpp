// The virtual device's analog loop against the continuous signals it must
// reproduce: the engine is driven half by half without a clock, so every
// sample that comes back can be read against what an ideal cable gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "loopback_engine.h"
#include "loopback_settings.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double rate = 48000.0;
constexpr int32_t bufferSize = 256;

double fullScale(int32_t sampleType) { return sampleType == 16 ? 32767.0 : (sampleType == 19 ? 1.0 : 2147483647.0); }

void store(int32_t sampleType, uint8_t* p, double share)
{
    const double v = share * fullScale(sampleType);
    if (sampleType == 16) {
        const int16_t code = static_cast<int16_t>(std::lround(v));
        std::memcpy(p, &code, 2);
    } else if (sampleType == 19) {
        const float f = static_cast<float>(v);
        std::memcpy(p, &f, 4);
    } else {
        const int32_t code = static_cast<int32_t>(std::llround(v));
        std::memcpy(p, &code, 4);
    }
}

double load(int32_t sampleType, const uint8_t* p)
{
    if (sampleType == 16) {
        int16_t code;
        std::memcpy(&code, p, 2);
        return code / fullScale(sampleType);
    }
    if (sampleType == 19) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    int32_t code;
    std::memcpy(&code, p, 4);
    return code / fullScale(sampleType);
}

struct Streamed {
    int32_t delay = 0;
    std::vector<std::vector<double>> inputs;  // shares of full scale, per input
};

// Plays signal(n) on every output and records every input for `frames`.
template <class Signal>
Streamed stream(const AnalogLoopSettings& analog, int32_t sampleType, int32_t roundTrip, int64_t frames,
                Signal signal, int32_t channels = 1, int32_t dropEvery = 0)
{
    LoopbackFormat format;
    format.sampleType = sampleType;
    format.outputs = channels;
    format.inputs = channels;
    format.roundTrip = roundTrip;
    format.dropEvery = dropEvery;
    format.analog = analog;
    format.sampleRate = rate;
    std::vector<ASIOBufferInfo> infos;
    for (int32_t c = 0; c < channels; ++c) {
        infos.push_back(ASIOBufferInfo{ASIOTrue, c, {nullptr, nullptr}});
        infos.push_back(ASIOBufferInfo{ASIOFalse, c, {nullptr, nullptr}});
    }
    LoopbackEngine engine;
    Streamed out;
    if (engine.create(format, infos.data(), static_cast<int32_t>(infos.size()), bufferSize) != ASE_OK) {
        ADD_FAILURE() << "no buffers";
        return out;
    }
    const int32_t width = sampleType == 16 ? 2 : 4;
    out.delay = engine.delay();
    out.inputs.assign(static_cast<size_t>(channels), {});
    for (int64_t start = 0; start < frames; start += bufferSize) {
        const int32_t index = static_cast<int32_t>((start / bufferSize) % 2);
        engine.beginHalf(index);
        for (int32_t c = 0; c < channels; ++c) {
            const auto* in = static_cast<const uint8_t*>(infos[static_cast<size_t>(2 * c)].buffers[index]);
            auto* play = static_cast<uint8_t*>(infos[static_cast<size_t>(2 * c + 1)].buffers[index]);
            for (int32_t i = 0; i < bufferSize; ++i) {
                out.inputs[static_cast<size_t>(c)].push_back(load(sampleType, in + i * width));
                store(sampleType, play + i * width, signal(start + i));
            }
        }
        engine.endHalf(index);
    }
    return out;
}

// Largest difference between the recording and expected(n) from `from` on.
template <class Expected>
double worstError(const std::vector<double>& recorded, int64_t from, Expected expected)
{
    double worst = 0.0;
    for (size_t n = static_cast<size_t>(from); n < recorded.size(); ++n)
        worst = std::max(worst, std::fabs(recorded[n] - expected(static_cast<double>(n))));
    return worst;
}

struct DelayCase {
    int32_t sampleType;
    double fraction;
    double frequency;
    double tolerance;  // the format's quantisation and the interpolator's ripple
};

void PrintTo(const DelayCase& c, std::ostream* out) { *out << c.sampleType << " " << c.fraction << " " << c.frequency; }

class FractionalDelay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(FractionalDelay, SineComesBackAsTheContinuousSineReadThatMuchLater)
{
    const DelayCase& c = GetParam();
    AnalogLoopSettings analog;
    analog.fractionalDelay = c.fraction;
    const double omega = 2.0 * pi * c.frequency / rate;
    const int32_t roundTrip = 608;
    const Streamed s = stream(analog, c.sampleType, roundTrip, 9600, [&](int64_t n) { return 0.5 * std::sin(omega * n); });
    ASSERT_EQ(s.delay, roundTrip);
    // The onset is band-limited: from one kernel past it the sine is whole.
    const double err = worstError(s.inputs[0], roundTrip + 64,
                                  [&](double n) { return 0.5 * std::sin(omega * (n - roundTrip - c.fraction)); });
    EXPECT_LT(err, c.tolerance);
    // Before the onset the loop is silent: the interpolator reaches back
    // only its own taps.
    EXPECT_EQ(worstError({s.inputs[0].begin(), s.inputs[0].begin() + roundTrip - 32}, 0, [](double) { return 0.0; }),
              0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FractionalDelay,
    ::testing::Values(DelayCase{19, 0.3, 997.0, 2e-5}, DelayCase{19, 0.37, 10000.0, 2e-4},
                      DelayCase{19, 0.5, 997.0, 2e-5}, DelayCase{19, 0.99, 997.0, 2e-5},
                      DelayCase{18, 0.3, 997.0, 2e-5}, DelayCase{16, 0.3, 997.0, 6e-5},
                      DelayCase{16, 0.0, 997.0, 2e-5}));

TEST(AnalogLoop, GainAndDcAreExactAtAWholeDelay)
{
    AnalogLoopSettings analog;
    analog.gainDb = -6.0;
    analog.dcOffset = 0.02;
    const double gain = std::pow(10.0, -6.0 / 20.0);
    const auto signal = [](int64_t n) { return 0.9 * std::sin(0.05 * n); };
    for (int32_t type : {16, 18, 19}) {
        SCOPED_TRACE(type);
        const Streamed s = stream(analog, type, 400, 4096, signal);
        ASSERT_EQ(s.delay, 400);
        const double step = type == 19 ? 1e-7 : 0.5000001 / fullScale(type);
        const auto played = [&](double n) {
            // What the output carried, as its own format rounded it.
            const double v = signal(static_cast<int64_t>(n) - 400);
            return type == 19 ? static_cast<double>(static_cast<float>(v))
                              : std::round(v * fullScale(type)) / fullScale(type);
        };
        EXPECT_LE(worstError(s.inputs[0], 400, [&](double n) { return played(n) * gain + 0.02; }), step * 2);
        // Before anything comes round, the inputs carry the DC alone.
        EXPECT_LE(worstError({s.inputs[0].begin(), s.inputs[0].begin() + 300}, 0, [](double) { return 0.02; }),
                  step);
    }
}

TEST(AnalogLoop, ClipsSymmetrically)
{
    AnalogLoopSettings analog;
    analog.gainDb = 6.0;
    const Streamed s = stream(analog, 16, 300, 2048, [](int64_t n) { return n % 2 == 0 ? 0.9 : -0.9; });
    double lowest = 0.0, highest = 0.0;
    for (double v : s.inputs[0]) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    EXPECT_EQ(highest, 1.0);
    EXPECT_EQ(lowest, -1.0);  // -32767, never -32768
}

struct FilterCase {
    const char* name;
    double highPassHz;
    double lowPassHz;
    double frequency;
    double gain;   // of the filter at the frequency
    double phase;  // radians, lead positive
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << c.name; }

// A second-order Butterworth low-pass, pre-warped as a bilinear design is,
// read at f against its corner: gain and phase.
double butterworthAt(double f, double corner)
{
    const double x = std::tan(pi * f / rate) / std::tan(pi * corner / rate);
    return 1.0 / std::sqrt(1.0 + x * x * x * x);
}
double butterworthPhaseAt(double f, double corner)
{
    const double x = std::tan(pi * f / rate) / std::tan(pi * corner / rate);
    return -std::atan2(std::sqrt(2.0) * x, 1.0 - x * x);
}

class Filters : public ::testing::TestWithParam<FilterCase> {};

// Bilinear designs put the corner exactly where asked: -3 dB, and a phase of
// +45 degrees for the first-order high-pass, -90 for the Butterworth low-pass.
TEST_P(Filters, ResponseAtAFrequency)
{
    const FilterCase& c = GetParam();
    AnalogLoopSettings analog;
    analog.highPassHz = c.highPassHz;
    analog.lowPassHz = c.lowPassHz;
    const double omega = 2.0 * pi * c.frequency / rate;
    const int32_t roundTrip = 512;
    const Streamed s = stream(analog, 19, roundTrip, 96000, [&](int64_t n) { return 0.25 * std::sin(omega * n); });
    // In phase and quadrature over the last 48000 samples, whole periods of both cases.
    double inPhase = 0.0, quadrature = 0.0;
    const size_t from = s.inputs[0].size() - 48000;
    for (size_t n = from; n < s.inputs[0].size(); ++n) {
        const double t = omega * (static_cast<double>(n) - roundTrip);
        inPhase += s.inputs[0][n] * std::sin(t);
        quadrature += s.inputs[0][n] * std::cos(t);
    }
    const double amplitude = 2.0 / 48000.0 * std::hypot(inPhase, quadrature) / 0.25;
    EXPECT_NEAR(amplitude, c.gain, 1e-4);
    EXPECT_NEAR(std::atan2(quadrature, inPhase), c.phase, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Corners, Filters,
    ::testing::Values(FilterCase{"HighPassAtCorner", 20.0, 0.0, 20.0, std::sqrt(0.5), pi / 4.0},
                      FilterCase{"LowPassAtCorner", 0.0, 20000.0, 20000.0, std::sqrt(0.5), -pi / 2.0},
                      FilterCase{"LowPassBelowCorner", 0.0, 8000.0, 4000.0, butterworthAt(4000.0, 8000.0),
                                 butterworthPhaseAt(4000.0, 8000.0)},
                      FilterCase{"PastHalfTheRateIsNone", 0.0, 30000.0, 4000.0, 1.0, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnalogLoop, RateDifferenceStretchesTheLoopFromItsOnset)
{
    for (double ppm : {500.0, -500.0, 50.0}) {
        SCOPED_TRACE(ppm);
        AnalogLoopSettings analog;
        analog.loopPpm = ppm;
        analog.fractionalDelay = 0.25;
        const double omega = 2.0 * pi * 997.0 / rate;
        // Room for a slow recording clock to read ahead before it slips.
        const int32_t roundTrip = 10000;
        const Streamed s = stream(analog, 19, roundTrip, 96000, [&](int64_t n) { return 0.5 * std::sin(omega * n); });
        ASSERT_EQ(s.delay, roundTrip);
        const double ratio = 1.0 / (1.0 + ppm * 1e-6);
        // Both clocks start with the stream: recorded sample n hears what the
        // outputs played at n / (1 + ppm), one round trip and the fraction
        // earlier, so the delay moves by ppm from the first sample on.
        const double err = worstError(s.inputs[0], roundTrip + 64, [&](double n) {
            return 0.5 * std::sin(omega * (n * ratio - roundTrip - 0.25));
        });
        EXPECT_LT(err, 2e-5);
    }
}

TEST(AnalogLoop, NoiseIsGaussianAtItsLevelAndOwnToEachInput)
{
    AnalogLoopSettings analog;
    analog.noiseDbfs = -60.0;
    const Streamed s = stream(analog, 19, 300, 48000, [](int64_t) { return 0.0; }, 2);
    ASSERT_EQ(s.inputs.size(), 2u);
    for (const auto& input : s.inputs) {
        double sum = 0.0, power = 0.0, fourth = 0.0;
        for (double v : input) {
            sum += v;
            power += v * v;
            fourth += v * v * v * v;
        }
        const double n = static_cast<double>(input.size());
        const double rms = std::sqrt(power / n);
        EXPECT_NEAR(rms, 1e-3, 2e-5);
        EXPECT_NEAR(sum / n, 0.0, 3e-5);
        // Kurtosis 3 tells Gaussian from the uniform LSB noise (1.8).
        EXPECT_NEAR(fourth / n / (rms * rms * rms * rms), 3.0, 0.15);
    }
    size_t same = 0;
    for (size_t i = 0; i < s.inputs[0].size(); ++i)
        same += s.inputs[0][i] == s.inputs[1][i] ? 1 : 0;
    EXPECT_LT(same, 10u);
}

TEST(AnalogLoop, DropoutsStillZeroTheHalvesAndTheLoopRunsOnThroughThem)
{
    AnalogLoopSettings analog;
    analog.gainDb = -6.0;
    const double gain = std::pow(10.0, -6.0 / 20.0);
    const auto signal = [](int64_t n) { return 0.5 * std::sin(0.01 * n); };
    const Streamed s = stream(analog, 19, 608, 8192, signal, 1, 4);
    for (size_t n = 0; n < s.inputs[0].size(); ++n) {
        const int64_t half = static_cast<int64_t>(n) / bufferSize + 1;
        const double expected = half % 4 == 0 || n < 608 ? 0.0 : signal(static_cast<int64_t>(n) - 608) * gain;
        ASSERT_NEAR(s.inputs[0][n], expected, 1e-6) << n;
    }
}

TEST(AnalogLoop, ShortRoundTripGrowsByTheInterpolatorsReach)
{
    // One half is the least the loop can take; the interpolator's taps ahead
    // come on top, and delay() says so.
    AnalogLoopSettings analog;
    analog.gainDb = -1.0;
    const auto signal = [](int64_t n) { return 0.5 * std::sin(0.02 * n); };
    const Streamed s = stream(analog, 19, 0, 4096, signal);
    ASSERT_EQ(s.delay, bufferSize + 32);
    const double gain = std::pow(10.0, -1.0 / 20.0);
    EXPECT_LT(worstError(s.inputs[0], s.delay,
                         [&](double n) { return signal(static_cast<int64_t>(n) - s.delay) * gain; }),
              1e-6);
}

struct TextCase {
    const char* name;
    const char* text;
    double expected;  // the setting afterwards; every one starts at 0
};

TEST(AnalogLoopSettings, TextValuesInRangeAreTakenOthersLeftAlone)
{
    const TextCase cases[] = {
        {"FractionalDelay", "0.37", 0.37}, {"FractionalDelay", " 0 ", 0.0},   {"FractionalDelay", "1", 0.0},
        {"FractionalDelay", "-0.1", 0.0},  {"FractionalDelay", "0.3x", 0.0},  {"GainDb", "-6", -6.0},
        {"GainDb", "nan", 0.0},            {"GainDb", "1e9", 0.0},            {"NoiseDbfs", "-80", -80.0},
        {"NoiseDbfs", "", 0.0},            {"DcOffset", "0.02", 0.02},        {"DcOffset", "-1.5", 0.0},
        {"HighPassHz", "20", 20.0},        {"HighPassHz", "-20", 0.0},        {"LowPassHz", "20000", 20000.0},
        {"LowPassHz", "inf", 0.0},         {"LoopPpm", "-50", -50.0},         {"LoopPpm", "200000", 0.0},
        {"Unknown", "5", 0.0},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = '" + c.text + "'");
        AnalogLoopSettings analog;
        parseAnalogValue(c.name, c.text, analog);
        const double values[] = {analog.fractionalDelay, analog.gainDb,    analog.noiseDbfs, analog.dcOffset,
                                 analog.highPassHz,      analog.lowPassHz, analog.loopPpm};
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(values[i], std::string(analogValueNames[i]) == c.name ? c.expected : 0.0) << analogValueNames[i];
        EXPECT_EQ(analog.active(), c.expected != 0.0);
    }
}

}  // namespace

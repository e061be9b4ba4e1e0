// The routing analysis on recordings mixed here from the outputs' codes with
// known gains, delays and noise: which output each input hears, the loudest
// leak, the floor and the round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/channel_codes.h"
#include "analysis/channel_routing.h"

using namespace analyse;

namespace {

constexpr double pi = 3.14159265358979323846;

// What output c sent at path position n (silence before it), worked out
// from the staircase's own rule: step k is k x 100, kept to the width.
double staircaseSent(int c, int64_t n, int64_t length, int bits)
{
    if (n < 0) return 0.0;
    const int64_t k = (n + staircaseCodeOffset(c, length)) % length;
    const uint64_t raw = static_cast<uint64_t>(k) * 100u;
    if (bits == 16) return static_cast<int16_t>(static_cast<uint16_t>(raw & 0xFFFFu));
    return static_cast<int32_t>(static_cast<uint32_t>(raw & 0xFFFFFFFFu));
}

double toneSent(int c, double n, double rate)
{
    if (n < 0.0) return 0.0;
    return toneCodeAmplitude * std::sin(2.0 * pi * (1000.0 + 30.0 * c) * n / rate);
}

struct Mix {
    const char* name;
    RoutingCode code;
    int bits;
    double rate;
    int outputs;
    int heard;           // -1: nothing but noise
    double gainDb;       // of the heard output
    double crosstalkDb;  // every other output; 0: none
    double noiseLsb;     // rms of the noise, in steps of the width (tones: re full scale)
    double roundTrip;
};

std::vector<int32_t> mixRecording(const Mix& m, int64_t leadIn, int64_t samples)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    const int64_t length = static_cast<int64_t>(m.rate);
    const double fullScale = m.bits == 16 ? 32768.0 : 2147483648.0;
    const double gain = std::pow(10.0, m.gainDb / 20.0);
    const double leak = m.crosstalkDb < 0.0 ? std::pow(10.0, m.crosstalkDb / 20.0) : 0.0;
    std::vector<int32_t> x(static_cast<size_t>(samples));
    for (int64_t p = 0; p < samples; ++p) {
        const double n = static_cast<double>(p - leadIn) - m.roundTrip;
        double v = 0.0;
        for (int c = 0; c < m.outputs && m.heard >= 0; ++c) {
            const double g = c == m.heard ? gain : leak;
            if (g == 0.0) continue;
            v += m.code == RoutingCode::staircase
                     ? g * staircaseSent(c, static_cast<int64_t>(std::floor(n)), length, m.bits)
                     : g * toneSent(c, n, m.rate) * fullScale;
        }
        v += m.noiseLsb * noise(random);
        v = std::round(v);
        v = std::min(std::max(v, -fullScale), fullScale - 1.0);
        x[static_cast<size_t>(p)] = static_cast<int32_t>(v);
    }
    return x;
}

RoutedInput route(const Mix& m)
{
    const int64_t leadIn = 1024;
    const std::vector<int32_t> x = mixRecording(m, leadIn, leadIn + static_cast<int64_t>(m.rate * 1.5));
    RoutingSetup setup;
    setup.code = m.code;
    setup.outputs = m.outputs;
    setup.rate = m.rate;
    setup.bits = m.bits;
    setup.leadIn = leadIn;
    return routeInput(x.data(), static_cast<int64_t>(x.size()), setup);
}

// Each case: the heard output, its level and round trip, the loudest leak
// and the floor, as the mix was made.
TEST(ChannelRouting, FindsTheHeardOutputItsLeaksAndTheRoundTrip)
{
    const Mix mixes[] = {
        {"staircase 32-bit, swapped to output 2", RoutingCode::staircase, 32, 48000, 4, 2, 0, 0, 0, 211},
        {"staircase 32-bit, 32 outputs, the last", RoutingCode::staircase, 32, 192000, 32, 31, 0, 0, 0, 64},
        {"staircase 16-bit, output 0 starts at 0", RoutingCode::staircase, 16, 44100, 8, 0, 0, 0, 0, 300},
        {"staircase 16-bit, 32 outputs", RoutingCode::staircase, 16, 192000, 32, 17, 0, 0, 0, 5},
        {"staircase 32-bit, -40 dB from every other", RoutingCode::staircase, 32, 44100, 8, 1, 0, -40, 0, 100},
        {"staircase 16-bit, -40 dB from one other", RoutingCode::staircase, 16, 48000, 2, 1, 0, -40, 0, 100},
        {"staircase 32-bit with noise", RoutingCode::staircase, 32, 48000, 4, 3, 0, 0, 1000, 50},
        {"tones 32-bit, swapped", RoutingCode::tones, 32, 44100, 2, 1, 0, 0, 0, 120},
        {"tones 16-bit, -40 dB from 31 others", RoutingCode::tones, 16, 192000, 32, 30, 0, -40, 1, 333},
        {"tones 32-bit, -6 dB path, -70 dB leaks, noise", RoutingCode::tones, 32, 96000, 6, 4, -6, -70, 2e4, 77.4},
    };
    for (const Mix& m : mixes) {
        SCOPED_TRACE(m.name);
        const RoutedInput r = route(m);
        ASSERT_FALSE(r.dead);
        EXPECT_EQ(r.heard, m.heard);
        EXPECT_NEAR(r.levelDb, m.gainDb, 0.2);
        ASSERT_TRUE(r.roundTripKnown);
        EXPECT_NEAR(r.roundTrip, m.roundTrip, m.code == RoutingCode::staircase ? 0.0 : 0.2);
        ASSERT_EQ(r.levelsDb.size(), static_cast<size_t>(m.outputs));
        EXPECT_DOUBLE_EQ(r.levelsDb[static_cast<size_t>(m.heard)], 0.0);
        if (m.crosstalkDb < 0.0) {
            EXPECT_NE(r.leakFrom, -1);
            EXPECT_NE(r.leakFrom, m.heard);
            // Clipping of the 16-bit staircase's sums blurs its fit a little.
            EXPECT_NEAR(r.leakDb, m.crosstalkDb - m.gainDb, m.bits == 16 ? 1.5 : 0.3);
            EXPECT_LT(r.noiseFloorDb, r.leakDb);
        } else {
            EXPECT_EQ(r.leakFrom, -1);
            EXPECT_DOUBLE_EQ(r.leakDb, r.noiseFloorDb);
        }
    }
}

// The floor is what the noise leaves: for the staircase its rms against
// the staircase's own; for tones the noise in one tone's bin.
TEST(ChannelRouting, TheFloorFollowsTheNoise)
{
    // Output 2: its staircase starts well above the noise, so its arrival shows.
    const Mix staircase{"", RoutingCode::staircase, 32, 48000, 4, 2, 0, 0, 1e4, 20};
    const double staircaseRms = 4800000.0 / std::sqrt(12.0);
    EXPECT_NEAR(route(staircase).noiseFloorDb, 20.0 * std::log10(1e4 / staircaseRms), 0.5);

    // White noise of rms s spreads over the window's bins: in one bin its
    // amplitude reads 2 s / sqrt(W) on average.
    const Mix tones{"", RoutingCode::tones, 32, 48000, 4, 0, 0, 0, 2147483648.0 * 1e-3, 20};
    const double window = 48000.0 / toneCodeGridHz;
    const double expected = 20.0 * std::log10(2.0 * 1e-3 / std::sqrt(window) / toneCodeAmplitude);
    EXPECT_NEAR(route(tones).noiseFloorDb, expected, 3.0);
}

TEST(ChannelRouting, AnInputWithNothingButNoiseOrSilenceIsDead)
{
    const Mix cases[] = {
        {"silent staircase input", RoutingCode::staircase, 32, 48000, 4, -1, 0, 0, 0, 0},
        {"noisy staircase input", RoutingCode::staircase, 16, 44100, 4, -1, 0, 0, 3, 0},
        {"noisy tone input", RoutingCode::tones, 32, 192000, 8, -1, 0, 0, 1e5, 0},
        {"silent tone input", RoutingCode::tones, 16, 44100, 8, -1, 0, 0, 0, 0},
    };
    for (const Mix& m : cases) {
        SCOPED_TRACE(m.name);
        const RoutedInput r = route(m);
        EXPECT_TRUE(r.dead);
        EXPECT_EQ(r.heard, -1);
    }
}

// The codes themselves: distinct starts inside the loop, tones none of
// which is another's harmonic, all on the window's grid.
TEST(ChannelCodes, StartsAndTonesAreDistinctForEveryRate)
{
    for (int64_t rate : {44100, 48000, 88200, 96000, 176400, 192000}) {
        SCOPED_TRACE(rate);
        EXPECT_LT(staircaseCodeOffset(maxCodedOutputs - 1, rate), rate);
        for (int a = 0; a < maxCodedOutputs; ++a) {
            for (int b = a + 1; b < maxCodedOutputs; ++b) {
                EXPECT_NE(staircaseCodeOffset(a, rate), staircaseCodeOffset(b, rate));
                const double ratio = toneCodeHz(b) / toneCodeHz(a);
                EXPECT_LT(ratio, 2.0);
            }
            EXPECT_LT(toneCodeHz(a) * 2.0, rate / 2.0);
            EXPECT_DOUBLE_EQ(std::fmod(toneCodeHz(a), toneCodeGridHz), 0.0);
        }
    }
}

}  // namespace

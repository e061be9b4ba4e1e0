// The analysis passes over most samples a block at a time and fits the
// followed sine from shared sums: what it finds must be what a sample-by-
// sample pass finds, wherever in a block the sample that matters falls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/recording_analysis.h"
#include "analysis/signal_detection.h"
#include "analysis/sine_fit.h"
#include "synthetic_dump.h"

using namespace analyse;
using synthetic::Samples;

namespace {

// Loud samples with no staircase step between any two of them.
Samples loudNoise(int64_t count, uint32_t seed)
{
    Samples s = synthetic::silence(count);
    synthetic::addNoise(s, 1 << 30, seed);
    return s;
}

Samples joined(Samples a, const Samples& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int64_t largestMagnitude(const Samples& s)
{
    int64_t peak = 0;
    for (const int32_t v : s) peak = std::max<int64_t>(peak, std::llabs(int64_t{v}));
    return peak;
}

struct DetectionCase {
    const char* name;
    Samples samples;
    SignalKind expected;
};

TEST(AnalysisPasses, StaircaseFoundAfterLoudSamplesAtAnyPlaceInABlock)
{
    std::vector<DetectionCase> cases;
    // The staircase begins at every offset within a block of the quick pass.
    for (int64_t shift = 0; shift < 17; ++shift) {
        cases.push_back({"exact staircase after noise",
                         joined(loudNoise(1000 + shift, 7), synthetic::staircase(400, 0, 48000)), SignalKind::staircase});
        Samples noisy = synthetic::staircase(2000, 0, 48000, 16);
        synthetic::addNoise(noisy, 64, 11);
        Samples quietNoise = synthetic::silence(3000 + shift);
        synthetic::addNoise(quietNoise, 20000, 5);
        cases.push_back({"noisy 16-bit staircase after noise", joined(quietNoise, noisy), SignalKind::staircase});
    }
    // A noisy staircase just long enough, counted from a first step at the
    // edge of the tolerance: found only if that step starts it.
    for (const int32_t first : {260, 261}) {
        Samples s = loudNoise(1003, 13);
        const int32_t start = 5000000;
        s.push_back(start + 30000);
        s.push_back(start);
        for (int32_t k = 1; k <= 256; ++k) s.push_back(start + 100 * k + (first - 100) - (k % 2 == 0 ? 10 : 0));
        cases.push_back({first == 260 ? "first step at the tolerance" : "first step past it", s,
                         first == 260 ? SignalKind::staircase : SignalKind::sine});
    }
    // Exact steps fewer than a staircase needs, just before the end.
    cases.push_back({"31 steps at the end", joined(loudNoise(4003, 9), synthetic::staircase(32, 0, 48000)),
                     SignalKind::sine});
    for (const DetectionCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.samples.size()) + " samples");
        const ChannelFeatures f = measureChannel(c.samples);
        EXPECT_EQ(detectSignal({f}), c.expected);
        EXPECT_EQ(f.peak, largestMagnitude(c.samples));
    }
}

TEST(AnalysisPasses, LevelAndLoudShareCountEverySample)
{
    // The most negative value, at every offset within a block, after the
    // staircase search has ended and before.
    for (const int64_t at : {5, 16, 31, 300000, 300007}) {
        Samples s = loudNoise(300016, 3);
        s[static_cast<size_t>(at)] = std::numeric_limits<int32_t>::min();
        const ChannelFeatures f = measureChannel(s);
        EXPECT_EQ(f.peak, int64_t{1} << 31) << at;
    }
    // A pulse train and a silence with one loud sample past the search.
    Samples pulses = synthetic::pulses(480000, 700, 48000, 2147483647);
    pulses[400001] = -1000000000;
    pulses[400002] = 600000000;
    const ChannelFeatures f = measureChannel(pulses);
    int64_t loud = 0;
    for (size_t p = 700; p < pulses.size(); ++p) loud += std::llabs(int64_t{pulses[p]}) >= (f.peak + 3) / 4 ? 1 : 0;
    EXPECT_EQ(loud, 12);
    EXPECT_DOUBLE_EQ(f.loudFraction, 12.0 / static_cast<double>(pulses.size() - 700));
    EXPECT_EQ(f.firstNonzero, 700);
    EXPECT_EQ(detectSignal({f}), SignalKind::pulse);
}

TEST(AnalysisPasses, BlockFitsAreThoseOfASingleFit)
{
    const double omega = 997.0 * 6.283185308 / 48000.0;
    Samples s = synthetic::sine(30000, 10.5, 997.0, 48000.0, 1e9, 48000);
    synthetic::addNoise(s, 300000, 4);
    s[12345] = 0;  // a zero, which the fit leaves out
    for (const int64_t length : {int64_t{2400}, int64_t{5000}}) {
        const BlockSineFit fitter(length, omega);
        // Whole blocks, one with the zero, and a shorter last block.
        for (const int64_t from : {int64_t{100}, int64_t{11000}, int64_t{20000}}) {
            for (const int64_t to : {from + length, from + length / 2}) {
                const SineFit block = fitter.fit(s.data(), from, to);
                const SineFit single = fitSine(s.data(), from, to, omega, 0.0);
                SCOPED_TRACE(std::to_string(length) + " " + std::to_string(from) + ".." + std::to_string(to));
                ASSERT_TRUE(block.valid);
                EXPECT_EQ(block.amplitude, single.amplitude);
                EXPECT_EQ(block.phase, single.phase);
                EXPECT_EQ(block.dc, single.dc);
                EXPECT_EQ(block.residualRms, single.residualRms);
                EXPECT_EQ(block.explained, single.explained);
                EXPECT_EQ(block.used, single.used);
            }
        }
    }
}

TEST(AnalysisPasses, EnvelopeOnlyForAPicture)
{
    DumpData dump;
    dump.inputLatency = 288;
    dump.outputLatency = 320;
    Samples s = synthetic::staircase(30000, 645, 48000);
    s[29999] = -5;
    dump.columns = {s};
    dump.rows = 30000;
    AnalysisOptions options;
    const RunResult plain = analyseRun(dump, options, -1);
    options.plotEnvelope = true;
    const RunResult drawn = analyseRun(dump, options, -1);
    ASSERT_EQ(plain.channels.size(), 1u);
    ASSERT_EQ(drawn.channels.size(), 1u);
    const PlotTrace& without = plain.channels[0].trace;
    const PlotTrace& with = drawn.channels[0].trace;
    // The window around the onset either way: a qualification's first
    // fault is placed by it.
    EXPECT_EQ(without.windowStart, with.windowStart);
    EXPECT_EQ(without.window, with.window);
    EXPECT_FALSE(without.window.empty());
    EXPECT_TRUE(without.envelopeMin.empty());
    EXPECT_TRUE(without.envelopeMax.empty());
    // The envelope covers the whole run.
    ASSERT_FALSE(with.envelopeMax.empty());
    ASSERT_EQ(with.envelopeMin.size(), with.envelopeMax.size());
    EXPECT_GE(static_cast<int64_t>(with.envelopeMax.size()) * with.binSize, 30000);
    EXPECT_EQ(*std::max_element(with.envelopeMax.begin(), with.envelopeMax.end()),
              *std::max_element(s.begin(), s.end()));
    EXPECT_EQ(with.envelopeMin.back(), -5);
}

}  // namespace

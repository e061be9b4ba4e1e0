// The analyser against recordings with known faults: each case builds the
// signal the harness sends, arriving 645 samples after a 608-sample lead-in
// (a hidden latency of 37), cuts one fault into it, and expects the round
// trip and exactly the faults listed, at their positions.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "analyse/dump_parser.h"
#include "analysis/recording_analysis.h"
#include "synthetic_dump.h"

using namespace analyse;
using synthetic::Samples;

namespace {

constexpr int64_t leadIn = 288 + 320;
constexpr int64_t onset = 1253;  // lead-in + a round trip of 645
constexpr int32_t fullPulse = 2147483647;
constexpr double sineHeight = 1e9;

struct ExpectedFault {
    FaultKind kind;
    int64_t position;
    int64_t length;  // -1: any
};

struct FaultCase {
    const char* name;
    SignalKind signal;
    double rate;  // one loop of the signal is one second of it
    std::function<Samples()> make;
    std::vector<ExpectedFault> faults;
    double roundTrip = 645.0;
    double tolerance = 0.0;
    std::optional<double> frequency = 1000.0;  // given to the sine analysis
    int bits = 0;
};

Samples stair(int bits = 32) { return synthetic::staircase(20000, onset, 8000, bits); }
Samples tone(double start = onset) { return synthetic::sine(12000, start, 1000.0, 48000.0, sineHeight, 48000); }
Samples train() { return synthetic::pulses(30000, onset, 8000, fullPulse); }

template <class Damage>
std::function<Samples()> with(std::function<Samples()> make, Damage damage)
{
    return [=] {
        Samples s = make();
        damage(s);
        return s;
    };
}

const std::vector<FaultCase>& cases()
{
    static const std::vector<FaultCase> all = {
        {"StaircaseExact", SignalKind::staircase, 8000, [] { return stair(); }, {}},
        {"Staircase16BitWrapsExact", SignalKind::staircase, 8000, [] { return stair(16); }, {}},
        {"StaircaseDroppedSamples", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::dropSamples(s, 5000, 5); }), {{FaultKind::dropped, 5000, 5}}},
        {"StaircaseInsertedSamples", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::insertSamples(s, 5000, {7, -7, 7}); }),
         {{FaultKind::inserted, 5000, 3}}},
        {"StaircaseRepeatedSample", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::insertSamples(s, 5000, {s[4999]}); }),
         {{FaultKind::inserted, 5000, 1}}},
        {"StaircaseRepeatedBuffer", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::insertSamples(s, 5120, Samples(s.begin() + 4864, s.begin() + 5120)); }),
         {{FaultKind::inserted, 5120, 256}}},
        {"StaircaseDropout", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::zeroSamples(s, 5000, 100); }), {{FaultKind::dropout, 5000, 100}}},
        {"StaircaseDropoutAcrossTheLoop", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::zeroSamples(s, onset + 8000 - 40, 100); }),
         {{FaultKind::dropout, onset + 8000 - 40, 100}}},
        {"StaircaseUnderrunInsertsZeros", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { synthetic::insertSamples(s, 5000, Samples(64, 0)); }),
         {{FaultKind::dropout, 5000, 64}, {FaultKind::inserted, 5000, 64}}},
        {"StaircaseCorruptedValue", SignalKind::staircase, 8000,
         with([] { return stair(); }, [](Samples& s) { s[5000] += 7; }), {{FaultKind::corrupted, 5000, 1}}},
        {"StaircaseInverted", SignalKind::staircase, 8000, with([] { return stair(); }, [](Samples& s) { synthetic::invert(s); }),
         {{FaultKind::inverted, onset, -1}}},
        {"StaircaseOffset", SignalKind::staircase, 8000, with([] { return stair(); }, [](Samples& s) { synthetic::addOffset(s, 7); }),
         {{FaultKind::offset, onset, -1}}},
        {"Staircase16BitDropout", SignalKind::staircase, 8000,
         with([] { return stair(16); }, [](Samples& s) { synthetic::zeroSamples(s, 9000, 256); }),
         {{FaultKind::dropout, 9000, 256}}, 645.0, 0.0, std::nullopt, 16},

        {"SineExact", SignalKind::sine, 48000, [] { return tone(); }, {}, 645.0, 1e-6},
        {"SineBetweenSamples", SignalKind::sine, 48000, [] { return tone(onset + 0.25); }, {}, 645.25, 1e-3},
        {"SineFrequencyMeasured", SignalKind::sine, 48000, [] { return tone(); }, {}, 645.0, 1e-6, std::nullopt},
        {"SineDropout", SignalKind::sine, 48000, with([] { return tone(); }, [](Samples& s) { synthetic::zeroSamples(s, 4000, 64); }),
         {{FaultKind::dropout, 4000, 64}}, 645.0, 1e-6},
        {"SineClick", SignalKind::sine, 48000, with([] { return tone(); }, [](Samples& s) { s[5000] += 500000000; }),
         {{FaultKind::discontinuity, 5000, 1}}, 645.0, 1e-6},
        {"SineDroppedSamples", SignalKind::sine, 48000,
         with([] { return tone(); }, [](Samples& s) { synthetic::dropSamples(s, 6000, 5); }),
         {{FaultKind::discontinuity, 6000, -1}, {FaultKind::dropped, 6000, 5}}, 645.0, 1e-6},
        {"SineInverted", SignalKind::sine, 48000, with([] { return tone(); }, [](Samples& s) { synthetic::invert(s); }),
         {{FaultKind::inverted, onset, -1}}, 645.0, 1e-6},

        {"PulseExact", SignalKind::pulse, 8000, [] { return train(); }, {}},
        {"PulseMissing", SignalKind::pulse, 8000,
         with(train, [](Samples& s) { synthetic::zeroSamples(s, onset + 8000 - 50, 100); }),
         {{FaultKind::dropout, onset + 8000, 1}}},
        {"PulseFirstLost", SignalKind::pulse, 8000,
         with(train, [](Samples& s) { synthetic::zeroSamples(s, onset - 10, 20); }), {{FaultKind::dropout, onset, 1}}},
        {"PulseLate", SignalKind::pulse, 8000,
         with(train, [](Samples& s) { synthetic::insertSamples(s, 12000, Samples(3, 0)); }),
         {{FaultKind::inserted, onset + 16000 + 3, 3}}},
        {"PulseEarly", SignalKind::pulse, 8000, with(train, [](Samples& s) { synthetic::dropSamples(s, 12000, 2); }),
         {{FaultKind::dropped, onset + 16000 - 2, 2}}},
        {"PulseInverted", SignalKind::pulse, 8000, with(train, [](Samples& s) { synthetic::invert(s); }),
         {{FaultKind::inverted, onset, -1}}},
        {"PulseStrayClick", SignalKind::pulse, 8000, with(train, [](Samples& s) { s[5000] = fullPulse / 2; }),
         {{FaultKind::discontinuity, 5000, 1}}},
    };
    return all;
}

RunResult analyse(const Samples& samples, const FaultCase& c)
{
    synthetic::Run run;
    run.columns = {samples};
    const std::string text = synthetic::dumpText(run);
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_TRUE(parseDumpText(text.data(), text.data() + text.size(), "ASIO PCM(Run 0).txt", dump, error, warnings))
        << error;
    AnalysisOptions options;
    options.rate = c.rate;
    options.signal = SignalKind::automatic;
    options.frequency = c.frequency;
    return analyseRun(dump, options, -1);
}

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultCases : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultCases, RoundTripAndFaultsAtTheirPositions)
{
    const FaultCase& c = GetParam();
    const RunResult run = analyse(c.make(), c);
    EXPECT_EQ(run.signal, c.signal) << "the signal is told from the data";
    if (c.bits != 0) {
        EXPECT_EQ(run.bits, c.bits);
    }
    ASSERT_EQ(run.channels.size(), 1u);
    const ChannelResult& ch = run.channels[0];
    ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
    EXPECT_NEAR(ch.roundTrip, c.roundTrip, c.tolerance);
    EXPECT_NEAR(ch.hiddenLatency, c.roundTrip - static_cast<double>(leadIn), c.tolerance);

    const auto& found = ch.faults.entries();
    ASSERT_EQ(found.size(), c.faults.size()) << "first: " << (found.empty() ? "none" : faultKindName(found[0].kind))
                                             << " at " << (found.empty() ? 0 : found[0].position);
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].kind, c.faults[i].kind);
        EXPECT_EQ(found[i].position, c.faults[i].position);
        if (c.faults[i].length >= 0) {
            EXPECT_EQ(found[i].length, c.faults[i].length);
        }
    }
    EXPECT_EQ(ch.passed, c.faults.empty());
    if (c.signal == SignalKind::staircase) {
        EXPECT_EQ(ch.bitExact.value_or(false), c.faults.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Analyser, FaultCases, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(AnalyserSignals, PulseBetweenSamplesIsRefined)
{
    // A pulse smoothed by an analogue path, centred a third of a sample late.
    Samples s = synthetic::silence(30000);
    for (int64_t first : {onset, onset + 8000, onset + 16000, onset + 24000}) {
        for (int64_t p = first - 4; p <= first + 4; ++p) {
            const double t = static_cast<double>(p - first) - 0.3;
            s[static_cast<size_t>(p)] = static_cast<int32_t>(1.5e9 * std::exp(-t * t / 2.0));
        }
    }
    FaultCase c{"", SignalKind::pulse, 8000, nullptr, {}};
    const RunResult run = analyse(s, c);
    const ChannelResult& ch = run.channels.at(0);
    ASSERT_EQ(ch.status, ChannelStatus::usable);
    EXPECT_NEAR(ch.roundTrip, 645.3, 0.1);
    ASSERT_EQ(ch.pulses.size(), 4u);
    EXPECT_NEAR(ch.pulses[3] - ch.pulses[0], 24000.0, 1e-9);
    EXPECT_TRUE(ch.faults.empty());
}

// A dropout that swallows the sine's start leaves its phase, which gives
// the start only to a period: the analyser says so rather than guess.
TEST(AnalyserSignals, SineWhoseStartWasLostIsNotTrusted)
{
    Samples s = tone();
    synthetic::zeroSamples(s, 1024, 256);
    FaultCase c{"", SignalKind::sine, 48000, nullptr, {}};
    const ChannelResult ch = analyse(s, c).channels.at(0);
    ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
    EXPECT_NE(ch.doubt.find("start was lost"), std::string::npos) << ch.doubt;
    EXPECT_FALSE(ch.passed);
    EXPECT_EQ(ch.faults.count(FaultKind::inverted), 0);
}

TEST(AnalyserSignals, NoisyStaircaseStillGivesTheRoundTripButIsNotBitExact)
{
    Samples s = stair();
    synthetic::addNoise(s, 3, 1);
    FaultCase c{"", SignalKind::staircase, 8000, nullptr, {}};
    const ChannelResult ch = analyse(s, c).channels.at(0);
    ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
    EXPECT_EQ(ch.roundTrip, 645.0);
    EXPECT_FALSE(ch.bitExact.value_or(true));
    EXPECT_GT(ch.faults.count(FaultKind::corrupted), 0);
    // The noise in the lead-in is signal before the onset.
    EXPECT_GT(ch.faults.count(FaultKind::beforeOnset), 0);
    EXPECT_EQ(ch.faults.total(), ch.faults.count(FaultKind::corrupted) + ch.faults.count(FaultKind::beforeOnset))
        << "noise is neither a slip nor a dropout";
    for (const Fault& f : ch.faults.entries()) EXPECT_LE(f.value, 3.0);
}

// A loop that mixes a little of the same staircase in (crosstalk between
// outputs that play the same signal) scales it: a step of 101 where 100
// was sent. Far from its zero a scaled staircase looks shifted by a step,
// so its start is settled where it begins.
TEST(AnalyserSignals, ScaledStaircaseKeepsItsRoundTrip)
{
    for (const double gain : {1.01, 0.99}) {
        SCOPED_TRACE(gain);
        Samples s = stair();
        for (int32_t& v : s) v = static_cast<int32_t>(std::lround(v * gain));
        FaultCase c{"", SignalKind::staircase, 8000, nullptr, {}};
        const ChannelResult ch = analyse(s, c).channels.at(0);
        ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
        EXPECT_EQ(ch.roundTrip, 645.0);
        EXPECT_FALSE(ch.bitExact.value_or(true));
    }
}

TEST(AnalyserSignals, QuietNoiseOnASineIsNoGlitch)
{
    Samples s = tone();
    synthetic::addNoise(s, 100000, 2);  // -80 dB below the sine
    FaultCase c{"", SignalKind::sine, 48000, nullptr, {}};
    const ChannelResult ch = analyse(s, c).channels.at(0);
    ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
    EXPECT_NEAR(ch.roundTrip, 645.0, 0.01);
    EXPECT_TRUE(ch.faults.empty());
    EXPECT_GT(ch.snrDb, 60.0);
}

// Inputs that carry nothing to measure say so instead of giving a number.
TEST(AnalyserSignals, UnusableInputsAreNamedNotMeasured)
{
    Samples quiet = synthetic::sine(12000, onset, 1000.0, 48000.0, 1000.0, 48000);  // about -126 dBFS
    Samples noise = synthetic::silence(12000);
    synthetic::addNoise(noise, 30000, 3);
    synthetic::Run run;
    run.columns = {tone(), synthetic::silence(12000), quiet, noise};
    const std::string text = synthetic::dumpText(run);
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(parseDumpText(text.data(), text.data() + text.size(), "d.txt", dump, error, warnings));
    AnalysisOptions options;
    options.frequency = 1000.0;
    const RunResult result = analyseRun(dump, options, 2);
    ASSERT_EQ(result.channels.size(), 4u);
    EXPECT_EQ(result.channels[0].status, ChannelStatus::usable);
    EXPECT_EQ(result.channels[1].status, ChannelStatus::silent);
    EXPECT_EQ(result.channels[2].status, ChannelStatus::belowLevel);
    EXPECT_EQ(result.channels[3].status, ChannelStatus::noSignal);
    EXPECT_EQ(result.channels[3].label, "channel 5") << "numbered after the two outputs";
    for (size_t c = 1; c < 4; ++c) {
        EXPECT_FALSE(result.channels[c].passed);
        EXPECT_EQ(result.channels[c].roundTrip, 0.0);
    }

    options.allowSilent = true;
    const RunResult allowed = analyseRun(dump, options, 2);
    for (const ChannelResult& ch : allowed.channels) EXPECT_TRUE(ch.passed) << ch.label;
}

}  // namespace

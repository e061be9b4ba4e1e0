// The analyser on recordings through modelled analog loops: the generator's
// own truth first, then clean loops that must pass with the round trip the
// loop was built with.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "analog_loop.h"
#include "analyse/dump_parser.h"
#include "analyse/table_output.h"
#include "analysis/channel_verdict.h"
#include "analysis/cross_run_summary.h"
#include "analysis/fault_text.h"
#include "analysis/recording_analysis.h"

using namespace analyse;

namespace {

RunResult analyseLoop(const analog::Loop& loop, AnalysisOptions options = {})
{
    const std::string text = synthetic::dumpText(analog::run(loop));
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_TRUE(parseDumpText(text.data(), text.data() + text.size(), "loop.txt", dump, error, warnings)) << error;
    options.rate = loop.rate;
    return analyseRun(dump, options, -1);
}

// The generator's delay checked without the analyser: a band-limited
// reconstruction of the sampled sine is the continuous sine itself, read
// exactly `onset` samples late.
TEST(AnalogLoopGenerator, SineArrivesExactlyAtTheDelayBuiltIn)
{
    for (double fraction : {0.0, 0.13, 0.5, 0.77}) {
        analog::Loop loop;
        loop.extraDelay = 37.0 + fraction;
        loop.rows = 6000;
        const synthetic::Samples s = analog::record(loop);
        const double start = analog::onset(loop);
        const double omega = loop.frequency * 6.283185308 / loop.rate;
        double worst = 0.0;
        // Far enough from the onset that the reconstruction sees whole samples on both sides.
        for (int64_t m = static_cast<int64_t>(start) + 200; m < loop.rows - 200; ++m) {
            const double expected = std::sin(omega * (static_cast<double>(m) - start)) * 2147483647.0;
            worst = std::max(worst, std::fabs(static_cast<double>(s[static_cast<size_t>(m)]) - expected));
        }
        // -100 dB of full scale: a delay error of 1e-5 sample would be 5x this.
        EXPECT_LT(worst / 2147483647.0, 1e-5) << fraction;
    }
}

// A band-limited pulse is symmetric about its true place.
TEST(AnalogLoopGenerator, PulseIsSymmetricAboutItsPlace)
{
    analog::Loop loop;
    loop.signal = analog::Signal::pulse;
    loop.extraDelay = 37.25;
    loop.rows = 2000;
    const synthetic::Samples s = analog::record(loop);
    const double start = analog::onset(loop);  // 645.25
    // Samples a quarter before and three quarters after, and so on, mirror.
    for (int k = 0; k < 5; ++k) {
        const double left = s[static_cast<size_t>(645 - k)];
        const double right = s[static_cast<size_t>(646 + k)];
        const double x = start - (645 - k);  // distance to the left sample
        const double y = (646 + k) - start;
        // sinc(x) and sinc(y): the two sides scale as the sinc says.
        const double pi = 3.14159265358979323846;
        EXPECT_NEAR(left / 2147483647.0, std::sin(pi * x) / (pi * x), 2e-3) << k;
        EXPECT_NEAR(right / 2147483647.0, std::sin(pi * y) / (pi * y), 2e-3) << k;
    }
}

TEST(AnalogLoopGenerator, GlitchesLandWhereAsked)
{
    analog::Loop loop;
    loop.signal = analog::Signal::staircase;
    loop.extraDelay = 37.0;
    loop.rows = 4000;
    const synthetic::Samples clean = analog::record(loop);
    loop.glitches = {{analog::GlitchKind::dropout, 3000, 100, 0.0}, {analog::GlitchKind::drop, 2000, 5, 0.0}};
    const synthetic::Samples damaged = analog::record(loop);
    ASSERT_EQ(damaged.size(), clean.size() - 5);
    EXPECT_EQ(damaged[1999], clean[1999]);
    EXPECT_EQ(damaged[2000], clean[2005]);
    EXPECT_EQ(damaged[3000 - 5], 0);
    EXPECT_EQ(damaged[3099 - 5], 0);
    EXPECT_EQ(damaged[3100 - 5], clean[3100]);
}

// A loop condition laid over the basic loop.
struct Condition {
    const char* name;
    void (*apply)(analog::Loop&);
};

const Condition conditions[] = {
    {"clean", [](analog::Loop&) {}},
    {"gain -60 dB", [](analog::Loop& l) { l.gainDb = -60.0; }},
    {"16-bit at -20 dB", [](analog::Loop& l) {
         l.bits = 16;
         l.gainDb = -20.0;
     }},
    {"20 Hz high-pass", [](analog::Loop& l) { l.highPassHz = 20.0; }},
};

// The band-limited pulse is fitted, so no fraction of a sample pulls the
// round trip towards a whole or half sample.
TEST(AnalogLoopPulse, RoundTripUnbiasedAtEveryFraction)
{
    for (const Condition& condition : conditions) {
        for (double fraction : {0.0, 0.1, 0.25, 0.4, 0.5, 0.7, 0.9}) {
            analog::Loop loop;
            loop.signal = analog::Signal::pulse;
            loop.rows = 100000;
            loop.extraDelay = 37.0 + fraction;
            condition.apply(loop);
            const RunResult r = analyseLoop(loop);
            ASSERT_EQ(r.signal, SignalKind::pulse) << condition.name << " " << fraction;
            const ChannelResult& ch = r.channels.at(0);
            ASSERT_EQ(ch.status, ChannelStatus::usable) << condition.name << " " << fraction << " " << ch.note;
            EXPECT_NEAR(ch.roundTrip, 37.0 + fraction + (loop.inputLatency + loop.outputLatency) - r.leadIn, 0.005)
                << condition.name << " " << fraction;
            EXPECT_TRUE(ch.passed) << condition.name << " " << fraction << (ch.faults.empty() ? std::string() : " " + describeFault(ch.faults.entries().front()));
        }
    }
}

// However quiet the loop left it, a recording that never passes 32768
// is a 16-bit one: read as 32-bit it would lie below the usable level.
TEST(AnalogLoopBits, QuietSixteenBitRecordingIsRecognised)
{
    for (analog::Signal signal : {analog::Signal::sine, analog::Signal::pulse}) {
        for (double gain : {-12.0, -40.0}) {
            analog::Loop loop;
            loop.signal = signal;
            loop.rows = signal == analog::Signal::pulse ? 60000 : 24000;
            loop.extraDelay = 37.25;
            loop.bits = 16;
            loop.gainDb = gain;
            const RunResult r = analyseLoop(loop);
            EXPECT_EQ(r.bits, 16) << gain;
            const ChannelResult& ch = r.channels.at(0);
            ASSERT_EQ(ch.status, ChannelStatus::usable) << gain << " " << ch.note;
            EXPECT_NEAR(ch.peakDbfs, gain, 1.0);
            EXPECT_NEAR(ch.roundTrip, 37.25, 0.01) << gain;
        }
    }
}

// Loops that damage nothing pass, whatever the level, noise, offset or
// band limit; where no filter shifts the signal, the round trip is the
// delay built in.
struct CleanLoop {
    const char* name;
    void (*apply)(analog::Loop&);
    double sineTolerance;   // -1: a filter moves the reading; not compared
    double pulseTolerance;
};

const CleanLoop cleanLoops[] = {
    {"clean", [](analog::Loop&) {}, 1e-4, 0.005},
    {"SNR 40 dB", [](analog::Loop& l) { l.snrDb = 40.0; }, 0.002, 0.02},
    {"gain -60 dB, SNR 60 dB", [](analog::Loop& l) {
         l.gainDb = -60.0;
         l.snrDb = 60.0;
     }, 0.002, 0.01},
    {"16-bit at -20 dB", [](analog::Loop& l) {
         l.bits = 16;
         l.gainDb = -20.0;
     }, 0.001, 0.005},
    {"DC 2%", [](analog::Loop& l) {
         l.gainDb = -3.0;
         l.dc = 0.02;
     }, 1e-4, 0.005},
    {"20 kHz low-pass", [](analog::Loop& l) { l.lowPassHz = 20000.0; }, -1.0, -1.0},
    {"20 Hz high-pass", [](analog::Loop& l) { l.highPassHz = 20.0; }, -1.0, -1.0},
};

TEST(AnalogLoopClean, PassesWithTheRoundTripBuiltIn)
{
    for (const CleanLoop& c : cleanLoops) {
        for (analog::Signal signal : {analog::Signal::sine, analog::Signal::pulse}) {
            for (double fraction : {0.0, 0.3, 0.5, 0.8}) {
                analog::Loop loop;
                loop.signal = signal;
                loop.rows = signal == analog::Signal::pulse ? 60000 : 24000;
                loop.extraDelay = 37.0 + fraction;
                loop.seed = static_cast<uint32_t>(fraction * 10.0) + 5u;
                c.apply(loop);
                const RunResult r = analyseLoop(loop);
                const bool pulse = signal == analog::Signal::pulse;
                const std::string what = std::string(c.name) + (pulse ? " pulse " : " sine ") + std::to_string(fraction);
                ASSERT_EQ(r.signal, pulse ? SignalKind::pulse : SignalKind::sine) << what;
                const ChannelResult& ch = r.channels.at(0);
                ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
                EXPECT_TRUE(ch.passed) << what << ": " << (ch.failures.empty() ? "" : ch.failures.front());
                EXPECT_TRUE(ch.faults.empty()) << what;
                const double tolerance = pulse ? c.pulseTolerance : c.sineTolerance;
                if (tolerance > 0.0) {
                    EXPECT_NEAR(ch.roundTrip, 37.0 + fraction, tolerance) << what;
                }
            }
        }
    }
}

// Noise in the lead-in is not the sine's start; and where the noise is
// too strong to measure, the verdict is no signal rather than a PASS with
// a round trip the fit cannot stand behind.
TEST(AnalogLoopSine, NoisyLoopsGiveTheRoundTripOrNone)
{
    struct Level {
        double snrDb;
        double tolerance;
        bool mustMeasure;
    };
    for (const Level level : {Level{30.0, 0.02, true}, Level{20.0, 0.06, false}}) {
        for (int i = 0; i < 6; ++i) {
            analog::Loop loop;
            loop.rows = 24000;
            loop.extraDelay = 37.0 + 0.17 * i;
            loop.snrDb = level.snrDb;
            loop.seed = 40u + static_cast<uint32_t>(i);
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(level.snrDb) + " dB, " + std::to_string(loop.extraDelay);
            if (level.mustMeasure) {
                ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            }
            if (ch.status != ChannelStatus::usable) continue;
            EXPECT_NEAR(ch.roundTrip, loop.extraDelay, level.tolerance) << what;
            EXPECT_TRUE(ch.passed) << what;
        }
    }
}

// A pulse's silence cannot show a dropout: a pulse run that passes vouches
// for its latency only, and says so; a sine that passes is a plain PASS.
TEST(AnalogLoopVerdict, PulsePassesForTheLatencyOnly)
{
    for (const analog::Signal signal : {analog::Signal::pulse, analog::Signal::sine}) {
        analog::Loop loop;
        loop.signal = signal;
        loop.rows = signal == analog::Signal::pulse ? 60000 : 24000;
        loop.extraDelay = 37.4;
        const std::vector<RunResult> runs = {analyseLoop(loop)};
        const Verdict verdict = overallVerdict(runs);
        ASSERT_TRUE(verdict.passed());
        std::ostringstream table;
        printTable(table, runs, summariseRuns(runs), ReadStatistics{}, verdict);
        if (signal == analog::Signal::pulse) {
            EXPECT_EQ(verdict.latencyOnly, 1);
            EXPECT_NE(table.str().find("not checked: dropouts between pulses\n"), std::string::npos) << table.str();
            EXPECT_NE(table.str().find("Result: PASS (latency only) (1 of 1"), std::string::npos) << table.str();
        } else {
            EXPECT_EQ(verdict.latencyOnly, 0);
            EXPECT_NE(table.str().find("Result: PASS (1 of 1"), std::string::npos) << table.str();
        }
    }
}

}  // namespace

namespace {

// The sine's phase is followed over the whole run, not only its first
// stretch: the round trip nears what the noise allows for the run's length.
TEST(AnalogLoopSine, RoundTripOverTheWholeRunNearsTheNoiseBound)
{
    struct Level {
        double snrDb;
        double rmsLimit;
    };
    for (const Level level : {Level{60.0, 0.0001}, Level{40.0, 0.001}, Level{20.0, 0.01}}) {
        double sum = 0.0;
        int measured = 0;
        for (int i = 0; i < 10; ++i) {
            analog::Loop loop;
            loop.rows = 48000 + 608;  // a second of sine after the lead-in
            loop.extraDelay = 37.0 + 0.1 * i + 0.013;
            loop.snrDb = level.snrDb;
            loop.seed = 300u + static_cast<uint32_t>(i);
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(level.snrDb) + " dB, " + std::to_string(loop.extraDelay);
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            EXPECT_TRUE(ch.passed) << what << ": " << (ch.failures.empty() ? "" : ch.failures.front());
            const double error = ch.roundTrip - loop.extraDelay;
            sum += error * error;
            ++measured;
        }
        EXPECT_LT(std::sqrt(sum / measured), level.rmsLimit) << level.snrDb << " dB";
    }
}

// Separately clocked devices: the recording's clock runs off the
// playback's. That is a drift, measured in ppm, with the round trip at the
// onset; not a string of slips. A real slip on top of it is still found.
TEST(AnalogLoopSine, ClockDifferenceIsMeasuredNotTakenForSlips)
{
    for (const double ppm : {-500.0, -50.0, 7.0, 50.0, 500.0}) {
        for (const bool slip : {false, true}) {
            analog::Loop loop;
            loop.rows = 96000;
            loop.extraDelay = 37.3;
            loop.snrDb = 40.0;
            loop.ppm = ppm;
            loop.seed = 500u + static_cast<uint32_t>(ppm + 1000.0);
            if (slip) loop.glitches.push_back(analog::Glitch{analog::GlitchKind::drop, 60000, 5});
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(ppm) + " ppm" + (slip ? " with a drop" : "");
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            // The recording's clock counts the onset too: it lies where the
            // playback's lead-in and the loop's delay end on that clock.
            EXPECT_NEAR(ch.onset, analog::onset(loop) * (1.0 + ppm * 1e-6), 0.01) << what;
            ASSERT_TRUE(ch.driftPpm.has_value()) << what;
            EXPECT_NEAR(*ch.driftPpm, ppm, 0.5) << what;
            if (!slip) {
                EXPECT_TRUE(ch.passed) << what << ": " << (ch.failures.empty() ? "" : ch.failures.front());
                EXPECT_TRUE(ch.faults.empty()) << what << ": " << ch.faults.total() << " faults";
                continue;
            }
            // The slip, and the samples around it that fit neither side.
            int slips = 0;
            for (const Fault& f : ch.faults.entries()) {
                EXPECT_NEAR(static_cast<double>(f.position), 60000.0, 2.0) << what;
                if (f.kind == FaultKind::discontinuity) continue;
                ++slips;
                EXPECT_EQ(f.kind, FaultKind::dropped) << what;
                EXPECT_EQ(f.length, 5) << what;
            }
            EXPECT_EQ(slips, 1) << what;
        }
    }
}

}  // namespace

namespace {

// High tones have periods of a few samples, and a band-limited start rings
// before it: the right period is told by the start's whole shape, or the
// verdict says that it cannot be told and which round trips are possible.
TEST(AnalogLoopSine, HighTonesFindTheirPeriod)
{
    for (const double frequency : {4000.0, 10000.0, 15000.0, 19200.0}) {
        for (int i = 0; i < 10; ++i) {
            analog::Loop loop;
            loop.frequency = frequency;
            loop.rows = 24000;
            loop.extraDelay = 37.0 + 0.21 * (i % 5);
            loop.snrDb = i < 5 ? 40.0 : 20.0;
            loop.seed = 700u + static_cast<uint32_t>(i);
            // Given, as the session record gives it, or measured.
            AnalysisOptions options;
            if (i % 2 == 0) options.frequency = frequency;
            const RunResult r = analyseLoop(loop, options);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(frequency) + " Hz, " + std::to_string(loop.extraDelay) + ", " +
                                     std::to_string(loop.snrDb) + " dB";
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            if (ch.doubt.empty()) {
                EXPECT_TRUE(ch.passed) << what << ": " << (ch.failures.empty() ? "" : ch.failures.front());
                EXPECT_NEAR(ch.roundTrip, loop.extraDelay, 0.01) << what;
            } else {
                EXPECT_FALSE(ch.passed) << what;
                EXPECT_NE(ch.doubt.find(formatSamples(std::round(loop.extraDelay * 1000.0) / 1000.0)), std::string::npos)
                    << what << ": " << ch.doubt;
            }
        }
    }
}

// Without the frequency given, the analyser finds it itself: from low
// tones to 0.4 of the rate, down to 20 dB where noise makes many more zero
// crossings than the tone, and through a loop's coupling and DC.
TEST(AnalogLoopSine, FrequencyFoundWhereNoneIsGiven)
{
    for (const double frequency : {40.0, 997.0, 4000.0, 10000.0, 15000.0, 19200.0}) {
        for (const double snr : {60.0, 20.0}) {
            analog::Loop loop;
            loop.frequency = frequency;
            loop.rows = 24000;
            loop.extraDelay = 37.29;
            loop.snrDb = snr;
            loop.dc = 0.01;
            loop.gainDb = -20.0;
            loop.seed = 900u + static_cast<uint32_t>(frequency);
            const RunResult r = analyseLoop(loop);
            const std::string what = std::to_string(frequency) + " Hz, " + std::to_string(snr) + " dB";
            ASSERT_TRUE(r.frequency.has_value()) << what;
            EXPECT_TRUE(r.frequencyEstimated) << what;
            // A whole number of hertz, as the harness plays, is read as such.
            EXPECT_DOUBLE_EQ(*r.frequency, frequency) << what;
            const ChannelResult& ch = r.channels.at(0);
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            if (ch.doubt.empty()) {
                EXPECT_TRUE(ch.passed) << what << ": " << (ch.failures.empty() ? "" : ch.failures.front());
                // A low tone's phase tells time coarsely: three times its
                // Cramer-Rao bound, at 20 dB over the recording's length.
                const double omega = 6.283185307179586 * frequency / loop.rate;
                const double bound = std::sqrt(1.0 / (std::pow(10.0, snr / 10.0) * 23000.0)) / omega;
                EXPECT_NEAR(ch.roundTrip, loop.extraDelay, std::max(0.01, 3.0 * bound)) << what;
            }
        }
    }
}

}  // namespace

namespace {

// Each kind of glitch cut into a loop at a known place is found there, with
// its length, and nothing else is: the samples around a slip that fit
// neither side of it are the only extra.
TEST(AnalogLoopGlitches, FoundWhereTheyWereCut)
{
    using analog::GlitchKind;
    using analog::Signal;
    struct Case {
        const char* name;
        Signal signal;
        analog::Glitch glitch;
        FaultKind expected;
    };
    // The staircase's loop ends at table position 608 + 37 + 48000.
    const Case cases[] = {
        {"sine drop", Signal::sine, {GlitchKind::drop, 30000, 5}, FaultKind::dropped},
        {"sine insert", Signal::sine, {GlitchKind::insert, 30000, 7}, FaultKind::inserted},
        {"sine click", Signal::sine, {GlitchKind::click, 30000, 1, -40.0}, FaultKind::discontinuity},
        {"sine dropout 1 ms", Signal::sine, {GlitchKind::dropout, 30000, 48}, FaultKind::dropout},
        {"sine dropout 10 ms", Signal::sine, {GlitchKind::dropout, 30000, 480}, FaultKind::dropout},
        {"staircase drop", Signal::staircase, {GlitchKind::drop, 30000, 5}, FaultKind::dropped},
        {"staircase insert", Signal::staircase, {GlitchKind::insert, 30000, 7}, FaultKind::inserted},
        {"staircase click", Signal::staircase, {GlitchKind::click, 30000, 1, -40.0}, FaultKind::corrupted},
        {"staircase dropout 1 ms", Signal::staircase, {GlitchKind::dropout, 30000, 48}, FaultKind::dropout},
        {"staircase dropout to the loop's end", Signal::staircase, {GlitchKind::dropout, 48645 - 200, 200},
         FaultKind::dropout},
        {"staircase dropout over the loop's end", Signal::staircase, {GlitchKind::dropout, 48645 - 100, 200},
         FaultKind::dropout},
        {"pulse click in the silence", Signal::pulse, {GlitchKind::click, 30000, 1, -40.0}, FaultKind::discontinuity},
        {"pulse dropout over a pulse", Signal::pulse, {GlitchKind::dropout, 48645 - 240, 480}, FaultKind::dropout},
    };
    for (const Case& c : cases) {
        analog::Loop loop;
        loop.signal = c.signal;
        loop.rows = c.signal == Signal::pulse ? 100000 : 60000;
        const bool digital = c.signal == Signal::staircase;
        loop.extraDelay = digital ? 37.0 : 37.4;
        loop.snrDb = digital ? std::numeric_limits<double>::infinity() : 60.0;
        loop.glitches = {c.glitch};
        const RunResult r = analyseLoop(loop);
        const ChannelResult& ch = r.channels.at(0);
        ASSERT_EQ(ch.status, ChannelStatus::usable) << c.name << ": " << ch.note;
        EXPECT_FALSE(ch.passed) << c.name;
        int found = 0;
        for (const Fault& f : ch.faults.entries()) {
            if (f.kind == c.expected) {
                ++found;
                EXPECT_NEAR(static_cast<double>(f.position), static_cast<double>(c.glitch.at), 2.0)
                    << c.name << ": " << describeFault(f);
                EXPECT_EQ(f.length, c.glitch.length) << c.name << ": " << describeFault(f);
            } else {
                const bool slip = c.expected == FaultKind::dropped || c.expected == FaultKind::inserted;
                EXPECT_TRUE(slip && f.kind == FaultKind::discontinuity && f.position >= c.glitch.at - 2 &&
                            f.position <= c.glitch.at + 64)
                    << c.name << ": also " << describeFault(f);
            }
        }
        EXPECT_EQ(found, 1) << c.name;
    }
}

}  // namespace

namespace {

// Anything in the silence before a staircase starts is a fault of its own:
// such a loop is not bit-exact.
TEST(AnalogLoopStaircase, SignalBeforeTheOnsetIsNotBitExact)
{
    analog::Loop loop;
    loop.signal = analog::Signal::staircase;
    loop.rows = 20000;
    loop.extraDelay = 37.0;
    synthetic::Run stray = analog::run(loop);
    stray.columns[0][300] = 12345;
    const std::string text = synthetic::dumpText(stray);
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(parseDumpText(text.data(), text.data() + text.size(), "loop.txt", dump, error, warnings)) << error;
    AnalysisOptions options;
    options.rate = loop.rate;
    const RunResult r = analyseRun(dump, options, -1);
    const ChannelResult& ch = r.channels.at(0);
    ASSERT_EQ(ch.status, ChannelStatus::usable) << ch.note;
    EXPECT_DOUBLE_EQ(ch.roundTrip, 37.0);
    EXPECT_FALSE(ch.passed);
    ASSERT_FALSE(ch.faults.empty());
    EXPECT_EQ(ch.faults.entries().front().position, 300) << describeFault(ch.faults.entries().front());
    EXPECT_EQ(describeFault(ch.faults.entries().front()),
              "signal before the onset: 1 of 1 sample from 300, off by up to 12345");
    ASSERT_TRUE(ch.bitExact.has_value());
    EXPECT_FALSE(*ch.bitExact);
}

}  // namespace

namespace {

// A staircase is for bit-exact loops, but a user still expects a noisy one
// to be recognised, with its round trip, and its noise told as corrupted
// samples rather than slips.
TEST(AnalogLoopStaircase, RecognisedUnderNoise)
{
    struct Width {
        int bits;
        double snrDb;  // noise of about 37 LSB rms, like uniform noise of +-64 LSB
    };
    for (const Width width : {Width{32, 152.3}, Width{16, 56.0}}) {
        analog::Loop loop;
        loop.signal = analog::Signal::staircase;
        loop.bits = width.bits;
        loop.rows = 20000;
        loop.extraDelay = 37.0;
        loop.snrDb = width.snrDb;
        const RunResult r = analyseLoop(loop);
        const std::string what = std::to_string(width.bits) + "-bit";
        ASSERT_EQ(r.signal, SignalKind::staircase) << what;
        const ChannelResult& ch = r.channels.at(0);
        ASSERT_EQ(ch.status, ChannelStatus::usable) << what << ": " << ch.note;
        EXPECT_DOUBLE_EQ(ch.roundTrip, 37.0) << what;
        EXPECT_FALSE(ch.passed) << what;
        EXPECT_FALSE(ch.bitExact.value_or(true)) << what;
        EXPECT_GT(ch.faults.count(FaultKind::corrupted), 0) << what;
        EXPECT_EQ(ch.faults.total(), ch.faults.count(FaultKind::corrupted) + ch.faults.count(FaultKind::beforeOnset))
            << what << ": noise is neither a slip nor a dropout";
    }
}

}  // namespace

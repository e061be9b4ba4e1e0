// The pulse through modelled analog loops: the round trip from every pulse
// of the run, the clocks' drift measured rather than read as slips, and the
// glitch checks that still hold while the pulses drift.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
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

RunResult analyseLoop(const analog::Loop& loop)
{
    const std::string text = synthetic::dumpText(analog::run(loop));
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_TRUE(parseDumpText(text.data(), text.data() + text.size(), "loop.txt", dump, error, warnings)) << error;
    AnalysisOptions options;
    options.rate = loop.rate;
    return analyseRun(dump, options, -1);
}

// A run of `seconds` after the lead-in: a pulse a second.
analog::Loop pulseLoop(int seconds, double rate = 48000.0)
{
    analog::Loop loop;
    loop.signal = analog::Signal::pulse;
    loop.rate = rate;
    loop.rows = static_cast<int64_t>(rate) * seconds + 608;
    return loop;
}

// Where the recording's clock puts the loop's onset: the playback's lead-in
// and delay, counted in the recording's faster or slower samples.
double recordedOnset(const analog::Loop& loop) { return analog::onset(loop) * (1.0 + loop.ppm * 1e-6); }

std::string firstFailure(const ChannelResult& ch)
{
    if (!ch.faults.empty()) return describeFault(ch.faults.entries().front());
    return ch.failures.empty() ? std::string() : ch.failures.front();
}

// Every pulse is fitted and the round trip read from the line through them
// all: at every fraction within the bound, and closer the more pulses. A run
// at 8 kHz holds a pulse every 8000 samples, so thirty of them stay quick to
// make; the fit works in samples, whatever the rate.
TEST(AnalogPulseRoundTrip, WithinTheBoundAtEveryFractionAndNoise)
{
    struct Row {
        double snrDb;
        int seconds;
        double rate;
        double bound;  // samples, for every fraction
    };
    // A single pulse at 40 dB reads about 0.004 sample rms (its Cramer-Rao
    // bound); the noiseless residue of 0.001 is the converter's windowed
    // reconstruction against the ideal sinc fitted.
    const Row rows[] = {
        {60.0, 1, 48000.0, 0.002},
        {40.0, 1, 48000.0, 0.01},
        {30.0, 1, 48000.0, 0.04},
        {30.0, 30, 8000.0, 0.012},
    };
    for (const Row& row : rows) {
        for (int i = 0; i < 10; ++i) {
            analog::Loop loop = pulseLoop(row.seconds, row.rate);
            loop.extraDelay = 37.0 + 0.1 * i + 0.013;
            loop.snrDb = row.snrDb;
            loop.seed = 1100u + static_cast<uint32_t>(i);
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(row.snrDb) + " dB, " + std::to_string(row.seconds) + " s, " +
                                     std::to_string(loop.extraDelay);
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            EXPECT_TRUE(ch.passed) << what << ": " << firstFailure(ch);
            EXPECT_NEAR(ch.roundTrip, loop.extraDelay, row.bound) << what;
        }
    }
}

// Separately clocked devices move each pulse on by the clocks' difference:
// a drift in ppm, the round trip at the first pulse, no slip.
TEST(AnalogPulseDrift, MeasuredNotTakenForSlips)
{
    for (const double ppm : {-500.0, -50.0, 50.0, 500.0}) {
        analog::Loop loop = pulseLoop(4);
        loop.extraDelay = 37.3;
        loop.snrDb = 40.0;
        loop.ppm = ppm;
        loop.seed = 1200u + static_cast<uint32_t>(ppm + 1000.0);
        const std::vector<RunResult> runs = {analyseLoop(loop)};
        const ChannelResult& ch = runs[0].channels.at(0);
        const std::string what = std::to_string(ppm) + " ppm";
        ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
        // A slow recording clock takes a fifth pulse in before the run ends.
        EXPECT_EQ(ch.pulses.size(), ppm < -100.0 ? 5u : 4u) << what;
        EXPECT_TRUE(ch.passed) << what << ": " << firstFailure(ch);
        EXPECT_TRUE(ch.faults.empty()) << what << ": " << ch.faults.total() << " faults";
        EXPECT_NEAR(ch.onset, recordedOnset(loop), 0.01) << what;
        // Four pulses at 40 dB: the slope's noise is about 0.03 ppm.
        ASSERT_TRUE(ch.driftPpm.has_value()) << what;
        EXPECT_NEAR(*ch.driftPpm, ppm, 0.1) << what;
        // The converter's noise shows a dropout anywhere: nothing is left unchecked.
        EXPECT_TRUE(ch.unchecked.empty()) << what;

        std::ostringstream table;
        printTable(table, runs, summariseRuns(runs), ReadStatistics{}, overallVerdict(runs));
        char clock[32];
        std::snprintf(clock, sizeof clock, "  clock %+.1f ppm\n", *ch.driftPpm);
        EXPECT_NE(table.str().find(clock), std::string::npos) << table.str();
        EXPECT_NE(table.str().find("Result: PASS (1 of 1"), std::string::npos) << table.str();
    }
}

// A real slip on top of the drift is a step off the line: found at the
// first pulse after it (the silence between pulses does not show where),
// with its length.
TEST(AnalogPulseDrift, RealSlipStillFound)
{
    using analog::GlitchKind;
    for (const double ppm : {-500.0, 0.0, 50.0, 500.0}) {
        for (const GlitchKind kind : {GlitchKind::drop, GlitchKind::insert}) {
            analog::Loop loop = pulseLoop(5);
            loop.extraDelay = 37.6;
            loop.snrDb = 40.0;
            loop.ppm = ppm;
            loop.seed = 1300u + static_cast<uint32_t>(ppm + 1000.0);
            const int64_t length = kind == GlitchKind::drop ? 5 : 7;
            // Between the second and the third pulse.
            loop.glitches = {analog::Glitch{kind, 78000, length}};
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::to_string(ppm) + " ppm, " + (kind == GlitchKind::drop ? "drop" : "insert");
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << " " << ch.note;
            EXPECT_FALSE(ch.passed) << what;
            EXPECT_NEAR(ch.onset, recordedOnset(loop), 0.01) << what;
            ASSERT_TRUE(ch.driftPpm.has_value()) << what;
            EXPECT_NEAR(*ch.driftPpm, ppm, 0.1) << what;
            const double third = recordedOnset(loop) + 2.0 * loop.rate * (1.0 + ppm * 1e-6) +
                                 static_cast<double>(kind == GlitchKind::drop ? -length : length);
            ASSERT_EQ(ch.faults.total(), 1) << what << ": " << firstFailure(ch);
            const Fault& f = ch.faults.entries().front();
            EXPECT_EQ(f.kind, kind == GlitchKind::drop ? FaultKind::dropped : FaultKind::inserted) << what;
            EXPECT_EQ(f.length, length) << what;
            EXPECT_NEAR(static_cast<double>(f.position), third, 2.0) << what << ": " << describeFault(f);
        }
    }
}

// Two pulses alone cannot tell a step from a slope: a spacing off by whole
// samples, as a loop on one clock slips, is a slip; any other, the drift.
TEST(AnalogPulseDrift, TwoPulsesTellSlipsOfWholeSamplesFromDrift)
{
    struct Case {
        const char* name;
        double snrDb;
        double ppm;
        int64_t drop;
    };
    const Case cases[] = {
        {"digital loop, 3 dropped", std::numeric_limits<double>::infinity(), 0.0, 3},
        {"analog loop, +50 ppm", 40.0, 50.0, 0},
        {"analog loop, -20 ppm", 40.0, -20.0, 0},
    };
    for (const Case& c : cases) {
        analog::Loop loop = pulseLoop(2);
        loop.extraDelay = c.drop > 0 ? 37.0 : 37.45;
        loop.snrDb = c.snrDb;
        loop.ppm = c.ppm;
        if (c.drop > 0) loop.glitches = {analog::Glitch{analog::GlitchKind::drop, 30000, c.drop}};
        const RunResult r = analyseLoop(loop);
        const ChannelResult& ch = r.channels.at(0);
        ASSERT_EQ(ch.status, ChannelStatus::usable) << c.name << " " << ch.note;
        ASSERT_EQ(ch.pulses.size(), 2u) << c.name;
        ASSERT_TRUE(ch.driftPpm.has_value()) << c.name;
        EXPECT_NEAR(*ch.driftPpm, c.ppm, 0.5) << c.name;
        if (c.drop == 0) {
            EXPECT_TRUE(ch.passed) << c.name << ": " << firstFailure(ch);
            continue;
        }
        ASSERT_EQ(ch.faults.total(), 1) << c.name << ": " << firstFailure(ch);
        EXPECT_EQ(describeFault(ch.faults.entries().front()), describeFault(Fault{FaultKind::dropped, 48645 - 3, 3, 3, 0.0}));
    }
}

// While the pulses drift, the silence between them is still checked against
// the noise, and a pulse lost to a dropout is still one dropout of its length.
TEST(AnalogPulseDrift, GlitchesBetweenDriftingPulsesAreFound)
{
    using analog::GlitchKind;
    struct Case {
        const char* name;
        analog::Glitch glitch;
        FaultKind expected;
    };
    const Case cases[] = {
        {"click in the silence", {GlitchKind::click, 70000, 1, -40.0}, FaultKind::discontinuity},
        {"dropout of 1 ms in the silence", {GlitchKind::dropout, 70000, 48}, FaultKind::dropout},
        {"dropout over the third pulse", {GlitchKind::dropout, 96645 - 240, 480}, FaultKind::dropout},
    };
    for (const double ppm : {-500.0, 50.0, 500.0}) {
        for (const Case& c : cases) {
            analog::Loop loop = pulseLoop(4);
            loop.extraDelay = 37.4;
            loop.snrDb = 60.0;
            loop.ppm = ppm;
            loop.glitches = {c.glitch};
            const RunResult r = analyseLoop(loop);
            const ChannelResult& ch = r.channels.at(0);
            const std::string what = std::string(c.name) + ", " + std::to_string(ppm) + " ppm";
            ASSERT_EQ(ch.status, ChannelStatus::usable) << what << ": " << ch.note;
            EXPECT_FALSE(ch.passed) << what;
            ASSERT_TRUE(ch.driftPpm.has_value()) << what;
            EXPECT_NEAR(*ch.driftPpm, ppm, 0.1) << what;
            ASSERT_EQ(ch.faults.total(), 1) << what << ": " << firstFailure(ch);
            const Fault& f = ch.faults.entries().front();
            EXPECT_EQ(f.kind, c.expected) << what << ": " << describeFault(f);
            EXPECT_NEAR(static_cast<double>(f.position), static_cast<double>(c.glitch.at), 2.0) << what << ": " << describeFault(f);
            EXPECT_EQ(f.length, c.glitch.length) << what << ": " << describeFault(f);
        }
    }
}

}  // namespace

// The harness against the virtual driver with a hidden round trip of 37
// samples and a dropped buffer half every so often: the analyser must give
// the round trip as reported + 37 and each dropout where the driver made it;
// and the same driver as an analog cable loop, which must pass with the
// fractional round trip built in.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <nlohmann/json.hpp>

#include "analyser_process.h"
#include "harness_runner.h"

namespace {

constexpr int64_t reported = 288 + 320;  // the virtual driver's default latencies
constexpr int64_t extraDelay = 37;
constexpr int64_t dropEvery = 8;
constexpr int64_t bufferSize = 256;

TEST(HarnessAndAnalyser, RoundTripAndDropoutsOfTheVirtualDriver)
{
    const VirtualDriverEntry driver{"Loopback",
                                    "{5E1A0000-0000-4000-8000-0000000000A7}",
                                    "",
                                    {{"ExtraDelay", "dword:00000025"}, {"DropEvery", "dword:00000008"}},
                                    true};
    NativeRunner harness;
    const HarnessResult run = harness.run("2 300 -1 1\n", {driver});  // two 300 ms staircase runs at 48 kHz
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::string json = run.folder + "/analysis.json";
    const AnalyserResult r = runAnalyser(
        {run.folder + "/ASIO PCM(Run 0).txt", run.folder + "/ASIO PCM(Run 1).txt", "--json", json});
    EXPECT_EQ(r.exitCode, 1) << "the dropouts fail the loopback\n" << r.out << r.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out << r.err;

    for (const auto& runJson : j["runs"]) {
        ASSERT_EQ(runJson["signal"], "staircase");
        const int64_t rows = runJson["rows"];
        // The input sample at table position p left the output at p - (the
        // reported latencies + 37): the staircase starts there, after the lead-in.
        const int64_t onset = reported + reported + extraDelay;
        for (const auto& ch : runJson["channels"]) {
            SCOPED_TRACE(ch["label"].get<std::string>());
            EXPECT_EQ(ch["roundTripSamples"], static_cast<double>(reported + extraDelay));
            EXPECT_EQ(ch["hiddenLatency"], static_cast<double>(extraDelay));
            EXPECT_EQ(ch["bitExact"], false);

            // Every dropEvery-th buffer half the inputs received zeros.
            std::vector<std::pair<int64_t, int64_t>> expected;
            for (int64_t half = dropEvery; (half - 1) * bufferSize < rows; half += dropEvery) {
                const int64_t from = std::max((half - 1) * bufferSize, onset + 1);
                const int64_t to = std::min(half * bufferSize, rows);
                if (from < to) expected.emplace_back(from, to - from);
            }
            ASSERT_GE(expected.size(), 5u);
            std::vector<std::pair<int64_t, int64_t>> found;
            for (const auto& f : ch["faults"]) {
                EXPECT_EQ(f["kind"], "dropout");
                found.emplace_back(f["position"].get<int64_t>(), f["length"].get<int64_t>());
            }
            EXPECT_EQ(found, expected);
        }
    }
    EXPECT_EQ(j["acrossRuns"][0]["distinctRoundTrips"], nlohmann::json::array({645.0}));
}

// The virtual driver as an analog cable loop, every setting text as a user
// writes it into the registry.
struct AnalogLoopCase {
    const char* name;
    const char* frequency;  // the dialogue's answer: 0 pulse, -1 staircase
    bool filters;
    bool roundTrip;  // whether the method's round trip is known here
};

void PrintTo(const AnalogLoopCase& c, std::ostream* out) { *out << c.name; }

constexpr double fraction = 0.37;
constexpr double ppm = 50.0;
constexpr double rate = 48000.0;
constexpr double sineHz = 997.0;
constexpr double highPassHz = 20.0;
constexpr double lowPassHz = 20000.0;

VirtualDriverEntry analogLoop(bool filters)
{
    VirtualDriverEntry driver{"Analog loop",
                              "{5E1A0000-0000-4000-8000-0000000000A8}",
                              "",
                              {{"ExtraDelay", "dword:00000025"},
                               {"FractionalDelay", "\"0.37\""},
                               {"GainDb", "\"-6\""},
                               {"NoiseDbfs", "\"-80\""},
                               {"LoopPpm", "\"50\""}},
                              true};
    if (filters) {
        driver.settings.emplace_back("HighPassHz", "\"20\"");
        driver.settings.emplace_back("LowPassHz", "\"20000\"");
    }
    return driver;
}

// Phase delay in samples of the loop's two bilinear filters at f, from their
// transfer functions: the high-pass leads, the low-pass lags.
double filtersPhaseDelay(double f)
{
    const double pi = 3.14159265358979323846;
    const double w = 2.0 * pi * f / rate;
    const std::complex<double> z1 = std::polar(1.0, -w);  // z^-1
    double k = std::tan(pi * highPassHz / rate);
    const std::complex<double> hp = (1.0 / (1.0 + k)) * (1.0 - z1) / (1.0 - ((1.0 - k) / (1.0 + k)) * z1);
    k = std::tan(pi * lowPassHz / rate);
    const double q = std::sqrt(0.5);
    const double norm = 1.0 / (1.0 + k / q + k * k);
    const std::complex<double> lp = (k * k * norm) * (1.0 + z1) * (1.0 + z1) /
                                    (1.0 + 2.0 * (k * k - 1.0) * norm * z1 + (1.0 - k / q + k * k) * norm * z1 * z1);
    return -std::arg(hp * lp) / w;
}

struct AnalysedRun {
    AnalyserResult analyser;
    nlohmann::json json;
};

AnalysedRun runThroughAnalogLoop(const char* frequency, bool filters, const char* milliseconds = "1000")
{
    NativeRunner harness;
    // One run at 48 kHz.
    const HarnessResult run =
        harness.run(std::string("1 ") + milliseconds + " " + frequency + " 1\n", {analogLoop(filters)});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string json = run.folder + "/analysis.json";
    AnalysedRun analysed;
    analysed.analyser = runAnalyser({run.folder + "/ASIO PCM(Run 0).txt", "--json", json});
    analysed.json = nlohmann::json::parse(readFile(json), nullptr, false);
    return analysed;
}

class HarnessOnAnalogLoop : public ::testing::TestWithParam<AnalogLoopCase> {};

TEST_P(HarnessOnAnalogLoop, PassesWithTheRoundTripBuiltIn)
{
    const AnalogLoopCase& c = GetParam();
    // A pulse a second: three of them, so that their spacing tells the drift.
    const bool pulse = std::string(c.frequency) == "0";
    const AnalysedRun r = runThroughAnalogLoop(c.frequency, c.filters, pulse ? "3000" : "1000");
    ASSERT_FALSE(r.json.is_discarded()) << r.analyser.out << r.analyser.err;
    EXPECT_EQ(r.analyser.exitCode, 0) << "a clean analog loop passes\n" << r.analyser.out << r.analyser.err;

    // Both clocks start with the stream, so by the time the signal comes
    // back after the lead-in (the reported latencies) and the round trip,
    // the recording's clock has gained ppm of all of it. A sine reads the
    // filters' phase delay on top.
    const double builtIn = reported + extraDelay + fraction;
    const double expected =
        builtIn + (reported + builtIn) * ppm * 1e-6 + (c.filters ? filtersPhaseDelay(sineHz) : 0.0);
    ASSERT_EQ(r.json["runs"].size(), 1u);
    ASSERT_EQ(r.json["runs"][0]["channels"].size(), 2u);
    for (const auto& ch : r.json["runs"][0]["channels"]) {
        SCOPED_TRACE(ch.dump());
        EXPECT_EQ(ch["passed"], true);
        // The sine tells the clocks' difference too, against the frequency
        // the session record says the harness played; the pulse from the
        // spacing of its pulses.
        ASSERT_TRUE(ch.contains("driftPpm"));
        EXPECT_NEAR(ch["driftPpm"].get<double>(), ppm, 1.0);
        if (pulse) {
            EXPECT_EQ(ch["pulses"].size(), 3u);
        }
        if (!c.roundTrip)
            continue;
        ASSERT_TRUE(ch["roundTripSamples"].is_number());
        EXPECT_NEAR(ch["roundTripSamples"].get<double>(), expected, 0.05);
    }
}

// The pulse's round trip through the filters follows their group delay
// rather than the sine's phase delay: only its verdict is asserted there.
INSTANTIATE_TEST_SUITE_P(Signals, HarnessOnAnalogLoop,
                         ::testing::Values(AnalogLoopCase{"Sine", "997", false, true},
                                           AnalogLoopCase{"SineFiltered", "997", true, true},
                                           AnalogLoopCase{"Pulse", "0", false, true},
                                           AnalogLoopCase{"PulseFiltered", "0", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HarnessOnAnalogLoop, StaircaseIsNotBitExact)
{
    const AnalysedRun r = runThroughAnalogLoop("-1", false);
    ASSERT_FALSE(r.json.is_discarded()) << r.analyser.out << r.analyser.err;
    ASSERT_EQ(r.json["runs"].size(), 1u);
    for (const auto& ch : r.json["runs"][0]["channels"]) {
        SCOPED_TRACE(ch.dump());
        EXPECT_NE(ch.value("bitExact", false), true);
    }
    EXPECT_EQ(r.analyser.out.find("  bit-exact"), std::string::npos) << r.analyser.out;
}

}  // namespace

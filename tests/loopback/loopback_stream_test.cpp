// The loop itself: what goes out of output k comes back on input k exactly
// one round trip later, in every format, across buffer boundaries, with
// the halves alternating; plus the clock's pace, dropouts, noise and
// misrouting.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "loopback_host.h"
#include "test_registry.h"

namespace {

struct LoopCase {
    const char* driver;
    int32_t bufferSize;
    int32_t width;
    int32_t expectedDelay;
    ChannelRequest channels;
};

// Sample at position of an entry's recorded stream, as bytes.
std::string sampleAt(const std::vector<uint8_t>& stream, int64_t position, int32_t width)
{
    return std::string(reinterpret_cast<const char*>(stream.data()) + position * width, static_cast<size_t>(width));
}

int entryOf(bool isInput, int32_t channel)
{
    for (size_t e = 0; e < host->infos.size(); ++e) {
        if ((host->infos[e].isInput != ASIOFalse) == isInput && host->infos[e].channelNum == channel)
            return static_cast<int>(e);
    }
    return -1;
}

void PrintTo(const LoopCase& c, std::ostream* out)
{
    *out << c.driver << ", half " << c.bufferSize << ", delay " << c.expectedDelay;
}

class Loop : public LoopbackTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(Loop, InputCarriesItsOutputOneRoundTripLater)
{
    const LoopCase& c = GetParam();
    DriverRef driver = openDriver(testDriverClass(c.driver));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), c.channels, c.bufferSize, c.width), ASE_OK);
    // Enough halves for the loop to close and run a few halves past it.
    const int halves = c.expectedDelay / c.bufferSize + 6;
    ASSERT_TRUE(streamHalves(driver.get(), halves));

    const int64_t total = static_cast<int64_t>(host->indices.size()) * c.bufferSize;
    const std::string silence(static_cast<size_t>(c.width), '\0');
    for (int32_t input : c.channels.inputs) {
        const std::vector<uint8_t>& received = host->streams[static_cast<size_t>(entryOf(true, input))];
        ASSERT_EQ(static_cast<int64_t>(received.size()), total * c.width);
        const int output = entryOf(false, input);
        for (int64_t t = 0; t < total; ++t) {
            const std::string expected =
                (output >= 0 && t >= c.expectedDelay)
                    ? sampleAt(host->streams[static_cast<size_t>(output)], t - c.expectedDelay, c.width)
                    : silence;
            ASSERT_EQ(sampleAt(received, t, c.width), expected) << "input " << input << " at " << t;
        }
    }
    for (size_t i = 0; i < host->indices.size(); ++i) {
        ASSERT_EQ(host->indices[i], static_cast<ASIOLong>(i % 2)) << "switch " << i;
        ASSERT_EQ(host->directProcess[i], ASIOTrue);
    }
}

const ChannelRequest stereo{{0, 1}, {0, 1}};

INSTANTIATE_TEST_SUITE_P(
    Delays, Loop,
    ::testing::Values(
        // round trip not a multiple of the half: the loop wraps mid-half
        LoopCase{"Delay 160", 64, 4, 160, stereo},
        LoopCase{"Delay 128 extra", 64, 4, 128, stereo},
        // a round trip shorter than a half cannot be causal: one half
        LoopCase{"Delay 30", 64, 4, 64, stereo},
        // a negative extra delay shortens the round trip
        LoopCase{"Delay negative extra", 64, 4, 200, stereo},
        LoopCase{"Delay default extra", 256, 4, 288 + 320 + 5, stereo},
        LoopCase{"Delay 160", 100, 4, 160, stereo},
        LoopCase{"Int16", 64, 2, 160, stereo},
        LoopCase{"Float32", 48, 4, 160, stereo},
        LoopCase{"Int24", 64, 4, 160, stereo},
        // inputs without an output of their number, and an output asked for
        // without its input, in an order of the host's choosing
        LoopCase{"Four inputs", 32, 4, 64, ChannelRequest{{1, 0}, {3, 0, 2, 1}}},
        LoopCase{"Four inputs", 32, 4, 64, ChannelRequest{{0, 1}, {1}}},
        LoopCase{"Four inputs", 32, 4, 64, ChannelRequest{{1}, {0, 1}}}));

TEST_F(LoopbackTest, ClockKeepsPaceWithWallTime)
{
    DriverRef driver = openDriver(unconfiguredClass());
    ASSERT_TRUE(driver);
    // 441 samples at 44100 Hz: 100 halves a second.
    ASSERT_EQ(createHostBuffers(driver.get(), stereo, 441, 4), ASE_OK);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(driver->start(), ASE_OK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(driver->stop(), ASE_OK);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // A sanity bound only: shared machines stall threads for a while.
    const double expected = seconds * 100.0;
    EXPECT_GT(host->switches.load(), expected * 0.5);
    EXPECT_LT(host->switches.load(), expected * 1.5);
}

TEST_F(LoopbackTest, DropoutSilencesEveryNthHalf)
{
    DriverRef driver = openDriver(testDriverClass("Dropout"));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), stereo, 64, 4), ASE_OK);
    ASSERT_TRUE(streamHalves(driver.get(), 12));
    const size_t halfBytes = 64 * 4;
    for (size_t e : {size_t(2), size_t(3)}) {
        const std::vector<uint8_t>& received = host->streams[e];
        // The first half carries the silence before the loop closes.
        for (size_t half = 1; half < host->indices.size(); ++half) {
            const uint8_t* begin = received.data() + half * halfBytes;
            bool silent = true;
            for (size_t b = 0; b < halfBytes; ++b)
                silent = silent && begin[b] == 0;
            EXPECT_EQ(silent, (half + 1) % 3 == 0) << "half " << half;
        }
    }
}

struct NoiseCase {
    const char* driver;
    int32_t width;
    int64_t lowest, highest;  // noise bounds in steps of the format
};

void PrintTo(const NoiseCase& c, std::ostream* out) { *out << c.driver; }

class Noise : public LoopbackTest, public ::testing::WithParamInterface<NoiseCase> {};

double sampleValue(const uint8_t* sample, int32_t width, bool isFloat)
{
    if (width == 2) {
        int16_t value;
        std::memcpy(&value, sample, 2);
        return value;
    }
    if (isFloat) {
        float value;
        std::memcpy(&value, sample, 4);
        return static_cast<double>(value) * 2147483648.0;
    }
    int32_t value;
    std::memcpy(&value, sample, 4);
    return value;
}

TEST_P(Noise, StaysWithinItsBitsAndIsNotConstant)
{
    const NoiseCase& c = GetParam();
    const bool isFloat = std::string(c.driver) == "Noise float";
    DriverRef driver = openDriver(testDriverClass(c.driver));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0, 1}}, 64, c.width), ASE_OK);
    ASSERT_TRUE(streamHalves(driver.get(), 8));
    const int64_t total = static_cast<int64_t>(host->indices.size()) * 64;
    int64_t lowestSeen = 0, highestSeen = 0;
    for (int64_t t = 64; t < total; ++t) {
        // Input 0 is the loop (one half late), input 1 has no output.
        for (size_t e : {size_t(1), size_t(2)}) {
            const double sent =
                e == 1 ? sampleValue(host->streams[0].data() + (t - 64) * c.width, c.width, isFloat) : 0.0;
            const double noise = sampleValue(host->streams[e].data() + t * c.width, c.width, isFloat) - sent;
            // Float noise is rounded to the sample's own precision.
            const double slack = isFloat ? std::abs(sent) / 8388608.0 : 0.0;
            ASSERT_GE(noise, static_cast<double>(c.lowest) - slack) << "at " << t;
            ASSERT_LE(noise, static_cast<double>(c.highest) + slack) << "at " << t;
            lowestSeen = std::min(lowestSeen, static_cast<int64_t>(noise));
            highestSeen = std::max(highestSeen, static_cast<int64_t>(noise));
        }
    }
    EXPECT_LT(lowestSeen, 0);
    EXPECT_GT(highestSeen, 0);
}

// Misrouting: each input carries the output it is routed to, plus every
// other output at the crosstalk level, one half late (no latencies).
struct RouteCase {
    const char* driver;
    int32_t bufferSize;
    int32_t width;
    bool isFloat;
    ChannelRequest channels;
    std::vector<int32_t> sources;  // per input channel; -1: none
    std::vector<int32_t> dead;     // input channels that hear nothing
    double crosstalkDb;            // 0: none
};

void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.driver << ", half " << c.bufferSize; }

class Routing : public LoopbackTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(Routing, InputsHearTheirRoutedOutputAndTheLeaks)
{
    const RouteCase& c = GetParam();
    DriverRef driver = openDriver(testDriverClass(c.driver));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), c.channels, c.bufferSize, c.width), ASE_OK);
    ASSERT_TRUE(streamHalves(driver.get(), 6));
    const double gain = c.crosstalkDb < 0.0 ? std::pow(10.0, c.crosstalkDb / 20.0) : 0.0;
    const int64_t total = static_cast<int64_t>(host->indices.size()) * c.bufferSize;
    for (int32_t input : c.channels.inputs) {
        const std::vector<uint8_t>& received = host->streams[static_cast<size_t>(entryOf(true, input))];
        const bool dead = std::find(c.dead.begin(), c.dead.end(), input) != c.dead.end();
        for (int64_t t = c.bufferSize; t < total; ++t) {
            double expected = 0.0;
            int leaks = 0;
            for (int32_t output : c.channels.outputs) {
                const std::vector<uint8_t>& sent = host->streams[static_cast<size_t>(entryOf(false, output))];
                const double value = sampleValue(sent.data() + (t - c.bufferSize) * c.width, c.width, c.isFloat);
                if (output == c.sources[static_cast<size_t>(input)]) {
                    expected += value;
                } else {
                    expected += gain * value;
                    leaks += gain > 0.0 ? 1 : 0;
                }
            }
            if (dead)
                expected = 0.0;
            const double got = sampleValue(received.data() + t * c.width, c.width, c.isFloat);
            // Integer leaks are rounded one by one; float sums to its own precision.
            const double slack = c.isFloat ? std::abs(expected) * 1e-6 : (dead ? 0.0 : 0.5 * leaks);
            ASSERT_NEAR(got, expected, slack) << "input " << input << " at " << t;
        }
    }
}

const ChannelRequest three{{0, 1, 2}, {0, 1, 2}};

INSTANTIATE_TEST_SUITE_P(
    Routes, Routing,
    ::testing::Values(RouteCase{"Swap", 64, 4, false, stereo, {1, 0}, {}, 0.0},
                      // the swap only at its own buffer size
                      RouteCase{"Swap at 64", 64, 4, false, stereo, {1, 0}, {}, 0.0},
                      RouteCase{"Swap at 64", 128, 4, false, stereo, {0, 1}, {}, 0.0},
                      RouteCase{"Crosstalk int16", 64, 2, false, stereo, {0, 1}, {}, -40.0},
                      RouteCase{"Crosstalk float", 48, 4, true, stereo, {0, 1}, {}, -20.0},
                      // a crossed input, a dead one, and one that hears only leaks
                      RouteCase{"Misrouted three", 32, 4, false, three, {2, 0, -1}, {1}, -30.0},
                      // outputs the host left out leak nothing
                      RouteCase{"Misrouted three", 32, 4, false, ChannelRequest{{2}, {0, 2}}, {2, 0, -1}, {1}, -30.0}));

INSTANTIATE_TEST_SUITE_P(Formats, Noise,
                         ::testing::Values(NoiseCase{"Noise int16", 2, -4, 3}, NoiseCase{"Noise int32", 4, -4, 3},
                                           NoiseCase{"Noise float", 4, -128, 127}));

}  // namespace

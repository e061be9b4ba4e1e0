// The figures of a probe stream computed from callback times and reported
// positions: made-up clocks whose true figures are known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "probe/probe_timing.h"

namespace {

// Times of `count` callbacks of `bufferSize` frames from a clock that runs
// at `trueRate`, starting at an arbitrary moment.
std::vector<int64_t> ticks(int count, double trueRate, int32_t bufferSize)
{
    std::vector<int64_t> times;
    for (int i = 0; i < count; ++i)
        times.push_back(5'000'000'000 + static_cast<int64_t>(1e9 * bufferSize * i / trueRate));
    return times;
}

ProbeStream analysed(const std::vector<int64_t>& times, double nominal, int32_t bufferSize)
{
    ProbeStream stream;
    analyseCallbackTimes(times.data(), static_cast<int64_t>(times.size()), nominal, bufferSize, stream);
    return stream;
}

TEST(ProbeTiming, RateAndPpmOfAClockRunningFastSlowOrTrue)
{
    struct Case {
        double trueRate;
        double ppm;
    } cases[] = {{48000.0, 0.0}, {48048.0, 1000.0}, {47995.2, -100.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trueRate);
        const ProbeStream s = analysed(ticks(400, c.trueRate, 256), 48000.0, 256);
        EXPECT_NEAR(s.measuredRate, c.trueRate, 0.01);
        EXPECT_NEAR(s.ppm, c.ppm, 0.5);
        EXPECT_NEAR(s.periodMs, 256.0 / 48.0, 1e-12);
        EXPECT_NEAR(s.meanIntervalMs, 256e3 / c.trueRate, 1e-5);
        EXPECT_EQ(s.timedCallbacks, 400);
    }
}

TEST(ProbeTiming, ACallbackDelayedAtTheEndBarelyMovesTheMeasuredRate)
{
    // 2 s at 48 kHz in 256-sample periods; the last callback comes 20 ms
    // late, as on a busy machine. From the first callback to the last that
    // would read 1% slow.
    std::vector<int64_t> times = ticks(376, 48000.0, 256);
    times.back() += 20'000'000;
    const ProbeStream s = analysed(times, 48000.0, 256);
    EXPECT_LT(std::fabs(s.ppm), 500.0) << s.measuredRate;
    EXPECT_EQ(s.lateCallbacks, 1);
}

TEST(ProbeTiming, LateMeansMoreThanHalfAPeriodAfterTheDueTime)
{
    // Period 1 ms (48 frames at 48 kHz). Callback 10 comes 0.4 periods
    // late (on time enough), callback 20 0.6 periods late; a callback that
    // comes early after a late one is not late.
    std::vector<int64_t> times = ticks(40, 48000.0, 48);
    times[10] += 400'000;
    times[20] += 600'000;
    const ProbeStream s = analysed(times, 48000.0, 48);
    EXPECT_EQ(s.lateCallbacks, 1);
    EXPECT_NEAR(s.maxIntervalMs, 1.6, 1e-6);
    EXPECT_NEAR(s.minIntervalMs, 0.4, 1e-6);

    // A clock 1% slow falls behind its due times little by little: the
    // callbacks from the fiftieth period on are all late.
    const ProbeStream slow = analysed(ticks(101, 47520.0, 48), 48000.0, 48);
    EXPECT_EQ(slow.lateCallbacks, 51);
}

TEST(ProbeTiming, TooFewCallbacksOrNoNominalRateLeaveTheFiguresOpen)
{
    const ProbeStream one = analysed(ticks(1, 48000.0, 256), 48000.0, 256);
    EXPECT_EQ(one.measuredRate, 0.0);
    EXPECT_EQ(one.ppm, 0.0);
    EXPECT_EQ(one.lateCallbacks, 0);

    std::vector<int64_t> times = ticks(50, 44100.0, 64);
    times[30] += 10'000'000;
    const ProbeStream unknown = analysed(times, 0.0, 64);
    EXPECT_GT(unknown.measuredRate, 0.0);
    EXPECT_EQ(unknown.ppm, 0.0);
    EXPECT_EQ(unknown.lateCallbacks, 0);
    EXPECT_EQ(unknown.periodMs, 0.0);
}

TEST(ProbeTiming, PositionsAreComparedWithTheFramesBetweenTheFirstAndLastReported)
{
    struct Case {
        const char* what;
        std::vector<int64_t> positions;
        bool known;
        int64_t first, last, frames, difference;
    } cases[] = {
        {"every half in step", {1000, 1128, 1256, 1384}, true, 1000, 1384, 384, 0},
        {"unknown at the ends", {unknownPosition, 0, 128, unknownPosition}, true, 0, 128, 128, 0},
        // The driver's position skipped a whole buffer: it lost one.
        {"a skipped buffer", {0, 128, 384, 512}, true, 0, 512, 384, 128},
        {"standing still", {256, 256, 256}, true, 256, 256, 256, -256},
        {"never reported", {unknownPosition, unknownPosition}, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProbeStream s;
        analysePositions(c.positions.data(), static_cast<int64_t>(c.positions.size()), 128, s);
        EXPECT_EQ(s.positionKnown, c.known);
        EXPECT_EQ(s.firstPosition, c.first);
        EXPECT_EQ(s.lastPosition, c.last);
        EXPECT_EQ(s.framesCounted, c.frames);
        EXPECT_EQ(s.positionDifference, c.difference);
    }
}

}  // namespace

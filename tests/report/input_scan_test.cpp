#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "report/input_scan.h"

namespace {

// The scans work block by block: positions around the block edges (256)
// and far beyond must come out as a sample-by-sample scan would give them.
TEST(InputScan, InitialZeroesIsTheStartOfTheFirstBufferThatIsNotSilent)
{
    struct Case {
        size_t firstNonzero;  // past the end: all silent
        int32_t bufferSize;
        int32_t expected;
    } cases[] = {{1000, 256, 768}, {255, 256, 0}, {256, 256, 256}, {257, 100, 200},
                 {5000, 512, 4608}, {9999, 512, 0}, {1, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstNonzero);
        std::vector<int32_t> samples(6000, 0);
        for (size_t p = c.firstNonzero; p < samples.size(); ++p) samples[p] = p % 3 == 0 ? -1 : 0;
        if (c.firstNonzero < samples.size()) samples[c.firstNonzero] = INT32_MIN;
        EXPECT_EQ(initialZeroes(samples.data(), samples.size(), c.bufferSize), c.expected);
    }
}

TEST(InputScan, PeaksKeepTheEarliestPositionOfTheLargestMagnitude)
{
    std::vector<int32_t> samples(1000, 0);
    samples[10] = 5;
    samples[300] = -5;         // equal, later: ignored
    samples[600] = -9;         // a later block raises the peak
    samples[601] = 9;          // equal, later: ignored
    samples[700] = INT32_MIN;  // full scale, counted as 2147483647 ...
    samples[900] = INT32_MAX;  // ... so the equal maximum later is ignored
    InputStatistics input;
    scanPeaks(samples.data(), 800, 1000, input);
    EXPECT_EQ(input.maxAbs, INT32_MAX);
    EXPECT_EQ(input.maxAbsSample, 700);
    scanPeaks(samples.data(), 700, 1000, input);
    EXPECT_EQ(input.maxAbs, 9);
    EXPECT_EQ(input.maxAbsSample, 600);
}

TEST(InputScan, EachSliceHasItsOwnPeakAndSilentSlicesPointAtTheirStart)
{
    std::vector<int32_t> samples(1000, 0);
    samples[100] = -3;
    samples[450] = 8;
    samples[999] = 2;
    InputStatistics input;
    scanPeaks(samples.data(), samples.size(), 300, input);  // slices 0, 300, 600, 900
    EXPECT_EQ(input.secondPeaks, (std::vector<int32_t>{3, 8, 0, 2}));
    EXPECT_EQ(input.secondPeakSamples, (std::vector<int32_t>{100, 450, 600, 999}));
    EXPECT_EQ(input.maxAbs, 8);
    EXPECT_EQ(input.maxAbsSample, 450);

    scanPeaks(samples.data(), 0, 300, input);
    EXPECT_TRUE(input.secondPeaks.empty());
    EXPECT_EQ(input.maxAbs, 0);
    EXPECT_EQ(input.maxAbsSample, 0);
}

}  // namespace

// Float input in blocks long enough for the buffer switch to scan them many
// samples at a time: the recorded values and the range seen must be exactly
// those of taking the samples one by one in order. The cases that could
// tell the two apart are zeros of both signs (they compare equal, so the
// first in order must win), NaNs, and extremes in any position of a block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "support/test_state_fixture.h"

namespace {

class FloatInputBlockTest : public StateTest {
protected:
    // One input channel whose half 0 holds the block; range as at the start
    // of a process.
    void stream(const std::vector<float>& block)
    {
        resetTestState();
        half_ = block;
        TestState& s = testState;
        s.outputChannelCount = 0;
        s.inputChannelCount = 1;
        s.sampleType = ASIOSTFloat32LSB;
        s.bufferSize = static_cast<int32_t>(block.size());
        s.bufferInfos[0].isInput = ASIOTrue;
        s.bufferInfos[0].buffers[0] = half_.data();
        s.bufferInfos[0].buffers[1] = half_.data();
        ASSERT_TRUE(s.captures[0].reserve(block.size()));
        processBufferSwitch(0, ASIOTrue);
    }

    std::vector<float> half_;
};

uint32_t bits(float x)
{
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST_F(FloatInputBlockTest, RangeIsThatOfSampleBySampleInOrder)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        size_t length;
        std::vector<std::pair<size_t, float>> samples;  // the rest of the block is `fill`
        float fill;
        float lowest, highest;
    } cases[] = {
        {"negative block: the first zero in order is the maximum (-0 first)", 32, {{5, -0.0f}, {12, 0.0f}}, -0.5f,
         -0.5f, -0.0f},
        {"negative block: the first zero in order is the maximum (+0 first)", 32, {{5, 0.0f}, {12, -0.0f}}, -0.5f,
         -0.5f, 0.0f},
        {"positive block: the first zero in order is the minimum (+0 first)", 29, {{2, 0.0f}, {10, -0.0f}}, 0.25f,
         0.0f, 0.25f},
        {"positive block: the first zero in order is the minimum (-0 first)", 29, {{2, -0.0f}, {27, 0.0f}}, 0.25f,
         -0.0f, 0.25f},
        {"NaNs in every lane move neither extreme", 24, {{0, nan}, {9, nan}, {15, 0.75f}, {22, -0.125f}}, nan,
         -0.125f, 0.75f},
        {"extremes in the samples after the last whole group of eight", 21, {{17, 0.9f}, {20, -0.9f}}, 0.1f, -0.9f,
         0.9f},
        {"extremes in the first and last lane", 64, {{0, -0.3f}, {63, 0.6f}}, 0.0f, -0.3f, 0.6f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> block(c.length, c.fill);
        for (const auto& [at, value] : c.samples) block[at] = value;
        stream(block);
        EXPECT_EQ(bits(testState.floatMinSeen), bits(c.lowest)) << testState.floatMinSeen;
        EXPECT_EQ(bits(testState.floatMaxSeen), bits(c.highest)) << testState.floatMaxSeen;
    }
}

TEST_F(FloatInputBlockTest, EverySampleOfALongBlockIsScaledAndSaturated)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int32_t> conversions[] = {
        {0.5f, 1073741824},  {-1.0f, INT32_MIN}, {0.99999994f, 2147483520}, {1.0f, INT32_MAX}, {2.0f, INT32_MAX},
        {-1.5f, INT32_MIN},  {nan, 0},           {inf, INT32_MAX},          {-inf, INT32_MIN}, {-0.0f, 0},
        {0.75f, 1610612736}, {-0.5f, -1073741824}, {1e-10f, 0},
    };
    // Every value at every position of a block, so each passes through
    // every lane and the tail.
    const size_t count = std::size(conversions);
    std::vector<float> block;
    std::vector<int32_t> expected;
    for (size_t round = 0; round < 9; ++round) {
        for (size_t i = 0; i < count; ++i) {
            block.push_back(conversions[(i + round) % count].first);
            expected.push_back(conversions[(i + round) % count].second);
        }
    }
    stream(block);
    const SampleRecording& recorded = testState.captures[0];
    EXPECT_EQ(std::vector<int32_t>(recorded.data(), recorded.data() + recorded.size()), expected);
    EXPECT_EQ(testState.floatMaxSeen, inf);
    EXPECT_EQ(testState.floatMinSeen, -inf);
}

}  // namespace

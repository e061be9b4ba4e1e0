// The bridge's sample conversions: rounding, the 32-bit bounds, and that
// every integer the harness's staircase sends survives the float round
// trip exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "sample_conversion.h"

namespace {

struct FloatToIntCase {
    float in;
    int32_t out;
};

TEST(SampleConversion, FloatToInt32RoundsAndClips)
{
    // Each case fills a block long enough for the vector path, whose last
    // samples the one-at-a-time path takes.
    const float twoToMinus32 = std::ldexp(1.0f, -32);  // half a step of the integer scale
    const FloatToIntCase cases[] = {
        {0.0f, 0},
        {-0.0f, 0},
        {0.5f, 1 << 30},
        {-1.0f, INT32_MIN},
        {1.0f, INT32_MAX},  // 2^31 does not fit and is held to the top
        {2.5f, INT32_MAX},
        {-7.0f, INT32_MIN},
        {std::numeric_limits<float>::infinity(), INT32_MAX},
        {-std::numeric_limits<float>::infinity(), INT32_MIN},
        {std::numeric_limits<float>::quiet_NaN(), INT32_MIN},
        {3 * twoToMinus32, 2},    // an exact half goes to the even neighbour: 1.5 to 2
        {5 * twoToMinus32, 2},    // 2.5 to 2
        {-3 * twoToMinus32, -2},  // -1.5 to -2
        {twoToMinus32 / 2, 0},    // 0.25 to the nearest
        {3 * twoToMinus32 / 2, 1},  // 0.75 too
        {std::ldexp(1.0f, -140), 0},  // a denormal is silence
    };
    for (const FloatToIntCase& c : cases) {
        const std::vector<float> in(11, c.in);
        std::vector<int32_t> out(11, 12345);
        floatToInt32(in.data(), out.data(), in.size());
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(out[i], c.out) << "from " << c.in << " at " << i;
    }
}

TEST(SampleConversion, Int32ToFloatDividesByTwoToThe31)
{
    const int32_t in[] = {0, 1 << 30, INT32_MIN, INT32_MAX, -1, 100};
    float out[6];
    int32ToFloat(in, out, 6);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.5f);
    EXPECT_EQ(out[2], -1.0f);
    EXPECT_EQ(out[3], 1.0f);  // nearest float to (2^31 - 1) / 2^31
    EXPECT_EQ(out[4], -std::ldexp(1.0f, -31));
    EXPECT_EQ(out[5], 100.0f * std::ldexp(1.0f, -31));
}

// Every integer with at most 24 significant bits goes to float and back
// unchanged: the staircase (i x 100 up to 19,199,900), the pulse's top
// value and the lowest one.
TEST(SampleConversion, IntegersThatFitAFloatRoundTripExactly)
{
    std::vector<int32_t> values;
    for (int32_t i = 0; i < 192000; ++i)
        values.push_back(i * 100);
    values.insert(values.end(), {INT32_MAX, INT32_MIN, -1, -(1 << 24), (1 << 24) - 1, 0x7FFFFF00});
    std::vector<float> floats(values.size());
    std::vector<int32_t> back(values.size());
    int32ToFloat(values.data(), floats.data(), values.size());
    floatToInt32(floats.data(), back.data(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(back[i], values[i]) << "at " << i;
}

}  // namespace

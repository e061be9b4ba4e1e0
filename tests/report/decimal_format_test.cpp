#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "report/decimal_format.h"

namespace {

template <class T>
std::string fast(T value)
{
    // The room past maxDecimalChars must never be touched.
    char buffer[maxDecimalChars + 8];
    std::memset(buffer, '#', sizeof buffer);
    char* end = writeDecimal(buffer, value);
    for (size_t k = maxDecimalChars; k < sizeof buffer; ++k) EXPECT_EQ(buffer[k], '#') << value;
    return std::string(buffer, end);
}

std::string printed(int32_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string printed(uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

TEST(DecimalFormat, MatchesPrintfAtEveryLengthBoundaryAndExtreme)
{
    std::vector<int32_t> signedValues = {0, INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1};
    std::vector<uint64_t> unsignedValues = {0, UINT32_MAX, uint64_t{UINT32_MAX} + 1, UINT64_MAX, UINT64_MAX - 1};
    uint64_t power = 1;
    for (int digits = 1; digits <= 19; ++digits) {
        power *= 10;  // 10^digits
        for (uint64_t v : {power - 1, power, power + 1}) unsignedValues.push_back(v);
        if (power <= uint64_t{INT32_MAX} + 1) {
            for (uint64_t v : {power - 1, power, power + 1}) {
                if (v > uint64_t{INT32_MAX}) continue;
                signedValues.push_back(static_cast<int32_t>(v));
                signedValues.push_back(-static_cast<int32_t>(v));
            }
        }
    }
    for (int32_t v : signedValues) EXPECT_EQ(fast(v), printed(v));
    for (uint64_t v : unsignedValues) EXPECT_EQ(fast(v), printed(v));
}

TEST(DecimalFormat, MatchesPrintfAcrossTheRange)
{
    // Every 32-bit pattern class and digit count many times over.
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 1000000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const uint64_t wide = state >> (state & 63);
        const int32_t narrow = static_cast<int32_t>(static_cast<uint32_t>(state >> 32) >> (state & 31));
        ASSERT_EQ(fast(wide), printed(wide));
        ASSERT_EQ(fast(narrow), printed(narrow));
        const int32_t negated = static_cast<int32_t>(0u - static_cast<uint32_t>(narrow));
        ASSERT_EQ(fast(negated), printed(negated));
    }
}

}  // namespace

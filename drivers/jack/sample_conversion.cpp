#include "sample_conversion.h"

namespace {

constexpr double scale = 2147483648.0;
constexpr double lowest = -2147483648.0;
constexpr double highest = 2147483647.0;

}  // namespace

void floatToInt32(const float* from, int32_t* to, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        // A float times 2^31 is exact in a double and has at most 24
        // significant bits, so adding the half and truncating rounds
        // halves away from zero exactly as round() does, without a call.
        double v = static_cast<double>(from[i]) * scale;
        v += v < 0.0 ? -0.5 : 0.5;
        // Written so that NaN fails the first test and lands on the bound.
        v = v > lowest ? v : lowest;
        v = v < highest ? v : highest;
        to[i] = static_cast<int32_t>(v);
    }
}

void int32ToFloat(const int32_t* from, float* to, size_t count)
{
    constexpr float inverse = static_cast<float>(1.0 / scale);
    for (size_t i = 0; i < count; ++i)
        to[i] = static_cast<float>(from[i]) * inverse;
}

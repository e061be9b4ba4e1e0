// Conversions between JACK's float samples and the host's 32-bit integers.
// Real-time safe: plain loops over the given memory, nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

// x * 2^31 rounded to the nearest integer (an exact half to the even one),
// held to the 32-bit range; NaN gives the lowest value.
void floatToInt32(const float* from, int32_t* to, size_t count);
// i / 2^31, rounded to the nearest float.
void int32ToFloat(const int32_t* from, float* to, size_t count);

// Uniform noise in the least significant bits of the input samples, as an
// analogue input stage adds. A fixed-seed generator keeps runs repeatable.
//
// Integer formats get an offset of -2^(bits-1) to 2^(bits-1)-1 steps,
// clipped to the format's range; 32-bit float gets the same offset in steps
// of 2^-31, one step of the 32-bit integer scale. Formats whose streamed width
// does not match their own (24-bit packed, 64-bit float, 16-bit big-endian)
// pass unchanged.
#pragma once

#include <cstdint>

#include "sample_codec.h"

class InputNoise {
public:
    void configure(int32_t sampleType, int32_t bits);
    bool active() const { return bits_ > 0 && format_.kind != sample_codec::Kind::none; }
    void addTo(uint8_t* samples, int32_t count);

private:
    int64_t nextOffset();

    sample_codec::Format format_;
    int32_t bits_ = 0;
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

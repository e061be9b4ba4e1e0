// The device's sample codes as the inputs' processing sees them: which kind
// of number a code streams, its range, and 32-bit loads and stores in
// either byte order. Shared by the input noise and the crosstalk.
#pragma once

#include <cstdint>

namespace sample_codec {

// What the device can process. Codes whose streamed width is not their own
// (24-bit packed, 64-bit float, 16-bit big-endian) are `none`: they pass
// through untouched.
enum class Kind { none, int16, int32, float32 };

struct Format {
    Kind kind = Kind::none;
    bool bigEndian = false;
    int32_t rangeBits = 0;  // significant bits of the integer codes; 32 for float

    int64_t lowest() const { return rangeBits > 0 ? -(int64_t(1) << (rangeBits - 1)) : 0; }
    int64_t highest() const { return rangeBits > 0 ? (int64_t(1) << (rangeBits - 1)) - 1 : 0; }
};

inline Format formatOf(int32_t sampleType)
{
    Format format;
    format.bigEndian = sampleType < 16;
    switch (sampleType) {
    case 16: format.kind = Kind::int16; format.rangeBits = 16; break;
    case 2: case 18: format.kind = Kind::int32; format.rangeBits = 32; break;
    case 8: case 24: format.kind = Kind::int32; format.rangeBits = 16; break;
    case 9: case 25: format.kind = Kind::int32; format.rangeBits = 18; break;
    case 10: case 26: format.kind = Kind::int32; format.rangeBits = 20; break;
    case 11: case 27: format.kind = Kind::int32; format.rangeBits = 24; break;
    case 3: case 19: format.kind = Kind::float32; format.rangeBits = 32; break;
    default: break;
    }
    return format;
}

inline uint32_t load32(const uint8_t* p, bool bigEndian)
{
    if (bigEndian)
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[0]);
}

inline void store32(uint8_t* p, uint32_t value, bool bigEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        p[i] = static_cast<uint8_t>(value >> shift);
    }
}

inline int64_t clipped(int64_t value, int64_t lowest, int64_t highest)
{
    return value < lowest ? lowest : (value > highest ? highest : value);
}

}  // namespace sample_codec

#include "input_noise.h"

#include <cstring>

namespace {

uint32_t load32(const uint8_t* p, bool bigEndian)
{
    if (bigEndian)
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[0]);
}

void store32(uint8_t* p, uint32_t value, bool bigEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        p[i] = static_cast<uint8_t>(value >> shift);
    }
}

int64_t clipped(int64_t value, int64_t lowest, int64_t highest)
{
    return value < lowest ? lowest : (value > highest ? highest : value);
}

// Significant bits of the 32-bit integer codes, by code; 0 where the code is
// no 32-bit integer.
int32_t integerBits(int32_t sampleType)
{
    switch (sampleType) {
    case 2: case 18: return 32;
    case 8: case 24: return 16;
    case 9: case 25: return 18;
    case 10: case 26: return 20;
    case 11: case 27: return 24;
    default: return 0;
    }
}

}  // namespace

void InputNoise::configure(int32_t sampleType, int32_t bits)
{
    kind_ = Kind::none;
    bigEndian_ = sampleType < 16;
    int32_t rangeBits = 0;
    if (sampleType == 16) {
        kind_ = Kind::int16;
        rangeBits = 16;
    } else if (integerBits(sampleType) != 0) {
        kind_ = Kind::int32;
        rangeBits = integerBits(sampleType);
    } else if (sampleType == 19 || sampleType == 3) {
        kind_ = Kind::float32;
        rangeBits = 32;
    }
    if (bits <= 0)
        kind_ = Kind::none;
    bits_ = bits > 32 ? 32 : bits;
    lowest_ = rangeBits > 0 ? -(int64_t(1) << (rangeBits - 1)) : 0;
    highest_ = rangeBits > 0 ? (int64_t(1) << (rangeBits - 1)) - 1 : 0;
}

int64_t InputNoise::nextOffset()
{
    // xorshift64*: cheap, allocation-free and good enough for a noise floor.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    const uint64_t random = state_ * 0x2545F4914F6CDD1Dull;
    const uint64_t span = uint64_t(1) << bits_;
    return static_cast<int64_t>((random >> 16) % span) - static_cast<int64_t>(span / 2);
}

void InputNoise::addTo(uint8_t* samples, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        switch (kind_) {
        case Kind::none:
            return;
        case Kind::int16: {
            int16_t value;
            std::memcpy(&value, samples + 2 * i, 2);
            value = static_cast<int16_t>(clipped(value + nextOffset(), lowest_, highest_));
            std::memcpy(samples + 2 * i, &value, 2);
            break;
        }
        case Kind::int32: {
            uint8_t* p = samples + 4 * i;
            const int64_t value = static_cast<int32_t>(load32(p, bigEndian_));
            store32(p, static_cast<uint32_t>(clipped(value + nextOffset(), lowest_, highest_)), bigEndian_);
            break;
        }
        case Kind::float32: {
            uint8_t* p = samples + 4 * i;
            const uint32_t bits = load32(p, bigEndian_);
            float value;
            std::memcpy(&value, &bits, 4);
            value += static_cast<float>(static_cast<double>(nextOffset()) / 2147483648.0);
            uint32_t noisy;
            std::memcpy(&noisy, &value, 4);
            store32(p, noisy, bigEndian_);
            break;
        }
        }
    }
}

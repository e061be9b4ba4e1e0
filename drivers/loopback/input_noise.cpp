#include "input_noise.h"

#include <cstring>

#include "sample_codec.h"

using sample_codec::clipped;
using sample_codec::load32;
using sample_codec::store32;

void InputNoise::configure(int32_t sampleType, int32_t bits)
{
    format_ = sample_codec::formatOf(sampleType);
    bits_ = bits <= 0 ? 0 : (bits > 32 ? 32 : bits);
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
        switch (format_.kind) {
        case sample_codec::Kind::none:
            return;
        case sample_codec::Kind::int16: {
            int16_t value;
            std::memcpy(&value, samples + 2 * i, 2);
            value = static_cast<int16_t>(clipped(value + nextOffset(), format_.lowest(), format_.highest()));
            std::memcpy(samples + 2 * i, &value, 2);
            break;
        }
        case sample_codec::Kind::int32: {
            uint8_t* p = samples + 4 * i;
            const int64_t value = static_cast<int32_t>(load32(p, format_.bigEndian));
            store32(p, static_cast<uint32_t>(clipped(value + nextOffset(), format_.lowest(), format_.highest())), format_.bigEndian);
            break;
        }
        case sample_codec::Kind::float32: {
            uint8_t* p = samples + 4 * i;
            const uint32_t bits = load32(p, format_.bigEndian);
            float value;
            std::memcpy(&value, &bits, 4);
            value += static_cast<float>(static_cast<double>(nextOffset()) / 2147483648.0);
            uint32_t noisy;
            std::memcpy(&noisy, &value, 4);
            store32(p, noisy, format_.bigEndian);
            break;
        }
        }
    }
}

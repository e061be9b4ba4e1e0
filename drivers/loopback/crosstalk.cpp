#include "crosstalk.h"

#include <cmath>
#include <cstring>

using sample_codec::clipped;
using sample_codec::load32;
using sample_codec::store32;

void Crosstalk::configure(int32_t sampleType, double levelDb)
{
    format_ = sample_codec::formatOf(sampleType);
    gain_ = std::isfinite(levelDb) && levelDb < 0.0 ? std::pow(10.0, levelDb / 20.0) : 0.0;
}

void Crosstalk::addScaled(uint8_t* destination, const uint8_t* source, int32_t count) const
{
    const bool big = format_.bigEndian;
    for (int32_t i = 0; i < count; ++i) {
        switch (format_.kind) {
        case sample_codec::Kind::none:
            return;
        case sample_codec::Kind::int16: {
            int16_t value;
            int16_t leak;
            std::memcpy(&value, destination + 2 * i, 2);
            std::memcpy(&leak, source + 2 * i, 2);
            const int64_t sum = value + std::llround(gain_ * leak);
            value = static_cast<int16_t>(clipped(sum, format_.lowest(), format_.highest()));
            std::memcpy(destination + 2 * i, &value, 2);
            break;
        }
        case sample_codec::Kind::int32: {
            uint8_t* p = destination + 4 * i;
            const int64_t value = static_cast<int32_t>(load32(p, big));
            const int64_t leak = static_cast<int32_t>(load32(source + 4 * i, big));
            const int64_t sum = value + std::llround(gain_ * static_cast<double>(leak));
            store32(p, static_cast<uint32_t>(clipped(sum, format_.lowest(), format_.highest())), big);
            break;
        }
        case sample_codec::Kind::float32: {
            uint8_t* p = destination + 4 * i;
            const uint32_t valueBits = load32(p, big);
            const uint32_t leakBits = load32(source + 4 * i, big);
            float value;
            float leak;
            std::memcpy(&value, &valueBits, 4);
            std::memcpy(&leak, &leakBits, 4);
            value = static_cast<float>(value + gain_ * leak);
            uint32_t sumBits;
            std::memcpy(&sumBits, &value, 4);
            store32(p, sumBits, big);
            break;
        }
        }
    }
}

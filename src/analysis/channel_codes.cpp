#include "analysis/channel_codes.h"

namespace analyse {

int64_t staircaseCodeSpacing(int64_t length)
{
    // 100 x spacing = 65536 m + 2048: the 16-bit wrap advances by 1/32 of
    // itself from one output to the next, while m keeps the 32 starts
    // inside the loop.
    constexpr double wrapSteps = 655.36;
    constexpr double thirtySecond = 20.48;
    const double room = static_cast<double>(length) / maxCodedOutputs - thirtySecond;
    const int64_t m = room > 0.0 ? static_cast<int64_t>(room / wrapSteps) : 0;
    const int64_t spacing = static_cast<int64_t>(wrapSteps * static_cast<double>(m) + thirtySecond);
    return spacing > 0 ? spacing : 1;
}

int32_t staircaseStepValue(int64_t k, int bits)
{
    const int64_t value = k * 100;
    if (bits == 16) return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
    return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFF));
}

}  // namespace analyse

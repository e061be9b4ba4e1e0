#include "analysis/staircase_model.h"

namespace analyse {

namespace {

// 25 x 7209 = 1 modulo 16384: undoes the factor 25 of a 16-bit step.
constexpr int64_t inverse25Modulo16384 = 7209;

}  // namespace

bool StaircaseModel::firstStep(int32_t value, int64_t& step) const
{
    // Undo the offset and the polarity, then the step size, at the width.
    const int64_t raw = sign * (int64_t{value} - offset);
    if (bits == 16) {
        const int64_t u = floorMod(raw, 65536);
        if (u % 4 != 0) return false;
        step = (u / 4) * inverse25Modulo16384 % 16384;
        return step < length;
    }
    const int64_t u = floorMod(raw, int64_t{1} << 32);
    if (u % 100 != 0 || u / 100 >= length) return false;
    step = u / 100;
    return true;
}

bool StaircaseModel::indexNear(int32_t value, int64_t hint, int64_t& index) const
{
    int64_t first = 0;
    if (!firstStep(value, first)) return false;
    // Loop positions with this value: one for 32 bits; for 16 bits every
    // 16384th position repeats the low 16 bits.
    const int64_t period = bits == 16 ? 16384 : length;
    const int64_t hintStep = floorMod(hint, length);
    const int64_t loopStart = hint - hintStep;
    bool found = false;
    int64_t bestDistance = 0;
    for (int64_t k = first; k < length; k += period) {
        for (int64_t loop = -1; loop <= 1; ++loop) {
            const int64_t candidate = loopStart + loop * length + k;
            const int64_t distance = candidate > hint ? candidate - hint : hint - candidate;
            if (!found || distance < bestDistance) {
                found = true;
                bestDistance = distance;
                index = candidate;
            }
        }
    }
    return found;
}

}  // namespace analyse

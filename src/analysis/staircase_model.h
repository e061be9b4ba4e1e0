// The looping staircase as it arrives: sample k of each one-second loop is
// k x 100, kept to the recording's width (the 16-bit staircase carries the
// low 16 bits of each step), possibly inverted and shifted by a constant.
// Indices count samples from the staircase's start (index 0 is its first
// sample); values repeat every `length` indices.
#pragma once

#include <cstdint>

namespace analyse {

struct StaircaseModel {
    int bits = 32;          // 16 or 32
    int64_t length = 48000; // samples per loop
    int sign = 1;           // -1: inverted polarity
    int64_t offset = 0;     // constant added to every sample

    // The value at loop position k (0 <= k < length). Kept to the width as
    // the harness sends it: the low 16 bits, or the low 32.
    int32_t valueAtStep(int64_t k) const
    {
        const int64_t value = sign * k * 100 + offset;
        if (bits == 16) return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
        return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFF));
    }
    // The value at any index.
    int32_t valueAt(int64_t index) const { return valueAtStep(floorMod(index, length)); }

    // The index whose value is `value` lying nearest to `hint`; false when no
    // index has that value.
    bool indexNear(int32_t value, int64_t hint, int64_t& index) const;
    // The smallest loop position with value `value`; false when none has it.
    bool firstStep(int32_t value, int64_t& step) const;

    static int64_t floorMod(int64_t a, int64_t m)
    {
        const int64_t r = a % m;
        return r < 0 ? r + m : r;
    }
};

}  // namespace analyse

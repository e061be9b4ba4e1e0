// Plain decimal text of integers, written straight into a character
// buffer: the same characters printf's "%d" and "%I64u" produce (no
// padding, a minus sign for negative values), without the format machinery.
// The dump files hold hundreds of millions of numbers, so this sits on the
// path that decides how close to disk speed they are written; it is inline
// so that the table loops keep it in their bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The longest text either function writes: 20 digits of an unsigned 64-bit
// value, or a minus sign and 10 digits.
constexpr size_t maxDecimalChars = 20;

namespace decimal_detail {

extern const char digitPairs[201];

inline char* writePair(char* out, uint32_t pair)
{
    std::memcpy(out, digitPairs + 2 * pair, 2);
    return out + 2;
}

// One or two digits of a value below 100, without a leading zero. Both
// bytes are always stored (the second one is overwritten by what follows
// when only one digit counts), which spares a hard-to-predict branch.
inline char* writeLead(char* out, uint32_t value)
{
    const uint32_t single = value < 10;
    std::memcpy(out, digitPairs + 2 * value + single, 2);
    return out + 2 - single;
}

// The digits come out two at a time from a 32.32 fixed-point number:
// `scaled` holds value / 100^pairs with 32 fraction bits, rounded up, so
// the integer part is the leading pair and each multiplication of the
// fraction by 100 lifts the next pair into the integer part. Rounding up by
// less than 2^32 / 100^pairs keeps every later pair exact.
template <int Pairs>
inline char* writePairs(char* out, uint64_t scaled)
{
    for (int k = 0; k < Pairs; ++k) {
        scaled = static_cast<uint64_t>(static_cast<uint32_t>(scaled)) * 100;
        out = writePair(out, static_cast<uint32_t>(scaled >> 32));
    }
    return out;
}

// Exactly eight digits of a value below 10^8, leading zeros included.
// 144115188076 is 2^57 / 10^6 rounded up; the error after the shift stays
// below 2, far inside the 4294 (2^32 / 10^6) the last pair allows.
inline char* writeEightDigits(char* out, uint32_t value)
{
    const uint64_t scaled = ((static_cast<uint64_t>(value) * 144115188076u) >> 25) + 1;
    out = writePair(out, static_cast<uint32_t>(scaled >> 32));
    return writePairs<3>(out, scaled);
}

inline char* writeUnsigned32(char* out, uint32_t value)
{
    // Loud audio samples have nine or ten digits: that case comes first.
    // 1441151881 is 2^57 / 10^8 rounded up; over all 32-bit values the
    // error after the shift stays below 32, inside the 42 (2^32 / 10^8) the
    // last pair allows.
    if (value >= 100000000) {
        const uint64_t scaled = ((static_cast<uint64_t>(value) * 1441151881u) >> 25) + 1;
        return writePairs<4>(writeLead(out, static_cast<uint32_t>(scaled >> 32)), scaled);
    }
    if (value >= 1000000) {
        // 281474977 is 2^48 / 10^6 rounded up.
        const uint64_t scaled = ((static_cast<uint64_t>(value) * 281474977u) >> 16) + 1;
        return writePairs<3>(writeLead(out, static_cast<uint32_t>(scaled >> 32)), scaled);
    }
    if (value >= 10000) {
        // 429497 is 2^32 / 10^4 rounded up.
        const uint64_t scaled = static_cast<uint64_t>(value) * 429497u + 1;
        return writePairs<2>(writeLead(out, static_cast<uint32_t>(scaled >> 32)), scaled);
    }
    if (value >= 100) {
        // 42949673 is 2^32 / 100 rounded up.
        const uint64_t scaled = static_cast<uint64_t>(value) * 42949673u + 1;
        return writePairs<1>(writeLead(out, static_cast<uint32_t>(scaled >> 32)), scaled);
    }
    return writeLead(out, value);
}

}  // namespace decimal_detail

// Each writes the text at `out`, which must have room for maxDecimalChars
// characters, and returns the position just after it. No terminating zero;
// bytes of that room past the returned end may have been scribbled on.
inline char* writeDecimal(char* out, int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    const bool negative = value < 0;
    *out = '-';
    out += negative;
    return decimal_detail::writeUnsigned32(out, negative ? 0u - bits : bits);
}

char* writeDecimal(char* out, uint64_t value);

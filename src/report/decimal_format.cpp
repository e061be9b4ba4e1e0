#include "report/decimal_format.h"

#include <cstring>

namespace decimal_detail {

const char digitPairs[201] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

}  // namespace decimal_detail

using decimal_detail::writeEightDigits;
using decimal_detail::writeUnsigned32;

char* writeDecimal(char* out, uint64_t value)
{
    if (value <= UINT32_MAX) return writeUnsigned32(out, static_cast<uint32_t>(value));
    constexpr uint64_t hundredMillion = 100000000;
    const uint64_t high = value / hundredMillion;
    const uint32_t low = static_cast<uint32_t>(value - high * hundredMillion);
    if (high < hundredMillion) {
        out = writeUnsigned32(out, static_cast<uint32_t>(high));
    } else {
        // At most 1844 above the lower sixteen digits.
        const uint64_t top = high / hundredMillion;
        out = writeUnsigned32(out, static_cast<uint32_t>(top));
        out = writeEightDigits(out, static_cast<uint32_t>(high - top * hundredMillion));
    }
    return writeEightDigits(out, low);
}

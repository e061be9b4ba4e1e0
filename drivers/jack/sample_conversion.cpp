#include "sample_conversion.h"

#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LOOPCHECK_X86_DISPATCH 1
#endif

namespace {

constexpr float scale = 2147483648.0f;

// Scaling by a power of two is exact; what remains is rounding to the
// nearest integer the way the FPU does it (an exact half goes to the even
// neighbour) and the bounds.
inline int32_t toInt32(float sample)
{
    const float v = sample * scale;
    if (v >= scale)
        return INT32_MAX;
    if (!(v >= -scale))  // NaN too
        return INT32_MIN;
    return static_cast<int32_t>(std::nearbyint(v));
}

}  // namespace

#ifdef LOOPCHECK_X86_DISPATCH
namespace {

// Eight samples at a time where the processor has AVX2 (picked once, when
// the library loads), four with SSE2 otherwise: the callback converts every
// sample of every port. The conversion gives 0x80000000 for anything out of
// range and for NaN, which is right at the bottom; at the top a mask flips
// it into 0x7FFFFFFF.
__attribute__((target("avx2"))) size_t floatToInt32Wide(const float* from, int32_t* to, size_t count)
{
    const __m256 top = _mm256_set1_ps(scale);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 v = _mm256_mul_ps(_mm256_loadu_ps(from + i), top);
        const __m256i high = _mm256_castps_si256(_mm256_cmp_ps(v, top, _CMP_GE_OQ));
        const __m256i whole = _mm256_xor_si256(_mm256_cvtps_epi32(v), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), whole);
    }
    return i;
}

__attribute__((target("sse2"))) size_t floatToInt32Narrow(const float* from, int32_t* to, size_t count)
{
    const __m128 top = _mm_set1_ps(scale);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 v = _mm_mul_ps(_mm_loadu_ps(from + i), top);
        const __m128i high = _mm_castps_si128(_mm_cmpge_ps(v, top));
        const __m128i whole = _mm_xor_si128(_mm_cvtps_epi32(v), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), whole);
    }
    return i;
}

__attribute__((target("avx2"))) void int32ToFloatWide(const int32_t* from, float* to, size_t count)
{
    const __m256 inverse = _mm256_set1_ps(1.0f / scale);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
        _mm256_storeu_ps(to + i, _mm256_mul_ps(_mm256_cvtepi32_ps(v), inverse));
    }
    for (; i < count; ++i)
        to[i] = static_cast<float>(from[i]) * (1.0f / scale);
}

const bool hasAvx2 = [] {
    // This may run before the compiler's own start-up code has looked at
    // the processor.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

}  // namespace
#endif

void floatToInt32(const float* from, int32_t* to, size_t count)
{
    size_t i = 0;
#ifdef LOOPCHECK_X86_DISPATCH
    i = hasAvx2 ? floatToInt32Wide(from, to, count) : floatToInt32Narrow(from, to, count);
#endif
    for (; i < count; ++i)
        to[i] = toInt32(from[i]);
}

void int32ToFloat(const int32_t* from, float* to, size_t count)
{
#ifdef LOOPCHECK_X86_DISPATCH
    if (hasAvx2) {
        int32ToFloatWide(from, to, count);
        return;
    }
#endif
    constexpr float inverse = 1.0f / scale;
    for (size_t i = 0; i < count; ++i)
        to[i] = static_cast<float>(from[i]) * inverse;
}

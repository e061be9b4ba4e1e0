#include "analysis/signal_detection.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace analyse {

namespace {

// Consecutive staircase steps needed before a channel counts as carrying
// one; more when noise keeps the steps from being exact, all within
// noiseTolerance of the staircase that fits the stretch so far (its level
// the stretch's average, so that no one noisy sample sets it).
constexpr int64_t staircaseEvidence = 32;
constexpr int64_t noisyStaircaseEvidence = 256;
constexpr int64_t noiseTolerance = 160;
// A staircase starts where its input wakes; this far on, none has.
constexpr int64_t noisySearch = 262144;
// A pulse train at one pulse per second keeps nearly every sample quiet.
constexpr double pulseLoudFraction = 0.01;

// +1 for a step up the staircase, -1 for one down (an inverted staircase),
// 0 for anything else. 16-bit staircases wrap, so steps are judged modulo
// 2^16.
int staircaseStep(int64_t difference, int64_t tolerance)
{
    const int64_t m = difference & 0xFFFF;  // modulo 2^16, never negative
    if (m >= 100 - tolerance && m <= 100 + tolerance) return 1;
    if (m >= 65536 - 100 - tolerance && m <= 65536 - 100 + tolerance) return -1;
    return 0;
}

// A difference modulo 2^16, as the nearest to 0.
int64_t wrapped(int64_t difference)
{
    const int64_t m = difference & 0xFFFF;
    return m >= 32768 ? m - 65536 : m;
}

// Whether the step between two samples could be a staircase's, exact or
// (`noisy`) within noiseTolerance: what staircaseStep says is not 0, on the
// low 16 bits alone. Written without branches, so that a block of them is
// worked out side by side.
template <bool noisy>
uint32_t mayStep(uint32_t difference)
{
    if (noisy) return ((difference + 100 + noiseTolerance) & 0xFFFFu) <= 2 * (100 + noiseTolerance) ? 1u : 0u;
    const uint32_t m = (difference + 100) & 0xFFFFu;
    return (m == 0 ? 1u : 0u) | (m == 200 ? 1u : 0u);
}

uint32_t magnitude(int32_t v)
{
    const uint32_t sign = static_cast<uint32_t>(v >> 31);
    return (static_cast<uint32_t>(v) ^ sign) - sign;
}

// From `p` on, the first sample whose step from its predecessor may be a
// staircase's (`n` when none), and the largest magnitude before it. A step
// that cannot be one leaves the search where it was: no run, no stretch.
// Most of a sine or a pulse is such steps, so they are passed over a block
// at a time without a branch per sample.
template <bool noisy>
int64_t nextPossibleStep(const int32_t* samples, int64_t p, int64_t n, int64_t& peak)
{
    constexpr int64_t block = 16;
    uint32_t largest = static_cast<uint32_t>(std::min<int64_t>(peak, 0x80000000LL));
    while (p + block <= n) {
        const int32_t* at = samples + p;
        uint32_t any = 0;
        uint32_t top = largest;
        for (int64_t i = 0; i < block; ++i) {
            any |= mayStep<noisy>(static_cast<uint32_t>(at[i]) - static_cast<uint32_t>(at[i - 1]));
            top = std::max(top, magnitude(at[i]));
        }
        if (any != 0) break;
        largest = top;
        p += block;
    }
    for (; p < n && mayStep<noisy>(static_cast<uint32_t>(samples[p]) - static_cast<uint32_t>(samples[p - 1])) == 0; ++p)
        largest = std::max(largest, magnitude(samples[p]));
    peak = std::max<int64_t>(peak, largest);
    return p;
}

// The end of the stretch of samples equal to samples[p] from p on; long
// stretches (a pulse's silence) are compared a block at a time.
int64_t constantUntil(const int32_t* samples, int64_t p, int64_t n)
{
    constexpr int64_t block = 16;
    const int32_t v = samples[p];
    ++p;
    for (; p + block <= n; p += block) {
        unsigned differs = 0;
        for (int64_t i = p; i < p + block; ++i) differs |= static_cast<unsigned>(samples[i] != v);
        if (differs != 0) break;
    }
    while (p < n && samples[p] == v) ++p;
    return p;
}

}  // namespace

const char* signalKindName(SignalKind kind)
{
    switch (kind) {
    case SignalKind::automatic: return "auto";
    case SignalKind::staircase: return "staircase";
    case SignalKind::pulse: return "pulse";
    case SignalKind::sine: return "sine";
    case SignalKind::none: return "none";
    }
    return "none";
}

ChannelFeatures measureChannel(const std::vector<int32_t>& samples)
{
    ChannelFeatures f;
    const int64_t n = static_cast<int64_t>(samples.size());
    int64_t run = 0;
    int lastDirection = 0;
    int64_t noisyStart = -1;
    int noisyDirection = 0;
    int64_t noisySum = 0;  // the stretch's deviations from its first sample's staircase
    int64_t noisyCount = 0;
    int64_t p = 0;
    for (; p < n; ++p) {
        const bool searching = f.longestNoisyStaircase < noisyStaircaseEvidence &&
                               !(f.firstNonzero >= 0 && p - f.firstNonzero > noisySearch);
        if (p > 0 && f.firstNonzero >= 0 && f.longestStaircase < staircaseEvidence && (noisyStart < 0 || !searching)) {
            p = searching ? nextPossibleStep<true>(samples.data(), p, n, f.peak)
                          : nextPossibleStep<false>(samples.data(), p, n, f.peak);
            if (p == n) break;
        }
        const int64_t v = samples[static_cast<size_t>(p)];
        const int64_t m = v < 0 ? -v : v;
        if (m > f.peak) f.peak = m;
        if (v != 0 && f.firstNonzero < 0) f.firstNonzero = p;
        // An exact staircase has shown itself: the rest only adds to the level.
        if (f.longestStaircase >= staircaseEvidence && f.firstNonzero >= 0) {
            ++p;
            break;
        }
        if (p > 0) {
            const int64_t previous = samples[static_cast<size_t>(p - 1)];
            const int direction = staircaseStep(v - previous, 0);
            run = direction != 0 && direction == lastDirection ? run + 1 : (direction != 0 ? 1 : 0);
            if (run > f.longestStaircase) f.longestStaircase = run;
            lastDirection = direction;

            // Once an exact staircase has shown itself, a noisy one need not;
            // nor, long after the input woke, one that has not begun yet.
            if (f.longestStaircase >= staircaseEvidence || f.longestNoisyStaircase >= noisyStaircaseEvidence ||
                (f.firstNonzero >= 0 && p - f.firstNonzero > noisySearch))
                continue;
            const int64_t deviation =
                noisyStart >= 0
                    ? wrapped(v - samples[static_cast<size_t>(noisyStart)] - noisyDirection * 100 * (p - noisyStart))
                    : 0;
            // Against the stretch's average, scaled by its count: no division
            // on every sample.
            const int64_t off = deviation * noisyCount - noisySum;
            if (noisyStart >= 0 && (off < 0 ? -off : off) <= noiseTolerance * noisyCount) {
                f.longestNoisyStaircase = std::max(f.longestNoisyStaircase, p - noisyStart);
                noisySum += deviation;
                ++noisyCount;
            } else {
                noisyDirection = staircaseStep(v - previous, noiseTolerance);
                noisyStart = noisyDirection != 0 ? p - 1 : -1;
                noisySum = 0;
                noisyCount = 1;  // the first sample, deviating by 0
                // Each sample of a constant stretch (a pulse's silence) lies
                // two steps off the stretch its neighbour starts, so starts
                // one afresh the same way: leap to its last sample.
                if (v == previous) {
                    const int64_t last = constantUntil(samples.data(), p, n) - 1;
                    if (noisyStart >= 0) noisyStart += last - p;
                    p = last;
                }
            }
        }
    }
    int64_t peak = f.peak;
    for (; p < n; ++p) {
        const int64_t v = samples[static_cast<size_t>(p)];
        peak = std::max(peak, v < 0 ? -v : v);
    }
    f.peak = peak;
    if (f.firstNonzero >= 0 && f.peak > 0) {
        // The peak is at most 2^31, so its quarter fits 32 bits unsigned.
        const uint32_t quarter = static_cast<uint32_t>((f.peak + 3) / 4);
        int64_t loud = 0;
        const int32_t* data = samples.data();
        for (int64_t p = f.firstNonzero; p < n;) {
            // Counted in 32 bits a block at a time, side by side.
            const int64_t end = std::min(n, p + (int64_t{1} << 20));
            uint32_t blockLoud = 0;
            for (; p < end; ++p) blockLoud += magnitude(data[p]) >= quarter ? 1u : 0u;
            loud += blockLoud;
        }
        f.loudFraction = static_cast<double>(loud) / static_cast<double>(n - f.firstNonzero);
    }
    return f;
}

SignalKind detectSignal(const std::vector<ChannelFeatures>& channels)
{
    int pulses = 0;
    int sines = 0;
    for (const ChannelFeatures& f : channels) {
        if (f.longestStaircase >= staircaseEvidence || f.longestNoisyStaircase >= noisyStaircaseEvidence)
            return SignalKind::staircase;
        if (f.firstNonzero < 0) continue;
        if (f.loudFraction < pulseLoudFraction)
            ++pulses;
        else
            ++sines;
    }
    if (pulses == 0 && sines == 0) return SignalKind::none;
    return pulses > sines ? SignalKind::pulse : SignalKind::sine;
}

int detectBits(const std::vector<ChannelFeatures>& channels)
{
    int64_t loudest = 0;
    for (const ChannelFeatures& f : channels)
        if (f.peak > loudest) loudest = f.peak;
    // A 16-bit recording never goes past 32768, however quiet the loop
    // made it; a 32-bit one that stays this small lies below -96 dBFS,
    // under any converter's noise, and carries nothing to measure anyway.
    return loudest > 0 && loudest <= 32768 ? 16 : 32;
}

double levelDbfs(double magnitude, int bits)
{
    if (magnitude <= 0.0) return -std::numeric_limits<double>::infinity();
    const double fullScale = bits == 16 ? 32768.0 : 2147483648.0;
    return 20.0 * std::log10(magnitude / fullScale);
}

}  // namespace analyse

#include "analysis/pulse_analysis.h"

#include <algorithm>
#include <cmath>

namespace analyse {

namespace {

// A pulse is a sample of at least half the first pulse's size.
constexpr double pulseShare = 0.5;
// The shape kept around each pulse: an analogue path rings after it.
constexpr int64_t before = 32;
constexpr int64_t after = 480;
// How far from its expected place a pulse is looked for.
constexpr int64_t searchReach = 4096;

double magnitude(int32_t v) { return std::fabs(static_cast<double>(v)); }

// Samples each side of a pulse's peak that its fit weighs.
constexpr int64_t fitReach = 12;

double sinc(double x)
{
    constexpr double pi = 3.14159265358979323846;
    return std::fabs(x) < 1e-9 ? 1.0 : std::sin(pi * x) / (pi * x);
}

// How well a band-limited pulse at `at + shift` explains the samples
// around it, with its height free: the share of their energy it covers.
double pulseMatch(const int32_t* samples, int64_t count, int64_t at, double shift)
{
    double cross = 0.0, own = 0.0;
    for (int64_t p = std::max<int64_t>(0, at - fitReach); p <= std::min(count - 1, at + fitReach); ++p) {
        const double g = sinc(static_cast<double>(p - at) - shift);
        cross += static_cast<double>(samples[p]) * g;
        own += g * g;
    }
    return own > 0.0 ? cross * cross / own : 0.0;
}

// Fraction of a sample by which the pulse lies beside its peak sample. The
// converters send the one-sample pulse back band-limited, so it is the
// sinc that is fitted: a parabola through the peak leans towards the
// nearer whole sample at every fraction but 0 and 1/2.
double refine(const int32_t* samples, int64_t count, int64_t at)
{
    if (at <= 0 || at + 1 >= count) return 0.0;
    // Golden-section search for the best match; the match has one maximum
    // within a sample of the peak.
    constexpr double ratio = 0.6180339887498949;
    double low = -1.0, high = 1.0;
    double a = high - ratio * (high - low), b = low + ratio * (high - low);
    double fa = pulseMatch(samples, count, at, a), fb = pulseMatch(samples, count, at, b);
    for (int i = 0; i < 48; ++i) {
        if (fa > fb) {
            high = b;
            b = a;
            fb = fa;
            a = high - ratio * (high - low);
            fa = pulseMatch(samples, count, at, a);
        } else {
            low = a;
            a = b;
            fa = fb;
            b = low + ratio * (high - low);
            fb = pulseMatch(samples, count, at, b);
        }
    }
    // The search ends a few billionths beside the true place; a grid of a
    // millionth of a sample keeps a digital loop's whole-sample pulse whole.
    constexpr double grid = 1048576.0;
    return std::clamp(std::round(0.5 * (low + high) * grid) / grid, -1.0, 1.0);
}

// The median sample over one loop from the first pulse: the silence
// around the pulses, which is nearly all of it.
double restingLevel(const int32_t* samples, int64_t count, int64_t from, int64_t loopLength)
{
    const int64_t to = std::min(count, from + loopLength);
    if (to <= from) return 0.0;
    std::vector<int32_t> values(samples + from, samples + to);
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return static_cast<double>(*middle);
}

int64_t loudestIn(const int32_t* samples, int64_t from, int64_t to)
{
    int64_t best = from;
    for (int64_t p = from; p < to; ++p)
        if (magnitude(samples[p]) > magnitude(samples[best])) best = p;
    return best;
}

}  // namespace

PulseMeasurement measurePulses(const int32_t* samples, int64_t count, int64_t peak, int64_t loopLength,
                               int64_t leadIn, FaultList& faults)
{
    PulseMeasurement m;
    const double threshold = pulseShare * static_cast<double>(peak);
    int64_t first = 0;
    while (first < count && magnitude(samples[first]) < threshold) ++first;
    if (peak <= 0 || first >= count) {
        m.why = "no pulse found";
        return m;
    }
    const int64_t top = loudestIn(samples, first, std::min(count, first + 16));
    const int64_t lostLoops = top > leadIn ? (top - leadIn) / loopLength : 0;
    const int64_t start = top - lostLoops * loopLength;
    m.onset = static_cast<double>(start) + refine(samples, count, top);
    m.inverted = samples[top] < 0;
    m.height = magnitude(samples[top]);
    m.found = true;
    if (m.inverted) faults.add(Fault{FaultKind::inverted, start, count - start, 0, 0.0});

    // The expected loop: the first pulse's shape at position 0, silence
    // elsewhere, at the level the input rests at between pulses (an analog
    // input's offset).
    m.loop.assign(static_cast<size_t>(loopLength), restingLevel(samples, count, top, loopLength));
    const int64_t reachBefore = std::min(before, loopLength / 4);
    const int64_t reachAfter = std::min(after, loopLength / 2);
    for (int64_t t = -reachBefore; t < reachAfter; ++t) {
        const int64_t p = top + t;
        if (p < 0 || p >= count) continue;
        m.loop[static_cast<size_t>((t + loopLength) % loopLength)] = samples[p];
    }

    // Each later pulse is looked for one loop after the one before.
    const int64_t reach = std::min(searchReach, loopLength / 4);
    // The pulses lost before the first one found stand where the loop puts them.
    for (int64_t lost = start; lost < top; lost += loopLength)
        m.segments.push_back(ModelSegment{std::max<int64_t>(0, lost - reachBefore), lost});
    m.segments.push_back(ModelSegment{std::max<int64_t>(0, top - reachBefore), top});
    double place = static_cast<double>(top) + refine(samples, count, top);
    m.positions.push_back(place);
    int64_t anchor = top;
    for (int64_t expected = top + loopLength; expected < count; expected = anchor + loopLength) {
        const int64_t at = loudestIn(samples, std::max<int64_t>(0, expected - reach), std::min(count, expected + reach + 1));
        if (magnitude(samples[at]) >= pulseShare * m.height) {
            // Slips are counted from the fitted places: of a pulse half-way
            // between two samples, noise makes either the loudest.
            const double found = static_cast<double>(at) + refine(samples, count, at);
            const int64_t slip = std::llround(found - place - static_cast<double>(loopLength));
            if (slip != 0) {
                const FaultKind kind = slip > 0 ? FaultKind::inserted : FaultKind::dropped;
                faults.add(Fault{kind, at, std::llabs(slip), std::llabs(slip), 0.0});
            }
            anchor = expected + slip;
            place = found;
            m.positions.push_back(found);
        } else {
            // Missing: the glitch search finds out what stood there instead.
            anchor = expected;
            place += static_cast<double>(loopLength);
        }
        m.segments.push_back(ModelSegment{std::max<int64_t>(0, anchor - reachBefore), anchor});
    }
    return m;
}

}  // namespace analyse

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
// The expected pulse is the first one's copy; a real converter rings a
// little differently from pulse to pulse, by up to about this share of the
// pulse, this far either side.
constexpr double modelTolerance = 0.01;
constexpr int64_t pulseRinging = 64;
// Deviations of the noise beyond which a sample of the first pulse's tail
// is kept as the expected shape.
constexpr double noiseShare = 4.0;
// Two pulses alone cannot tell a step from a slope. A spacing this close
// to whole samples off the loop is taken for a slip, as a loop on one clock
// makes it; anything else for the clocks' difference.
constexpr double wholeStep = 0.001;
// The search looks for the next pulse where the drift of this many of the
// latest spacings puts it.
constexpr size_t recentSpacings = 5;

double magnitude(int32_t v) { return std::fabs(static_cast<double>(v)); }

// Samples each side of a pulse's peak that its fit weighs.
constexpr int64_t fitReach = 12;

double sinc(double x)
{
    constexpr double pi = 3.14159265358979323846;
    return std::fabs(x) < 1e-9 ? 1.0 : std::sin(pi * x) / (pi * x);
}

// The band-limited pulse at `at + shift` against the samples around it:
// their product with it and its own energy.
void pulseSums(const int32_t* samples, int64_t count, int64_t at, double shift, double& cross, double& own)
{
    cross = 0.0;
    own = 0.0;
    for (int64_t p = std::max<int64_t>(0, at - fitReach); p <= std::min(count - 1, at + fitReach); ++p) {
        const double g = sinc(static_cast<double>(p - at) - shift);
        cross += static_cast<double>(samples[p]) * g;
        own += g * g;
    }
}

// How well a band-limited pulse at `at + shift` explains the samples
// around it, with its height free: the share of their energy it covers.
double pulseMatch(const int32_t* samples, int64_t count, int64_t at, double shift)
{
    double cross = 0.0, own = 0.0;
    pulseSums(samples, count, at, shift, cross, own);
    return own > 0.0 ? cross * cross / own : 0.0;
}

// The height of the band-limited pulse that fits best at `at + shift`.
double pulseHeight(const int32_t* samples, int64_t count, int64_t at, double shift)
{
    double cross = 0.0, own = 0.0;
    pulseSums(samples, count, at, shift, cross, own);
    return own > 0.0 ? std::fabs(cross / own) : 0.0;
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

struct Silence {
    double level = 0.0;
    double noise = 0.0;
};

// Over one loop from the first pulse, the silence around the pulses, which
// is nearly all of it: its level (the median sample) and its spread about
// that level, in deviations of Gaussian noise; the pulse is too short to
// move either. One copy of the loop serves both medians.
Silence silenceAround(const int32_t* samples, int64_t count, int64_t from, int64_t loopLength)
{
    Silence silence;
    const int64_t to = std::min(count, from + loopLength);
    if (to <= from) return silence;
    std::vector<uint32_t> values(samples + from, samples + to);
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    // Ordered as signed samples while the storage is unsigned.
    std::nth_element(values.begin(), middle, values.end(),
                     [](uint32_t a, uint32_t b) { return static_cast<int32_t>(a) < static_cast<int32_t>(b); });
    const int64_t level = static_cast<int32_t>(*middle);
    silence.level = static_cast<double>(level);
    // Every distance from a 32-bit level to a 32-bit sample fits 32 bits
    // unsigned.
    for (uint32_t& v : values) {
        const int64_t d = int64_t{static_cast<int32_t>(v)} - level;
        v = static_cast<uint32_t>(d < 0 ? -d : d);
    }
    std::nth_element(values.begin(), middle, values.end());
    silence.noise = static_cast<double>(*middle) / 0.6745;
    return silence;
}

int64_t loudestIn(const int32_t* samples, int64_t from, int64_t to)
{
    int64_t best = from;
    for (int64_t p = from; p < to; ++p)
        if (magnitude(samples[p]) > magnitude(samples[best])) best = p;
    return best;
}

// A pulse found in the recording.
struct Arrival {
    int64_t loop = 0;    // loops after the first pulse found
    int64_t at = 0;      // its loudest sample
    double place = 0.0;  // its refined position
    bool whole = true;   // its fit saw all the samples it weighs
};

Arrival arrivalAt(const int32_t* samples, int64_t count, int64_t loop, int64_t at)
{
    return Arrival{loop, at, static_cast<double>(at) + refine(samples, count, at),
                   at - fitReach >= 0 && at + fitReach < count};
}

// The drift per loop that most spacings share: their median. Of an even
// count the middle one nearer no drift, so that of two spacings, one
// with a slip, the other is taken.
double sharedDrift(std::vector<double> perLoop)
{
    if (perLoop.empty()) return 0.0;
    std::sort(perLoop.begin(), perLoop.end());
    const size_t n = perLoop.size();
    if (n % 2 == 1) return perLoop[n / 2];
    const double low = perLoop[n / 2 - 1], high = perLoop[n / 2];
    return std::fabs(low) <= std::fabs(high) ? low : high;
}

// How far a sample `x` samples from a band-limited pulse of height 1 may
// move when the pulse moves by `shift`: the sinc's slope is at most about
// 1.3 near its peak and 1.3 / x further out; the rest is margin for a
// converter whose ringing is not the ideal sinc's.
double shiftedChange(double x, double shift)
{
    const double nearest = std::max(0.0, std::fabs(x) - std::fabs(shift));
    return std::fabs(shift) * 1.5 * std::min(1.0, 1.0 / std::max(nearest, 1e-9));
}

}  // namespace

PulseMeasurement measurePulses(const int32_t* samples, int64_t count, int64_t peak, int64_t loopLength,
                               int64_t leadIn, FaultList& faults)
{
    PulseMeasurement m;
    const double threshold = pulseShare * static_cast<double>(peak);
    int64_t first = 0;
    while (first < count && magnitude(samples[first]) < threshold) ++first;
    if (peak <= 0 || first >= count || loopLength <= 0) {
        m.why = "no pulse found";
        return m;
    }
    const int64_t top = loudestIn(samples, first, std::min(count, first + 16));
    const int64_t lostLoops = top > leadIn ? (top - leadIn) / loopLength : 0;
    const int64_t start = top - lostLoops * loopLength;
    m.inverted = samples[top] < 0;
    m.height = magnitude(samples[top]);
    m.found = true;
    if (m.inverted) faults.add(Fault{FaultKind::inverted, start, count - start, 0, 0.0});

    // Each later pulse is looked for one loop after the one before, as far
    // again as the clocks' drift has moved the latest ones.
    const double length = static_cast<double>(loopLength);
    const int64_t reach = std::min(searchReach, loopLength / 4);
    const int64_t reachBefore = std::min(before, loopLength / 4);
    const int64_t reachAfter = std::min(after, loopLength / 2);
    std::vector<Arrival> arrivals{arrivalAt(samples, count, 0, top)};
    std::vector<double> spacings;  // each spacing's excess over the loop, per loop
    int64_t loops = 0;             // the last loop whose pulse's ringing starts within the recording
    for (int64_t j = 1;; ++j) {
        const Arrival last = arrivals.back();
        const size_t recent = std::min(spacings.size(), recentSpacings);
        // No further than the search reaches: a recording that only looks
        // like a pulse train cannot stall the search.
        const double drift = std::clamp(
            sharedDrift(std::vector<double>(spacings.end() - static_cast<std::ptrdiff_t>(recent), spacings.end())),
            -static_cast<double>(reach), static_cast<double>(reach));
        const int64_t expected =
            std::llround(last.place + static_cast<double>(j - last.loop) * (length + drift));
        if (expected - reachBefore >= count) break;
        loops = j;
        const int64_t from = std::max<int64_t>(0, expected - reach), to = std::min(count, expected + reach + 1);
        if (from >= to) continue;
        const int64_t at = loudestIn(samples, from, to);
        // Missing: the glitch search finds out what stood there instead.
        if (magnitude(samples[at]) < pulseShare * m.height) continue;
        const Arrival found = arrivalAt(samples, count, j, at);
        spacings.push_back((found.place - last.place - static_cast<double>(j - last.loop) * length) /
                           static_cast<double>(j - last.loop));
        arrivals.push_back(found);
    }
    for (const Arrival& a : arrivals) m.positions.push_back(a.place);

    // A slip is a step in the arrivals, the clocks' drift a steady slope.
    // The drift most spacings share leaves each slip as a step of whole
    // samples; slips are counted from the fitted places, since of a pulse
    // half-way between two samples noise makes either the loudest.
    const size_t n = arrivals.size();
    double drift = sharedDrift(spacings);
    if (n == 2) {
        const double excess = spacings.front() * static_cast<double>(arrivals[1].loop);
        const double whole = std::round(excess);
        if (whole != 0.0 && std::fabs(excess - whole) <= wholeStep) drift = 0.0;
    }
    std::vector<int64_t> stepped(n, 0);  // the slips up to each arrival, in all
    for (size_t i = 1; i < n; ++i) {
        const double loopsBetween = static_cast<double>(arrivals[i].loop - arrivals[i - 1].loop);
        const double excess = arrivals[i].place - arrivals[i - 1].place - loopsBetween * length;
        const int64_t slip = std::llround(excess - loopsBetween * drift);
        if (slip != 0) {
            const FaultKind kind = slip > 0 ? FaultKind::inserted : FaultKind::dropped;
            faults.add(Fault{kind, arrivals[i].at, std::llabs(slip), std::llabs(slip), 0.0});
        }
        stepped[i] = stepped[i - 1] + slip;
    }

    // The line through the arrivals, slips taken out, by least squares:
    // every pulse adds to the round trip at the first and to the drift.
    double sx = 0.0, sy = 0.0, used = 0.0;
    const auto offLoop = [&](size_t i) {
        return arrivals[i].place - static_cast<double>(stepped[i]) - arrivals[0].place -
               static_cast<double>(arrivals[i].loop) * length;
    };
    for (size_t i = 0; i < n; ++i) {
        if (!arrivals[i].whole) continue;
        sx += static_cast<double>(arrivals[i].loop);
        sy += offLoop(i);
        used += 1.0;
    }
    double slope = drift, intercept = 0.0;
    if (used > 0.0) {
        const double mx = sx / used, my = sy / used;
        double sxx = 0.0, sxy = 0.0;
        for (size_t i = 0; i < n; ++i) {
            if (!arrivals[i].whole) continue;
            const double dx = static_cast<double>(arrivals[i].loop) - mx;
            sxx += dx * dx;
            sxy += dx * (offLoop(i) - my);
        }
        if (sxx > 0.0) slope = sxy / sxx;
        intercept = my - slope * mx;
    }
    m.driftMeasured = n >= 2;
    if (m.driftMeasured) m.driftPpm = slope / length * 1e6;
    const double firstPlace = arrivals[0].place + intercept;
    m.onset = firstPlace - static_cast<double>(lostLoops) * (length + slope);

    // Where each pulse was or should have been: the pulses found at their
    // own places, the missing ones where the line and the slips before them
    // put them, the first pulse's shape laid on each at its nearest whole
    // sample.
    const double phase = arrivals[0].place - static_cast<double>(top);
    std::vector<int64_t> anchors;
    double widest = 0.0;  // the largest fraction by which a pulse found lies off its anchor
    size_t next = 0;
    int64_t steps = 0;
    for (int64_t j = -lostLoops; j <= loops; ++j) {
        double centre = firstPlace + static_cast<double>(j) * (length + slope) + static_cast<double>(steps);
        const bool seen = next < n && arrivals[next].loop == j;
        if (seen) {
            centre = arrivals[next].place;
            steps = stepped[next];
            ++next;
        }
        const int64_t anchor = std::llround(centre - phase);
        if (seen) widest = std::max(widest, std::fabs(centre - phase - static_cast<double>(anchor)));
        anchors.push_back(anchor);
        m.segments.push_back(ModelSegment{std::max<int64_t>(0, anchor - reachBefore), anchor});
    }

    // The expected signal: the first pulse's shape at position 0, silence
    // elsewhere at the level the input rests at between pulses (an analog
    // input's offset). It reaches from one pulse to the next however far
    // the clocks or a slip spread them, so that no pulse's lead-in ringing
    // is expected before its time.
    int64_t span = std::max(loopLength, count - anchors.back() + reachBefore);
    for (size_t i = 1; i < anchors.size(); ++i) span = std::max(span, anchors[i] - anchors[i - 1]);
    const Silence silence = silenceAround(samples, count, top, loopLength);
    const double rest = silence.level;
    // Past the converter's ringing the copy keeps only what stands out of
    // the noise: the first pulse's own noise would add to every later one's.
    const double noise = silence.noise;
    m.loop.assign(static_cast<size_t>(span), rest);
    for (int64_t t = -reachBefore; t < reachAfter; ++t) {
        const int64_t p = top + t;
        if (p < 0 || p >= count) continue;
        const bool ringing = t >= -pulseRinging && t <= pulseRinging;
        if (ringing || std::fabs(static_cast<double>(samples[p]) - rest) > noiseShare * noise)
            m.loop[static_cast<size_t>((t + span) % span)] = samples[p];
    }
    const double height = pulseHeight(samples, count, top, phase);
    m.looseReach = std::min(pulseRinging, span / 2);
    m.looseness.assign(static_cast<size_t>(2 * m.looseReach + 1), 0.0);
    for (int64_t t = -m.looseReach; t <= m.looseReach; ++t)
        m.looseness[static_cast<size_t>(t + m.looseReach)] =
            modelTolerance * m.height + height * shiftedChange(static_cast<double>(t) - phase, widest);
    return m;
}

}  // namespace analyse

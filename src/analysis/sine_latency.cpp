#include "analysis/sine_latency.h"

#include <algorithm>
#include <cmath>

namespace analyse {

namespace {

constexpr double pi = 3.14159265358979323846;
// The sine counts as heard from the first sample above this share of the peak.
constexpr double audibleShare = 0.05;
// Samples left out at each end of the fitted loop: an analogue path settles.
constexpr int64_t settle = 16;
// What a usable sine leaves unexplained at most, and how much of it must fit.
constexpr double minimumSnrDb = 14.0;
// A measured frequency this close to whole hertz may be whole hertz off by
// the clocks' difference.
constexpr double wholeHertzShare = 1e-3;
constexpr double minimumFitShare = 0.5;
// The fitted stretch: this many periods, or this long, whichever is longer.
constexpr double fitPeriods = 8.0;
constexpr double fitSeconds = 0.05;

// Noise in the silence the recording opens with must not pass for the
// sine's start: it is heard only well above that noise, up to half its peak.
constexpr int64_t openingSilence = 128;
constexpr double noiseMargin = 6.0;
constexpr double largestShare = 0.5;

double openingNoise(const int32_t* samples, int64_t count)
{
    const int64_t n = std::min(count, openingSilence);
    if (n <= 0) return 0.0;
    double sum = 0.0;
    for (int64_t p = 0; p < n; ++p) sum += static_cast<double>(samples[p]) * static_cast<double>(samples[p]);
    return std::sqrt(sum / static_cast<double>(n));
}

double audibleFrom(double noise, int64_t peak)
{
    if (peak <= 0) return audibleShare;
    return std::clamp(noiseMargin * noise / static_cast<double>(peak), audibleShare, largestShare);
}

// The phase is then followed block by block over the rest of the run, for
// as long as it moves steadily: a slip ends it.
struct PhaseLine {
    double onset = 0.0;  // where the sine started
    double drift = 0.0;  // how far the apparent onset moves per sample
    bool measured = false;
    double seconds = 0.0;
    double firstBlock = 0.0;  // the line's apparent onset at the first block
    int64_t reached = 0;      // the end of the last block on the line
};

// Weighted least squares of y = a + b (x - x0), for the apparent onsets.
struct LineSums {
    double x0 = 0.0;
    double w = 0.0, wx = 0.0, wxx = 0.0, wy = 0.0, wxy = 0.0;
    int blocks = 0;

    void add(double x, double y, double weight)
    {
        const double u = x - x0;
        w += weight;
        wx += weight * u;
        wxx += weight * u * u;
        wy += weight * y;
        wxy += weight * u * y;
        ++blocks;
    }
    // Intercept and slope; the slope only once the blocks span enough.
    void solve(bool withSlope, double& a, double& b) const
    {
        const double det = w * wxx - wx * wx;
        if (withSlope && blocks >= 3 && det > 1e-12 * w * wxx) {
            b = (w * wxy - wx * wy) / det;
            a = (wy - b * wx) / w;
        } else {
            b = 0.0;
            a = wy / w;
        }
    }
};

// Blocks this long; a clock difference is told only over this much.
constexpr double driftSeconds = 0.25;
// A block off the line by more than this many of its own deviations, and
// by more than this share of a sample, has slipped.
constexpr double slipDeviations = 8.0;
constexpr double slipSamples = 0.25;
// Blocks looked at for the clock difference before any is trusted.
constexpr int driftProbe = 16;

double apparentOnset(const SineFit& f, int64_t start, double omega, bool inverted)
{
    constexpr double halfTurn = 3.14159265358979323846;
    return static_cast<double>(start) + ((inverted ? halfTurn : 0.0) - f.phase) / omega;
}

PhaseLine followPhase(const int32_t* samples, int64_t from, int64_t end, int64_t block, double omega, double period,
                      bool inverted, double firstOnset, double rate)
{
    PhaseLine line;
    line.onset = firstOnset;
    struct Block {
        double centre, onset, deviation;
        int64_t end;
    };
    std::vector<Block> blocks;
    const BlockSineFit fitter(block, omega);
    for (int64_t start = from; start + block / 2 <= end; start += block) {
        const int64_t stop = std::min(end, start + block);
        // One pass a block: a click barely moves a block's phase, and the
        // zeros of a dropout are left out anyway.
        const SineFit f = fitter.fit(samples, start, stop);
        if (!f.valid || f.amplitude <= 0.0 || f.used < (stop - start) / 2) {
            blocks.push_back(Block{0.0, 0.0, -1.0, stop});  // a dropout, say: no phase to read
            continue;
        }
        // How far noise moves this block's phase, in samples.
        const double deviation =
            f.residualRms / (f.amplitude * omega * std::sqrt(0.5 * static_cast<double>(f.used)));
        blocks.push_back(Block{0.5 * static_cast<double>(start + stop), apparentOnset(f, start, omega, inverted),
                               deviation, stop});
    }
    // The clock difference from the steps between neighbouring blocks (a
    // slip spoils one step; the median ignores it), each step taken within
    // half a period.
    std::vector<double> steps;
    for (size_t i = 1; i < blocks.size() && steps.size() < static_cast<size_t>(driftProbe); ++i) {
        if (blocks[i].deviation < 0.0 || blocks[i - 1].deviation < 0.0) continue;
        double step = blocks[i].onset - blocks[i - 1].onset;
        step -= std::round(step / period) * period;
        steps.push_back(step / (blocks[i].centre - blocks[i - 1].centre));
    }
    double slope = 0.0;
    if (!steps.empty()) {
        const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
        std::nth_element(steps.begin(), middle, steps.end());
        slope = *middle;
    }

    LineSums sums;
    sums.x0 = blocks.empty() ? 0.0 : blocks.front().centre;
    double a = firstOnset, b = slope, lastCentre = sums.x0;
    for (const Block& k : blocks) {
        if (k.deviation < 0.0) continue;
        const double predicted = a + b * (k.centre - sums.x0);
        const double onset = k.onset + std::round((predicted - k.onset) / period) * period;
        const double off = onset - predicted;
        if (sums.blocks > 0 && std::fabs(off) > std::max(slipSamples, slipDeviations * k.deviation)) break;
        const double weight = 1.0 / std::max(k.deviation * k.deviation, 1e-12);
        sums.add(k.centre, onset, weight);
        lastCentre = k.centre;
        line.reached = k.end;
        const bool withSlope = (lastCentre - sums.x0) >= driftSeconds * rate;
        double na = a, nb = b;
        sums.solve(withSlope, na, nb);
        a = na;
        // Until the blocks span enough to tell the slope themselves, the
        // neighbouring steps tell it.
        b = withSlope ? nb : slope;
        if (!withSlope) a = sums.wy / sums.w - slope * (sums.wx / sums.w);
    }
    if (sums.blocks == 0) return line;
    line.seconds = (lastCentre - sums.x0) / rate;
    line.measured = line.seconds >= driftSeconds;
    if (!line.measured) {
        sums.solve(false, a, b);
    }
    // The apparent onset at position x is a + b (x - x0); the sine started
    // where that apparent onset is the position itself.
    line.drift = b;
    line.onset = (a - b * sums.x0) / (1.0 - b);
    line.firstBlock = a;
    return line;
}

// A tone of a few samples a period starts with a band-limited ring that
// reaches well before its first loud sample, so that sample does not tell
// the period. The start's whole shape does: each possible onset, a period
// apart, is modelled through an ideal converter (windowed sinc), and the
// one that explains the recording best wins.
constexpr double shapePeriod = 24.0;   // for periods shorter than this
constexpr int64_t sincHalfWidth = 48;  // the converter model's reach, each side
// Onsets whose models fit within this share of one period's energy of the
// best cannot be told apart by their start.
constexpr double closeShare = 0.1;
constexpr double closeNoise = 25.0;

struct ShapeChoice {
    bool found = false;
    double onset = 0.0;
    bool inverted = false;
    std::vector<double> close;  // every onset that fits nearly as well, the chosen one among them
};

double convertedKernel(double t)
{
    constexpr double halfTurn = 3.14159265358979323846;
    const double w = static_cast<double>(sincHalfWidth);
    if (std::fabs(t) >= w) return 0.0;
    const double sinc = std::fabs(t) < 1e-12 ? 1.0 : std::sin(halfTurn * t) / (halfTurn * t);
    const double x = halfTurn * (t / w + 1.0);  // Blackman over (-w, w)
    return sinc * (0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x));
}

ShapeChoice chooseByShape(const int32_t* samples, int64_t count, const SineFit& fit, int64_t from, double omega,
                          double period, int64_t heard)
{
    constexpr double halfTurn = 3.14159265358979323846;
    ShapeChoice choice;
    const double lo = static_cast<double>(heard) - 16.0 - period;
    const double hi = static_cast<double>(heard) + static_cast<double>(sincHalfWidth) + period;
    const int64_t first = std::max<int64_t>(0, static_cast<int64_t>(std::floor(lo)) - sincHalfWidth);
    const int64_t last = std::min<int64_t>(count, static_cast<int64_t>(std::ceil(hi)) + 2 * sincHalfWidth);
    if (last - first < 4) return choice;
    // The table's own samples from its start on.
    const int64_t span = last - first + 2 * sincHalfWidth + 2;
    std::vector<double> table(static_cast<size_t>(span));
    for (int64_t j = 0; j < span; ++j) table[static_cast<size_t>(j)] = std::sin(omega * static_cast<double>(j));

    struct Tried {
        double onset;
        bool inverted;
        double error;
    };
    std::vector<Tried> tried;
    std::vector<double> kernel(static_cast<size_t>(2 * sincHalfWidth + 1));
    for (const bool inverted : {false, true}) {
        const double base = static_cast<double>(from) + ((inverted ? halfTurn : 0.0) - fit.phase) / omega;
        const double sign = inverted ? -1.0 : 1.0;
        for (double k = std::ceil((lo - base) / period); base + k * period <= hi; k += 1.0) {
            const double onset = base + k * period;
            const double whole = std::floor(onset);
            const double fraction = onset - whole;
            // kernel[i] weighs table sample j at position whole + j + i - w.
            for (int64_t i = 0; i <= 2 * sincHalfWidth; ++i)
                kernel[static_cast<size_t>(i)] =
                    convertedKernel(static_cast<double>(i - sincHalfWidth) - fraction);
            double error = 0.0;
            for (int64_t p = first; p < last; ++p) {
                // p = whole + j + (i - w): the table samples within reach.
                const int64_t offset = p - static_cast<int64_t>(whole);
                double v = 0.0;
                for (int64_t i = 0; i <= 2 * sincHalfWidth; ++i) {
                    const int64_t j = offset - (i - sincHalfWidth);
                    if (j < 0 || j >= span) continue;
                    v += table[static_cast<size_t>(j)] * kernel[static_cast<size_t>(i)];
                }
                const double e = static_cast<double>(samples[p]) - (fit.dc + sign * fit.amplitude * v);
                error += e * e;
            }
            tried.push_back(Tried{onset, inverted, error});
        }
    }
    if (tried.empty()) return choice;
    const auto best = std::min_element(tried.begin(), tried.end(),
                                       [](const Tried& a, const Tried& b) { return a.error < b.error; });
    choice.found = true;
    choice.onset = best->onset;
    choice.inverted = best->inverted;
    const double periodEnergy = 0.5 * fit.amplitude * fit.amplitude * period;
    const double margin = std::max(closeShare * periodEnergy, closeNoise * fit.residualRms * fit.residualRms);
    for (const Tried& t : tried)
        if (t.error <= best->error + margin) choice.close.push_back(t.onset);
    std::sort(choice.close.begin(), choice.close.end());
    return choice;
}

// Whether the sine runs on unbroken where its first loop ends, or the
// recording ends before it can tell: the phase just before the seam and
// just after it agree.
bool runsOnAtSeam(const int32_t* samples, int64_t count, const SineMeasurement& m, double omega, int64_t loopLength,
              double rate)
{
    constexpr double turn = 2.0 * 3.14159265358979323846;
    const int64_t seam = static_cast<int64_t>(std::floor(m.onset)) + loopLength;
    const int64_t block = static_cast<int64_t>(rate * fitSeconds);
    if (seam + block > count || seam - block < 0) return true;
    const SineFit before = fitSine(samples, seam - block, seam, omega, 0.0);
    const SineFit after = fitSine(samples, seam, seam + block, omega, 0.0);
    if (!before.valid || !after.valid) return true;
    // Both phases read at the seam: the one after it as fitted, the one
    // before it carried forward over its block.
    double jump = after.phase - (before.phase + omega * static_cast<double>(block));
    jump -= std::round(jump / turn) * turn;
    return std::fabs(jump / omega) < slipSamples + std::fabs(m.drift) * static_cast<double>(block);
}

// The expected sine from recording position `first` on, one value a sample
// into `out`. The angle advances by a rotation, set afresh from sin and cos
// every so often and wherever the loop starts over, as in the fits: a sine
// call a sample would cost more than all the rest of the analysis.
void fillModel(const SineMeasurement& m, double omega, double loopLength, double sign, int64_t first,
               std::vector<double>& out)
{
    constexpr int64_t refresh = 128;
    const double step = omega * (1.0 - m.drift);
    const double cw = std::cos(step), sw = std::sin(step);
    double s = 0.0, c = 1.0, last = 0.0;
    const int64_t count = static_cast<int64_t>(out.size());
    for (int64_t k = 0; k < count; ++k) {
        double x = (static_cast<double>(first + k) - m.onset) * (1.0 - m.drift);
        x -= std::floor(x / loopLength) * loopLength;
        if (k % refresh == 0 || x < last) {
            s = std::sin(omega * x);
            c = std::cos(omega * x);
        } else {
            const double ns = s * cw + c * sw;
            c = c * cw - s * sw;
            s = ns;
        }
        last = x;
        out[static_cast<size_t>(k)] = m.fit.dc + sign * m.fit.amplitude * s;
    }
}

}  // namespace

double sineStep(double frequency, double rate) { return frequency * 6.283185308 / rate; }

SineMeasurement measureSineAt(const int32_t* samples, int64_t count, int64_t peak, double frequency, double rate,
                              int64_t loopLength, int64_t maxSlip)
{
    SineMeasurement m;
    const double omega = sineStep(frequency, rate);
    if (!(frequency > 0.0) || !(omega < pi)) {
        m.why = "no sine frequency below half the rate";
        return m;
    }
    const double period = 2.0 * pi / omega;
    const double noise = std::min(openingNoise(samples, count), 0.25 * static_cast<double>(peak));
    const double share = audibleFrom(noise, peak);
    int64_t heard = 0;
    while (heard < count && std::fabs(static_cast<double>(samples[heard])) <= share * static_cast<double>(peak))
        ++heard;
    // The fit takes the start of the first loop: long enough to measure the
    // phase closely, short enough that a later slip does not disturb it.
    const int64_t from = heard + settle;
    const int64_t span = std::max(static_cast<int64_t>(fitPeriods * period), static_cast<int64_t>(rate * fitSeconds));
    const int64_t to = std::min({count, heard + loopLength - settle, from + span});
    if (to - from < std::max<int64_t>(32, static_cast<int64_t>(2.0 * period))) {
        m.why = "too few samples for a sine fit";
        return m;
    }

    // Samples further than this from the fit are left out of it, but noise
    // is not: leaving out its larger half would pull the phase.
    const double outlier = std::max(0.1 * static_cast<double>(peak), noiseMargin * noise);
    m.fit = fitSine(samples, from, to, omega, outlier);
    const double window = static_cast<double>(to - from);
    if (!m.fit.valid || m.fit.amplitude <= 0.0) {
        m.why = "no sine at the frequency";
        return m;
    }
    m.snrDb = m.fit.residualRms > 0.0 ? 20.0 * std::log10(m.fit.amplitude / std::sqrt(2.0) / m.fit.residualRms) : 200.0;
    if (m.snrDb < minimumSnrDb || static_cast<double>(m.fit.used) < minimumFitShare * window) {
        m.why = "no sine at the frequency (the fit explains too little)";
        return m;
    }

    // The fit says v = A sin(omega (p - from) + phase). Phase 0 lies at
    // from - phase / omega, a period apart; an inverted sine has it half a
    // period further. The sine became audible a little after its start.
    const double expected =
        static_cast<double>(heard) - std::asin(std::min(1.0, share * static_cast<double>(peak) / m.fit.amplitude)) / omega;
    double best = 0.0, bestDistance = -1.0;
    bool bestInverted = false;
    for (const bool inverted : {false, true}) {
        const double base = static_cast<double>(from) + ((inverted ? pi : 0.0) - m.fit.phase) / omega;
        const double k = std::round((expected - base) / period);
        for (const double shift : {k - 1.0, k, k + 1.0}) {
            const double candidate = base + shift * period;
            const double distance = std::fabs(candidate - expected);
            if (bestDistance < 0.0 || distance < bestDistance) {
                bestDistance = distance;
                best = candidate;
                bestInverted = inverted;
            }
        }
    }
    if (period < shapePeriod) {
        m.ringing = sincHalfWidth;
        const ShapeChoice shape = chooseByShape(samples, count, m.fit, from, omega, period, heard);
        if (shape.found) {
            best = shape.onset;
            bestInverted = shape.inverted;
            if (shape.close.size() > 1) m.candidates = shape.close;
        }
    }
    m.inverted = bestInverted;
    m.found = true;

    // A sine whose loop holds whole periods runs on unbroken from loop to
    // loop, so its phase can be followed over the whole run; otherwise over
    // its first loop. The first stretch's blocks settle the period's
    // ambiguity, so the followed line stays within a sample of it.
    const double turns = omega * static_cast<double>(loopLength) / (2.0 * pi);
    const bool seamless = std::fabs(turns - std::round(turns)) < 1e-5;
    const int64_t end = seamless ? count : std::min(count, heard + loopLength - settle);
    const PhaseLine line = followPhase(samples, from, end, span, omega, period, bestInverted, best, rate);
    if (std::fabs(line.firstBlock - best) < 0.5 && std::fabs(line.drift) < 0.01) {
        best = line.onset;
        m.drift = line.drift;
        m.driftMeasured = line.measured;
        m.timedSeconds = line.seconds;
        m.pastFirstLoop = line.reached > heard + loopLength;
    }
    m.onset = best;
    // Between its start and the first sample heard, a sine that started
    // cleanly stays quiet. Where the fitted sine says those samples should
    // have been loud, the start was lost (to a dropout, say): the phase then
    // tells the start, and the polarity, only to half a period.
    const double sign = bestInverted ? -1.0 : 1.0;
    for (int64_t p = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(best))); p < heard; ++p) {
        const double model = sign * m.fit.amplitude * std::sin(omega * (static_cast<double>(p) - best));
        if (std::fabs(model) > 2.0 * share * static_cast<double>(peak)) {
            m.startLost = true;
            m.inverted = false;
            break;
        }
    }

    // The expected signal: one loop where the clocks agree over the run;
    // where they do not, the whole run, so that the drift is no slip.
    const double length = static_cast<double>(loopLength);
    if (std::fabs(m.drift) * static_cast<double>(count) < 0.05) {
        m.loopAnchor = static_cast<int64_t>(std::floor(best));
        m.loop.resize(static_cast<size_t>(loopLength));
        fillModel(m, omega, length, sign, m.loopAnchor, m.loop);
    } else {
        const int64_t margin = std::max<int64_t>(maxSlip, 1);
        m.loopAnchor = -margin;
        m.loop.resize(static_cast<size_t>(count + 2 * margin));
        fillModel(m, omega, length, sign, -margin, m.loop);
    }
    return m;
}

SineMeasurement measureSine(const int32_t* samples, int64_t count, int64_t peak, double frequency,
                            bool frequencyEstimated, double rate, int64_t loopLength, int64_t maxSlip)
{
    // A frequency measured on the recording carries the clocks' difference.
    // The harness is given whole hertz as a rule; where the sine then runs
    // on unbroken past its loop's end, as only such a sine does, it was one,
    // and the rest is the clocks' drift.
    if (frequencyEstimated) {
        const double whole = std::round(frequency);
        if (whole >= 1.0 && whole != frequency && std::fabs(frequency - whole) <= wholeHertzShare * frequency) {
            SineMeasurement m = measureSineAt(samples, count, peak, whole, rate, loopLength, maxSlip);
            if (m.found && (m.pastFirstLoop || runsOnAtSeam(samples, count, m, sineStep(whole, rate), loopLength, rate)))
                return m;
        }
    }
    return measureSineAt(samples, count, peak, frequency, rate, loopLength, maxSlip);
}

}  // namespace analyse

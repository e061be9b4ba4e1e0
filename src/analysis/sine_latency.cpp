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
constexpr double minimumSnrDb = 20.0;
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

}  // namespace

double sineStep(double frequency, double rate) { return frequency * 6.283185308 / rate; }

SineMeasurement measureSine(const int32_t* samples, int64_t count, int64_t peak, double frequency, double rate,
                            int64_t loopLength)
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
    m.fit = fitSine(samples, from, to, omega, std::max(0.1 * static_cast<double>(peak), noiseMargin * noise));
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
    m.onset = best;
    m.inverted = bestInverted;
    m.found = true;
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

    const double whole = std::floor(best);
    const double fraction = best - whole;
    m.loop.resize(static_cast<size_t>(loopLength));
    for (int64_t k = 0; k < loopLength; ++k) {
        double x = static_cast<double>(k) - fraction;
        if (x < 0.0) x += static_cast<double>(loopLength);
        m.loop[static_cast<size_t>(k)] = m.fit.dc + sign * m.fit.amplitude * std::sin(omega * x);
    }
    return m;
}

}  // namespace analyse

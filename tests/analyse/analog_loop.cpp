#include "analog_loop.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace analog {

namespace {

constexpr double pi = 3.14159265358979323846;
// Taps each side of the reconstruction filter: enough that its ripple
// stays far below the finest error the tests look for.
constexpr int64_t halfWidth = 64;

double fullScale(int bits) { return bits == 16 ? 32767.0 : 2147483647.0; }

// Blackman-windowed sinc: the band-limited reconstruction of one sample.
double kernel(double x)
{
    if (std::fabs(x) >= static_cast<double>(halfWidth)) return 0.0;
    const double w = 0.42 + 0.5 * std::cos(pi * x / halfWidth) + 0.08 * std::cos(2.0 * pi * x / halfWidth);
    if (std::fabs(x) < 1e-12) return w;
    return w * std::sin(pi * x) / (pi * x);
}

// The one-second loop exactly as the harness builds it, as a share of full scale.
std::vector<double> oneLoop(const Loop& loop)
{
    const int64_t length = static_cast<int64_t>(loop.rate);
    std::vector<double> s(static_cast<size_t>(length), 0.0);
    const double scale = fullScale(loop.bits);
    if (loop.signal == Signal::pulse) {
        s[0] = 1.0;
    } else if (loop.signal == Signal::staircase) {
        for (int64_t i = 0; i < length; ++i) {
            const int64_t v = i * 100;
            s[static_cast<size_t>(i)] =
                (loop.bits == 16 ? static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)))
                                 : static_cast<double>(static_cast<int32_t>(v))) /
                scale;
        }
    } else {
        const double omega = loop.frequency * 6.283185308;
        double t = 0.0;
        for (int64_t i = 0; i < length; ++i, t += 1.0 / loop.rate) {
            const double v = std::sin(omega * t) * scale;
            s[static_cast<size_t>(i)] = std::trunc(v) / scale;
        }
    }
    return s;
}

void highPass(std::vector<double>& x, double corner, double rate)
{
    // First order, bilinear: the coupling capacitor of a converter input.
    const double k = std::tan(pi * corner / rate);
    const double b = 1.0 / (1.0 + k), a = (1.0 - k) / (1.0 + k);
    double xPrev = 0.0, yPrev = 0.0;
    for (double& v : x) {
        const double y = b * (v - xPrev) + a * yPrev;
        xPrev = v;
        yPrev = y;
        v = y;
    }
}

void lowPass(std::vector<double>& x, double corner, double rate)
{
    // Second-order Butterworth, bilinear.
    const double k = std::tan(pi * corner / rate);
    const double q = std::sqrt(0.5);
    const double norm = 1.0 / (1.0 + k / q + k * k);
    const double b0 = k * k * norm, b1 = 2.0 * b0, b2 = b0;
    const double a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - k / q + k * k) * norm;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (double& v : x) {
        const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

}  // namespace

double onset(const Loop& loop) { return loop.inputLatency + loop.outputLatency + loop.extraDelay; }

std::vector<double> played(const Loop& loop, int64_t frames)
{
    const std::vector<double> period = oneLoop(loop);
    const int64_t lead = std::max<int64_t>(0, int64_t{loop.inputLatency} + loop.outputLatency);
    std::vector<double> out(static_cast<size_t>(std::max<int64_t>(frames, 0)), 0.0);
    const int64_t length = static_cast<int64_t>(period.size());
    for (int64_t p = lead; p < frames && length > 0; ++p) out[static_cast<size_t>(p)] = period[static_cast<size_t>((p - lead) % length)];
    return out;
}

synthetic::Samples record(const Loop& loop)
{
    const double ratio = 1.0 / (1.0 + loop.ppm * 1e-6);  // playback time per recording sample
    const int64_t frames = static_cast<int64_t>(std::ceil(static_cast<double>(loop.rows) * ratio)) + halfWidth + 2;
    const std::vector<double> x = played(loop, frames);

    std::vector<double> y(static_cast<size_t>(loop.rows), 0.0);
    for (int64_t m = 0; m < loop.rows; ++m) {
        const double t = static_cast<double>(m) * ratio - loop.extraDelay;
        const int64_t centre = static_cast<int64_t>(std::floor(t));
        double sum = 0.0;
        for (int64_t k = centre - halfWidth + 1; k <= centre + halfWidth; ++k) {
            if (k < 0 || k >= frames) continue;
            const double v = x[static_cast<size_t>(k)];
            if (v != 0.0) sum += v * kernel(t - static_cast<double>(k));
        }
        y[static_cast<size_t>(m)] = sum;
    }
    if (loop.highPassHz > 0.0) highPass(y, loop.highPassHz, loop.rate);
    if (loop.lowPassHz > 0.0) lowPass(y, loop.lowPassHz, loop.rate);

    const double gain = std::pow(10.0, loop.gainDb / 20.0);
    const double scale = fullScale(loop.bits);
    std::mt19937 random(loop.seed);
    const double noiseRms = std::isfinite(loop.snrDb) ? gain * std::sqrt(0.5) * std::pow(10.0, -loop.snrDb / 20.0) : 0.0;
    std::normal_distribution<double> noise(0.0, noiseRms > 0.0 ? noiseRms : 1.0);
    synthetic::Samples s(y.size(), 0);
    for (size_t i = 0; i < y.size(); ++i) {
        double v = y[i] * gain + loop.dc + (noiseRms > 0.0 ? noise(random) : 0.0);
        // Converters clip symmetrically: the most negative code never comes back.
        v = std::clamp(std::round(v * scale), -scale, scale);
        s[i] = static_cast<int32_t>(v);
    }

    // Later glitches first, so that each `at` keeps meaning the undamaged position.
    std::vector<Glitch> glitches = loop.glitches;
    std::sort(glitches.begin(), glitches.end(), [](const Glitch& a, const Glitch& b) { return a.at > b.at; });
    for (const Glitch& g : glitches) {
        if (g.at < 0 || g.at >= static_cast<int64_t>(s.size())) continue;
        const int64_t count = std::min<int64_t>(g.length, static_cast<int64_t>(s.size()) - g.at);
        switch (g.kind) {
        case GlitchKind::drop: synthetic::dropSamples(s, g.at, count); break;
        case GlitchKind::insert:
            // The stream falls back: the samples before `at` come again.
            synthetic::insertSamples(s, g.at, synthetic::Samples(s.begin() + std::max<int64_t>(0, g.at - g.length), s.begin() + g.at));
            break;
        case GlitchKind::click: {
            const double height = std::pow(10.0, g.clickDbfs / 20.0) * scale;
            const double v = std::clamp(static_cast<double>(s[static_cast<size_t>(g.at)]) + height, -scale, scale);
            s[static_cast<size_t>(g.at)] = static_cast<int32_t>(v);
            break;
        }
        case GlitchKind::dropout: synthetic::zeroSamples(s, g.at, count); break;
        }
    }
    return s;
}

synthetic::Run run(const Loop& loop, int inputs)
{
    synthetic::Run r;
    r.inputLatency = loop.inputLatency;
    r.outputLatency = loop.outputLatency;
    for (int i = 0; i < inputs; ++i) {
        Loop own = loop;
        own.seed = loop.seed + static_cast<uint32_t>(i) * 7919u;
        r.columns.push_back(record(own));
    }
    return r;
}

}  // namespace analog

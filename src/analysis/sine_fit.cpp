#include "analysis/sine_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace analyse {

namespace {

// Solves the 3x3 system m x = r by Cramer's rule; false when singular.
bool solve3(const double m[3][3], const double r[3], double x[3])
{
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (!(std::fabs(d) > 1e-12)) return false;
    for (int c = 0; c < 3; ++c) {
        double t[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) t[i][j] = j == c ? r[i] : m[i][j];
        x[c] = det(t) / d;
    }
    return true;
}

// The sums of the normal equations of a sin + b cos + c: the model's side
// m, the samples' side r, and the samples' power.
struct FitSums {
    double m[3][3] = {};
    double r[3] = {};
    double power = 0.0;
    int64_t used = 0;
};

// The angle is advanced by a rotation, set afresh from sin and cos every
// this many samples, instead of calling them for every sample.
constexpr int64_t rotationRefresh = 4096;

SineFit solveSums(FitSums& sums)
{
    double(&m)[3][3] = sums.m;
    const double(&r)[3] = sums.r;
    m[1][0] = m[0][1];
    m[2][0] = m[0][2];
    m[2][1] = m[1][2];
    SineFit fit;
    double x[3];
    if (sums.used < 8 || !solve3(m, r, x)) return fit;
    fit.valid = true;
    fit.amplitude = std::hypot(x[0], x[1]);
    fit.phase = std::atan2(x[1], x[0]);
    fit.dc = x[2];
    fit.explained = x[0] * r[0] + x[1] * r[1] + x[2] * r[2];
    fit.used = sums.used;
    // What the fit leaves, from the sums alone.
    fit.residualRms = std::sqrt(std::max(0.0, sums.power - fit.explained) / static_cast<double>(sums.used));
    return fit;
}

// One least-squares pass; `keep` says which samples take part.
template <class Keep>
SineFit fitPass(const int32_t* samples, int64_t from, int64_t to, double omega, Keep keep)
{
    FitSums sums;
    double(&m)[3][3] = sums.m;
    double(&r)[3] = sums.r;
    const double cw = std::cos(omega), sw = std::sin(omega);
    double s = 0.0, c = 1.0;
    for (int64_t p = from; p < to; ++p) {
        if ((p - from) % rotationRefresh == 0) {
            const double angle = omega * static_cast<double>(p - from);
            s = std::sin(angle);
            c = std::cos(angle);
        }
        const double v = samples[p];
        if (keep(p, s, c)) {
            sums.power += v * v;
            m[0][0] += s * s;
            m[0][1] += s * c;
            m[0][2] += s;
            m[1][1] += c * c;
            m[1][2] += c;
            m[2][2] += 1.0;
            r[0] += s * v;
            r[1] += c * v;
            r[2] += v;
            ++sums.used;
        }
        const double ns = s * cw + c * sw;
        c = c * cw - s * sw;
        s = ns;
    }
    return solveSums(sums);
}

void measureResidual(const int32_t* samples, int64_t from, int64_t to, double omega, SineFit& fit, double outlier)
{
    // The model's angle advances by a rotation, as in the fit.
    const double cw = std::cos(omega), sw = std::sin(omega);
    double s = 0.0, c = 1.0;
    double sum = 0.0;
    int64_t n = 0;
    for (int64_t p = from; p < to; ++p) {
        if ((p - from) % rotationRefresh == 0) {
            const double angle = omega * static_cast<double>(p - from) + fit.phase;
            s = std::sin(angle);
            c = std::cos(angle);
        }
        const double e = samples[p] - (fit.amplitude * s + fit.dc);
        const double ns = s * cw + c * sw;
        c = c * cw - s * sw;
        s = ns;
        if (outlier > 0.0 && std::fabs(e) > outlier) continue;
        sum += e * e;
        ++n;
    }
    fit.residualRms = n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

}  // namespace

SineFit fitSine(const int32_t* samples, int64_t from, int64_t to, double omega, double outlier)
{
    // Exact zeros are left out: a sine passes through zero between samples
    // as a rule, and a dropout's zeros would pull the fit down.
    SineFit fit = fitPass(samples, from, to, omega, [&](int64_t p, double, double) { return samples[p] != 0; });
    if (!fit.valid || outlier <= 0.0) return fit;
    const SineFit first = fit;
    SineFit second = fitPass(samples, from, to, omega, [&](int64_t p, double s, double c) {
        const double model =
            first.amplitude * (s * std::cos(first.phase) + c * std::sin(first.phase)) + first.dc;
        return samples[p] != 0 && std::fabs(samples[p] - model) <= outlier;
    });
    if (!second.valid) second = first;
    measureResidual(samples, from, to, omega, second, outlier);
    return second;
}

BlockSineFit::BlockSineFit(int64_t length, double omega) : length_(std::max<int64_t>(length, 0)), omega_(omega)
{
    // The model's values and sums as fitPass makes them for a block of this
    // length with every sample taken, in the same order.
    sin_.resize(static_cast<size_t>(length_));
    cos_.resize(static_cast<size_t>(length_));
    const double cw = std::cos(omega), sw = std::sin(omega);
    double s = 0.0, c = 1.0;
    for (int64_t i = 0; i < length_; ++i) {
        if (i % rotationRefresh == 0) {
            const double angle = omega * static_cast<double>(i);
            s = std::sin(angle);
            c = std::cos(angle);
        }
        sin_[static_cast<size_t>(i)] = s;
        cos_[static_cast<size_t>(i)] = c;
        m_[0][0] += s * s;
        m_[0][1] += s * c;
        m_[0][2] += s;
        m_[1][1] += c * c;
        m_[1][2] += c;
        m_[2][2] += 1.0;
        const double ns = s * cw + c * sw;
        c = c * cw - s * sw;
        s = ns;
    }
}

SineFit BlockSineFit::fit(const int32_t* samples, int64_t from, int64_t to) const
{
    if (to - from != length_) return fitSine(samples, from, to, omega_, 0.0);
    FitSums sums;
    bool zero = false;
    const int32_t* block = samples + from;
    for (int64_t i = 0; i < length_; ++i) {
        const double v = block[i];
        const double s = sin_[static_cast<size_t>(i)], c = cos_[static_cast<size_t>(i)];
        zero = zero || block[i] == 0;
        sums.power += v * v;
        sums.r[0] += s * v;
        sums.r[1] += c * v;
        sums.r[2] += v;
    }
    // A zero is left out of the fit, and with it the model's sums change.
    if (zero) return fitSine(samples, from, to, omega_, 0.0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) sums.m[i][j] = m_[i][j];
    sums.used = length_;
    return solveSums(sums);
}

namespace {

constexpr double twoPi = 2.0 * 3.14159265358979323846;

// The typical half period between zero crossings, as cycles per sample; 0
// when there are too few. Cheap and exact on a clean tone of a few samples'
// period or more, but noise near zero adds crossings of its own.
double countCrossings(const int32_t* samples, int64_t from, int64_t to)
{
    int64_t peak = 0;
    for (int64_t p = from; p < to; ++p) peak = std::max<int64_t>(peak, std::llabs(int64_t{samples[p]}));
    // A little hysteresis, so noise near zero does not count twice; the odd
    // half periods around a dropout or a click are left out.
    const double hysteresis = static_cast<double>(peak) * 0.1;
    int state = 0;
    int64_t lastCrossing = -1;
    std::vector<double> halfPeriods;
    for (int64_t p = from; p < to; ++p) {
        const double v = samples[p];
        const int now = v > hysteresis ? 1 : v < -hysteresis ? -1 : state;
        if (state != 0 && now != state) {
            if (lastCrossing >= 0) halfPeriods.push_back(static_cast<double>(p - lastCrossing));
            lastCrossing = p;
        }
        state = now;
    }
    if (halfPeriods.size() < 4) return 0.0;
    std::vector<double> sorted = halfPeriods;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0.0;
    int64_t typical = 0;
    for (double h : halfPeriods) {
        if (std::fabs(h - median) <= 1.5) {
            sum += h;
            ++typical;
        }
    }
    return 0.5 / (sum / static_cast<double>(typical));
}

// Power of a Hann-windowed block at f cycles per sample, its mean taken
// out. The window keeps a loud tone's leakage from hiding where its peak is.
double blockPower(const int32_t* samples, int64_t start, int64_t n, double f)
{
    double mean = 0.0;
    for (int64_t k = 0; k < n; ++k) mean += samples[start + k];
    mean /= static_cast<double>(n);
    const double cf = std::cos(twoPi * f), sf = std::sin(twoPi * f);
    const double cw = std::cos(twoPi / static_cast<double>(n)), sw = std::sin(twoPi / static_cast<double>(n));
    double c = 1.0, s = 0.0, wc = 1.0, ws = 0.0;
    double re = 0.0, im = 0.0;
    for (int64_t k = 0; k < n; ++k) {
        const double v = (samples[start + k] - mean) * (0.5 - 0.5 * wc);
        re += v * c;
        im += v * s;
        const double ns = s * cf + c * sf;
        c = c * cf - s * sf;
        s = ns;
        const double nws = ws * cw + wc * sw;
        wc = wc * cw - ws * sw;
        ws = nws;
    }
    return re * re + im * im;
}

// Power at f summed over up to four blocks of n spread over [from, to), so
// that noise averages out of the peak.
double spreadPower(const int32_t* samples, int64_t from, int64_t to, int64_t n, double f)
{
    const int64_t blocks = std::max<int64_t>(1, std::min<int64_t>(4, (to - from) / n));
    double sum = 0.0;
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t start = blocks == 1 ? from : from + b * (to - from - n) / (blocks - 1);
        sum += blockPower(samples, start, n, f);
    }
    return sum;
}

// Where a peak sampled at three points a step apart lies, as a share of a
// step from the middle one: a parabola through their logarithms, which
// fits a Hann window's main lobe closely.
double peakOffset(double left, double middle, double right)
{
    if (!(left > 0.0 && middle > 0.0 && right > 0.0)) return 0.0;
    const double l = std::log(left), m = std::log(middle), r = std::log(right);
    const double curve = l - 2.0 * m + r;
    if (!(curve < 0.0)) return 0.0;
    return std::clamp(0.5 * (l - r) / curve, -0.5, 0.5);
}

// The loudest tone's frequency in cycles per sample: the peak of a short
// spectrum, then looked for again in blocks four times as long around it
// until the blocks resolve it as finely as `finest` samples can. Noise
// spreads over the whole spectrum while the tone stays in its bin, so this
// holds where zero crossings drown.
double spectralPeak(const int32_t* samples, int64_t from, int64_t to, int64_t finest)
{
    const int64_t length = to - from;
    int64_t n = 256;
    while (n > length) n /= 2;
    if (n < 16) return 0.0;
    std::vector<double> power(static_cast<size_t>(n / 2), 0.0);
    int64_t best = 1;
    for (int64_t k = 1; k < n / 2; ++k) {
        power[static_cast<size_t>(k)] =
            spreadPower(samples, from, to, n, static_cast<double>(k) / static_cast<double>(n));
        if (power[static_cast<size_t>(k)] > power[static_cast<size_t>(best)]) best = k;
    }
    double f = static_cast<double>(best) / static_cast<double>(n);
    if (best > 1 && best < n / 2 - 1)
        f += peakOffset(power[static_cast<size_t>(best - 1)], power[static_cast<size_t>(best)],
                        power[static_cast<size_t>(best + 1)]) /
             static_cast<double>(n);

    // Each longer block looks within one bin of the shorter one's either
    // side, at half its own bins.
    constexpr int reach = 8;
    while (n * 4 <= length && n < finest) {
        n *= 4;
        const double step = 0.5 / static_cast<double>(n);
        double grid[2 * reach + 1];
        int top = 0;
        for (int j = -reach; j <= reach; ++j) {
            const double g = f + j * step;
            grid[j + reach] = g > 0.0 && g < 0.5 ? spreadPower(samples, from, to, n, g) : 0.0;
            if (grid[j + reach] > grid[top]) top = j + reach;
        }
        f += (top - reach) * step;
        if (top > 0 && top < 2 * reach) f += peakOffset(grid[top - 1], grid[top], grid[top + 1]) * step;
    }
    return f;
}

// The share of the samples' variance a sine of this frequency explains.
double toneShare(const int32_t* samples, int64_t from, int64_t to, double perSample)
{
    const SineFit fit = fitSine(samples, from, to, twoPi * perSample, 0.0);
    if (!fit.valid) return 0.0;
    const double tone = fit.amplitude * fit.amplitude / 2.0;
    return tone / (tone + fit.residualRms * fit.residualRms);
}

}  // namespace

double estimateSineFrequency(const int32_t* samples, int64_t from, int64_t to, double rate, double* spreadHz)
{
    if (spreadHz != nullptr) *spreadHz = 0.0;
    if (to - from < 16) return 0.0;
    const int64_t span = std::min<int64_t>(to - from, static_cast<int64_t>(rate / 4.0));
    // Within a lobe's width of a first guess the share of the samples a fit
    // explains has one peak, at the frequency itself.
    auto refine = [&](double perSample) {
        const double width = 1.0 / static_cast<double>(span);
        double lo = perSample - width, hi = perSample + width;
        // Zeros are left out: a dropout would pull the peak aside.
        auto strength = [&](double f) {
            return fitPass(samples, from, from + span, twoPi * f,
                           [&](int64_t p, double, double) { return samples[p] != 0; })
                .explained;
        };
        const double golden = (std::sqrt(5.0) - 1.0) / 2.0;
        double a = hi - golden * (hi - lo), b = lo + golden * (hi - lo);
        double fa = strength(a), fb = strength(b);
        for (int i = 0; i < 60 && hi - lo > 1e-10; ++i) {
            if (fa < fb) {
                lo = a;
                a = b;
                fa = fb;
                b = lo + golden * (hi - lo);
                fb = strength(b);
            } else {
                hi = b;
                b = a;
                fb = fa;
                a = hi - golden * (hi - lo);
                fa = strength(a);
            }
        }
        return (lo + hi) / 2.0;
    };

    // The crossings serve a clean tone. Where the tone they give explains
    // less of the recording than the noise does, the noise made them, and
    // the spectrum is asked.
    double found = 0.0, share = -1.0;
    const double counted = countCrossings(samples, from, to);
    if (counted > 0.0) {
        found = refine(counted);
        share = toneShare(samples, from, from + span, found);
    }
    const double peak = share >= 0.5 ? 0.0 : spectralPeak(samples, from, to, span);
    if (peak > 0.0) {
        const double refined = refine(peak);
        const double peakShare = toneShare(samples, from, from + span, refined);
        if (peakShare > share) {
            found = refined;
            share = peakShare;
        }
    }
    if (!(share > 0.0)) return 0.0;
    if (spreadHz != nullptr) {
        // The least a fit of this many samples at this signal-to-noise ratio
        // can miss the frequency by (its Cramer-Rao bound).
        const double snr = std::max(share, 1e-6) / std::max(1.0 - share, 1e-12);
        const double n = static_cast<double>(span);
        *spreadHz = rate * std::sqrt(6.0 / (snr * n * n * n)) / twoPi;
    }
    return found * rate;
}

}  // namespace analyse

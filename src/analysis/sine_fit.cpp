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

// One least-squares pass; `keep` says which samples take part.
template <class Keep>
SineFit fitPass(const int32_t* samples, int64_t from, int64_t to, double omega, Keep keep)
{
    // Sums for the normal equations of a sin + b cos + c. The angle is
    // advanced by a rotation, renormalised now and then, instead of calling
    // sin and cos for every sample.
    double m[3][3] = {};
    double r[3] = {};
    double power = 0.0;
    const double cw = std::cos(omega), sw = std::sin(omega);
    double s = 0.0, c = 1.0;
    int64_t used = 0;
    for (int64_t p = from; p < to; ++p) {
        if ((p - from) % 4096 == 0) {
            const double angle = omega * static_cast<double>(p - from);
            s = std::sin(angle);
            c = std::cos(angle);
        }
        const double v = samples[p];
        if (keep(p, s, c)) {
            power += v * v;
            m[0][0] += s * s;
            m[0][1] += s * c;
            m[0][2] += s;
            m[1][1] += c * c;
            m[1][2] += c;
            m[2][2] += 1.0;
            r[0] += s * v;
            r[1] += c * v;
            r[2] += v;
            ++used;
        }
        const double ns = s * cw + c * sw;
        c = c * cw - s * sw;
        s = ns;
    }
    m[1][0] = m[0][1];
    m[2][0] = m[0][2];
    m[2][1] = m[1][2];
    SineFit fit;
    double x[3];
    if (used < 8 || !solve3(m, r, x)) return fit;
    fit.valid = true;
    fit.amplitude = std::hypot(x[0], x[1]);
    fit.phase = std::atan2(x[1], x[0]);
    fit.dc = x[2];
    fit.explained = x[0] * r[0] + x[1] * r[1] + x[2] * r[2];
    fit.used = used;
    // What the fit leaves, from the sums alone.
    fit.residualRms = std::sqrt(std::max(0.0, power - fit.explained) / static_cast<double>(used));
    return fit;
}

void measureResidual(const int32_t* samples, int64_t from, int64_t to, double omega, SineFit& fit, double outlier)
{
    // The model's angle advances by a rotation, as in the fit.
    const double cw = std::cos(omega), sw = std::sin(omega);
    double s = 0.0, c = 1.0;
    double sum = 0.0;
    int64_t n = 0;
    for (int64_t p = from; p < to; ++p) {
        if ((p - from) % 4096 == 0) {
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

double estimateSineFrequency(const int32_t* samples, int64_t from, int64_t to, double rate)
{
    if (to - from < 16) return 0.0;
    int64_t peak = 0;
    for (int64_t p = from; p < to; ++p) peak = std::max<int64_t>(peak, std::llabs(int64_t{samples[p]}));
    // Crossings of zero with a little hysteresis, so noise near zero does
    // not count twice. The typical half period between crossings gives the
    // frequency; the odd ones around a dropout or a click are left out.
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
    const double perSample = 0.5 / (sum / static_cast<double>(typical));

    // Within a lobe's width of the count the share of the samples a fit
    // explains has one peak, at the frequency itself.
    const int64_t span = std::min<int64_t>(to - from, static_cast<int64_t>(rate / 4.0));
    const double width = 1.0 / static_cast<double>(span);
    double lo = perSample - width, hi = perSample + width;
    // Zeros are left out: a dropout would pull the peak aside.
    auto strength = [&](double f) {
        return fitPass(samples, from, from + span, 2.0 * 3.14159265358979323846 * f,
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
    return (lo + hi) / 2.0 * rate;
}

}  // namespace analyse

#include "analysis/channel_routing.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>

#include "analysis/channel_codes.h"

namespace analyse {

namespace {

constexpr double pi = 3.14159265358979323846;
// Below this many dB between the heard signal and the floor an input hears
// nothing it could be told from.
constexpr double deadBelowDb = 10.0;
// The lowest level reported: what 32-bit quantisation would still show.
constexpr double lowestDb = -200.0;

double toDb(double ratio) { return ratio > 0.0 ? std::max(lowestDb, 20.0 * std::log10(ratio)) : lowestDb; }

int64_t magnitude(int32_t value) { return value < 0 ? -int64_t{value} : int64_t{value}; }

// Where the signal arrives: the first sample past the lead-in that stands
// out from the silence before it. The silence's loudest sample is what the
// input hears with nothing played; `fraction` of the loudest sample after
// it keeps a band-limited path's pre-ringing from counting as the arrival.
bool findArrival(const int32_t* x, int64_t count, int64_t leadIn, double fraction, int64_t& arrival)
{
    const int64_t quietEnd = std::min(std::max<int64_t>(leadIn, 0), count);
    int64_t quietPeak = 0;
    for (int64_t i = 0; i < quietEnd; ++i) quietPeak = std::max(quietPeak, magnitude(x[i]));
    int64_t peak = 0;
    for (int64_t i = quietEnd; i < count; ++i) peak = std::max(peak, magnitude(x[i]));
    // Noise alone keeps within a few times its quiet peak over a run.
    if (peak == 0 || peak <= 4 * quietPeak) return false;
    const double threshold = std::max(2.0 * static_cast<double>(quietPeak), fraction * static_cast<double>(peak));
    for (int64_t i = quietEnd; i < count; ++i) {
        if (static_cast<double>(magnitude(x[i])) > threshold) {
            arrival = i;
            return true;
        }
    }
    return false;
}

// Solves a x = b (n unknowns, row-major a) by elimination with partial
// pivoting; false when the system is singular.
bool solve(std::vector<double> a, std::vector<double> b, std::vector<double>& x)
{
    const size_t n = b.size();
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col])) pivot = r;
        if (!(std::fabs(a[pivot * n + col]) > 0.0)) return false;
        if (pivot != col) {
            for (size_t c = 0; c < n; ++c) std::swap(a[col * n + c], a[pivot * n + c]);
            std::swap(b[col], b[pivot]);
        }
        for (size_t r = col + 1; r < n; ++r) {
            const double f = a[r * n + col] / a[col * n + col];
            if (f == 0.0) continue;
            for (size_t c = col; c < n; ++c) a[r * n + c] -= f * a[col * n + c];
            b[r] -= f * b[col];
        }
    }
    x.assign(n, 0.0);
    for (size_t i = n; i-- > 0;) {
        double sum = b[i];
        for (size_t c = i + 1; c < n; ++c) sum -= a[i * n + c] * x[c];
        x[i] = sum / a[i * n + i];
    }
    return true;
}

// Fills every level from the outputs' measured amplitudes (any common unit)
// and the floor in the same unit.
void settleLevels(RoutedInput& result, const std::vector<double>& amplitudes, double floorAmplitude)
{
    int heard = 0;
    for (size_t k = 1; k < amplitudes.size(); ++k)
        if (amplitudes[k] > amplitudes[static_cast<size_t>(heard)]) heard = static_cast<int>(k);
    const double heardAmplitude = amplitudes[static_cast<size_t>(heard)];
    result.noiseFloorDb = heardAmplitude > 0.0 ? toDb(floorAmplitude / heardAmplitude) : 0.0;
    if (heardAmplitude <= 0.0 || -result.noiseFloorDb < deadBelowDb) {
        result.dead = true;
        return;
    }
    result.dead = false;
    result.heard = heard;
    result.levelsDb.assign(amplitudes.size(), result.noiseFloorDb);
    result.leakFrom = -1;
    result.leakDb = result.noiseFloorDb;
    for (size_t k = 0; k < amplitudes.size(); ++k) {
        const double level = toDb(amplitudes[k] / heardAmplitude);
        if (level <= result.noiseFloorDb) continue;
        result.levelsDb[k] = level;
        if (static_cast<int>(k) != heard && level > result.leakDb) {
            result.leakDb = level;
            result.leakFrom = static_cast<int>(k);
        }
    }
}

// ---- the staircase code

// The outputs' staircases over one loop from their start, with the normal
// equations of a fit of all of them and a constant, for one window length.
class StaircaseFit {
public:
    StaircaseFit(const RoutingSetup& setup, int64_t window) : setup_(setup), window_(window)
    {
        length_ = std::max<int64_t>(1, static_cast<int64_t>(setup.rate));
        const size_t k = static_cast<size_t>(setup.outputs);
        offsets_.resize(k);
        for (size_t c = 0; c < k; ++c) offsets_[c] = staircaseCodeOffset(static_cast<int>(c), length_);
        const size_t n = k + 1;
        gram_.assign(n * n, 0.0);
        std::vector<double> r(n);
        for (int64_t i = 0; i < window_; ++i) {
            references(i, r);
            for (size_t a = 0; a < n; ++a)
                for (size_t b = a; b < n; ++b) gram_[a * n + b] += r[a] * r[b];
        }
        for (size_t a = 0; a < n; ++a)
            for (size_t b = 0; b < a; ++b) gram_[a * n + b] = gram_[b * n + a];
    }

    int64_t window() const { return window_; }

    // Every output's staircase at position i of the path, then the constant.
    void references(int64_t i, std::vector<double>& r) const
    {
        const size_t k = offsets_.size();
        for (size_t c = 0; c < k; ++c)
            r[c] = staircaseStepValue((i + offsets_[c]) % length_, setup_.bits);
        r[k] = 1.0;
    }

    // The first `span` samples of y follow output c's staircase exactly.
    bool exactly(const int32_t* y, int64_t span, size_t c) const
    {
        for (int64_t i = 0; i < span; ++i)
            if (y[i] != staircaseStepValue((i + offsets_[c]) % length_, setup_.bits)) return false;
        return true;
    }

    // Least-squares gains of every output over y[0..window) and what is left.
    bool fit(const int32_t* y, std::vector<double>& gains, double& residualRms) const
    {
        const size_t n = offsets_.size() + 1;
        std::vector<double> b(n, 0.0);
        std::vector<double> r(n);
        for (int64_t i = 0; i < window_; ++i) {
            references(i, r);
            const double v = y[i];
            for (size_t a = 0; a < n; ++a) b[a] += v * r[a];
        }
        if (!solve(gram_, b, gains)) return false;
        double sum = 0.0;
        for (int64_t i = 0; i < window_; ++i) {
            references(i, r);
            double model = 0.0;
            for (size_t a = 0; a < n; ++a) model += gains[a] * r[a];
            const double e = y[i] - model;
            sum += e * e;
        }
        residualRms = std::sqrt(sum / static_cast<double>(window_));
        return true;
    }

    // The rms of output c's staircase about its mean over the window.
    double spread(size_t c) const
    {
        const size_t n = offsets_.size() + 1;
        const double w = static_cast<double>(window_);
        const double mean = gram_[c * n + n - 1] / w;
        return std::sqrt(std::max(0.0, gram_[c * n + c] / w - mean * mean));
    }

private:
    RoutingSetup setup_;
    int64_t window_ = 0;
    int64_t length_ = 1;
    std::vector<int64_t> offsets_;
    std::vector<double> gram_;
};

RoutedInput routeStaircase(const int32_t* x, int64_t count, const RoutingSetup& setup,
                           std::map<int64_t, StaircaseFit>& fits)
{
    RoutedInput result;
    int64_t arrival = 0;
    if (setup.outputs <= 0 || !findArrival(x, count, setup.leadIn, 0.0, arrival)) return result;
    const int64_t length = std::max<int64_t>(1, static_cast<int64_t>(setup.rate));

    // One loop from the path's start is enough: every output's staircase
    // turns over once in it, and the turns tell them apart.
    auto fitFor = [&](int64_t start) -> const StaircaseFit* {
        const int64_t window = std::min(length, count - start);
        if (start < 0 || window < 2) return nullptr;
        auto found = fits.find(window);
        if (found == fits.end()) found = fits.emplace(window, StaircaseFit(setup, window)).first;
        return &found->second;
    };

    // The arrival is the first sample that is not silent; a staircase that
    // starts at 0 shows from its second sample. A path that carries one
    // staircase bit for bit settles both at once.
    const int64_t latest = arrival - setup.leadIn;
    int64_t roundTrip = latest;
    std::vector<double> gains;
    double residual = 0.0;
    bool fitted = false;
    for (int64_t candidate = latest - 1; candidate <= latest && !fitted; ++candidate) {
        const StaircaseFit* f = fitFor(setup.leadIn + candidate);
        if (f == nullptr) continue;
        const int32_t* y = x + setup.leadIn + candidate;
        const int64_t span = std::min<int64_t>(f->window(), 64);
        for (int c = 0; c < setup.outputs; ++c) {
            if (f->exactly(y, span, static_cast<size_t>(c)) && f->fit(y, gains, residual)) {
                roundTrip = candidate;
                fitted = true;
                break;
            }
        }
    }
    if (!fitted) {
        // Mixed or noisy: the start whose fit leaves the least.
        double best = 0.0;
        for (int64_t candidate = latest - 1; candidate <= latest; ++candidate) {
            const StaircaseFit* f = fitFor(setup.leadIn + candidate);
            std::vector<double> g;
            double left = 0.0;
            if (f == nullptr || !f->fit(x + setup.leadIn + candidate, g, left)) continue;
            if (!fitted || left < best) {
                fitted = true;
                best = left;
                roundTrip = candidate;
                gains = g;
                residual = left;
            }
        }
    }
    if (!fitted) return result;

    const StaircaseFit* f = fitFor(setup.leadIn + roundTrip);
    std::vector<double> amplitudes(static_cast<size_t>(setup.outputs));
    for (size_t c = 0; c < amplitudes.size(); ++c) amplitudes[c] = std::fabs(gains[c]) * f->spread(c);
    // A path that leaves nothing over is as clean as the samples can show:
    // their quantisation is the floor.
    const double floorRms = residual > 0.0 ? residual : 1.0 / std::sqrt(12.0);
    settleLevels(result, amplitudes, floorRms);
    if (result.dead) return result;
    result.levelDb = toDb(std::fabs(gains[static_cast<size_t>(result.heard)]));
    result.roundTrip = static_cast<double>(roundTrip);
    result.roundTripKnown = roundTrip >= 0;
    return result;
}

// ---- the tone code

RoutedInput routeTones(const int32_t* x, int64_t count, const RoutingSetup& setup)
{
    RoutedInput result;
    int64_t arrival = 0;
    if (setup.outputs <= 0 || !findArrival(x, count, setup.leadIn, 0.1, arrival)) return result;
    const double fullScale = setup.bits == 16 ? 32768.0 : 2147483648.0;
    const int64_t window = std::max<int64_t>(1, std::llround(setup.rate / toneCodeGridHz));

    // A window's time for the path's filters to settle, then up to four
    // windows; fewer when the run is short.
    int64_t start = arrival + window;
    int64_t windows = std::min<int64_t>(4, (count - start) / window);
    if (windows < 1) {
        start = arrival;
        windows = std::min<int64_t>(4, (count - start) / window);
    }
    if (windows < 1) {
        // Too short to measure: it hears something, nobody can tell what.
        result.dead = false;
        return result;
    }

    // Every tone's bin and, between them, a bin of nothing but noise.
    const size_t tones = static_cast<size_t>(setup.outputs);
    std::vector<double> omega(2 * tones);
    for (size_t c = 0; c < tones; ++c) {
        omega[c] = 2.0 * pi * toneCodeHz(static_cast<int>(c)) / setup.rate;
        omega[tones + c] = 2.0 * pi * (toneCodeHz(static_cast<int>(c)) + toneCodeGridHz) / setup.rate;
    }
    std::vector<double> power(omega.size(), 0.0);
    std::vector<std::complex<double>> firstWindow(tones);
    std::vector<double> coefficient(omega.size());
    for (size_t b = 0; b < omega.size(); ++b) coefficient[b] = 2.0 * std::cos(omega[b]);
    std::vector<double> s1(omega.size());
    std::vector<double> s2(omega.size());
    for (int64_t w = 0; w < windows; ++w) {
        std::fill(s1.begin(), s1.end(), 0.0);
        std::fill(s2.begin(), s2.end(), 0.0);
        const int32_t* y = x + start + w * window;
        for (int64_t i = 0; i < window; ++i) {
            const double v = static_cast<double>(y[i]) / fullScale;
            for (size_t b = 0; b < omega.size(); ++b) {
                const double s = v + coefficient[b] * s1[b] - s2[b];
                s2[b] = s1[b];
                s1[b] = s;
            }
        }
        for (size_t b = 0; b < omega.size(); ++b) {
            // Sum of y[i] e^(-j omega i) over the window.
            const std::complex<double> last = s1[b] - std::polar(1.0, -omega[b]) * s2[b];
            const std::complex<double> sum = std::polar(1.0, -omega[b] * static_cast<double>(window - 1)) * last;
            power[b] += std::norm(sum);
            if (w == 0 && b < tones) firstWindow[b] = sum;
        }
    }
    const double toAmplitude = 2.0 / static_cast<double>(window);
    std::vector<double> amplitudes(tones);
    double noisePower = 0.0;
    for (size_t c = 0; c < tones; ++c) {
        amplitudes[c] = toAmplitude * std::sqrt(power[c] / static_cast<double>(windows));
        noisePower += power[tones + c];
    }
    const double noise = toAmplitude * std::sqrt(noisePower / static_cast<double>(windows * static_cast<int64_t>(tones)));
    settleLevels(result, amplitudes, std::max(noise, 1e-10));
    if (result.dead) return result;
    result.levelDb = toDb(amplitudes[static_cast<size_t>(result.heard)] / toneCodeAmplitude);

    // The heard tone's phase at the first window's start dates the path to
    // within one of its periods; the arrival says which period. A sine of
    // phase theta sums to (A W / 2) e^(j (theta - pi/2)) over whole periods.
    const size_t h = static_cast<size_t>(result.heard);
    const double theta = std::arg(firstWindow[h]) + pi / 2.0;
    const double period = 2.0 * pi / omega[h];
    const double byPhase = static_cast<double>(start - setup.leadIn) - theta / omega[h];
    const double coarse = static_cast<double>(arrival - setup.leadIn);
    result.roundTrip = byPhase + period * std::round((coarse - byPhase) / period);
    result.roundTripKnown = result.roundTrip >= 0.0;
    return result;
}

}  // namespace

RoutedInput routeInput(const int32_t* samples, int64_t count, const RoutingSetup& setup)
{
    return routeInputs({samples}, {count}, setup).front();
}

std::vector<RoutedInput> routeInputs(const std::vector<const int32_t*>& samples, const std::vector<int64_t>& counts,
                                     const RoutingSetup& setup)
{
    RoutingSetup clamped = setup;
    clamped.outputs = std::min(std::max(setup.outputs, 0), maxCodedOutputs);
    std::map<int64_t, StaircaseFit> fits;
    std::vector<RoutedInput> results;
    results.reserve(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const int64_t count = i < counts.size() ? counts[i] : 0;
        if (samples[i] == nullptr || count <= 0) {
            results.emplace_back();
            continue;
        }
        results.push_back(clamped.code == RoutingCode::staircase ? routeStaircase(samples[i], count, clamped, fits)
                                                                 : routeTones(samples[i], count, clamped));
    }
    return results;
}

}  // namespace analyse

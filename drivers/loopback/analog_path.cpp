#include "analog_path.h"

#include <cmath>
#include <cstring>
#include <new>

using sample_codec::load32;
using sample_codec::store32;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int32_t taps = 2 * AnalogPath::halfTaps;
// Fractions the moving interpolator is tabulated at; between two of them
// it interpolates linearly, far below the finest delay anyone measures.
constexpr int32_t phaseCount = 1024;
// Room for the rate difference to move the delay before the loop slips:
// over an hour at 50 ppm and 48 kHz.
constexpr uint64_t driftRoom = uint64_t(1) << 18;
// Whole samples handed over early, beyond the interpolator's own, so that
// a slow recording clock can read ahead before it has to slip.
constexpr int32_t aheadRoom = 8192;

// Blackman-windowed sinc.
double kernel(double x)
{
    const double h = AnalogPath::halfTaps;
    if (std::fabs(x) >= h)
        return 0.0;
    const double w = 0.42 + 0.5 * std::cos(pi * x / h) + 0.08 * std::cos(2.0 * pi * x / h);
    if (std::fabs(x) < 1e-12)
        return w;
    return w * std::sin(pi * x) / (pi * x);
}

// The coefficients for reading `phase` (0 <= phase <= 1) past a sample,
// from halfTaps - 1 samples before it to halfTaps after. Scaled to a sum of
// 1 so that DC, and so the gain, passes exactly at every fraction.
void fillRow(double phase, double* row)
{
    double sum = 0.0;
    for (int32_t j = 0; j < taps; ++j) {
        const double k = static_cast<double>(j - AnalogPath::halfTaps + 1);
        row[j] = kernel(phase - k);
        sum += row[j];
    }
    for (int32_t j = 0; j < taps; ++j)
        row[j] /= sum;
}

}  // namespace

int32_t AnalogPath::earlyWanted(const AnalogLoopSettings& settings, int32_t room)
{
    const int32_t wanted = halfTaps + (settings.loopPpm < 0.0 ? aheadRoom : 0);
    if (room < 0)
        return 0;
    return wanted < room ? wanted : room;
}

namespace {

int32_t lagFor(int32_t early) { return early > AnalogPath::halfTaps ? early : AnalogPath::halfTaps; }

// Samples of history per input: a power of two, for the ring's mask.
uint64_t historySize(const AnalogLoopSettings& settings, int32_t bufferSize, int32_t early)
{
    const uint64_t needed = static_cast<uint64_t>(bufferSize) + static_cast<uint64_t>(lagFor(early)) +
                            AnalogPath::halfTaps + 2 + (settings.loopPpm > 0.0 ? driftRoom : 0);
    uint64_t size = 1;
    while (size < needed)
        size <<= 1;
    return size;
}

}  // namespace

uint64_t AnalogPath::bytesNeeded(const AnalogLoopSettings& settings, int32_t inputs, int32_t bufferSize, int32_t early)
{
    if (inputs < 1 || bufferSize < 1)
        return 0;
    return static_cast<uint64_t>(inputs) * 2 * historySize(settings, bufferSize, early) * sizeof(double);
}

bool AnalogPath::configure(const AnalogLoopSettings& settings, int32_t sampleType, double rate, int32_t inputs,
                           int32_t bufferSize, int32_t early)
{
    release();
    format_ = sample_codec::formatOf(sampleType);
    if (!settings.active() || format_.kind == sample_codec::Kind::none || inputs < 1 || bufferSize < 1)
        return true;
    settings_ = settings;
    lag_ = lagFor(early);
    // The inputs record 1 + ppm samples for every one the outputs play, so
    // each recorded sample reads a little less far into what was played.
    drift_ = settings.loopPpm / (1e6 + settings.loopPpm);
    const size_t size = static_cast<size_t>(historySize(settings, bufferSize, early));
    historyMask_ = size - 1;
    maxLag_ = static_cast<double>(static_cast<int64_t>(size) - bufferSize - halfTaps - 2);

    states_.resize(static_cast<size_t>(inputs));
    for (State& state : states_) {
        // Twice over, so that the taps of any read position lie side by side.
        state.history.reset(new (std::nothrow) double[2 * size]);
        if (!state.history) {
            release();
            return false;
        }
    }
    fixedRow_.resize(taps);
    fillRow(settings.fractionalDelay > 0.0 ? 1.0 - settings.fractionalDelay : 0.0, fixedRow_.data());
    if (drift_ != 0.0) {
        table_.resize(static_cast<size_t>(phaseCount + 1) * taps);
        for (int32_t p = 0; p <= phaseCount; ++p)
            fillRow(static_cast<double>(p) / phaseCount, table_.data() + static_cast<size_t>(p) * taps);
    }
    gain_ = std::pow(10.0, settings.gainDb / 20.0);
    noiseRms_ = settings.noiseDbfs < 0.0 ? std::pow(10.0, settings.noiseDbfs / 20.0) : 0.0;
    scale_ = format_.kind == sample_codec::Kind::float32 ? 1.0 : static_cast<double>(format_.highest());
    inputs_ = inputs;
    setRate(rate);
    restart();
    return true;
}

void AnalogPath::release()
{
    states_.clear();
    table_.clear();
    fixedRow_.clear();
    inputs_ = 0;
    lag_ = 0;
}

void AnalogPath::setRate(double rate)
{
    // Bilinear designs: a corner at or past half the rate has no filter.
    const double hp = settings_.highPassHz;
    highPass_ = hp > 0.0 && rate > 0.0 && hp < rate / 2.0;
    if (highPass_) {
        // First order: the coupling capacitor of a converter input.
        const double k = std::tan(pi * hp / rate);
        hpB_ = 1.0 / (1.0 + k);
        hpA_ = (1.0 - k) / (1.0 + k);
    }
    const double lp = settings_.lowPassHz;
    lowPass_ = lp > 0.0 && rate > 0.0 && lp < rate / 2.0;
    if (lowPass_) {
        // Second-order Butterworth: the converters' anti-alias roll-off.
        const double k = std::tan(pi * lp / rate);
        const double q = std::sqrt(0.5);
        const double norm = 1.0 / (1.0 + k / q + k * k);
        lpB0_ = k * k * norm;
        lpB1_ = 2.0 * lpB0_;
        lpB2_ = lpB0_;
        lpA1_ = 2.0 * (k * k - 1.0) * norm;
        lpA2_ = (1.0 - k / q + k * k) * norm;
    }
}

void AnalogPath::restart()
{
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    for (State& state : states_) {
        std::memset(state.history.get(), 0, 2 * (historyMask_ + 1) * sizeof(double));
        state.written = 0;
        state.slip = 0.0;
        state.hpX = state.hpY = 0.0;
        state.lpX1 = state.lpX2 = state.lpY1 = state.lpY2 = 0.0;
        // Every input its own noise, the same in every run.
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        state.random = seed | 1;
        state.hasSpare = false;
    }
}

double AnalogPath::decode(const uint8_t* p) const
{
    switch (format_.kind) {
    case sample_codec::Kind::int16: {
        int16_t value;
        std::memcpy(&value, p, 2);
        return value / scale_;
    }
    case sample_codec::Kind::int32:
        return static_cast<int32_t>(load32(p, format_.bigEndian)) / scale_;
    case sample_codec::Kind::float32: {
        const uint32_t bits = load32(p, format_.bigEndian);
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    case sample_codec::Kind::none:
        break;
    }
    return 0.0;
}

void AnalogPath::encode(uint8_t* p, double value) const
{
    // Converters clip symmetrically: the most negative code never comes back.
    double v = value * scale_;
    if (!(v > -scale_))
        v = -scale_;
    if (v > scale_)
        v = scale_;
    switch (format_.kind) {
    case sample_codec::Kind::int16: {
        const int16_t code = static_cast<int16_t>(std::lround(v));
        std::memcpy(p, &code, 2);
        break;
    }
    case sample_codec::Kind::int32:
        store32(p, static_cast<uint32_t>(static_cast<int32_t>(std::llround(v))), format_.bigEndian);
        break;
    case sample_codec::Kind::float32: {
        const float f = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        store32(p, bits, format_.bigEndian);
        break;
    }
    case sample_codec::Kind::none:
        break;
    }
}

double AnalogPath::gaussian(State& state) const
{
    if (state.hasSpare) {
        state.hasSpare = false;
        return state.spare;
    }
    auto uniform = [&state] {
        // xorshift64*, as the LSB noise: no allocation, repeatable.
        state.random ^= state.random >> 12;
        state.random ^= state.random << 25;
        state.random ^= state.random >> 27;
        const uint64_t bits = (state.random * 0x2545F4914F6CDD1Dull) >> 11;
        return (static_cast<double>(bits) + 1.0) / 9007199254740993.0;  // (0, 1]
    };
    const double radius = std::sqrt(-2.0 * std::log(uniform()));
    const double angle = 2.0 * pi * uniform();
    state.spare = radius * std::sin(angle);
    state.hasSpare = true;
    return radius * std::cos(angle);
}

const double* AnalogPath::row(double fraction, double* scratch) const
{
    const double position = fraction * phaseCount;
    int32_t index = static_cast<int32_t>(position);
    if (index >= phaseCount)
        index = phaseCount - 1;
    const double weight = position - index;
    const double* a = table_.data() + static_cast<size_t>(index) * taps;
    const double* b = a + taps;
    for (int32_t j = 0; j < taps; ++j)
        scratch[j] = a[j] + weight * (b[j] - a[j]);
    return scratch;
}

void AnalogPath::process(int32_t input, uint8_t* samples, int32_t count)
{
    if (input < 0 || input >= inputs_)
        return;
    State& state = states_[static_cast<size_t>(input)];
    const size_t width = format_.kind == sample_codec::Kind::int16 ? 2 : 4;
    const int64_t first = state.written;
    double* history = state.history.get();
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(first + i) & historyMask_;
        history[at] = history[at + historyMask_ + 1] = decode(samples + static_cast<size_t>(i) * width);
    }
    state.written += count;

    const double fraction = settings_.fractionalDelay;
    const double baseLag = lag_ + fraction;
    double scratch[taps];
    for (int32_t i = 0; i < count; ++i) {
        const int64_t m = first + i;
        int64_t base;
        const double* coefficients;
        if (drift_ == 0.0) {
            base = m - lag_ - (fraction > 0.0 ? 1 : 0);
            coefficients = fixedRow_.data();
        } else {
            double lag = baseLag + state.slip + static_cast<double>(m) * drift_;
            // Out of room the loop slips by whole samples, as a real pair of
            // clocks does when a buffer between them runs over or dry.
            if (lag > maxLag_)
                state.slip -= std::floor(lag - baseLag);
            else if (lag < halfTaps)
                state.slip += std::ceil(baseLag - lag);
            lag = baseLag + state.slip + static_cast<double>(m) * drift_;
            const double when = static_cast<double>(m) - lag;
            const double whole = std::floor(when);
            base = static_cast<int64_t>(whole);
            coefficients = row(when - whole, scratch);
        }
        const double* taken = history + (static_cast<size_t>(base - halfTaps + 1) & historyMask_);
        // Four sums side by side: the additions need not wait on each other.
        double sums[4] = {0.0, 0.0, 0.0, 0.0};
        for (int32_t j = 0; j < taps; j += 4) {
            for (int32_t k = 0; k < 4; ++k)
                sums[k] += taken[j + k] * coefficients[j + k];
        }
        double v = (sums[0] + sums[1]) + (sums[2] + sums[3]);

        if (highPass_) {
            const double y = hpB_ * (v - state.hpX) + hpA_ * state.hpY;
            state.hpX = v;
            state.hpY = y;
            v = y;
        }
        if (lowPass_) {
            const double y = lpB0_ * v + lpB1_ * state.lpX1 + lpB2_ * state.lpX2 - lpA1_ * state.lpY1 - lpA2_ * state.lpY2;
            state.lpX2 = state.lpX1;
            state.lpX1 = v;
            state.lpY2 = state.lpY1;
            state.lpY1 = y;
            v = y;
        }
        v = v * gain_ + settings_.dcOffset;
        if (noiseRms_ > 0.0)
            v += noiseRms_ * gaussian(state);
        encode(samples + static_cast<size_t>(i) * width, v);
    }
}

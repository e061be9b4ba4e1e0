// An analog cable loop on the virtual device's inputs: a band-limited
// fractional delay and rate difference, the converters' band limits, gain,
// DC and Gaussian noise, then quantisation back to the sample code.
//
// Each input keeps its own history of what it heard, filter state and
// noise generator. The history is read through a windowed sinc, so the
// samples the interpolator needs ahead of the read position must already be
// there: the engine hands the inputs lag() samples earlier than the round
// trip, and this path delays them by that much again, plus the fraction.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "loopback_settings.h"
#include "sample_codec.h"

class AnalogPath {
public:
    // Taps of the interpolator on each side of the read position.
    static constexpr int32_t halfTaps = 32;

    // Not real time: sizes every input's state for halves of bufferSize.
    // early is how many samples before the round trip the engine can hand
    // the inputs over; the whole-sample lag used is at least halfTaps.
    // False when the memory is not there.
    bool configure(const AnalogLoopSettings& settings, int32_t sampleType, double rate, int32_t inputs,
                   int32_t bufferSize, int32_t early);
    void release();
    bool active() const { return inputs_ > 0; }
    // Whole samples this path delays by (beyond its fraction).
    int32_t lag() const { return lag_; }
    // Not real time: the filters' corners for a new rate.
    void setRate(double rate);
    // Silence in every input's history, filters at rest, the rate
    // difference's phase back at the start.
    void restart();

    // Real time: replaces count samples of input (0 .. inputs-1) in place
    // with what the loop makes of them.
    void process(int32_t input, uint8_t* samples, int32_t count);

    // How many samples early the engine should hand an input over when it
    // has room for up to `room` (the round trip less one half).
    static int32_t earlyWanted(const AnalogLoopSettings& settings, int32_t room);
    // Bytes configure claims for these figures, so that a size that cannot
    // be meant is refused before anything is claimed.
    static uint64_t bytesNeeded(const AnalogLoopSettings& settings, int32_t inputs, int32_t bufferSize, int32_t early);

private:
    struct State {
        std::unique_ptr<double[]> history;
        int64_t written = 0;  // samples pushed into the history
        double slip = 0.0;    // whole samples the rate difference has slipped
        double hpX = 0.0, hpY = 0.0;
        double lpX1 = 0.0, lpX2 = 0.0, lpY1 = 0.0, lpY2 = 0.0;
        uint64_t random = 0;
        double spare = 0.0;  // the second of a Box-Muller pair
        bool hasSpare = false;
    };

    double decode(const uint8_t* p) const;
    void encode(uint8_t* p, double value) const;
    double gaussian(State& state) const;
    const double* row(double fraction, double* scratch) const;

    sample_codec::Format format_;
    AnalogLoopSettings settings_;
    std::vector<State> states_;
    // Interpolator coefficients at phaseCount + 1 fractions, 2 x halfTaps each.
    std::vector<double> table_;
    std::vector<double> fixedRow_;  // the coefficients at the fixed fraction
    int32_t inputs_ = 0;
    int32_t lag_ = 0;
    size_t historyMask_ = 0;
    double maxLag_ = 0.0;
    double drift_ = 0.0;  // lag gained per sample
    double gain_ = 1.0;
    double noiseRms_ = 0.0;
    double scale_ = 1.0;  // full scale in codes
    bool highPass_ = false, lowPass_ = false;
    double hpB_ = 0.0, hpA_ = 0.0;
    double lpB0_ = 0.0, lpB1_ = 0.0, lpB2_ = 0.0, lpA1_ = 0.0, lpA2_ = 0.0;
};

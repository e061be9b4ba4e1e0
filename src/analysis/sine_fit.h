// Least-squares fit of a sine of known frequency, and an estimate of the
// frequency when it is not known.
#pragma once

#include <cstdint>
#include <vector>

namespace analyse {

struct SineFit {
    bool valid = false;
    double amplitude = 0.0;  // always >= 0
    double phase = 0.0;      // radians, of the sine at the window's first sample
    double dc = 0.0;
    double residualRms = 0.0;  // over the samples the fit used
    double explained = 0.0;    // sum of squares the fit accounts for
    int64_t used = 0;          // samples the fit used
};

// Fits amplitude x sin(omega x (p - from) + phase) + dc to the nonzero
// samples of [from, to), omega in radians per sample. Samples further than
// `outlier` from a first fit are left out of a second one, so that a click
// does not pull the fit; outlier <= 0 keeps every sample.
SineFit fitSine(const int32_t* samples, int64_t from, int64_t to, double omega, double outlier);

// fitSine with every sample kept (outlier 0), for many blocks of one length
// at one frequency: the model's side of the fit is worked out once, so each
// block costs one light pass over its samples. The fits are the same as
// fitSine's, to the last bit.
class BlockSineFit {
public:
    BlockSineFit(int64_t length, double omega);
    // Samples [from, to); a block of another length is fitted afresh.
    SineFit fit(const int32_t* samples, int64_t from, int64_t to) const;

private:
    int64_t length_;
    double omega_;
    std::vector<double> sin_, cos_;
    double m_[3][3] = {};
};

// The frequency in Hz of the sine in samples [from, to): counted zero
// crossings, or a spectrum's peak where noise or a short period spoils the
// count, then refined to the frequency whose fit is strongest. `spreadHz`,
// when given, receives the standard deviation such an estimate has at the
// recording's signal-to-noise ratio.
double estimateSineFrequency(const int32_t* samples, int64_t from, int64_t to, double rate,
                             double* spreadHz = nullptr);

}  // namespace analyse

// Tells from the samples which test signal a run carried and at which
// width it was recorded, and measures each input's level.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis_options.h"

namespace analyse {

struct ChannelFeatures {
    int64_t peak = 0;               // largest magnitude (2^31 for the most negative value)
    int64_t firstNonzero = -1;      // -1 when every sample is zero
    // Most consecutive steps of +-100 (also modulo 2^16), and the same for a
    // staircase with noise on it: each counted only as far as detection needs.
    int64_t longestStaircase = 0;
    int64_t longestNoisyStaircase = 0;
    double loudFraction = 0.0;      // share of samples from the first nonzero one on at a quarter of the peak or more
};

ChannelFeatures measureChannel(const std::vector<int32_t>& samples);

// The signal most inputs show: a staircase when any input steps by 100 long
// enough, a pulse when the signal is a few loud samples in silence, else a
// sine; none when every input is silent.
SignalKind detectSignal(const std::vector<ChannelFeatures>& channels);

// 16 when no input goes past a 16-bit recording's full scale, at any
// level, else 32.
int detectBits(const std::vector<ChannelFeatures>& channels);

// Level of a magnitude against the full scale of `bits`; -inf for 0.
double levelDbfs(double magnitude, int bits);

}  // namespace analyse

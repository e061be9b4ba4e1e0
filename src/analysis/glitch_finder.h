// Compares a recording with the signal expected in it, sample by sample,
// and reports dropouts (runs of zeros where the signal should be) and
// discontinuities (samples further than a threshold from the expected
// signal). The expected signal is one loop of the test signal; it repeats
// every loop length from an anchor position.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/fault_list.h"

namespace analyse {

// From `start` on (until the next segment), loop position k of the expected
// signal lies at table position anchor + k (+ multiples of the loop).
struct ModelSegment {
    int64_t start = 0;
    int64_t anchor = 0;
};

struct GlitchSearch {
    const int32_t* samples = nullptr;
    int64_t count = 0;
    const std::vector<double>* loop = nullptr;  // the expected signal, one loop
    double threshold = 0.0;                     // in sample units
    // And this much on top at the loop positions within `looseReach` of
    // position 0 either way round the loop, where the model is close but not
    // exact (a fitted pulse's ringing): 2 x looseReach + 1 values, from
    // position -looseReach on; null: nothing.
    const std::vector<double>* looseness = nullptr;
    int64_t looseReach = 0;
    // A zero run's extent as a dropout: all of it, or only where the
    // expected signal is above the threshold (a pulse, mostly silence).
    bool dropoutsOnlyWhereLoud = false;
    // Where the recording's noise never reads exactly zero, a run of zeros
    // this long is a dropout in full even where the signal is silent; 0: never.
    int64_t silentDropoutRun = 0;
    // Find the signal again after the stream slipped (samples dropped or
    // inserted) and report the slip; for a sine this is known only modulo
    // its period, the smallest slip that fits being reported.
    bool relock = false;
    int64_t maxSlip = 0;
};

// Scans from the first segment's start to the end of the samples.
void findGlitches(const GlitchSearch& search, const std::vector<ModelSegment>& segments, FaultList& faults);

}  // namespace analyse

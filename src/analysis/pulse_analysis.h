// The pulse signal: one full-scale sample per loop. Finds each pulse that
// came back, refines its position to a fraction of a sample, fits a line
// through the arrivals (the round trip at the first, the clocks' drift as
// its slope), reports the steps off that line (samples dropped or inserted
// between two pulses), and builds the expected signal from the first
// pulse's shape for the glitch search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/fault_list.h"
#include "analysis/glitch_finder.h"

namespace analyse {

struct PulseMeasurement {
    bool found = false;
    std::string why;
    double onset = 0.0;              // where the line through the pulses puts the first one
    bool inverted = false;           // the pulses arrive negative
    double height = 0.0;             // magnitude of the first pulse's loudest sample
    std::vector<double> positions;   // refined position of every pulse found
    // How much faster the recording's clock ran than the playback's, from
    // the spacing of the pulses; known from two pulses on.
    double driftPpm = 0.0;
    bool driftMeasured = false;
    // The expected signal, pulse at 0, silence elsewhere; at least one loop
    // long, longer where the clocks stretch the spacing of the pulses.
    std::vector<double> loop;
    // How far a sample may stand from `loop` on top of the noise, at the
    // positions from -looseReach to +looseReach round the pulse: a real
    // converter rings a little differently from the first pulse's copy,
    // more so for a pulse that arrives at another fraction of a sample.
    std::vector<double> looseness;
    int64_t looseReach = 0;
    std::vector<ModelSegment> segments;  // where each pulse was or should have been
};

// Adds inverted polarity and every pulse's slip to `faults`. A first pulse
// found whole loops after the lead-in (`leadIn`) ended means the ones
// before it were lost: the onset is put back by those loops, and the glitch
// search reports the lost pulses.
PulseMeasurement measurePulses(const int32_t* samples, int64_t count, int64_t peak, int64_t loopLength,
                               int64_t leadIn, FaultList& faults);

}  // namespace analyse

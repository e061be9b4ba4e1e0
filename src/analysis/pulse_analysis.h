// The pulse signal: one full-scale sample per loop. Finds each pulse that
// came back, refines its position to a fraction of a sample, reports a
// pulse that arrives earlier or later than one loop after the one before
// (samples dropped or inserted between them), and builds the expected
// signal from the first pulse's shape for the glitch search.
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
    double onset = 0.0;              // refined position of the first pulse
    bool inverted = false;           // the pulses arrive negative
    double height = 0.0;             // magnitude of the first pulse
    std::vector<double> positions;   // refined position of every pulse found
    std::vector<double> loop;        // the expected signal, one loop, pulse at 0
    std::vector<ModelSegment> segments;  // where each pulse was or should have been
};

// Adds inverted polarity and every pulse's slip to `faults`. A first pulse
// found whole loops after the lead-in (`leadIn`) ended means the ones
// before it were lost: the onset is put back by those loops, and the glitch
// search reports the lost pulses.
PulseMeasurement measurePulses(const int32_t* samples, int64_t count, int64_t peak, int64_t loopLength,
                               int64_t leadIn, FaultList& faults);

}  // namespace analyse
